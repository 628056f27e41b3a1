// The golden operations once more, through the real bridge library (its
// logic in-process, over the bridge-chip model that carries the headset
// models): the devices must see exactly the transfers they see through the
// library double, and the bracket requests must reach the bridge.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "device_access/BridgeConnections.h"
#include "device_access/Gen2MidHeadset.h"
#include "device_access/Tv520Headset.h"
#include "platform/fake/FakeModuleLoader.h"
#include "tests/bindings/BridgeFixture.h"
#include "tests/bridge_lib/ModelTestBed.h"

namespace ovra::testing {
namespace {

using ::testing::ElementsAre;

// Each loaded copy of the library is one library instance: the exports of
// copy N forward to instance N.
brx::BrxLibrary* g_copies[2] = {};

template <int N> int Initialize(int reserved, int mode) { return g_copies[N]->Initialize(reserved, mode); }
template <int N> int UnInitialize() { return g_copies[N]->UnInitialize(); }
template <int N> unsigned Open(unsigned index) { return static_cast<unsigned>(g_copies[N]->Open(index)); }
template <int N> unsigned OpenPid(unsigned pid) { return static_cast<unsigned>(g_copies[N]->OpenPid(pid)); }
template <int N> int Close() { return g_copies[N]->Close(); }
template <int N> int CustomerControl(int mode) { return g_copies[N]->CustomerControl(mode); }
template <int N> int ReadSuper(int s, int b, int w, unsigned r, unsigned l, unsigned char* d) {
    return g_copies[N]->ReadSuperRegister(s, b, w, r, l, d);
}
template <int N> int WriteSuper(int s, int b, int w, unsigned r, unsigned l, const unsigned char* d) {
    return g_copies[N]->WriteSuperRegister(s, b, w, r, l, d);
}
template <int N> int ReadDsp(int s, unsigned a, unsigned* v, unsigned w) {
    return g_copies[N]->ReadDspRegister(s, a, v, w);
}
template <int N> int WriteDsp(int s, unsigned a, unsigned v, unsigned w) {
    return g_copies[N]->WriteDspRegister(s, a, v, w);
}

template <int N> FakeModuleLoader::Exports CopyExports() {
    return {{"BrxLib_Initialize", reinterpret_cast<void*>(&Initialize<N>)},
            {"BrxLib_UnInitialize", reinterpret_cast<void*>(&UnInitialize<N>)},
            {"UVC_Open", reinterpret_cast<void*>(&Open<N>)},
            {"UVC_OpenPID", reinterpret_cast<void*>(&OpenPid<N>)},
            {"UVC_Close", reinterpret_cast<void*>(&Close<N>)},
            {"USB_Customer_Control", reinterpret_cast<void*>(&CustomerControl<N>)},
            {"ReadI2CSuperRegister", reinterpret_cast<void*>(&ReadSuper<N>)},
            {"WriteI2CSuperRegister", reinterpret_cast<void*>(&WriteSuper<N>)},
            {"ReadI2CRegister_DSP", reinterpret_cast<void*>(&ReadDsp<N>)},
            {"WriteI2CRegister_DSP", reinterpret_cast<void*>(&WriteDsp<N>)}};
}

// Both headsets as the real library reaches them: each behind its own bridge chip.
struct RealLibraryBed {
    RealLibraryBed() {
        auto& gen2midChip = plainBed.AddDevice(kGen2MidProductId).model;
        gen2midChip.AttachI2c(0x52, &gen2mid.registers);
        gen2midChip.AttachI2c(0x5A, &gen2mid.dsp);
        auto& tv520Chip = eneBed.AddDevice(kTv520ProductId).model;
        tv520Chip.AttachI2c(0xCC, &tv520.first);
        tv520Chip.AttachI2c(0xCE, &tv520.second);
        g_copies[0] = &plainBed.Library();
        g_copies[1] = &eneBed.Library();
        loader.Add("B2Xlib.dll", CopyExports<0>());
        loader.Add("B2Xlib_ene.dll", CopyExports<1>());
        plain = BridgeBinding::Load(loader, kPlainBridgeLibrary, false, log);
        ene = BridgeBinding::Load(loader, kEneBridgeLibrary, true, log);
    }
    ~RealLibraryBed() { g_copies[0] = g_copies[1] = nullptr; }

    sim::Gen2MidHeadsetModel gen2mid;
    sim::Tv520HeadsetModel tv520;
    brx::test::ModelTestBed plainBed, eneBed;
    FakeModuleLoader loader;
    RecordingDebugLog log;
    ManualClock clock;
    std::unique_ptr<BridgeBinding> plain, ene;
};

std::vector<std::string> Transfers(sim::I2cTransferLog& log) {
    std::vector<std::string> texts;
    for (const auto& t : log.Transfers()) texts.push_back(t.ToString());
    log.Clear();
    return texts;
}

struct Sequence {
    const char* name;
    std::function<void(Gen2MidHeadset&, Tv520Headset&)> run;
    std::size_t transfers;  // I2C transfers of the golden tables, all devices
};

const Sequence kSequences[] = {
    {"effects", [](Gen2MidHeadset& g, Tv520Headset& t) {
         for (std::uint32_t code = 0; code < kLightingEffectCount; ++code) {
             const auto effect = static_cast<LightingEffect>(code);
             g.SetLEDEffect(effect, {229.6, 26.2, 0.0});
             t.SetLEDEffect(effect, {229.6, 26.2, 0.0});
         }
     },
     6 * 4 + 5 * 28 + 12},
    {"off, frames, colour only, reads", [](Gen2MidHeadset& g, Tv520Headset& t) {
         g.SetLEDOff();
         t.SetLEDOff();
         g.SetLEDFrame(0x31);
         t.SetLEDFrame(0x32);
         EXPECT_EQ(t.GetLEDFrame(), 0x32);
         g.WriteColour({1, 2, 3});
         t.WriteColour({4, 5, 6});
         EXPECT_FALSE(g.BleStatusOn());
     },
     1 + 24 + 1 + 4 + 2 + 3 + 8 + 5},
};

TEST(RealBridgeLibraryGolden, DevicesSeeTheSameTransfersAsThroughTheDouble) {
    for (const auto& sequence : kSequences) {
        SCOPED_TRACE(sequence.name);
        BridgeFixture viaDouble;
        ASSERT_TRUE(viaDouble.plain->Loaded() && viaDouble.ene->Loaded());
        RealLibraryBed viaLibrary;
        ASSERT_TRUE(viaLibrary.plain->Initialised());
        ASSERT_TRUE(viaLibrary.ene->Initialised());

        std::vector<std::string> seen[2][4];
        int side = 0;
        auto runOn = [&](BridgeBinding& plain, BridgeBinding& ene, ManualClock& clock,
                         sim::Gen2MidHeadsetModel& g2, sim::Tv520HeadsetModel& tv) {
            ASSERT_NE(plain.OpenPid(kGen2MidProductId), 0u);
            Tv520Connection connection(ene);
            ASSERT_TRUE(connection.OpenTV520());
            for (auto* log : {&g2.registers.Log(), &g2.dsp.Log(), &tv.first.Log(), &tv.second.Log()})
                log->Clear();
            Gen2MidHeadset gen2mid(plain, clock);
            Tv520Headset tv520(ene, clock);
            sequence.run(gen2mid, tv520);
            seen[side][0] = Transfers(g2.registers.Log());
            seen[side][1] = Transfers(g2.dsp.Log());
            seen[side][2] = Transfers(tv.first.Log());
            seen[side][3] = Transfers(tv.second.Log());
            ++side;
        };
        runOn(*viaDouble.plain, *viaDouble.ene, viaDouble.clock, viaDouble.gen2mid, viaDouble.tv520);
        runOn(*viaLibrary.plain, *viaLibrary.ene, viaLibrary.clock, viaLibrary.gen2mid,
              viaLibrary.tv520);
        std::size_t total = 0;
        for (int device = 0; device < 4; ++device) {
            SCOPED_TRACE(device);
            EXPECT_EQ(seen[1][device], seen[0][device]);
            total += seen[0][device].size();
        }
        EXPECT_EQ(total, sequence.transfers);
    }
}

TEST(RealBridgeLibraryGolden, BracketReachesTheBridgeAndMusicLeavesItOpen) {
    RealLibraryBed bed;
    Tv520Connection connection(*bed.ene);
    ASSERT_TRUE(connection.OpenTV520());
    Tv520Headset tv520(*bed.ene, bed.clock);
    auto& chip = bed.eneBed.devices[0]->model;
    ASSERT_TRUE(tv520.SetLEDEffect(LightingEffect::Rainbow, {0, 0, 255}));
    EXPECT_THAT(chip.CustomerControls(), ElementsAre(3, 2));
    EXPECT_EQ(bed.tv520.first.AppliedMode(), 5);
    EXPECT_EQ(bed.tv520.second.AppliedMode(), 5);
    ASSERT_TRUE(tv520.SetLEDEffect(LightingEffect::Music, {0, 0, 255}));
    EXPECT_THAT(chip.CustomerControls(), ElementsAre(3, 2, 3));
    EXPECT_EQ(bed.tv520.first.Register(0x8020), 1);
    EXPECT_EQ(bed.tv520.first.ApplyCount(), 1);
    EXPECT_EQ(chip.Interleaves(), 0u);
}

}  // namespace
}  // namespace ovra::testing
