// The capture over the scripted loopback: format coercion, conversion to 16
// bits, flags, holes, odd formats, failures and restarts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

#include "platform/fake/RecordingDebugLog.h"
#include "platform/fake/ScriptedAudioLoopback.h"
#include "service/music/AudioCapture.h"
#include "service/music/FormatCoercion.h"
#include "service/music/MusicAnalyzer.h"
#include "tests/music/MusicTestSupport.h"

namespace ovra::music {
namespace {

using testing::Eventually;
using testing::PacketLog;
using testing::RecordingNotifier;

MixFormat Format(std::uint16_t tag, SampleSubFormat sub, std::uint16_t channels, std::uint32_t rate) {
    MixFormat f = LoopbackScript::FloatMixFormat(channels, rate);
    f.formatTag = tag;
    f.subFormat = sub;
    return f;
}

TEST(FormatCoercion, Table) {
    struct Row {
        MixFormat in;
        bool accepted;
        std::uint16_t blockAlign;
        std::uint32_t avgBytesPerSec;
        const char* line;
    };
    const Row rows[] = {
        {Format(kWaveFormatIeeeFloat, SampleSubFormat::None, 2, 48000), true, 4, 192000, nullptr},
        {Format(kWaveFormatExtensible, SampleSubFormat::IeeeFloat, 2, 48000), true, 4, 192000, nullptr},
        {Format(kWaveFormatExtensible, SampleSubFormat::IeeeFloat, 6, 44100), true, 12, 529200, nullptr},
        {Format(kWaveFormatExtensible, SampleSubFormat::IeeeFloat, 1, 8000), true, 2, 16000, nullptr},
        {Format(kWaveFormatExtensible, SampleSubFormat::Pcm, 2, 48000), false, 0, 0,
         "Don't know how to coerce mix format to int-16\n"},
        {Format(kWaveFormatExtensible, SampleSubFormat::Other, 2, 48000), false, 0, 0,
         "Don't know how to coerce mix format to int-16\n"},
        {Format(kWaveFormatPcm, SampleSubFormat::None, 2, 48000), false, 0, 0,
         "Don't know how to coerce WAVEFORMATEX with wFormatTag = 0x00000001 to int-16\n"},
        {Format(0x0092, SampleSubFormat::None, 2, 48000), false, 0, 0,
         "Don't know how to coerce WAVEFORMATEX with wFormatTag = 0x00000092 to int-16\n"},
    };
    for (const Row& r : rows) {
        RecordingDebugLog console;
        MixFormat f = r.in;
        const CaptureResult result = CoerceToInt16(f, console);
        if (r.accepted) {
            EXPECT_EQ(result, kResultOk);
            EXPECT_EQ(f.bitsPerSample, 16);
            EXPECT_EQ(f.blockAlign, r.blockAlign);
            EXPECT_EQ(f.avgBytesPerSec, r.avgBytesPerSec);
            EXPECT_EQ(f.channels, r.in.channels);
            EXPECT_EQ(f.samplesPerSec, r.in.samplesPerSec);
            if (r.in.formatTag == kWaveFormatIeeeFloat) {
                EXPECT_EQ(f.formatTag, kWaveFormatPcm);
            }
            if (r.in.formatTag == kWaveFormatExtensible) {
                EXPECT_EQ(f.subFormat, SampleSubFormat::Pcm);
                EXPECT_EQ(f.validBitsPerSample, 16);
            }
            EXPECT_TRUE(console.Texts().empty());
        } else {
            EXPECT_EQ(result, kResultUnexpected);
            EXPECT_EQ(console.Texts(), std::vector<std::string>{r.line});
            EXPECT_EQ(f.formatTag, r.in.formatTag);  // unchanged
        }
    }
}

class CaptureTest : public ::testing::Test {
protected:
    CaptureTest() { capture.SetPacketCallback(log.Callback()); }
    ~CaptureTest() override { capture.StopCapture(); }

    void StartStreaming() {
        capture.StartCapture();
        ASSERT_TRUE(capture.ThreadStarted());
        ASSERT_TRUE(capture.WaitUntilStreaming(std::chrono::seconds(10)));
    }
    bool HasLine(const std::string& line) const { return console.Contains(line); }

    ScriptedAudioLoopback loopback;
    RecordingNotifier notifier;
    RecordingDebugLog console;
    PacketLog log;
    AudioCapture capture{loopback, notifier, console};
};

TEST_F(CaptureTest, ConvertsFloatPacketsTo16BitsWithFlagsUnchanged) {
    StartStreaming();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    loopback.Push({{0.5f, -0.25f, 1.0f, -1.0f, 2.0f, -3.0f, nan, 0.0f}, false, 4, kLoopbackFlagDiscontinuity});
    loopback.Push({{0.1f, 0.2f}, false, 1, 0});
    ASSERT_TRUE(log.WaitForCount(2));
    const auto packets = log.Packets();
    EXPECT_EQ(packets[0].samples, (std::vector<std::int16_t>{16384, -8192, 32767, -32768, 32767, -32768, 0, 0}));
    EXPECT_EQ(packets[0].frames, 4u);
    EXPECT_EQ(packets[0].channels, 2);
    EXPECT_EQ(packets[0].sampleRate, 48000u);
    EXPECT_EQ(packets[0].flags, kLoopbackFlagDiscontinuity);
    EXPECT_EQ(packets[1].samples, (std::vector<std::int16_t>{3277, 6554}));
    EXPECT_TRUE(Eventually([&] { return capture.FrameCount() == 5; }));
    const MixFormat f = capture.StreamFormat();
    EXPECT_EQ(f.bitsPerSample, 16);
    EXPECT_EQ(f.blockAlign, 4);
    EXPECT_EQ(f.avgBytesPerSec, 192000u);
}

TEST_F(CaptureTest, SilentPacketsAndHolesAreZeros) {
    StartStreaming();
    ScriptedPacket hole;
    hole.hole = true;
    hole.frames = 3;
    loopback.Push(hole);
    // Flagged silent: its buffer content is not to be read.
    loopback.Push({{0.9f, 0.9f, 0.9f, 0.9f}, false, 2, kLoopbackFlagSilent});
    ASSERT_TRUE(log.WaitForCount(2));
    const auto packets = log.Packets();
    EXPECT_EQ(packets[0].samples, std::vector<std::int16_t>(6, 0));
    EXPECT_EQ(packets[0].flags, kLoopbackFlagSilent);
    EXPECT_EQ(packets[1].samples, std::vector<std::int16_t>(4, 0));
    EXPECT_EQ(packets[1].flags, kLoopbackFlagSilent);
}

TEST_F(CaptureTest, ZeroFramePacketEndsTheCaptureAsLost) {
    StartStreaming();
    loopback.Push({{0.5f, 0.5f}, false, 1, 0});
    ASSERT_TRUE(log.WaitForCount(1));
    ScriptedPacket empty;
    empty.frames = 0;
    empty.announcedFrames = 480;
    loopback.Push(empty);
    ASSERT_TRUE(Eventually([&] { return capture.DeviceLost(); }));
    EXPECT_TRUE(Eventually([&] {
        return testing::HasLineMatching(
            console, "IAudioCaptureClient::GetBuffer said to read 0 frames on pass %u after 1 frames\n");
    }));
    capture.StopCapture();
    EXPECT_TRUE(HasLine("Thread HRESULT is 0x8000ffff\n"));
    EXPECT_EQ(log.Packets().size(), 1u);
}

TEST_F(CaptureTest, ThrowingCallbackEndsTheCaptureWithALineNotACrash) {
    capture.SetPacketCallback([](const CapturedPacket&) { throw std::runtime_error("analysis exploded"); });
    StartStreaming();
    loopback.Push({{0.5f, 0.5f}, false, 1, 0});
    ASSERT_TRUE(Eventually([&] { return capture.DeviceLost(); }));
    EXPECT_TRUE(Eventually([&] {
        return testing::HasLineMatching(console,
                                        "PacketCallback failed on pass %u after 0 frames: analysis exploded\n");
    }));
    capture.StopCapture();
    EXPECT_EQ(capture.Result(), kResultUnexpected);
    EXPECT_EQ(loopback.Now().liveStreams, 0);
}

TEST_F(CaptureTest, BrokenStreamSetsDeviceLost) {
    StartStreaming();
    loopback.Push({{0.5f, 0.5f}, false, 1, 0});
    ASSERT_TRUE(log.WaitForCount(1));
    loopback.Break();
    ASSERT_TRUE(Eventually([&] { return capture.DeviceLost(); }));
    EXPECT_TRUE(Eventually([&] {
        return testing::HasLineMatching(
            console, "IAudioCaptureClient::GetNextPacketSize failed on pass %u after 1 frames: hr = 0x88890004\n");
    }));
    capture.StopCapture();
    EXPECT_TRUE(HasLine("Thread HRESULT is 0x88890004\n"));
    EXPECT_FALSE(capture.NoDevice());
}

TEST_F(CaptureTest, StopRightAfterStartEndsCleanly) {
    capture.StartCapture();
    capture.StopCapture();
    EXPECT_EQ(capture.Result(), kResultOk);
    EXPECT_TRUE(HasLine("Received stop event after 0 passes and 0 frames\n"));
    EXPECT_FALSE(capture.DeviceLost());
    for (const auto& line : console.Texts()) EXPECT_EQ(line.find("Thread HRESULT"), std::string::npos) << line;
}

TEST_F(CaptureTest, NoDeviceNoticeIsPostedAndNoThreadStarts) {
    struct Row {
        LoopbackStatus LoopbackScript::*step;
        LoopbackStatus status;
        const char* line;
    };
    const Row rows[] = {
        {&LoopbackScript::connect, LoopbackStatus::ServerUnavailable,
         "CoCreateInstance(IMMDeviceEnumerator) failed: hr = 0x88890010\n"},
        {&LoopbackScript::watch, LoopbackStatus::WatchFailed,
         "IMMDeviceEnumerator::RegisterEndpointNotificationCallback failed: hr = 0x80004005\n"},
        {&LoopbackScript::findDevice, LoopbackStatus::NoDefaultDevice,
         "IMMDeviceEnumerator::GetDefaultAudioEndpoint failed: hr = 0x80070490\n"},
    };
    for (const Row& r : rows) {
        ScriptedAudioLoopback lb;
        lb.Edit([&](LoopbackScript& s) { s.*(r.step) = r.status; });
        RecordingNotifier notices;
        RecordingDebugLog lines;
        AudioCapture c(lb, notices, lines);
        c.StartCapture();
        EXPECT_TRUE(c.NoDevice());
        EXPECT_FALSE(c.DeviceLost());
        EXPECT_FALSE(c.ThreadStarted());
        EXPECT_EQ(lines.Texts(), std::vector<std::string>{r.line});
        EXPECT_EQ(notices.Notices(),
                  std::vector<std::string>{"ERROR: The system has no playback devices. Click OK to default setting."});
        EXPECT_EQ(lb.Now().liveSessions, 0);  // nothing kept from the failed start
        EXPECT_EQ(lb.Now().watchers, 0);
        c.StopCapture();  // nothing to stop
        EXPECT_EQ(lines.Texts().size(), 1u);
    }
}

TEST_F(CaptureTest, StreamSetUpFailuresEndAsLostWithTheirLines) {
    struct Row {
        LoopbackStatus LoopbackScript::*step;
        const char* line;
    };
    const Row rows[] = {
        {&LoopbackScript::activate, "IMMDevice::Activate(IAudioClient) failed: hr = 0x80004005"},
        {&LoopbackScript::devicePeriod, "IAudioClient::GetDevicePeriod failed: hr = 0x80004005\n"},
        {&LoopbackScript::mixFormat, "IAudioClient::GetMixFormat failed: hr = 0x80004005\n"},
        {&LoopbackScript::initialize, "IAudioClient::Initialize failed: hr = 0x80004005\n"},
        {&LoopbackScript::start, "IAudioClient::Start failed: hr = 0x80004005\n"},
    };
    for (const Row& r : rows) {
        ScriptedAudioLoopback lb;
        lb.Edit([&](LoopbackScript& s) { s.*(r.step) = LoopbackStatus::Failed; });
        RecordingNotifier notices;
        RecordingDebugLog lines;
        AudioCapture c(lb, notices, lines);
        c.StartCapture();
        EXPECT_FALSE(c.WaitUntilStreaming(std::chrono::seconds(10)));
        EXPECT_TRUE(Eventually([&] { return c.DeviceLost(); })) << r.line;
        c.StopCapture();
        EXPECT_TRUE(lines.Contains(r.line)) << r.line;
        EXPECT_TRUE(lines.Contains("Thread HRESULT is 0x80004005\n"));
        EXPECT_TRUE(notices.Notices().empty());
        EXPECT_EQ(lb.Now().liveStreams, 0);
        EXPECT_EQ(lb.Now().liveSessions, 0);
    }
}

TEST_F(CaptureTest, RefusedMixFormatRunsNoCapture) {
    loopback.Edit([](LoopbackScript& s) { s.format = Format(kWaveFormatPcm, SampleSubFormat::None, 2, 48000); });
    capture.StartCapture();
    EXPECT_FALSE(capture.WaitUntilStreaming(std::chrono::seconds(10)));
    EXPECT_TRUE(HasLine("Don't know how to coerce WAVEFORMATEX with wFormatTag = 0x00000001 to int-16\n"));
    EXPECT_EQ(loopback.Now().streamsStarted, 0);
    EXPECT_TRUE(capture.DeviceLost());
}

TEST_F(CaptureTest, DefaultChangeRaisesTheFlagAndARestartFollowsTheNewDevice) {
    StartStreaming();
    EXPECT_EQ(capture.DeviceName(), "scripted_sink");
    loopback.ChangeDefaultDevice("second_sink");
    EXPECT_TRUE(capture.DefaultChanged());
    capture.StopCapture();
    StartStreaming();
    EXPECT_FALSE(capture.DefaultChanged());
    EXPECT_EQ(capture.DeviceName(), "second_sink");
}

TEST_F(CaptureTest, RestartsLeaveNothingBehind) {
    for (int i = 0; i < 20; ++i) {
        StartStreaming();
        loopback.Push({{0.5f, 0.5f}, false, 1, 0});
        ASSERT_TRUE(log.WaitForCount(static_cast<std::size_t>(i) + 1));
        if (i % 2) loopback.Break();  // every other run ends on its own
        capture.StopCapture();
        loopback.Repair();
        const auto n = loopback.Now();
        ASSERT_EQ(n.liveSessions, 0);
        ASSERT_EQ(n.liveStreams, 0);
        ASSERT_EQ(n.watchers, 0);
    }
    EXPECT_EQ(loopback.Now().sessionsOpened, 20);
}

// A 1 kHz tone in 10 ms packets through capture and analysis, for the odd
// formats: 100 Hz bins at every rate, so the tone is bin 10; at 8 kHz the
// middle band ends at bin 8 and the tone falls into the high band.
TEST(CaptureFormats, ToneLandsInTheRightBandForOddFormats) {
    struct Row {
        std::uint16_t channels;
        std::uint32_t rate;
        int band;
    };
    for (const Row r : {Row{1, 48000, 1}, Row{6, 48000, 1}, Row{2, 8000, 2}, Row{2, 192000, 1}, Row{1, 8000, 2}}) {
        ScriptedAudioLoopback lb;
        lb.Edit([&](LoopbackScript& s) { s.format = LoopbackScript::FloatMixFormat(r.channels, r.rate); });
        RecordingNotifier notices;
        RecordingDebugLog lines;
        MusicAnalyzer analyzer(lb, notices, lines);
        analyzer.Capture().StartCapture();
        ASSERT_TRUE(analyzer.Capture().WaitUntilStreaming(std::chrono::seconds(10)));
        const std::uint32_t frames = r.rate / 100;
        ScriptedPacket p;
        p.frames = frames;
        for (std::uint32_t k = 0; k < frames; ++k)
            for (std::uint16_t c = 0; c < r.channels; ++c)
                p.samples.push_back(c < 2 ? 0.5f *
                                                static_cast<float>(std::sin(2 * std::numbers::pi * 1000.0 * k / r.rate))
                                          : 0.9f);  // channels past the first two are not heard
        lb.Push(p);
        ASSERT_TRUE(Eventually([&] { return analyzer.Capture().FrameCount() == frames; }));
        const float levels[3] = {analyzer.Levels().blue.load(), analyzer.Levels().green.load(),
                                 analyzer.Levels().red.load()};
        const float expected = static_cast<float>(frames) / 4 * 0.5f;
        for (int b = 0; b < 3; ++b) {
            if (b == r.band)
                EXPECT_NEAR(levels[b], expected, expected * 0.01) << r.channels << "ch " << r.rate;
            else
                EXPECT_LT(levels[b], expected * 0.01) << r.channels << "ch " << r.rate << " band " << b;
        }
        analyzer.Capture().StopCapture();
    }
}

}  // namespace
}  // namespace ovra::music
