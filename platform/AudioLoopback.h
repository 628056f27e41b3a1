#pragma once
// Port: loopback capture of what the default playback device plays.
//
// Three objects, in the order the capture uses them:
//   AudioLoopback   - the entry point; Connect() reaches the sound server.
//   LoopbackSession - one server connection: watches for default-device
//                     changes and finds the current default playback device.
//                     Destroying it drops the watch and the connection.
//   LoopbackStream  - one recording stream of that device's mix, delivered as
//                     32-bit float interleaved frames at the device's rate and
//                     channel count, in packets of about DevicePeriod().
//
// Threads: Connect/Watch/FindDefaultDevice run on the thread that starts the
// capture; the stream is opened and read on the capture thread. The two
// callbacks (default changed, wake) run on a thread of the adapter's own and
// must return at once: they only set a flag or signal a waiter.
//
// Failures are results, never exceptions.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ovra {

enum class LoopbackStatus : std::uint8_t {
    Ok,
    ServerUnavailable,  // no sound server to connect to
    WatchFailed,        // the server refused the change subscription
    NoDefaultDevice,    // the server has no playback device
    DeviceInvalidated,  // the stream broke: device removed, server gone
    UnsupportedFormat,  // the device's format cannot be recorded
    OutOfMemory,
    TimedOut,  // the server did not answer in time
    Failed,    // anything else
};

constexpr const char* LoopbackStatusName(LoopbackStatus status) {
    switch (status) {
        case LoopbackStatus::Ok:
            return "ok";
        case LoopbackStatus::ServerUnavailable:
            return "no sound server";
        case LoopbackStatus::WatchFailed:
            return "change subscription refused";
        case LoopbackStatus::NoDefaultDevice:
            return "no playback device";
        case LoopbackStatus::DeviceInvalidated:
            return "stream broken";
        case LoopbackStatus::UnsupportedFormat:
            return "unsupported format";
        case LoopbackStatus::OutOfMemory:
            return "out of memory";
        case LoopbackStatus::TimedOut:
            return "sound server timed out";
        case LoopbackStatus::Failed:
            return "failed";
    }
    return "unknown";
}

// Format tags and sub-formats of a mix-format record.
inline constexpr std::uint16_t kWaveFormatPcm = 0x0001;
inline constexpr std::uint16_t kWaveFormatIeeeFloat = 0x0003;
inline constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;

enum class SampleSubFormat : std::uint8_t { None, Pcm, IeeeFloat, Other };

// The device's shared mix format, as a format record with a tag, the
// interleaved block layout and (for the extensible tag) a sub-format.
struct MixFormat {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t validBitsPerSample = 0;  // extensible tag only
    SampleSubFormat subFormat = SampleSubFormat::None;
};

// Buffer flags of a packet (the values the capture hands on unchanged).
inline constexpr std::uint32_t kLoopbackFlagDiscontinuity = 0x1;
inline constexpr std::uint32_t kLoopbackFlagSilent = 0x2;
inline constexpr std::uint32_t kLoopbackFlagTimestampError = 0x4;

// One packet as the stream holds it until ReleaseBuffer. `samples` is null for
// a hole in the stream (the adapter then also sets kLoopbackFlagSilent);
// otherwise it holds frames x channels floats.
struct LoopbackPacket {
    const float* samples = nullptr;
    std::uint32_t frames = 0;
    std::uint32_t flags = 0;
};

class LoopbackStream {
public:
    virtual ~LoopbackStream() = default;  // disconnects; no callback after it returns

    // The period the stream delivers packets at (the requested fragment).
    virtual LoopbackStatus GetDevicePeriod(std::chrono::nanoseconds* period) = 0;
    // The mix format the packets come in (always 32-bit float here).
    virtual LoopbackStatus GetMixFormat(MixFormat* format) = 0;
    // Connects the recording stream (not yet running).
    virtual LoopbackStatus Initialize() = 0;
    virtual LoopbackStatus Start() = 0;
    virtual LoopbackStatus Stop() = 0;

    // Frames in the next waiting packet, 0 when none waits. Fails with
    // DeviceInvalidated once the stream is broken.
    virtual LoopbackStatus GetNextPacketSize(std::uint32_t* frames) = 0;
    // The next packet; valid until ReleaseBuffer.
    virtual LoopbackStatus GetBuffer(LoopbackPacket* packet) = 0;
    virtual LoopbackStatus ReleaseBuffer(std::uint32_t frames) = 0;
};

class LoopbackSession {
public:
    virtual ~LoopbackSession() = default;  // drops the watch and the connection

    // `onDefaultChanged` is called whenever the default playback device
    // becomes another one than the device found last.
    virtual LoopbackStatus WatchDefaultDevice(std::function<void()> onDefaultChanged) = 0;
    // Finds the current default playback device (remembered by the session).
    virtual LoopbackStatus FindDefaultDevice() = 0;
    // A readable name of the device found (for log lines and tests).
    virtual std::string DeviceName() const = 0;
    // Opens a stream on the device found. `wake` is called whenever data
    // arrives or the stream's state changes; it must not block.
    virtual LoopbackStatus Activate(std::function<void()> wake, std::unique_ptr<LoopbackStream>* stream) = 0;
};

class AudioLoopback {
public:
    virtual ~AudioLoopback() = default;
    virtual LoopbackStatus Connect(std::unique_ptr<LoopbackSession>* session) = 0;
};

}  // namespace ovra
