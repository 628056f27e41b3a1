#pragma once
// The music step: what the service's lighting thread runs about every 100 ms
// while the music effect is in force and the lighting is on. It keeps the
// loopback capture running (starting it, restarting it after a device change
// or a lost stream), turns the latest band levels into one colour and hands
// that colour to the device writer.

#include <atomic>
#include <chrono>
#include <functional>

#include "platform/Clock.h"
#include "service/music/MusicAnalyzer.h"
#include "service/music/MusicColor.h"

namespace ovra::music {

// The lighting thread's wait between music steps.
inline constexpr std::chrono::milliseconds kMusicStepPeriod{100};

// Restarts after lost streams: the first after a capture that ran for a while
// is immediate; each further one after a short-lived capture waits twice as
// long as the one before, from kFirstRestartDelay up to kMaxRestartDelay.
inline constexpr std::chrono::milliseconds kFirstRestartDelay{200};
inline constexpr std::chrono::milliseconds kMaxRestartDelay{5000};
inline constexpr std::chrono::milliseconds kHealthyCaptureRun{5000};

// Shows a colour on every device kind in use (the service's SetDevicesColor).
using DeviceColorWriter = std::function<void(const RgbColor&)>;

class MusicLoop {
public:
    // `noPlaybackDevice` is the service's flag: set when the capture finds no
    // playback device (the service then runs its fallback), cleared otherwise.
    MusicLoop(MusicAnalyzer& analyzer, Clock& clock, std::atomic<bool>& noPlaybackDevice);

    // Capture upkeep plus one colour step. Returns kNoPlaybackDeviceColor when
    // no playback device exists.
    RgbColor ComputeMusicColor();

    // One music pass: the colour goes to `setDevicesColor` (also the
    // no-playback-device colour). True when no playback device exists, i.e.
    // the service has to run its fallback now.
    bool Step(const DeviceColorWriter& setDevicesColor);

    const MusicColorMapper& Mapper() const { return mapper_; }

private:
    // False when the capture found no playback device.
    bool KeepCaptureRunning();

    MusicAnalyzer& analyzer_;
    Clock& clock_;
    std::atomic<bool>& noPlaybackDevice_;
    MusicColorMapper mapper_;

    Clock::TimePoint lastStart_{};
    Clock::TimePoint lossSeen_{};
    bool lossPending_ = false;
    Clock::Duration restartDelay_{0};
};

}  // namespace ovra::music
