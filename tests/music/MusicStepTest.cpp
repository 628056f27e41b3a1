// The music step over the scripted loopback and a manual clock: start,
// restarts (default change at once, lost streams with back-off), the
// no-playback-device fallback and the colour that reaches the writer.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "platform/fake/ManualClock.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/fake/ScriptedAudioLoopback.h"
#include "service/music/MusicStep.h"
#include "tests/music/MusicTestSupport.h"

namespace ovra::music {
namespace {

using namespace std::chrono_literals;
using testing::Eventually;
using testing::RecordingNotifier;

ScriptedPacket BassPacket() {
    // 100 Hz at 48 kHz in 480 frames: bin 1, the low band.
    ScriptedPacket p;
    p.frames = 480;
    for (int k = 0; k < 480; ++k) {
        const float v = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * k / 480));
        p.samples.push_back(v);
        p.samples.push_back(v);
    }
    return p;
}

class MusicStepTest : public ::testing::Test {
protected:
    bool Step() {
        return loop.Step([this](const RgbColor& c) { written.push_back(c); });
    }
    void StepUntilStreaming() {
        Step();
        ASSERT_TRUE(analyzer.Capture().WaitUntilStreaming(10s));
    }

    ScriptedAudioLoopback loopback;
    RecordingNotifier notifier;
    RecordingDebugLog console;
    ManualClock clock;
    std::atomic<bool> noPlaybackDevice{false};
    MusicAnalyzer analyzer{loopback, notifier, console};
    MusicLoop loop{analyzer, clock, noPlaybackDevice};
    std::vector<RgbColor> written;
};

TEST_F(MusicStepTest, NoPlaybackDeviceGivesTheFallbackColourAtOnce) {
    loopback.Edit([](LoopbackScript& s) { s.findDevice = LoopbackStatus::NoDefaultDevice; });
    EXPECT_TRUE(Step());
    EXPECT_TRUE(noPlaybackDevice.load());
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], (RgbColor{229, 26, 0}));
    EXPECT_EQ(notifier.Notices().size(), 1u);  // posted, not awaited: the step went on
    EXPECT_EQ(analyzer.Running().load(), 1);
    EXPECT_FALSE(analyzer.Capture().ThreadStarted());
}

TEST_F(MusicStepTest, LevelsOfTheLatestPacketDriveTheColour) {
    StepUntilStreaming();
    EXPECT_FALSE(noPlaybackDevice.load());
    EXPECT_EQ(written.back(), (RgbColor{0, 0, 0}));  // silence so far
    loopback.Push(BassPacket());
    ASSERT_TRUE(Eventually([&] { return analyzer.Capture().FrameCount() == 480; }));
    EXPECT_NEAR(analyzer.Levels().blue.load(), 60.0f, 0.1f);
    EXPECT_FALSE(Step());
    // Loud bass: x = 1, W = 0.5, hue stays red.
    EXPECT_NEAR(written.back().red, 127.5, 1e-6);
    EXPECT_NEAR(written.back().green, 0, 1e-6);
    EXPECT_NEAR(written.back().blue, 0, 1e-6);
    EXPECT_EQ(loopback.Now().sessionsOpened, 1);  // one start, kept running
}

TEST_F(MusicStepTest, DefaultChangeRestartsOnTheNextStep) {
    StepUntilStreaming();
    loopback.ChangeDefaultDevice("headphones");
    Step();
    EXPECT_EQ(loopback.Now().sessionsOpened, 2);
    EXPECT_EQ(analyzer.Capture().DeviceName(), "headphones");
    EXPECT_FALSE(analyzer.Capture().DefaultChanged());
    EXPECT_EQ(loopback.Now().liveSessions, 1);
}

TEST_F(MusicStepTest, LostStreamsRestartWithGrowingBackOff) {
    StepUntilStreaming();
    clock.Advance(10s);  // a capture that ran for a while
    loopback.Break();
    ASSERT_TRUE(Eventually([&] { return analyzer.Capture().DeviceLost(); }));
    Step();  // first loss after a healthy run: restart at once
    EXPECT_EQ(loopback.Now().sessionsOpened, 2);

    // From now on each capture dies right after its start.
    std::vector<Clock::Duration> gaps;
    auto lastRestart = clock.Now();
    for (int restarts = 0; restarts < 6;) {
        ASSERT_TRUE(Eventually([&] { return analyzer.Capture().DeviceLost(); }));
        const int before = loopback.Now().sessionsOpened;
        Step();
        if (loopback.Now().sessionsOpened > before) {
            // The new capture dies at once; the next step at this same time
            // sees the loss and starts the wait.
            gaps.push_back(clock.Now() - lastRestart);
            lastRestart = clock.Now();
            ++restarts;
        } else {
            clock.Advance(kMusicStepPeriod);
        }
    }
    const std::vector<Clock::Duration> expected{200ms, 400ms, 800ms, 1600ms, 3200ms, 5000ms};
    EXPECT_EQ(gaps, expected);
    EXPECT_EQ(loopback.Now().liveSessions, 1);
    EXPECT_EQ(loopback.Now().liveStreams, 0);
    EXPECT_FALSE(noPlaybackDevice.load());
}

TEST_F(MusicStepTest, ShutdownStopsTheCaptureOnce) {
    StepUntilStreaming();
    analyzer.Shutdown();
    analyzer.Shutdown();
    EXPECT_EQ(analyzer.Running().load(), 0);
    EXPECT_EQ(loopback.Now().liveSessions, 0);
    EXPECT_EQ(loopback.Now().liveStreams, 0);
    EXPECT_TRUE(console.Contains("Received stop event after " + std::to_string(analyzer.Capture().Passes() - 1) +
                                 " passes and 0 frames\n"));
}

}  // namespace
}  // namespace ovra::music
