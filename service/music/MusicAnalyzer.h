#pragma once
// The service's one music analyzer: the loopback capture, the spectrum
// analysis that runs on the capture thread for every packet, and the three
// band levels that the music step reads.

#include <atomic>

#include "platform/AudioLoopback.h"
#include "platform/DebugLog.h"
#include "platform/Notifier.h"
#include "service/music/AudioCapture.h"
#include "service/music/BandSpectrum.h"

namespace ovra::music {

// Written by the capture thread for every packet, read by the music step; a
// step may combine levels of two packets, which is harmless.
struct MusicLevels {
    std::atomic<float> red{0.0f};    // high band
    std::atomic<float> green{0.0f};  // middle band
    std::atomic<float> blue{0.0f};   // low band
};

// The work of the packet callback: band peaks of the packet into the levels
// (low band to blue, middle to green, high to red). Levels stay as they were
// when the analysis could not run.
void AnalyzePacket(const CapturedPacket& packet, BandSpectrum& spectrum, MusicLevels& levels);

class MusicAnalyzer {
public:
    // Capture does not start until the first music step.
    MusicAnalyzer(AudioLoopback& loopback, Notifier& notifier, DebugLog& console);
    ~MusicAnalyzer();
    MusicAnalyzer(const MusicAnalyzer&) = delete;
    MusicAnalyzer& operator=(const MusicAnalyzer&) = delete;

    AudioCapture& Capture() { return capture_; }
    const MusicLevels& Levels() const { return levels_; }
    // 1 from a StartCapture until the capture is stopped; changed only by
    // exchange, so exactly one caller stops a running capture.
    std::atomic<int>& Running() { return running_; }

    // Stops a running capture (service shut-down).
    void Shutdown();

private:
    BandSpectrum spectrum_;  // capture thread only
    MusicLevels levels_;
    std::atomic<int> running_{0};
    AudioCapture capture_;  // last: its thread stops before the rest goes
};

}  // namespace ovra::music
