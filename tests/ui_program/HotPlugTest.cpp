// Plug and unplug through umockdev uevents while the model runs: the real
// libudev tree and monitor, the real hidraw adapter and HID connection, the
// headset and microphone models behind /dev/hidraw*. The connection state
// follows without anyone asking for a rescan.
#include <gtest/gtest.h>

#include <poll.h>

#include <functional>

#include "device_access/HidControl.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/core/SteadyClock.h"
#include "platform/linux/device_tree/UdevDeviceTree.h"
#include "platform/linux/hid/HidrawEnumerator.h"
#include "platform/linux/named_objects/PosixNamedObjects.h"
#include "sim/hid/Gen2HeadsetModel.h"
#include "sim/mic/MicrophoneModel.h"
#include "sim/umockdev/UmockdevHidHost.h"
#include "tests/ui_program/UiDoubles.h"
#include "ui_program/core/BoundDeviceLinks.h"
#include "ui_program/core/LightingModel.h"

namespace ovra::test {
namespace {

using namespace std::chrono_literals;

// The HID headsets through the program's own links; the microphone library
// is its own component, so here the microphone "connects" when its hidraw
// node is there, as that library's ConnectDevice finds it.
class HeadsetAndNodeMicLinks final : public DeviceLinks {
public:
    HeadsetAndNodeMicLinks(BoundDeviceLinks& bound, HidEnumerator& enumerator)
        : bound_(bound), enumerator_(enumerator) {}
    bool OpenHidHeadset(DeviceFamily f, std::uint16_t v, std::uint16_t p) override {
        return bound_.OpenHidHeadset(f, v, p);
    }
    void CloseHidHeadset() override { bound_.CloseHidHeadset(); }
    bool PlainBridgeBound() const override { return false; }
    std::uint32_t OpenGen2Mid() override { return 0; }
    void CloseGen2Mid(std::uint32_t) override {}
    bool Gen2MidBleOn() override { return false; }
    bool EneReady() const override { return false; }
    bool OpenTV520() override { return false; }
    void ReleaseTV520() override {}
    bool MicLibraryReady() const override { return true; }
    bool ConnectMicrophone() override {
        for (const auto& info : enumerator_.Enumerate())
            if (info.vendorId == 0x0B05 && info.productId == 0x1842) return micConnected = true;
        return false;
    }
    bool DisconnectMicrophone() override {
        micConnected = false;
        return true;
    }
    std::optional<std::uint8_t> MicSwitchOff() override { return 4; }
    void GiveUpPlainBridge() override {}
    void GiveUpEneBridge() override {}
    LightingDevice* Headset(DeviceFamily family) override { return bound_.Headset(family); }
    LightingDevice* Microphone() override { return nullptr; }
    bool micConnected = false;

private:
    BoundDeviceLinks& bound_;
    HidEnumerator& enumerator_;
};

class HotPlugTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sim::UmockdevHidHost::InMockEnvironment()) GTEST_SKIP() << "needs umockdev-wrapper";
        host = std::make_unique<sim::UmockdevHidHost>();
        model = std::make_unique<LightingModel>(
            LightingModelDeps{tree, links, store, objects, clock, log, notifier, window});
        ASSERT_TRUE(model->CreateHandshakeEvents());
        ASSERT_TRUE(model->RegisterDeviceChange());
        model->DiscoverDevices();
    }
    void TearDown() override {
        if (model) model->EndDeviceConnections(EndReason::WindowClose);
    }
    // Runs the main loop's part: wait for the monitor, hand the notices over.
    bool PumpUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 60 && !done(); ++i) {
            pollfd fd{model->DeviceChangeFd(), POLLIN, 0};
            if (poll(&fd, 1, 50) > 0) model->OnDeviceChangesReady();
        }
        return done();
    }

    SteadyClock clock;
    RecordingDebugLog log;
    PosixNamedObjects objects{"hotplug-" + std::to_string(getpid())};
    UdevDeviceTree tree;
    HidrawEnumerator enumerator{log};
    HidControl hid{enumerator, log};
    BoundDeviceLinks bound{BoundDeviceParts{hid, clock, log}};
    HeadsetAndNodeMicLinks links{bound, enumerator};
    RecordingStore store;
    RecordingNotifier notifier;
    RecordingHost window;
    std::unique_ptr<sim::UmockdevHidHost> host;
    std::unique_ptr<LightingModel> model;
};

TEST_F(HotPlugTest, HeadsetAndMicrophoneFollowPlugUnplugAndReplug) {
    auto headset = std::make_shared<sim::Gen2HeadsetModel>(sim::Gen2Config(), clock);
    auto mic = std::make_shared<sim::MicrophoneModel>();
    FakeServiceSide service(objects);

    auto headsetId = host->AddDevice(headset);
    ASSERT_TRUE(PumpUntil([&] { return model->Connected(DeviceFamily::Gen2); }));
    EXPECT_EQ(model->State().selected, SelectedDevice::Headset);
    EXPECT_TRUE(log.Contains("DBT_DEVICEARRIVAL!!\n"));

    // The connection is real: an apply reaches the headset model.
    model->OnEffectChoice(EffectChoice::Static);
    model->SetColour({255, 0, 0});
    model->OnApply();
    EXPECT_EQ(sim::Describe(headset->Shows()), "on effect=static color=FF0000 mode=1");

    const auto micId = host->AddDevice(mic);
    ASSERT_TRUE(PumpUntil([&] { return model->Connected(DeviceFamily::MK470); }));
    EXPECT_TRUE(window.timerRunning);
    EXPECT_TRUE(model->State().syncEnabled);

    host->RemoveDevice(headsetId);
    ASSERT_TRUE(PumpUntil([&] { return !model->Connected(DeviceFamily::Gen2); }));
    EXPECT_TRUE(log.Contains("Dismiss Gen2!!!!!!!!!\n"));
    EXPECT_FALSE(hid.IsOpen());
    EXPECT_EQ(model->State().selected, SelectedDevice::Microphone);
    EXPECT_FALSE(model->State().syncEnabled);

    headsetId = host->AddDevice(headset);
    ASSERT_TRUE(PumpUntil([&] { return model->Connected(DeviceFamily::Gen2); }));
    EXPECT_TRUE(hid.IsOpen());

    host->RemoveDevice(micId);
    ASSERT_TRUE(PumpUntil([&] { return !model->Connected(DeviceFamily::MK470); }));
    EXPECT_FALSE(window.timerRunning);
    EXPECT_EQ(model->State().selected, SelectedDevice::Headset);
    const auto micAgain = host->AddDevice(mic);
    ASSERT_TRUE(PumpUntil([&] { return model->Connected(DeviceFamily::MK470); }));
    EXPECT_TRUE(window.timerRunning);
    (void)micAgain;
}

TEST_F(HotPlugTest, StormOfPlugAndUnplugEndsConsistent) {
    auto headset = std::make_shared<sim::Gen2HeadsetModel>(sim::Gen2Config(), clock);
    // 25 plug/unplug pairs (each a burst of uevents), drained
    // after each pair (the testbed cannot hold more than a few unread
    // notices); every few pairs the device stays long enough to connect.
    for (int i = 0; i < 25; ++i) {
        const auto id = host->AddDevice(headset);
        pollfd fd{model->DeviceChangeFd(), POLLIN, 0};
        if (i % 8 == 0 && poll(&fd, 1, 100) > 0) model->OnDeviceChangesReady();
        host->RemoveDevice(id);
        if (poll(&fd, 1, 100) > 0) model->OnDeviceChangesReady();
    }
    ASSERT_TRUE(PumpUntil([&] { return !model->AnyHeadsetConnected(); }));
    EXPECT_FALSE(hid.IsOpen());
    host->AddDevice(headset);
    ASSERT_TRUE(PumpUntil([&] { return model->Connected(DeviceFamily::Gen2); }));
    EXPECT_TRUE(hid.IsOpen());
    EXPECT_EQ(model->State().selected, SelectedDevice::Headset);
}

}  // namespace
}  // namespace ovra::test
