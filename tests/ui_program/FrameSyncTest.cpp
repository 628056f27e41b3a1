// Frame synchronisation: the pass rules, alignment of counters that drift
// apart, and the thread's parking and waking, all on the manual clock.
#include <gtest/gtest.h>

#include <thread>

#include "platform/fake/FakeNamedObjects.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/RecordingDebugLog.h"
#include "tests/ui_program/FrameSyncDoubles.h"

namespace ovra::test {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

class FrameSyncTest : public ::testing::Test {
protected:
    ManualClock clock;
    RecordingDebugLog log;
    FakeNamedObjects objects{&clock};
    // The counters stand still unless a test lets time pass.
    RecordingDevice headset{DeviceFamily::Gen2, clock, 20ms};
    RecordingDevice mic{DeviceFamily::MK470, clock, 20ms};
    DevicePair pair{headset, mic};
    FrameSync sync{pair, objects, clock, log};
};

TEST_F(FrameSyncTest, PassRules) {
    struct Case {
        LightingEffect effect;
        int headsetFrame, micFrame;  // -1: the read fails
        std::optional<int> written;
    } const cases[] = {
        {LightingEffect::Breathing, 120, 118, std::nullopt},  // within 3
        {LightingEffect::Breathing, 120, 100, 120},
        {LightingEffect::Breathing, 100, 120, 120},
        {LightingEffect::Breathing, 190, 2, std::nullopt},  // straddles the wrap-around
        {LightingEffect::Breathing, 184, 4, 184},           // just outside the window
        {LightingEffect::ColorCycle, 10, 12, 12},
        {LightingEffect::ColorCycle, 10, 11, std::nullopt},
        {LightingEffect::ColorCycle, 253, 1, std::nullopt},
        {LightingEffect::Strobing, 47, 2, std::nullopt},
        {LightingEffect::Strobing, 46, 2, 46},
        {LightingEffect::Static, 10, 200, std::nullopt},
        {LightingEffect::Music, 10, 200, std::nullopt},
        {LightingEffect::Rainbow, 10, 200, std::nullopt},
        // One reading alone cannot be compared: nothing is written.
        {LightingEffect::Breathing, -1, 200, std::nullopt},
        {LightingEffect::Breathing, 200, -1, std::nullopt},
        {LightingEffect::Breathing, -1, -1, std::nullopt},
    };
    for (const auto& c : cases) {
        headset.SetFrame(static_cast<std::uint8_t>(std::max(c.headsetFrame, 0)));
        mic.SetFrame(static_cast<std::uint8_t>(std::max(c.micFrame, 0)));
        headset.frameReadable = c.headsetFrame >= 0;
        mic.frameReadable = c.micFrame >= 0;
        headset.ClearOps();
        mic.ClearOps();
        pair.effect = c.effect;
        sync.RunPass();
        const Strings expected = c.written ? Strings{"frame " + std::to_string(*c.written)} : Strings{};
        EXPECT_EQ(headset.Ops(), expected) << c.headsetFrame << " " << c.micFrame;
        EXPECT_EQ(mic.Ops(), expected) << c.headsetFrame << " " << c.micFrame;
    }
}

TEST_F(FrameSyncTest, PassLogsItsFramesAndGen2MidCopiesTheMicrophone) {
    headset.SetFrame(120);
    mic.SetFrame(100);
    sync.RunPass();
    EXPECT_TRUE(log.Contains("OVRA UI -- DoSyncLEDFrame: uMaxFrame = 120\n"));
    EXPECT_TRUE(log.Contains("OVRA UI -- DoSyncLEDFrame: uMinFrame = 100\n"));
    EXPECT_TRUE(log.Contains("OVRA UI -- DoSyncLEDFrame: uFrameDiffVar = 3\n\n"));

    pair.gen2Mid = true;
    pair.effect = LightingEffect::Static;  // whatever the effect
    mic.SetFrame(77);
    headset.ClearOps();
    mic.ClearOps();
    sync.RunPass();
    EXPECT_EQ(mic.Ops(), Strings{"frame 77"});
    EXPECT_EQ(headset.Ops(), Strings{"frame 77"});
}

TEST_F(FrameSyncTest, CountersRunningAtDifferentRatesStayWithinAFrameAfterEachAlignment) {
    RecordingDevice fast{DeviceFamily::Gen2, clock, 20ms};
    RecordingDevice slow{DeviceFamily::MK470, clock, 23ms};
    DevicePair drifting{fast, slow};
    drifting.effect = LightingEffect::ColorCycle;
    FrameSync steps{drifting, objects, clock, log};
    int alignments = 0;
    for (int pass = 0; pass < 40; ++pass) {
        const auto before = fast.Ops().size();
        steps.RunPass();
        if (fast.Ops().size() > before) {
            ++alignments;
            const int skew = std::abs(int(fast.FrameNow()) - int(slow.FrameNow()));
            EXPECT_LE(std::min(skew, 256 - skew), 1) << "pass " << pass;
        }
        clock.Advance(std::chrono::milliseconds(137 + 31 * (pass % 5)));  // uneven spacing
    }
    EXPECT_GT(alignments, 10) << "the drift was seen and corrected";
}

TEST_F(FrameSyncTest, ThreadParksWhilePausedAndWakesOnTheEvent) {
    sync.SetPaused(true);
    sync.Start();
    auto waitForPasses = [&](std::uint64_t count) {
        for (int i = 0; i < 500 && sync.PassCount() < count; ++i) std::this_thread::sleep_for(10ms);
        return sync.PassCount();
    };
    // Ends the first (2000 ms) wait; from then on it waits without limit.
    for (int i = 0; i < 500 && !sync.Signal(); ++i) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(log.Contains("\nCreateEvent - m_hWaitSyncEvent!!\n"));
    EXPECT_EQ(waitForPasses(2), 2u);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sync.PassCount(), 2u) << "parked";
    EXPECT_TRUE(sync.Running());

    sync.Signal();
    EXPECT_EQ(waitForPasses(3), 3u) << "one pass per wake-up";

    objects.InstantTimeouts(&clock);  // the 2000 ms waits now pass at once
    sync.SetPaused(false);
    sync.Signal();
    EXPECT_GE(waitForPasses(20), 20u) << "running: passes follow each other";
    const auto slept = clock.Sleeps();
    EXPECT_FALSE(slept.empty());

    EXPECT_TRUE(sync.Stop(3000ms));
    EXPECT_FALSE(sync.Running());
}

TEST_F(FrameSyncTest, StopEndsAParkedThreadPromptly) {
    sync.SetPaused(true);
    sync.Start();
    for (int i = 0; i < 500 && !sync.Signal(); ++i) std::this_thread::sleep_for(1ms);
    for (int i = 0; i < 500 && sync.PassCount() < 2; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(sync.Stop(3000ms));
    EXPECT_FALSE(sync.Running());
    EXPECT_FALSE(objects.Exists(FrameSync::kEventName)) << "its event went with it";
}

}  // namespace
}  // namespace ovra::test
