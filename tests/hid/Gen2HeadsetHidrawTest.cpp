// The whole HID headset path as it runs in the programs: HidHeadset ->
// HidControl -> the real hidraw adapter -> /dev/hidrawN (umockdev) -> the Gen2
// headset model, on the real clock.

#include <gtest/gtest.h>

#include "device_access/HidControl.h"
#include "device_access/HidHeadset.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/core/SteadyClock.h"
#include "platform/linux/hid/HidrawEnumerator.h"
#include "sim/hid/Gen2HeadsetModel.h"
#include "sim/umockdev/UmockdevHidHost.h"

namespace ovra {
namespace {

using namespace std::chrono_literals;

struct HeadsetOverHidraw {
    explicit HeadsetOverHidraw(DeviceFamily family)
        : model(std::make_shared<sim::Gen2HeadsetModel>(
              family == DeviceFamily::Gen2Entry ? sim::Gen2EntryConfig() : sim::Gen2Config(), clock)),
          headset(family, hid, clock, log) {
        id = host.AddDevice(model);
    }
    bool Connect() { return hid.OpenDevice(model->VendorId(), model->ProductId()) && hid.StartReadThread(); }

    static sim::UmockdevHidHost::Options Options() {
        sim::UmockdevHidHost::Options options;
        options.stalledTransferTimeout = 1000ms;
        return options;
    }

    SteadyClock clock;
    RecordingDebugLog log;
    std::shared_ptr<sim::Gen2HeadsetModel> model;
    sim::UmockdevHidHost host{Options()};
    sim::UmockdevHidHost::DeviceId id = -1;
    HidrawEnumerator enumerator{log};
    HidControl hid{enumerator, log};
    HidHeadset headset;
};

struct EffectCase {
    DeviceFamily family;
    LightingEffect effect;
    Colour colour;
    const char* shows;  // what the model shows afterwards
    std::uint8_t mode;
};

class EffectsThroughHidraw : public ::testing::TestWithParam<EffectCase> {};

TEST_P(EffectsThroughHidraw, AppliedEffectIsShownAndReadBack) {
    const auto& c = GetParam();
    HeadsetOverHidraw rig(c.family);
    ASSERT_TRUE(rig.Connect());
    EXPECT_EQ(rig.hid.Capabilities().outputReportByteLength, 16);
    EXPECT_EQ(rig.hid.Capabilities().inputReportByteLength, 16);

    ASSERT_TRUE(rig.headset.SetLEDEffect(c.effect, c.colour));
    EXPECT_EQ(sim::Describe(rig.model->Shows()), c.shows);
    // PrepareTransaction and the two halves of the command block.
    EXPECT_EQ(rig.model->OutputReports().size(), 3u);

    const auto state = rig.headset.GetLEDSetting();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->mode, c.mode);
    EXPECT_EQ(state->red, rig.model->Shows().red);
    EXPECT_EQ(state->green, rig.model->Shows().green);
    EXPECT_EQ(state->blue, rig.model->Shows().blue);
}

INSTANTIATE_TEST_SUITE_P(
    Headsets, EffectsThroughHidraw,
    ::testing::Values(
        EffectCase{DeviceFamily::Gen2, LightingEffect::Breathing, {229.6, 26.2, 0.0},
                   "on effect=breathing color=E61A00 mode=2", 2},
        EffectCase{DeviceFamily::Gen2, LightingEffect::Rainbow, {0, 0, 255}, "on effect=rainbow color=0000FF mode=6", 6},
        EffectCase{DeviceFamily::Gen2Entry, LightingEffect::Static, {255, 255, 255},
                   "on effect=static color=FFFFFF mode=1", 1}));

TEST(HeadsetOverHidrawTest, OffFrameAndEepromColourReachTheDevice) {
    HeadsetOverHidraw rig(DeviceFamily::Gen2);
    ASSERT_TRUE(rig.Connect());
    ASSERT_TRUE(rig.headset.SetLEDEffect(LightingEffect::Strobing, {10, 20, 30}));
    ASSERT_TRUE(rig.headset.SetLEDOff());
    EXPECT_FALSE(rig.model->Shows().on);

    ASSERT_TRUE(rig.headset.SetLEDFrame(0x40));
    const auto frame = rig.headset.GetLEDFrame();
    ASSERT_TRUE(frame);  // the counter runs on, so only its presence is certain

    ASSERT_TRUE(rig.headset.WriteColour({255, 0, 0}));
    EXPECT_EQ(rig.model->Register(0x04), 0xFF);
    EXPECT_EQ(rig.model->Register(0x05), 0x00);
    EXPECT_EQ(rig.model->Register(0x07), 0x01);
}

TEST(HeadsetOverHidrawTest, UnplugMidCommandFailsAndTheHeadsetReconnectsAfterReplug) {
    HeadsetOverHidraw rig(DeviceFamily::Gen2);
    ASSERT_TRUE(rig.Connect());
    // The second report of the command block meets an unplugged device.
    rig.model->InjectOutputFault(sim::ModelAction::Unplug, 2);
    EXPECT_FALSE(rig.headset.SetLEDEffect(LightingEffect::Static, {1, 2, 3}));
    EXPECT_TRUE(rig.log.Contains("\nSetLEDEffect to Headset Failed!\n"));
    EXPECT_FALSE(rig.headset.GetLEDSetting());
    EXPECT_TRUE(rig.hid.CloseDevice());

    // Plugged in again (a fresh device): found under its new node, and it works.
    auto fresh = std::make_shared<sim::Gen2HeadsetModel>(sim::Gen2Config(), rig.clock);
    for (int i = 0; i < 200 && rig.host.IsPresent(rig.id); ++i) std::this_thread::sleep_for(5ms);
    rig.host.AddDevice(fresh);
    ASSERT_TRUE(rig.hid.OpenDevice(0x0B05, 0x1855));
    ASSERT_TRUE(rig.hid.StartReadThread());
    HidHeadset again(DeviceFamily::Gen2, rig.hid, rig.clock, rig.log);
    ASSERT_TRUE(again.SetLEDEffect(LightingEffect::ColorCycle, {0, 128, 0}));
    EXPECT_EQ(sim::Describe(fresh->Shows()), "on effect=colorcycle color=008000 mode=4");
}

TEST(HeadsetOverHidrawTest, AnswerThatNeverComesFailsTheReadBoundedly) {
    HeadsetOverHidraw rig(DeviceFamily::Gen2);
    ASSERT_TRUE(rig.Connect());
    rig.model->InjectInputFault(sim::InputFault::NoAnswer);
    EXPECT_FALSE(rig.headset.GetLEDSetting());
    EXPECT_TRUE(rig.log.Contains("GetLEDSetting(R) From Headset Failed!!\n"));
}

}  // namespace
}  // namespace ovra
