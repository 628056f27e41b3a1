#pragma once
// Loopback capture of the default playback device. StartCapture finds the
// device and starts a capture thread; the thread records the device's float
// mix, converts every packet to 16-bit integer PCM and hands it to the packet
// callback. Three flags tell the music step when to restart the capture:
// device lost (the stream ended without being asked to), no device, and
// default changed (another playback device became the default).
//
// Diagnostics go to `console` (the program's standard output) with the texts
// the capture has always written.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/AudioLoopback.h"
#include "platform/DebugLog.h"
#include "platform/Notifier.h"
#include "service/music/CaptureResult.h"
#include "service/music/CaptureSignal.h"

namespace ovra::music {

// One captured packet, as the packet callback sees it. Valid only during the
// call.
struct CapturedPacket {
    const std::int16_t* samples = nullptr;  // frames x channels, interleaved
    std::uint32_t frames = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t flags = 0;  // the loopback's buffer flags, unchanged
};

// Runs on the capture thread for every packet; must return quickly and never
// block. An exception ends the capture (as a lost stream).
using PacketCallback = std::function<void(const CapturedPacket&)>;

inline constexpr const char* kNoPlaybackDeviceText = "The system has no playback devices. Click OK to default setting.";
inline constexpr const char* kNoPlaybackDeviceCaption = "ERROR";

class AudioCapture {
public:
    AudioCapture(AudioLoopback& loopback, Notifier& notifier, DebugLog& console);
    ~AudioCapture();
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    // Set before the first StartCapture.
    void SetPacketCallback(PacketCallback callback) { packetCallback_ = std::move(callback); }

    // Finds the current default playback device and starts the capture
    // thread; without a device posts the "no playback devices" notice (never
    // waiting for an answer) and sets the no-device flag. A capture still
    // running is stopped first.
    void StartCapture();
    // Stops the capture thread and releases the device and the change watch.
    // Does nothing when no thread was started.
    void StopCapture();

    bool DeviceLost() const { return deviceLost_.load(); }
    bool NoDevice() const { return noDevice_.load(); }
    bool DefaultChanged() const { return defaultChanged_.load(); }

    // Frames delivered since the stream was initialised; passes of the loop.
    std::uint32_t FrameCount() const { return frameCount_.load(); }
    std::uint32_t Passes() const { return passes_.load(); }
    // The capture thread's outcome; kResultUnexpected until it ends.
    CaptureResult Result() const { return result_.load(); }

    // Waits until the stream of the current start runs (or the thread ended
    // without getting there). True when it runs.
    bool WaitUntilStreaming(std::chrono::milliseconds limit) const;
    bool ThreadStarted() const { return thread_.joinable(); }
    // Name of the device found by the last successful StartCapture.
    std::string DeviceName() const;
    // The 16-bit format of the packets of the running stream.
    MixFormat StreamFormat() const;

private:
    void CaptureThread();
    CaptureResult RunCaptureLoop();
    CaptureResult DrainPackets(LoopbackStream& stream, std::uint32_t pass, bool* streamBroken);
    void FailStart();

    AudioLoopback& loopback_;
    Notifier& notifier_;
    DebugLog& console_;
    PacketCallback packetCallback_;

    std::unique_ptr<LoopbackSession> session_;  // the device and its watch
    std::thread thread_;
    CaptureSignal signal_;
    std::atomic<bool> stopRequested_{false};

    std::atomic<bool> deviceLost_{false};
    std::atomic<bool> noDevice_{false};
    std::atomic<bool> defaultChanged_{false};
    std::atomic<std::uint32_t> frameCount_{0};
    std::atomic<std::uint32_t> passes_{0};
    std::atomic<CaptureResult> result_{kResultUnexpected};

    mutable std::mutex stateMutex_;
    mutable std::condition_variable stateChanged_;
    bool streaming_ = false;
    bool threadEnded_ = false;
    std::string deviceName_;
    MixFormat streamFormat_;

    // Capture thread only: the packet converted to 16 bits. Grows when a
    // longer packet arrives, so steady capture does not allocate.
    std::vector<std::int16_t> converted_;
};

}  // namespace ovra::music
