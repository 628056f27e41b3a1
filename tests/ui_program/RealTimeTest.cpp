// In real time, on the real shared-memory events: the frame-sync thread's
// pass, park and wake; the apply handshake with a service thread on its own
// handles, and its 3000 ms bound when nobody answers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <thread>

#include "platform/fake/RecordingDebugLog.h"
#include "platform/fake/ScriptedDeviceTree.h"
#include "platform/linux/core/SteadyClock.h"
#include "platform/linux/named_objects/PosixNamedObjects.h"
#include "tests/ui_program/FrameSyncDoubles.h"
#include "tests/ui_program/ModelFixture.h"

namespace ovra::test {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

std::string Tag(const char* what) { return std::string(what) + "-" + std::to_string(getpid()); }

TEST(FrameSyncRealTime, AlignsAtStartParksAndWakesOnTheSharedEvent) {
    SteadyClock clock;
    RecordingDebugLog log;
    PosixNamedObjects objects(Tag("framesync"));
    RecordingDevice headset(DeviceFamily::Gen2, clock, 20ms);
    RecordingDevice mic(DeviceFamily::MK470, clock, 23ms);
    headset.SetFrame(10);
    mic.SetFrame(100);
    DevicePair pair(headset, mic);
    pair.effect = LightingEffect::ColorCycle;
    FrameSync sync(pair, objects, clock, log);
    sync.SetPaused(true);
    const auto start = Steady::now();
    sync.Start();
    for (int i = 0; i < 300 && sync.PassCount() < 1; ++i) std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(20ms);
    ASSERT_EQ(headset.Ops().size(), 1u) << "the first pass aligned at once";
    const int skew = std::abs(int(headset.FrameNow()) - int(mic.FrameNow()));
    EXPECT_LE(std::min(skew, 256 - skew), 2);

    // Another handle on the same name wakes it: the event is shared memory.
    auto event = objects.OpenEvent(FrameSync::kEventName);
    ASSERT_TRUE(event);
    event->Set();
    for (int i = 0; i < 400 && sync.PassCount() < 2; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(sync.PassCount(), 2u);
    EXPECT_GE(Steady::now() - start, 2000ms) << "the pause between passes came first";
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sync.PassCount(), 2u) << "paused: parked without a time-out";

    EXPECT_TRUE(sync.Stop(3000ms));
    EXPECT_FALSE(sync.Running());
}

class HandshakeRealTime : public ::testing::Test {
protected:
    void MakeModel() {
        model = std::make_unique<LightingModel>(
            LightingModelDeps{tree, links, store, objects, clock, log, notifier, host});
        ASSERT_TRUE(model->CreateHandshakeEvents());
        tree.Add(kGen2Id);
        model->DiscoverDevices();
        model->OnEffectChoice(EffectChoice::Breathing);
        model->SetColour({1, 2, 3});
    }
    SteadyClock clock;
    RecordingDebugLog log;
    PosixNamedObjects objects{Tag("handshake")};
    ScriptedDeviceTree tree;
    FakeDeviceLinks links{clock};
    RecordingStore store;
    RecordingNotifier notifier;
    RecordingHost host;
    std::unique_ptr<LightingModel> model;
};

TEST_F(HandshakeRealTime, ServiceOnItsOwnHandlesReleasesTheDevices) {
    PosixNamedObjects serviceSide(Tag("handshake"));
    FakeServiceSide service(serviceSide);
    MakeModel();
    for (int i = 0; i < 200 && service.Answers() < 1; ++i) std::this_thread::sleep_for(5ms);
    ASSERT_EQ(service.Answers(), 1) << "the service answered the connection's wake-up";
    links.gen2.ClearOps();
    model->OnApply();
    EXPECT_FALSE(log.Contains("\nm_hLEDFinishedEvent - TimeOut\n"));
    EXPECT_EQ(links.gen2.Ops().back(), "effect 1 1,2,3");
    EXPECT_EQ(service.Answers(), 2);
    auto finish = objects.OpenEvent(kFinishEvent);
    ASSERT_TRUE(finish);
    EXPECT_EQ(finish->Wait(0ms), WaitResult::Timeout) << "reset after the write";
}

TEST_F(HandshakeRealTime, NobodyAnswersWithin3000ms) {
    MakeModel();
    links.gen2.ClearOps();
    const auto start = Steady::now();
    model->OnApply();
    const auto took = Steady::now() - start;
    EXPECT_TRUE(log.Contains("\nm_hLEDFinishedEvent - TimeOut\n"));
    EXPECT_GE(took, 3100ms);
    EXPECT_EQ(links.gen2.Ops().back(), "effect 1 1,2,3");
}

}  // namespace
}  // namespace ovra::test
