// Which nodes are devices of ours, which one connects, and what plugging and
// unplugging do to the connection state.
#include <gtest/gtest.h>

#include "tests/ui_program/ModelFixture.h"
#include "ui_program/core/DeviceClassification.h"

namespace ovra::test {
namespace {

using Op = FakeNamedObjects::Op;

TEST(DeviceClassification, RecognisedProductsAndEverythingElse) {
    struct Case {
        const char* id;
        std::optional<DeviceFamily> family;
    } const cases[] = {
        {"USB\\VID_0D8C&PID_01AC\\5&1&0&1", DeviceFamily::Gen2},
        {"USB\\VID_0B05&PID_1855\\SERIAL", DeviceFamily::Gen2},
        {"usb\\vid_0b05&pid_1855\\lower", DeviceFamily::Gen2},
        {"USB\\VID_0B05&PID_01AC\\x", DeviceFamily::Gen2},  // vendor only has to be one of ours
        {"USB\\VID_0B05&PID_1859\\x", DeviceFamily::Gen2Entry},
        {"USB\\VID_0B05&PID_1858\\x", DeviceFamily::Gen2Mid},
        {"USB\\VID_0B05&PID_1876\\x", DeviceFamily::TV520},
        {"USB\\VID_0B05&PID_1842\\x", DeviceFamily::MK470},
        // Interfaces and anything after the four digits match nothing.
        {"USB\\VID_0B05&PID_1855&MI_03\\6&2&0&0003", std::nullopt},
        {"USB\\VID_0B05&PID_18550\\x", std::nullopt},
        {"USB\\VID_0B05&PID_185\\x", std::nullopt},
        {"USB\\VID_0B05&PID_1855", std::nullopt},  // no instance part
        // Vendor not at character 8, or not ours.
        {"USB\\VID_1234&PID_1855\\x", std::nullopt},
        {"USBX\\VID_0B05&PID_1855\\x", std::nullopt},
        {"USB\\VID__0B05&PID_1855\\x", std::nullopt},
        {"HID\\VID_0B05&PID_1855\\x", std::nullopt},
        {"USB\\ROOT_HUB30\\4&1&0", std::nullopt},
        {"", std::nullopt},
        {"USB", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto product = ClassifyInstanceId(c.id);
        EXPECT_EQ(product.has_value(), c.family.has_value()) << c.id;
        if (product && c.family) {
            EXPECT_EQ(product->family, *c.family) << c.id;
        }
    }
    EXPECT_EQ(HidHeadsetIds("01AC").vendor, 0x0D8C);
    EXPECT_EQ(HidHeadsetIds("1855").vendor, 0x0B05);
    EXPECT_EQ(HidHeadsetIds("1859").product, 0x1859);
}

class DiscoveryTest : public ModelFixture {
protected:
    void SetUp() override { MakeModel(); }
};

TEST_F(DiscoveryTest, FirstListedHeadsetConnectsTheOtherOnlyCounts) {
    struct Case {
        std::vector<std::string> ids;
        std::string opened;
    } const cases[] = {
        {{kGen2Id, kGen2AltId}, "open hid 0b05:1855"},
        {{kGen2AltId, kGen2Id}, "open hid 0d8c:01ac"},
        {{kEntryId, kGen2Id}, "open hid 0b05:1859"},
    };
    for (const auto& c : cases) {
        links.ClearCalls();
        tree.Clear();
        for (auto& id : c.ids) tree.Add(id);
        MakeModel();
        model->DiscoverDevices();
        EXPECT_EQ(links.Calls(), std::vector<std::string>{c.opened});
        model->DiscoverDevices();  // a change of nothing: no new connection
        EXPECT_EQ(links.Calls().size(), 1u);
        model->EndDeviceConnections(EndReason::WindowClose);
    }
}

TEST_F(DiscoveryTest, ConnectingSelectsUnlessStartingUpAndWakesTheService) {
    model->SetStartingUp(true);
    Discover({kGen2Id});
    EXPECT_TRUE(model->Connected(DeviceFamily::Gen2));
    EXPECT_TRUE(model->State().headsetButtonEnabled);
    EXPECT_EQ(model->State().selected, SelectedDevice::None);
    EXPECT_TRUE(Logged("\nConnect Headset Success!!\n"));
    EXPECT_EQ(EventOps(kSettingDataEvent), std::vector<Op>{Op::Set});
    EXPECT_EQ(EventOps(kDelayEvent), std::vector<Op>{Op::Set});
    EXPECT_EQ(objects.JournalOf(kDelayEvent).back().at - objects.JournalOf(kSettingDataEvent).back().at,
              std::chrono::milliseconds(100));

    model->SetStartingUp(false);
    Discover({kGen2Id, kMicId});
    EXPECT_EQ(model->State().selected, SelectedDevice::Microphone) << "nothing was selected";
    EXPECT_TRUE(host.timerRunning);
    EXPECT_EQ(host.timerPeriod, std::chrono::milliseconds(500));
    EXPECT_TRUE(Logged("\nStart Timer!!\n"));
    EXPECT_EQ(model->State().modelName, "KYX Vanta Ostra");
}

TEST_F(DiscoveryTest, StartUpEndsWithTheHeadsetSelectedElseTheMicrophone) {
    model->SetStartingUp(true);
    Discover({kMicId, kGen2Id});
    model->SetStartingUp(false);
    ASSERT_EQ(model->State().selected, SelectedDevice::None);
    model->SelectInitialDevice();
    EXPECT_EQ(model->State().selected, SelectedDevice::Headset);

    MakeModel();
    model->SetStartingUp(true);
    Discover({kMicId});
    model->SetStartingUp(false);
    model->SelectInitialDevice();
    EXPECT_EQ(model->State().selected, SelectedDevice::Microphone);
}

TEST_F(DiscoveryTest, MicrophoneConnectingBesideTheSelectedHeadsetTakesItsStoredEffect) {
    store.values[kStoreMicrophone].behavior = 4;  // music reads as 0 here
    Discover({kGen2Id});
    ASSERT_EQ(model->State().selected, SelectedDevice::Headset);
    Discover({kGen2Id, kMicId});
    EXPECT_EQ(model->State().selected, SelectedDevice::Headset);
    EXPECT_EQ(model->MicLightEffect(), 0u);
}

TEST_F(DiscoveryTest, UnreadableNodeIsSkippedNotTheEndOfThePass) {
    Discover({kGen2Id, kMicId});
    tree.Clear();
    tree.Add(std::nullopt);
    tree.Add(kGen2Id);
    tree.Add(kMicId);
    model->DiscoverDevices();
    EXPECT_TRUE(Logged("SetupDiGetDeviceInstanceId FAILED!!\n"));
    EXPECT_TRUE(model->Connected(DeviceFamily::Gen2)) << "still attached, not dismissed";
    EXPECT_TRUE(model->Connected(DeviceFamily::MK470));
    EXPECT_FALSE(Logged("Dismiss Gen2!!!!!!!!!\n"));
}

TEST_F(DiscoveryTest, UnpluggingTheConnectedHeadsetConnectsTheOneStillAttached) {
    Discover({kGen2Id, kTv520Id});
    ASSERT_TRUE(model->Connected(DeviceFamily::Gen2));
    Discover({kTv520Id});
    EXPECT_TRUE(Logged("Dismiss Gen2!!!!!!!!!\n"));
    EXPECT_FALSE(model->Connected(DeviceFamily::Gen2));
    EXPECT_TRUE(model->Connected(DeviceFamily::TV520));
    EXPECT_TRUE(Logged("\nENE Connect ok!\n"));
    EXPECT_EQ(model->State().selected, SelectedDevice::Headset);
    EXPECT_EQ(model->State().modelName, "KYX Headset TV520");
}

TEST_F(DiscoveryTest, FailedConnectionTriesTheNextHeadsetAndAgainOnTheNextPass) {
    links.eneReady = false;
    Discover({kTv520Id, kEntryId});
    EXPECT_TRUE(Logged("\nInit ENE DLL Failed!\n"));
    EXPECT_TRUE(model->Connected(DeviceFamily::Gen2Entry));
    EXPECT_TRUE(Logged("\nConnect Headset_Entry Success!!\n"));

    links.failOpen = true;  // a device that vanished between listing and opening
    Discover({});
    Discover({kGen2Id});
    EXPECT_TRUE(Logged("\nConnect Headset failed, please check usb device!!\n"));
    EXPECT_FALSE(model->AnyHeadsetConnected());
    links.failOpen = false;
    Discover({kGen2Id});
    EXPECT_TRUE(model->Connected(DeviceFamily::Gen2));
}

TEST_F(DiscoveryTest, MicrophoneDismissalStopsThePollAndSelectsTheHeadset) {
    Discover({kMicId});
    ASSERT_EQ(model->State().selected, SelectedDevice::Microphone);
    Discover({kMicId, kGen2Id});
    Discover({kGen2Id});
    EXPECT_TRUE(Logged("Dismiss MK470!!!!!!!!!\n"));
    EXPECT_FALSE(host.timerRunning);
    EXPECT_FALSE(model->State().micButtonEnabled);
    EXPECT_EQ(model->State().selected, SelectedDevice::Headset);
    EXPECT_EQ(model->State().modelName, "KYX Vanta HS");

    // Unselected microphone: its poll stops as well (nothing left to poll).
    Discover({kGen2Id, kMicId});
    ASSERT_EQ(model->State().selected, SelectedDevice::Headset);
    ASSERT_TRUE(host.timerRunning);
    Discover({kGen2Id});
    EXPECT_FALSE(host.timerRunning);
    EXPECT_EQ(model->State().selected, SelectedDevice::Headset);
}

TEST_F(DiscoveryTest, MicrophoneThatWillNotDisconnectStaysConnected) {
    Discover({kMicId});
    links.failDisconnect = true;
    Discover({});
    EXPECT_TRUE(Logged("\nDisconnect MK470 Failed!\n"));
    EXPECT_TRUE(model->Connected(DeviceFamily::MK470));
    EXPECT_TRUE(host.timerRunning);
}

TEST_F(DiscoveryTest, HeadsetDismissalWhileSelectedFallsBackToTheMicrophone) {
    Discover({kMidId, kMicId});
    ASSERT_EQ(model->State().selected, SelectedDevice::Headset);
    Discover({kMicId});
    EXPECT_TRUE(Logged("Dismiss Gen2Mid!!!!!!!!!\n"));
    EXPECT_EQ(links.Calls().back(), "close gen2mid 7");
    EXPECT_EQ(model->State().selected, SelectedDevice::Microphone);
    EXPECT_FALSE(model->State().headsetButtonEnabled);
    EXPECT_TRUE(model->State().disableSyncDevShown);
    EXPECT_TRUE(model->SyncThread()->Paused());
}

TEST_F(DiscoveryTest, SyncAvailabilityFollowsThePair) {
    struct Case {
        std::vector<std::string> ids;
        bool available;
    } const cases[] = {
        {{kGen2Id, kMicId}, true},  {{kMidId, kMicId}, true}, {{kTv520Id, kMicId}, true},
        {{kEntryId, kMicId}, false}, {{kGen2Id}, false},      {{kMicId}, false},
    };
    for (const auto& c : cases) {
        log.Clear();
        tree.Clear();
        for (auto& id : c.ids) tree.Add(id);
        MakeModel();
        model->DiscoverDevices();
        model->DiscoverDevices();
        EXPECT_EQ(model->State().syncEnabled, c.available) << c.ids.front();
        EXPECT_EQ(model->State().disableSyncDevShown, !c.available);
        EXPECT_EQ(model->SyncThread() != nullptr, c.available);
        EXPECT_EQ(LoggedCount("\nCreate hThread_SyncLEDThread!!\n"), c.available ? 1 : 0);
        model->EndDeviceConnections(EndReason::WindowClose);
    }
}

TEST_F(DiscoveryTest, ChangeCodesAndOnlyTreeChangesRunAPass) {
    const int before = tree.ListCount();
    EXPECT_EQ(model->OnDeviceChange(DeviceChangeCode::Arrival), 0);
    EXPECT_EQ(model->OnDeviceChange(DeviceChangeCode::RemoveComplete), 0);
    EXPECT_EQ(model->OnDeviceChange(static_cast<DeviceChangeCode>(0x18)), 0);
    EXPECT_EQ(tree.ListCount(), before);
    EXPECT_EQ(model->OnDeviceChange(DeviceChangeCode::TreeChanged), 0);
    EXPECT_EQ(tree.ListCount(), before + 1);
    EXPECT_EQ(log.Texts(), (std::vector<std::string>{"DBT_DEVICEARRIVAL!!\n", "DBT_DEVICEREMOVECOMPLETE!!\n",
                                                     "OnDeviceChange: default!!\n",
                                                     "DBT_DEVTYP_DEVINST!!\n"}));
}

TEST_F(DiscoveryTest, RegistrationFailureAndListFailure) {
    tree.SetWatchFails(true);
    EXPECT_FALSE(model->RegisterDeviceChange());
    EXPECT_TRUE(Logged("\nRegisterDeviceNotification FAILED!!\n"));
    Discover({kGen2Id});
    tree.SetListFails(true);
    model->DiscoverDevices();
    EXPECT_TRUE(Logged("SetupDiGetClassDevs FAILED!!\n"));
    EXPECT_TRUE(model->Connected(DeviceFamily::Gen2)) << "a failed listing dismisses nothing";
}

TEST_F(DiscoveryTest, StormOfNoticesEndsConsistent) {
    ASSERT_TRUE(model->RegisterDeviceChange());
    for (int i = 0; i < 50; ++i) {
        tree.Plug(kGen2Id);
        tree.Plug(kMicId);
        tree.Unplug(kGen2Id);
        tree.Unplug(kMicId);
        if (i % 7 == 0) model->OnDeviceChangesReady();  // the loop drains now and then
    }
    tree.Plug(kMicId);
    model->OnDeviceChangesReady();
    EXPECT_FALSE(model->AnyHeadsetConnected());
    EXPECT_TRUE(model->Connected(DeviceFamily::MK470));
    EXPECT_EQ(model->State().selected, SelectedDevice::Microphone);
    EXPECT_TRUE(host.timerRunning);
    EXPECT_LE(tree.ListCount(), 9) << "one pass per drain, not one per notice";
}

TEST_F(DiscoveryTest, EndStopsTheFrameSyncThreadBeforeReleasingAnything) {
    Discover({kGen2Id, kMicId});
    FrameSync* sync = model->SyncThread();
    ASSERT_NE(sync, nullptr);
    std::vector<bool> runningAtRelease;
    links.onRelease = [&](const std::string&) { runningAtRelease.push_back(sync->Running()); };
    model->EndDeviceConnections(EndReason::WindowClose);
    EXPECT_EQ(links.Calls().back(), "disconnect mic");
    EXPECT_EQ(runningAtRelease, (std::vector<bool>{false, false}));
    EXPECT_FALSE(host.timerRunning);
    EXPECT_FALSE(model->AnyHeadsetConnected());
}

TEST_F(DiscoveryTest, SessionEndReleasesTheBridgeCopies) {
    Discover({kTv520Id, kMicId});
    model->EndDeviceConnections(EndReason::SessionEnd);
    const auto calls = links.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "give up ene"), calls.end());
    EXPECT_FALSE(host.timerRunning);
    links.ClearCalls();
    Discover({kTv520Id});
    EXPECT_TRUE(links.Calls().empty()) << "nothing connects after the end";
}

}  // namespace
}  // namespace ovra::test
