// The exact reports a HID headset receives when the model applies a choice or
// switches off: the program's own links, HID connection and command set over
// the in-process host and the headset model.
#include <gtest/gtest.h>

#include "device_access/HidControl.h"
#include "platform/fake/FakeNamedObjects.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/fake/ScriptedDeviceTree.h"
#include "sim/hid/Gen2HeadsetModel.h"
#include "sim/hid/InProcessHidHost.h"
#include "tests/device_access/HidHeadsetFixture.h"
#include "tests/ui_program/ModelFixture.h"
#include "ui_program/core/BoundDeviceLinks.h"

namespace ovra::test {
namespace {

class ApplyGoldenTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.Add(device);
        tree.Add(kGen2Id);
        model = std::make_unique<LightingModel>(
            LightingModelDeps{tree, links, store, objects, clock, log, notifier, window});
        ASSERT_TRUE(model->CreateHandshakeEvents());
        model->DiscoverDevices();
        ASSERT_TRUE(model->Connected(DeviceFamily::Gen2));
        device->ClearTraffic();
    }
    void TearDown() override { model->EndDeviceConnections(EndReason::WindowClose); }

    ManualClock clock;
    RecordingDebugLog log;
    FakeNamedObjects objects{&clock};
    FakeServiceSide service{objects};
    ScriptedDeviceTree tree;
    sim::InProcessHidHost host{&clock};
    std::shared_ptr<sim::Gen2HeadsetModel> device =
        std::make_shared<sim::Gen2HeadsetModel>(sim::Gen2Config(), clock);
    HidControl hid{host, log};
    BoundDeviceLinks links{BoundDeviceParts{hid, clock, log}};
    RecordingStore store;
    RecordingNotifier notifier;
    RecordingHost window;
    std::unique_ptr<LightingModel> model;
};

TEST_F(ApplyGoldenTest, EachEffectIsPrepareAndTheTwoCommandReports) {
    const std::pair<EffectChoice, const char*> rows[] = {
        {EffectChoice::Static, "01"},   {EffectChoice::Breathing, "02"},
        {EffectChoice::Strobing, "03"}, {EffectChoice::ColorCycle, "04"},
        {EffectChoice::Music, "05"},    {EffectChoice::Rainbow, "06"},
    };
    for (const auto& [choice, mode] : rows) {
        model->OnEffectChoice(choice);
        model->SetColour({229.6, 26.2, 0});
        device->ClearTraffic();
        model->OnApply();
        EXPECT_EQ(Hex(device->OutputReports()),
                  Hex(Reports({"01 00 94 02 50 80",
                               std::string("01 00 80 0C 52 04 00 E6 1A 00 ") + mode + " 00 00 00 00 00",
                               "01 00 8C 0A 00 00 00 00 00 00 00 04 9A 80"})))
            << mode;
    }
}

TEST_F(ApplyGoldenTest, SwitchOffAndBackOn) {
    model->OnEffectChoice(EffectChoice::Breathing);
    model->SetColour({255, 128, 1});
    model->OnApply();
    device->ClearTraffic();
    model->OnSwitchButton();
    EXPECT_EQ(Hex(device->OutputReports()),
              Hex(Reports({"01 00 94 02 50 80", "01 00 80 0C 52 04 00 00 00 00 01 00 00 00 00 00",
                           "01 00 8C 0A 00 00 00 00 00 00 00 04 9A 80"})));
    EXPECT_EQ(sim::Describe(device->Shows()), "off effect=static color=000000 mode=1");
    model->OnSwitchButton();
    EXPECT_EQ(sim::Describe(device->Shows()), "on effect=breathing color=FF8001 mode=2");
}

TEST_F(ApplyGoldenTest, ReadBackOfWhatTheHeadsetShows) {
    device->SetRegister(0x04, 0x12);
    device->SetRegister(0x05, 0x34);
    device->SetRegister(0x06, 0x56);
    device->SetRegister(0x07, 3);
    store.values[kStoreHeadset] = {0, {1, 1, 1}, 1};
    // A fresh start finds the headset and reads what it shows.
    model.reset();
    links.CloseHidHeadset();
    model = std::make_unique<LightingModel>(
        LightingModelDeps{tree, links, store, objects, clock, log, notifier, window});
    model->DiscoverDevices();
    EXPECT_EQ(model->State().shownEffect, 2);  // strobing
    EXPECT_EQ(model->State().colour.red, 0x12);
    EXPECT_EQ(model->State().colour.green, 0x34);
    EXPECT_EQ(model->State().colour.blue, 0x56);
}

}  // namespace
}  // namespace ovra::test
