// The capture against a real sound server: a daemon of the test's own with
// null sinks as playback devices. Known tones go in; band levels, flags and
// restarts come out.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/audio/PulseLoopback.h"
#include "platform/linux/core/SteadyClock.h"
#include "service/music/AudioCapture.h"
#include "service/music/BandSpectrum.h"
#include "service/music/MusicStep.h"
#include "sim/audio/PulseTestbed.h"
#include "tests/music/MusicTestSupport.h"

namespace ovra::music {
namespace {

using namespace std::chrono_literals;
using sim::PulseTestbed;
using testing::Eventually;
using testing::RecordingNotifier;

struct AnalysedPacket {
    std::uint32_t frames;
    std::uint16_t channels;
    std::uint32_t rate;
    BandPeaks peaks;
};

// Band peaks of every captured packet.
class BandRecorder {
public:
    PacketCallback Callback() {
        return [this](const CapturedPacket& p) {
            BandPeaks peaks{};
            spectrum_.GetBandPeaks(p.samples, p.frames, p.channels, &peaks);
            std::lock_guard lock(mutex_);
            packets_.push_back({p.frames, p.channels, p.sampleRate, peaks});
        };
    }
    std::vector<AnalysedPacket> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(packets_, {});
    }
    std::size_t Count() {
        std::lock_guard lock(mutex_);
        return packets_.size();
    }
    // Packets whose band `band` holds a clean tone of `level` (within 5 %)
    // while the other bands stay near silent.
    static int CleanTonePackets(const std::vector<AnalysedPacket>& packets, int band, float level) {
        int n = 0;
        for (const auto& p : packets) {
            bool clean = std::abs(p.peaks[static_cast<std::size_t>(band)] - level) < level * 0.05f;
            for (int b = 0; b < 3; ++b)
                if (b != band && p.peaks[static_cast<std::size_t>(b)] > level * 0.05f) clean = false;
            n += clean;
        }
        return n;
    }

private:
    BandSpectrum spectrum_;  // capture thread only
    std::mutex mutex_;
    std::vector<AnalysedPacket> packets_;
};

class PulseLoopbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        bed = PulseTestbed::Start(&error);
        ASSERT_TRUE(bed) << error;
        capture.SetPacketCallback(recorder.Callback());
    }
    void TearDown() override {
        capture.StopCapture();
        for (pid_t pid : helpers) PulseTestbed::StopChild(pid);
        bed.reset();
    }
    // A null sink as the default playback device, already rendering at low
    // latency.
    int AddSink(const std::string& name, unsigned rate = 48000, unsigned channels = 2) {
        const int module = bed->LoadNullSink(name, rate, channels);
        EXPECT_GE(module, 0);
        helpers.push_back(bed->KeepResponsive(name));
        return module;
    }
    void StartAndWaitForData() {
        capture.StartCapture();
        ASSERT_TRUE(capture.ThreadStarted());
        ASSERT_TRUE(capture.WaitUntilStreaming(10s));
        ASSERT_TRUE(Eventually([&] { return recorder.Count() > 0; })) << "no data from the monitor";
    }
    // Plays a tone to its end and returns the packets captured meanwhile.
    std::vector<AnalysedPacket> PlayAndCapture(const std::string& sink, double hz, unsigned rate = 48000,
                                               unsigned channels = 2) {
        recorder.Take();
        const pid_t player = bed->PlayTone(sink, hz, 0.4, 0.5, rate, channels);
        EXPECT_TRUE(PulseTestbed::WaitChild(player, 20s));
        std::this_thread::sleep_for(100ms);
        return recorder.Take();
    }

    std::unique_ptr<PulseTestbed> bed;
    std::vector<pid_t> helpers;
    PulseLoopback loopback;
    RecordingNotifier notifier;
    RecordingDebugLog console;
    BandRecorder recorder;
    AudioCapture capture{loopback, notifier, console};
};

TEST_F(PulseLoopbackTest, TonesLandInTheirBands) {
    AddSink("ovra_a");
    ASSERT_TRUE(bed->SetDefaultSink("ovra_a"));
    StartAndWaitForData();
    EXPECT_EQ(capture.DeviceName(), "ovra_a");
    const MixFormat format = capture.StreamFormat();
    EXPECT_EQ(format.bitsPerSample, 16);
    EXPECT_EQ(format.blockAlign, 4);
    EXPECT_EQ(format.avgBytesPerSec, 192000u);

    // 10 ms packets at 48 kHz: bins 100 Hz apart. Volume 0.5 gives a peak of
    // 480 / 4 * 0.5 = 60 in the tone's band.
    struct Tone {
        double hz;
        int band;
    };
    for (const Tone t : {Tone{100, 0}, Tone{1000, 1}, Tone{5000, 2}}) {
        const auto packets = PlayAndCapture("ovra_a", t.hz);
        ASSERT_FALSE(packets.empty());
        for (const auto& p : packets) {
            ASSERT_EQ(p.frames, 480u);
            ASSERT_EQ(p.channels, 2);
            ASSERT_EQ(p.rate, 48000u);
        }
        // 0.4 s of tone is 40 packets; a few straddle its start and end.
        EXPECT_GE(BandRecorder::CleanTonePackets(packets, t.band, 60.0f), 25) << t.hz << " Hz";
    }
    EXPECT_FALSE(capture.DeviceLost());
    EXPECT_FALSE(capture.DefaultChanged());
}

TEST_F(PulseLoopbackTest, NewDefaultSinkRaisesTheFlagAndARestartCapturesIt) {
    AddSink("ovra_a");
    AddSink("ovra_b");
    ASSERT_TRUE(bed->SetDefaultSink("ovra_a"));
    StartAndWaitForData();
    ASSERT_EQ(capture.DeviceName(), "ovra_a");

    ASSERT_TRUE(bed->SetDefaultSink("ovra_b"));
    ASSERT_TRUE(Eventually([&] { return capture.DefaultChanged(); }));
    capture.StopCapture();
    recorder.Take();
    StartAndWaitForData();
    EXPECT_EQ(capture.DeviceName(), "ovra_b");
    EXPECT_FALSE(capture.DefaultChanged());

    // Bass into the old sink, a 1 kHz tone into the new one: only the latter
    // is heard.
    const pid_t bass = bed->PlayTone("ovra_a", 100, 0.6, 0.5);
    const auto packets = PlayAndCapture("ovra_b", 1000);
    PulseTestbed::WaitChild(bass, 20s);
    EXPECT_GE(BandRecorder::CleanTonePackets(packets, 1, 60.0f), 25);
    EXPECT_EQ(BandRecorder::CleanTonePackets(packets, 0, 60.0f), 0);
}

TEST_F(PulseLoopbackTest, UnloadedSinkGivesDeviceLostThenNoDevice) {
    const int module = AddSink("ovra_a");
    ASSERT_TRUE(bed->SetDefaultSink("ovra_a"));
    StartAndWaitForData();
    ASSERT_TRUE(bed->UnloadModule(module));
    ASSERT_TRUE(Eventually([&] { return capture.DeviceLost(); }));
    capture.StopCapture();
    EXPECT_TRUE(testing::HasLineMatching(
        console, "IAudioCaptureClient::GetNextPacketSize failed on pass %u after %u frames: hr = 0x88890004\n"));
    EXPECT_TRUE(console.Contains("Thread HRESULT is 0x88890004\n"));

    // No sink left: the restart finds no playback device.
    capture.StartCapture();
    EXPECT_TRUE(capture.NoDevice());
    EXPECT_FALSE(capture.ThreadStarted());
    EXPECT_TRUE(console.Contains("IMMDeviceEnumerator::GetDefaultAudioEndpoint failed: hr = 0x80070490\n"));
    EXPECT_EQ(notifier.Notices().size(), 1u);
}

TEST_F(PulseLoopbackTest, ServerWithoutSinksIsNoDevice) {
    capture.StartCapture();
    EXPECT_TRUE(capture.NoDevice());
    EXPECT_FALSE(capture.DeviceLost());
    EXPECT_FALSE(capture.ThreadStarted());
    EXPECT_EQ(console.Texts(),
              std::vector<std::string>{"IMMDeviceEnumerator::GetDefaultAudioEndpoint failed: hr = 0x80070490\n"});
    EXPECT_EQ(notifier.Notices(),
              std::vector<std::string>{"ERROR: The system has no playback devices. Click OK to default setting."});
}

TEST_F(PulseLoopbackTest, ServerDyingMidCaptureGivesDeviceLost) {
    AddSink("ovra_a");
    ASSERT_TRUE(bed->SetDefaultSink("ovra_a"));
    StartAndWaitForData();
    bed->KillDaemon();
    ASSERT_TRUE(Eventually([&] { return capture.DeviceLost(); }));
    capture.StopCapture();
    capture.StartCapture();
    EXPECT_TRUE(capture.NoDevice());
    EXPECT_TRUE(console.Contains("CoCreateInstance(IMMDeviceEnumerator) failed: hr = 0x88890010\n"));
}

TEST_F(PulseLoopbackTest, OddFormatsAreCapturedAtTheirOwnRateAndWidth) {
    struct Row {
        unsigned channels, rate;
        int band;  // 1 kHz is bin 10 in every 10 ms packet; at 8 kHz bin 10 is past the middle band
    };
    int index = 0;
    for (const Row r : {Row{1, 48000, 1}, Row{6, 48000, 1}, Row{2, 8000, 2}, Row{2, 192000, 1}}) {
        const std::string sink = "odd" + std::to_string(index++);
        AddSink(sink, r.rate, r.channels);
        ASSERT_TRUE(bed->SetDefaultSink(sink));
        capture.StopCapture();
        recorder.Take();
        StartAndWaitForData();
        const MixFormat f = capture.StreamFormat();
        EXPECT_EQ(f.channels, r.channels);
        EXPECT_EQ(f.samplesPerSec, r.rate);
        EXPECT_EQ(f.blockAlign, 2 * r.channels);
        const auto packets = PlayAndCapture(sink, 1000, r.rate, r.channels);
        ASSERT_FALSE(packets.empty());
        for (const auto& p : packets) {
            ASSERT_EQ(p.frames, r.rate / 100) << r.channels << "ch " << r.rate;
            ASSERT_EQ(p.channels, r.channels);
        }
        const float level = static_cast<float>(r.rate / 100) / 4 * 0.5f;
        EXPECT_GE(BandRecorder::CleanTonePackets(packets, r.band, level), 25) << r.channels << "ch " << r.rate;
    }
}

std::size_t Entries(const std::string& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

TEST_F(PulseLoopbackTest, RestartsReleaseConnectionsStreamsThreadsAndFiles) {
    AddSink("ovra_a");
    ASSERT_TRUE(bed->SetDefaultSink("ovra_a"));
    std::string clients, outputs;
    const auto serverSide = [&] {
        bed->Run({"pactl", "list", "short", "clients"}, &clients);
        bed->Run({"pactl", "list", "short", "source-outputs"}, &outputs);
        return std::make_pair(std::count(clients.begin(), clients.end(), '\n'),
                              std::count(outputs.begin(), outputs.end(), '\n'));
    };
    const auto serverBefore = serverSide();
    const std::size_t threadsBefore = Entries("/proc/self/task"), filesBefore = Entries("/proc/self/fd");
    for (int i = 0; i < 10; ++i) {
        StartAndWaitForData();
        if (i == 0) {
            EXPECT_EQ(serverSide().second, serverBefore.second + 1);  // our stream while it runs
        }
        capture.StopCapture();
        recorder.Take();
    }
    EXPECT_EQ(serverSide(), serverBefore);
    EXPECT_EQ(Entries("/proc/self/task"), threadsBefore);
    EXPECT_EQ(Entries("/proc/self/fd"), filesBefore);
}

TEST_F(PulseLoopbackTest, MusicStepsFollowATone) {
    AddSink("ovra_a");
    ASSERT_TRUE(bed->SetDefaultSink("ovra_a"));
    MusicAnalyzer analyzer(loopback, notifier, console);
    SteadyClock clock;
    std::atomic<bool> noPlaybackDevice{false};
    MusicLoop loop(analyzer, clock, noPlaybackDevice);
    std::vector<RgbColor> written;
    const auto writer = [&](const RgbColor& c) { written.push_back(c); };
    EXPECT_FALSE(loop.Step(writer));
    ASSERT_TRUE(analyzer.Capture().WaitUntilStreaming(10s));
    ASSERT_TRUE(Eventually([&] { return analyzer.Capture().FrameCount() > 0; }));
    const pid_t player = bed->PlayTone("ovra_a", 100, 1.5, 0.5);
    // Loud bass: brightness rises towards full red.
    ASSERT_TRUE(Eventually([&] {
        loop.Step(writer);
        std::this_thread::sleep_for(kMusicStepPeriod);
        return loop.Mapper().Brightness() > 0.9;
    }));
    EXPECT_GT(written.back().red, 200.0);
    EXPECT_LT(written.back().green, 1.0);
    PulseTestbed::WaitChild(player, 20s);
    analyzer.Shutdown();
    EXPECT_FALSE(noPlaybackDevice.load());
}

}  // namespace
}  // namespace ovra::music
