// The exact calls the bridge-attached headsets and the exact reports the
// microphone receive when the model applies a choice or switches off, through
// the program's own links: both bridge-library double copies over the I2C
// headset models, and the microphone library faked in-process over the
// microphone model.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device_access/HidControl.h"
#include "device_access/MicBinding.h"
#include "platform/fake/FakeModuleLoader.h"
#include "platform/fake/FakeNamedObjects.h"
#include "platform/fake/ScriptedDeviceTree.h"
#include "sim/hid/InProcessHidHost.h"
#include "sim/mic/MicrophoneModel.h"
#include "tests/bindings/BridgeFixture.h"
#include "tests/bindings/BridgeGoldenCalls.h"
#include "tests/ui_program/ModelFixture.h"
#include "ui_program/core/BoundDeviceLinks.h"

namespace ovra::test {
namespace {

using ::testing::ElementsAreArray;
using testing::Calls;

// ---- the calls and reports the devices must see ----

using testing::Apply;
using testing::Block;
using testing::Bracket;
using testing::Gen2MidRegister;
using testing::Join;
using testing::Leds;
using testing::Reg;

Calls Tv520Effect(int mode) {
    const auto leds = Leds(0xE6, 0x1A, 0x00);
    return Join({Bracket(3),
                 Reg(0xCC, 0x8020, 0), Reg(0xCC, 0x802F, 1), Block(0xCC, 0x8160, leds),
                 Reg(0xCC, 0x8021, mode),
                 Reg(0xCE, 0x8020, 0), Reg(0xCE, 0x802F, 1), Block(0xCE, 0x8160, leds),
                 Reg(0xCE, 0x8021, mode),
                 Reg(0xCC, 0x802F, 1), Reg(0xCE, 0x802F, 1), Apply(0xCC), Apply(0xCE), Bracket(2)});
}

using Report = std::vector<std::uint8_t>;
Report MicWrite(std::uint8_t reg, std::uint8_t value) {
    Report report(32, 0);
    report[0] = 0x10;
    report[1] = reg;
    report[2] = value;
    return report;
}

// ---- the microphone library, in-process over one model ----

sim::MicrophoneModel* g_mic = nullptr;

extern "C" unsigned char FakeConnect(int selector, int timeoutMs) {
    return selector == 0xFF89 && timeoutMs == 100 && g_mic != nullptr;
}
extern "C" unsigned char FakeExchange(int function, unsigned char* report, int length) {
    if (function != 0xCC || length != 32 || g_mic == nullptr) return 0;
    std::vector<std::uint8_t> out(33, 0);
    std::copy(report, report + 32, out.begin() + 1);
    if (g_mic->OnOutputReport(out).action != sim::ModelAction::Accept) return 0;
    const auto answer = g_mic->TakeInterruptReport();
    if (!answer) return 0;
    std::copy(answer->begin(), answer->begin() + std::min<std::size_t>(answer->size(), 32), report);
    return 1;
}
extern "C" unsigned char FakeDisconnect() { return 1; }

// ---- the model over the program's links ----

class BridgeMicApplyGolden : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fx.plain->Loaded());
        ASSERT_TRUE(fx.ene->Loaded());
        g_mic = &mic;
        micLoader.Add("ITECCTdll.dll",
                      {{"ConnectDevice", reinterpret_cast<void*>(&FakeConnect)},
                       {"TestInterruptINOUT", reinterpret_cast<void*>(&FakeExchange)},
                       {"DisconnectDevice", reinterpret_cast<void*>(&FakeDisconnect)}});
        micBinding = MicBinding::Load(micLoader, fx.log);
        ASSERT_TRUE(micBinding->Ready());
        links = std::make_unique<BoundDeviceLinks>(BoundDeviceParts{
            hid, fx.clock, fx.log, fx.plain.get(), fx.ene.get(), &tv520, micBinding.get()});
        model = std::make_unique<LightingModel>(
            LightingModelDeps{tree, *links, store, objects, fx.clock, fx.log, notifier, window});
        ASSERT_TRUE(model->CreateHandshakeEvents());
    }
    void TearDown() override {
        model->EndDeviceConnections(EndReason::WindowClose);
        model.reset();
        g_mic = nullptr;
    }
    void Connect(const std::string& id, DeviceFamily family) {
        tree.Add(id);
        model->DiscoverDevices();
        ASSERT_TRUE(model->Connected(family));
    }
    void Choose(EffectChoice choice) {
        model->OnEffectChoice(choice);
        model->SetColour({229.6, 26.2, 0});
    }
    Calls BridgeCallsOf(void (LightingModel::*action)(), testing::BridgeDoubleHost& bridge) {
        bridge.ClearCalls();
        (model.get()->*action)();
        return bridge.Calls();
    }

    testing::BridgeFixture fx;
    Tv520Connection tv520{*fx.ene};
    sim::MicrophoneModel mic;
    FakeModuleLoader micLoader;
    std::unique_ptr<MicBinding> micBinding;
    sim::InProcessHidHost host{&fx.clock};
    HidControl hid{host, fx.log};
    FakeNamedObjects objects{&fx.clock};
    FakeServiceSide service{objects};
    ScriptedDeviceTree tree;
    RecordingStore store;
    RecordingNotifier notifier;
    RecordingHost window;
    std::unique_ptr<BoundDeviceLinks> links;
    std::unique_ptr<LightingModel> model;  // last: goes first
};

struct Row {
    EffectChoice choice;
    Calls calls;
};

TEST_F(BridgeMicApplyGolden, Gen2MidGetsColourThenModeAndOffClearsTheMode) {
    Connect(kMidId, DeviceFamily::Gen2Mid);
    const Calls ble{"ReadI2CRegister_DSP(5A, 1800C412, 2)"};
    const auto effect = [&](int mode) {
        return Join({ble, Gen2MidRegister(0x04, 0xE6), Gen2MidRegister(0x05, 0x1A),
                     Gen2MidRegister(0x06, 0x00), Gen2MidRegister(0x07, mode)});
    };
    const Row rows[] = {{EffectChoice::Static, effect(1)},
                        {EffectChoice::Music, effect(1)},
                        {EffectChoice::Rainbow, effect(6)}};
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.choice));
        Choose(row.choice);
        EXPECT_THAT(BridgeCallsOf(&LightingModel::OnApply, fx.plainHost),
                    ElementsAreArray(row.calls));
    }
    EXPECT_EQ(fx.gen2mid.registers.Register(0x07), 6);
    EXPECT_THAT(BridgeCallsOf(&LightingModel::OnSwitchButton, fx.plainHost),
                ElementsAreArray(Join({ble, Gen2MidRegister(0x07, 0)})));
    EXPECT_EQ(fx.gen2mid.registers.Register(0x07), 0);
    EXPECT_TRUE(fx.eneHost.Calls().empty()) << "the TV520 copy is not the Gen2Mid's";
}

TEST_F(BridgeMicApplyGolden, Tv520GetsTheBracketedBlockModeApplyAndOff) {
    Connect(kTv520Id, DeviceFamily::TV520);
    const Row rows[] = {
        {EffectChoice::Static, Tv520Effect(1)},
        {EffectChoice::Rainbow, Tv520Effect(5)},
        {EffectChoice::Music, Join({Bracket(3), Reg(0xCC, 0x8020, 1), Reg(0xCC, 0x802F, 1),
                                    Reg(0xCE, 0x8020, 1), Reg(0xCE, 0x802F, 1),
                                    Reg(0xCC, 0x802F, 1), Reg(0xCE, 0x802F, 1)})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.choice));
        Choose(row.choice);
        EXPECT_THAT(BridgeCallsOf(&LightingModel::OnApply, fx.eneHost),
                    ElementsAreArray(row.calls));
    }
    EXPECT_EQ(fx.tv520.second.Register(0x8020), 1);
    EXPECT_THAT(BridgeCallsOf(&LightingModel::OnSwitchButton, fx.eneHost),
                ElementsAreArray(Join({Bracket(3),
                                       Reg(0xCC, 0x8020, 0), Reg(0xCC, 0x802F, 1),
                                       Reg(0xCC, 0x8021, 0), Reg(0xCC, 0x802F, 1), Apply(0xCC),
                                       Reg(0xCE, 0x8020, 0), Reg(0xCE, 0x802F, 1),
                                       Reg(0xCE, 0x8021, 0), Reg(0xCE, 0x802F, 1), Apply(0xCE),
                                       Bracket(2)})));
    EXPECT_EQ(fx.tv520.first.AppliedMode(), 0);
    EXPECT_TRUE(fx.plainHost.Calls().empty()) << "the Gen2Mid copy is not the TV520's";
}

TEST_F(BridgeMicApplyGolden, Mk470GetsColourThenModeAndOffWritesModeFour) {
    Connect(kMicId, DeviceFamily::MK470);
    const struct {
        EffectChoice choice;
        std::uint8_t mode;
    } rows[] = {{EffectChoice::Static, 1}, {EffectChoice::Music, 1}, {EffectChoice::Rainbow, 6}};
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.choice));
        Choose(row.choice);
        mic.ClearRequests();
        model->OnApply();
        EXPECT_THAT(mic.Requests(), ElementsAreArray({MicWrite(0x04, 0xE6), MicWrite(0x05, 0x1A),
                                                      MicWrite(0x06, 0x00), MicWrite(0x07, row.mode)}));
        EXPECT_EQ(mic.Register(0x07), row.mode);
    }
    mic.ClearRequests();
    model->OnSwitchButton();
    EXPECT_THAT(mic.Requests(), ElementsAreArray({MicWrite(0x07, 0x04)}));
    EXPECT_EQ(mic.Register(0x07), 0x04);
}

}  // namespace
}  // namespace ovra::test
