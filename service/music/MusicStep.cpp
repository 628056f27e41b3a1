#include "service/music/MusicStep.h"

#include <algorithm>

namespace ovra::music {

MusicLoop::MusicLoop(MusicAnalyzer& analyzer, Clock& clock, std::atomic<bool>& noPlaybackDevice)
    : analyzer_(analyzer), clock_(clock), noPlaybackDevice_(noPlaybackDevice) {}

bool MusicLoop::KeepCaptureRunning() {
    AudioCapture& capture = analyzer_.Capture();
    std::atomic<int>& running = analyzer_.Running();
    const auto now = clock_.Now();

    const bool changed = capture.DefaultChanged();
    const bool lost = capture.DeviceLost();
    bool restart = changed;
    if (lost && !changed) {
        if (!lossPending_) {
            // A capture that keeps dying right after its start is not
            // restarted at once again and again: wait longer each time.
            lossPending_ = true;
            lossSeen_ = now;
            if (now - lastStart_ >= kHealthyCaptureRun) {
                restartDelay_ = Clock::Duration::zero();
            } else {
                restartDelay_ = restartDelay_ == Clock::Duration::zero()
                                    ? Clock::Duration(kFirstRestartDelay)
                                    : std::min<Clock::Duration>(restartDelay_ * 2, kMaxRestartDelay);
            }
        }
        restart = now - lossSeen_ >= restartDelay_;
    }
    if (restart && running.exchange(0) == 1) capture.StopCapture();

    if (running.exchange(1) != 1) {
        capture.StartCapture();
        lastStart_ = now;
        lossPending_ = false;
    }
    return !capture.NoDevice();
}

RgbColor MusicLoop::ComputeMusicColor() {
    if (!KeepCaptureRunning()) {
        noPlaybackDevice_ = true;
        return kNoPlaybackDeviceColor;
    }
    noPlaybackDevice_ = false;
    const MusicLevels& levels = analyzer_.Levels();
    return mapper_.Next(levels.red.load(std::memory_order_relaxed), levels.green.load(std::memory_order_relaxed),
                        levels.blue.load(std::memory_order_relaxed));
}

bool MusicLoop::Step(const DeviceColorWriter& setDevicesColor) {
    const RgbColor colour = ComputeMusicColor();
    if (setDevicesColor) setDevicesColor(colour);
    return noPlaybackDevice_.load();
}

}  // namespace ovra::music
