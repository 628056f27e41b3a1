// Applying a choice: what is stored, the handshake with the service, what
// each device is sent, and the paths that end early.
#include <gtest/gtest.h>

#include "tests/ui_program/ModelFixture.h"

namespace ovra::test {
namespace {

using Op = FakeNamedObjects::Op;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

class ApplyTest : public ModelFixture {
protected:
    void SetUp() override { MakeModel(); }
    void Choose(EffectChoice choice, Colour colour) {
        model->OnEffectChoice(choice);
        model->SetColour(colour);
    }
    // The UI's own operations on the finish event (the service sets it).
    std::vector<Op> FinishOps() const {
        std::vector<Op> ops;
        for (auto op : EventOps(kFinishEvent))
            if (op != Op::Set) ops.push_back(op);
        return ops;
    }
    void ApplyQuietly() {
        objects.ClearJournal();
        store.writes.clear();
        model->OnApply();
    }
};

TEST_F(ApplyTest, EachHeadsetFamilyAndEffect) {
    struct Case {
        std::string id;
        RecordingDevice FakeDeviceLinks::*device;
        std::string sync;  // the stored mask
    } const families[] = {
        {kGen2Id, &FakeDeviceLinks::gen2, "sync 1"},
        {kEntryId, &FakeDeviceLinks::gen2Entry, "sync 0"},
        {kMidId, &FakeDeviceLinks::gen2Mid, "sync 4"},
        {kTv520Id, &FakeDeviceLinks::tv520, "sync 8"},
    };
    const std::pair<EffectChoice, unsigned> effects[] = {
        {EffectChoice::Static, 0}, {EffectChoice::Breathing, 1}, {EffectChoice::Strobing, 2},
        {EffectChoice::ColorCycle, 3}, {EffectChoice::Rainbow, 5}, {EffectChoice::GpuTemperature, 0},
    };
    FakeServiceSide service(objects);
    for (const auto& family : families) {
        MakeModel();
        Discover({family.id});
        ASSERT_EQ(model->State().selected, SelectedDevice::Headset);
        for (const auto& [choice, code] : effects) {
            (links.*family.device).ClearOps();
            Choose(choice, {229.6, 26.2, 0});
            ApplyQuietly();
            const std::string c = std::to_string(code);
            EXPECT_EQ(store.writes, (Strings{family.sync, "1:color 229,26,0", "1:behavior " + c, "1:switch 1"}))
                << family.id << " effect " << c;
            EXPECT_EQ(LightOps(links.*family.device), Strings{"effect " + c + " 230,26,0"});
            EXPECT_EQ(EventOps(kSettingDataEvent), std::vector<Op>{Op::Set});
            EXPECT_EQ(FinishOps(), (std::vector<Op>{Op::Reset, Op::WaitSignaled, Op::Reset}));
            EXPECT_EQ(model->State().shownEffect, code);
            EXPECT_TRUE(Logged("R = 229.6\nG = 26.2\nB = 0\n"));
        }
        model->EndDeviceConnections(EndReason::WindowClose);
    }
}

TEST_F(ApplyTest, StaleFinishedFromAnEarlierWakeUpDoesNotCount) {
    Discover({kGen2Id});  // its wake-up pair; nobody answers
    auto finish = objects.OpenEvent(kFinishEvent);
    finish->Set();        // a late answer to that wake-up
    objects.InstantTimeouts(&clock);
    Choose(EffectChoice::Static, {1, 2, 3});
    ApplyQuietly();
    EXPECT_EQ(FinishOps(), (std::vector<Op>{Op::Reset, Op::WaitTimeout, Op::Reset}))
        << "this request's own answer is awaited";
}

TEST_F(ApplyTest, HandshakeSpacingAndWaitBeforeTheDeviceWrite) {
    FakeServiceSide service(objects);
    Discover({kGen2Id});
    Choose(EffectChoice::Breathing, {10, 20, 30});
    ApplyQuietly();
    // The UI's own steps, in order (the service thread's steps interleave).
    using Step = std::pair<std::string, Op>;
    std::vector<Step> sequence;
    for (auto& r : objects.JournalRecords()) {
        const bool serviceStep = (r.name == kDelayEvent && r.op != Op::Set) ||
                                 (r.name == kFinishEvent && r.op == Op::Set);
        if (!serviceStep && r.name != FrameSync::kEventName) sequence.push_back({r.name, r.op});
    }
    EXPECT_EQ(sequence, (std::vector<Step>{{kFinishEvent, Op::Reset},
                                           {kSettingDataEvent, Op::Set},
                                           {kDelayEvent, Op::Set},
                                           {kFinishEvent, Op::WaitSignaled},
                                           {kFinishEvent, Op::Reset}}));
    EXPECT_EQ(objects.JournalOf(kDelayEvent).back().at - objects.JournalOf(kSettingDataEvent).back().at,
              100ms);
}

TEST_F(ApplyTest, MicrophoneSelectedGetsItsOwnHandshakeAndMode) {
    FakeServiceSide service(objects);
    Discover({kMicId});
    Choose(EffectChoice::Strobing, {1, 2, 3});
    ApplyQuietly();
    EXPECT_EQ(store.writes, (Strings{"sync 2", "2:color 1,2,3", "2:behavior 2", "2:switch 1"}));
    EXPECT_EQ(LightOps(links.mic), Strings{"effect 2 1,2,3"});
    EXPECT_EQ(FinishOps(), (std::vector<Op>{Op::Reset, Op::WaitSignaled, Op::Reset}));
    EXPECT_EQ(model->MicLightEffect(), 2u);
}

TEST_F(ApplyTest, MusicToTv520WithSyncBoxAndMicrophone) {
    Discover({kTv520Id, kMicId});
    ASSERT_TRUE(model->State().syncEnabled);
    model->OnSyncBox();
    Choose(EffectChoice::Music, {200, 100, 50});
    ApplyQuietly();
    EXPECT_EQ(store.writes, (Strings{"sync 10", "1:color 200,100,50", "1:behavior 4", "1:switch 1",
                                     "2:color 200,100,50", "2:behavior 4", "2:switch 1"}));
    EXPECT_EQ(LightOps(links.tv520), Strings{"effect 4 200,100,50"});
    EXPECT_EQ(LightOps(links.mic), Strings{"effect 4 200,100,50"});
    // No release request: only the wake-up pair at the end, no wait.
    EXPECT_EQ(EventOps(kSettingDataEvent), std::vector<Op>{Op::Set});
    EXPECT_EQ(EventOps(kDelayEvent), std::vector<Op>{Op::Set});
    for (auto op : EventOps(kFinishEvent)) EXPECT_NE(op, Op::WaitSignaled);
    EXPECT_EQ(model->MicLightEffect(), 0u);
    EXPECT_EQ(model->State().shownEffect, 0);
    EXPECT_TRUE(model->SyncThread()->Paused()) << "music has no frames to keep in step";
}

TEST_F(ApplyTest, SyncBoxWithAnimatedEffectWakesTheThreadAndSendsBoth) {
    FakeServiceSide service(objects);
    Discover({kGen2Id, kMicId});
    model->OnSyncBox();
    Choose(EffectChoice::ColorCycle, {1, 1, 1});
    ApplyQuietly();
    EXPECT_EQ(store.writes.front(), "sync 3");
    EXPECT_EQ(LightOps(links.gen2), Strings{"effect 3 1,1,1"});
    EXPECT_EQ(LightOps(links.mic), Strings{"effect 3 1,1,1"});
    EXPECT_FALSE(model->SyncThread()->Paused());
    model->OnSyncBox();
    ApplyQuietly();
    EXPECT_TRUE(model->SyncThread()->Paused());
}

TEST_F(ApplyTest, ServiceThatNeverAnswersBoundsTheWaitThenWritesAnyway) {
    objects.InstantTimeouts(&clock);
    Discover({kGen2Id});
    Choose(EffectChoice::Static, {255, 0, 0});
    const auto before = clock.Now();
    ApplyQuietly();
    EXPECT_TRUE(Logged("\nm_hLEDFinishedEvent - TimeOut\n"));
    EXPECT_EQ(clock.Now() - before, 100ms + 3000ms);
    EXPECT_EQ(LightOps(links.gen2), Strings{"effect 0 255,0,0"}) << "stored and sent agree";
    EXPECT_EQ(FinishOps(), (std::vector<Op>{Op::Reset, Op::WaitTimeout, Op::Reset}));
    EXPECT_TRUE(notifier.notices.empty());
}

TEST_F(ApplyTest, NothingSelectedOrBleOnStoresAndSendsNothing) {
    Discover({});
    ApplyQuietly();
    EXPECT_EQ(notifier.notices, Strings{"Please select a device."});
    EXPECT_EQ(notifier.captions, Strings{"OVRA(ZIRUZAVUVU)"});
    EXPECT_TRUE(store.writes.empty()) << "not even the sync status";

    links.bleOn = true;
    Discover({kMidId});
    ApplyQuietly();
    model->OnSwitchButton();
    EXPECT_EQ(notifier.notices.back(), "BLE Status is ON. Unable to operate.");
    EXPECT_EQ(notifier.notices.size(), 3u);
    EXPECT_TRUE(store.writes.empty());
    EXPECT_TRUE(LightOps(links.gen2Mid).empty());
    EXPECT_EQ(model->State().offOnButton, 1);
}

TEST_F(ApplyTest, HidHeadsetRefusingTheChoiceIsReportedAndResetsTheFinishEvent) {
    FakeServiceSide service(objects);
    Discover({kGen2Id, kMicId});
    model->OnSyncBox();
    links.gen2.acceptWrites = false;
    Choose(EffectChoice::Breathing, {9, 9, 9});
    ApplyQuietly();
    EXPECT_EQ(notifier.notices, Strings{std::string(kNotSentText)});
    EXPECT_TRUE(LightOps(links.mic).empty()) << "the apply ended at the headset";
    EXPECT_EQ(EventOps(kFinishEvent).back(), Op::Reset);
    EXPECT_FALSE(objects.IsSet(kFinishEvent));
}

TEST_F(ApplyTest, SwitchOffAndOn) {
    FakeServiceSide service(objects);
    Discover({kEntryId});
    Choose(EffectChoice::Static, {50, 60, 70});
    ApplyQuietly();
    links.gen2Entry.ClearOps();

    store.writes.clear();
    objects.ClearJournal();
    model->OnSwitchButton();
    EXPECT_EQ(model->State().offOnButton, 0);
    EXPECT_EQ(model->State().ledSwitch, 0);
    EXPECT_EQ(LightOps(links.gen2Entry), Strings{"off"});
    EXPECT_EQ(store.writes, Strings{"1:switch 0"});
    const auto delayOps = EventOps(kDelayEvent);
    EXPECT_EQ(std::count(delayOps.begin(), delayOps.end(), Op::Set), 1);
    for (auto op : EventOps(kFinishEvent)) EXPECT_NE(op, Op::WaitSignaled) << "off does not wait";
    EXPECT_EQ(model->State().panelView, 1);
    EXPECT_FALSE(model->State().panel.apply);

    store.writes.clear();
    model->OnSwitchButton();
    EXPECT_EQ(model->State().offOnButton, 1);
    EXPECT_EQ(LightOps(links.gen2Entry), (Strings{"off", "effect 0 50,60,70"}));
    EXPECT_EQ(store.writes, (Strings{"sync 0", "1:color 50,60,70", "1:behavior 0", "1:switch 1"}));
    EXPECT_EQ(model->State().panelView, 4) << "single-colour headset panel";
}

TEST_F(ApplyTest, SwitchOffOfTheMicrophoneTakesItsReportedMode) {
    Discover({kMicId});
    links.micOffAnswer = 4;
    model->OnSwitchButton();
    EXPECT_EQ(LightOps(links.mic), Strings{"off"});
    EXPECT_EQ(model->MicLightEffect(), 4u);
    EXPECT_EQ(store.writes, Strings{"2:switch 0"});
}

TEST_F(ApplyTest, NeverStoredValuesAreNotStoredBack) {
    FakeServiceSide service(objects);
    Discover({kMidId});  // no read-back: the (missing) stored choice is all there is
    EXPECT_EQ(model->State().choice, EffectChoice::Breathing);
    ApplyQuietly();
    EXPECT_EQ(store.writes, (Strings{"sync 4", "1:color 229,26,0", "1:behavior 1", "1:switch 1"}));
    EXPECT_EQ(LightOps(links.gen2Mid), Strings{"effect 1 229,26,0"});
}

class MicPollTest : public ModelFixture {
protected:
    void SetUp() override {
        MakeModel();
        objects.InstantTimeouts(&clock);
        links.mic.setting = DeviceLightingState{10, 20, 30, 1};
        Discover({kMicId});
        ASSERT_EQ(model->State().selected, SelectedDevice::Microphone);
        links.mic.ClearOps();
    }
    void Poll(std::uint8_t mode) {
        links.mic.setting->mode = mode;
        model->OnMicPollTimer();
    }
};

TEST_F(MicPollTest, MicrophoneSwitchedOffOnTheDeviceSwitchesTheWindowOff) {
    Poll(4);
    EXPECT_TRUE(Logged("Light effect need to be updated!!\n"));
    EXPECT_EQ(model->State().offOnButton, 0);
    EXPECT_EQ(model->State().ledSwitch, 0);
    EXPECT_EQ(LightOps(links.mic), Strings{"off"});
    log.Clear();
    Poll(4);  // already off: nothing more
    EXPECT_TRUE(log.Texts().empty());
}

TEST_F(MicPollTest, ChangesMadeOnTheMicrophoneMoveTheChoice) {
    struct Case {
        std::uint8_t mode;
        EffectChoice choice;
    } const cases[] = {{2, EffectChoice::Breathing}, {3, EffectChoice::ColorCycle},
                       {1, EffectChoice::Static},    {7, EffectChoice::Static}};
    for (const auto& c : cases) {
        Poll(c.mode);
        EXPECT_EQ(model->State().choice, c.choice) << int(c.mode);
        EXPECT_TRUE(LightOps(links.mic).empty()) << "the switch is on: nothing is sent back";
    }
}

TEST_F(MicPollTest, OffToStaticSwitchesOnAndApplies) {
    model->OnSwitchButton();  // off
    ASSERT_EQ(model->State().ledSwitch, 0);
    links.mic.ClearOps();
    Poll(1);
    EXPECT_TRUE(Logged("Off to Static!!\n"));
    EXPECT_EQ(model->State().ledSwitch, 1);
    EXPECT_EQ(model->State().choice, EffectChoice::Static);
    EXPECT_EQ(LightOps(links.mic), Strings{"effect 0 10,20,30"});
}

TEST_F(MicPollTest, MusicToStaticAndStrobingReadsBackAsColorCycle) {
    model->OnEffectChoice(EffectChoice::Music);
    model->OnApply();
    links.mic.ClearOps();
    Poll(1);  // music shows as mode 1: what the program sent itself
    EXPECT_FALSE(Logged("Music to Static!!\n"));
    EXPECT_TRUE(LightOps(links.mic).empty());
    Poll(2);
    EXPECT_TRUE(Logged("Music to Static!!\n"));
    EXPECT_EQ(LightOps(links.mic), Strings{"effect 0 10,20,30"});

    model->OnEffectChoice(EffectChoice::Strobing);
    model->OnApply();
    EXPECT_EQ(links.mic.Ops().back(), "effect 2 10,20,30");
    Poll(3);
    EXPECT_EQ(model->State().choice, EffectChoice::ColorCycle);
    EXPECT_EQ(model->MicLightEffect(), 3u);
}

TEST_F(MicPollTest, ADifferentModeUnchecksTheSyncBox) {
    Discover({kMicId, kGen2Id});
    model->OnSyncBox();
    ASSERT_TRUE(model->State().syncChecked);
    Poll(3);
    EXPECT_TRUE(Logged("cancel checkbox for sync!!\n"));
    EXPECT_FALSE(model->State().syncChecked);
}

}  // namespace
}  // namespace ovra::test
