// The golden lighting operations of the two bridge-attached headsets through
// the real bridge library file, its proxy program, libusb and usbfs under
// umockdev, to the bridge-chip model that carries the headset's I2C models.
// The I2C devices must see exactly the transfers they see through the
// library double (the golden tables), and the TV520's customer-control
// bracket must reach the bridge.

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "device_access/BridgeConnections.h"
#include "device_access/Gen2MidHeadset.h"
#include "device_access/Tv520Headset.h"
#include "sim/bridge_chip/UsbfsHost.h"
#include "tests/bindings/BridgeFixture.h"
#include "tests/bridge_lib_integration/LoadedBridgeLibrary.h"

namespace ovra::testing {
namespace {

std::vector<std::string> Transfers(sim::I2cTransferLog& log) {
    std::vector<std::string> texts;
    for (const auto& t : log.Transfers()) texts.push_back(t.ToString());
    log.Clear();
    return texts;
}

void AllEffects(Gen2MidHeadset* g, Tv520Headset* t) {
    for (std::uint32_t code = 0; code < kLightingEffectCount; ++code) {
        const auto effect = static_cast<LightingEffect>(code);
        if (g) g->SetLEDEffect(effect, {229.6, 26.2, 0.0});
        if (t) t->SetLEDEffect(effect, {229.6, 26.2, 0.0});
    }
}

void OffFramesColourReads(Gen2MidHeadset* g, Tv520Headset* t) {
    if (g) {
        g->SetLEDOff();
        g->SetLEDFrame(0x31);
        g->WriteColour({1, 2, 3});
        EXPECT_FALSE(g->BleStatusOn());
    }
    if (t) {
        t->SetLEDOff();
        t->SetLEDFrame(0x32);
        EXPECT_EQ(t->GetLEDFrame(), 0x32);
        t->WriteColour({4, 5, 6});
    }
}

using Sequence = std::function<void(Gen2MidHeadset*, Tv520Headset*)>;
const std::pair<const char*, Sequence> kSequences[] = {{"effects", AllEffects},
                                                       {"off, frames, colour, reads", OffFramesColourReads}};

// What the headset's I2C devices saw for one sequence through the double.
std::vector<std::vector<std::string>> ThroughTheDouble(bool tv520, const Sequence& run) {
    BridgeFixture bed;
    EXPECT_TRUE(bed.plain->Loaded() && bed.ene->Loaded());
    std::vector<std::vector<std::string>> seen;
    if (tv520) {
        Tv520Connection connection(*bed.ene);
        EXPECT_TRUE(connection.OpenTV520());
        bed.tv520.first.Log().Clear();
        bed.tv520.second.Log().Clear();
        Tv520Headset headset(*bed.ene, bed.clock);
        run(nullptr, &headset);
        seen = {Transfers(bed.tv520.first.Log()), Transfers(bed.tv520.second.Log())};
    } else {
        EXPECT_NE(bed.plain->OpenPid(kGen2MidProductId), 0u);
        bed.gen2mid.registers.Log().Clear();
        bed.gen2mid.dsp.Log().Clear();
        Gen2MidHeadset headset(*bed.plain, bed.clock);
        run(&headset, nullptr);
        seen = {Transfers(bed.gen2mid.registers.Log()), Transfers(bed.gen2mid.dsp.Log())};
    }
    return seen;
}

class RealLibraryGoldenEndToEnd : public ::testing::TestWithParam<bool> {
protected:
    bool Tv520() const { return GetParam(); }
};

TEST_P(RealLibraryGoldenEndToEnd, DevicesSeeTheGoldenTransfers) {
    sim::Gen2MidHeadsetModel gen2mid;
    sim::Tv520HeadsetModel tv520;
    sim::BridgeChipConfig config;
    config.productId = Tv520() ? kTv520ProductId : kGen2MidProductId;
    sim::BridgeChipModel chip(config);
    if (Tv520()) {
        chip.AttachI2c(0xCC, &tv520.first);
        chip.AttachI2c(0xCE, &tv520.second);
    } else {
        chip.AttachI2c(0x52, &gen2mid.registers);
        chip.AttachI2c(0x5A, &gen2mid.dsp);
    }
    sim::UsbfsHost host(chip);
    ASSERT_TRUE(host.Ok());

    DlModuleLoader loader(test::BridgeBinDir());
    RecordingDebugLog log;
    ManualClock clock;
    auto binding = BridgeBinding::Load(loader, Tv520() ? kEneBridgeLibrary : kPlainBridgeLibrary, Tv520(), log);
    ASSERT_TRUE(binding->Initialised());
    std::optional<Tv520Connection> connection;
    if (Tv520()) {
        connection.emplace(*binding);
        ASSERT_TRUE(connection->OpenTV520());
    } else {
        ASSERT_NE(binding->OpenPid(kGen2MidProductId), 0u);
    }

    for (const auto& [name, run] : kSequences) {
        SCOPED_TRACE(name);
        const auto expected = ThroughTheDouble(Tv520(), run);
        std::vector<std::vector<std::string>> seen;
        if (Tv520()) {
            tv520.first.Log().Clear();
            tv520.second.Log().Clear();
            Tv520Headset headset(*binding, clock);
            run(nullptr, &headset);
            seen = {Transfers(tv520.first.Log()), Transfers(tv520.second.Log())};
        } else {
            gen2mid.registers.Log().Clear();
            gen2mid.dsp.Log().Clear();
            Gen2MidHeadset headset(*binding, clock);
            run(&headset, nullptr);
            seen = {Transfers(gen2mid.registers.Log()), Transfers(gen2mid.dsp.Log())};
        }
        EXPECT_EQ(seen, expected);
        EXPECT_FALSE(expected[0].empty());
    }
    // Every run of TV520 register writes sits in the bracket 3 ... 2.
    const auto brackets = chip.CustomerControls();
    if (Tv520()) {
        ASSERT_FALSE(brackets.empty());
        EXPECT_EQ(brackets.front(), 3);
    } else {
        EXPECT_TRUE(brackets.empty());
    }
    EXPECT_EQ(chip.Interleaves(), 0u);

    // Give the copy up as the programs do at the end: close, uninitialise (the
    // last user stops the proxy, which serves this test bed only).
    connection.reset();
    test::LoadedBridgeLibrary copy(Tv520() ? "B2Xlib_ene.so" : "B2Xlib.so");
    ASSERT_TRUE(copy.Complete());
    EXPECT_EQ(copy.Close(), 1);
    EXPECT_EQ(copy.UnInitialize(), 1);
}

INSTANTIATE_TEST_SUITE_P(Families, RealLibraryGoldenEndToEnd, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "TV520" : "Gen2Mid"; });

}  // namespace
}  // namespace ovra::testing
