#pragma once
// Result codes of the capture, in the 32-bit form that its diagnostic lines
// print (0x%08x). The loopback port reports closed status values; these are
// the codes the capture logs for them.

#include <cstdint>

#include "platform/AudioLoopback.h"

namespace ovra::music {

using CaptureResult = std::uint32_t;

inline constexpr CaptureResult kResultOk = 0x00000000;
inline constexpr CaptureResult kResultUnexpected = 0x8000FFFF;
inline constexpr CaptureResult kResultFail = 0x80004005;
inline constexpr CaptureResult kResultOutOfMemory = 0x8007000E;
inline constexpr CaptureResult kResultNotFound = 0x80070490;
inline constexpr CaptureResult kResultTimeout = 0x800705B4;
inline constexpr CaptureResult kResultDeviceInvalidated = 0x88890004;
inline constexpr CaptureResult kResultUnsupportedFormat = 0x88890008;
inline constexpr CaptureResult kResultServiceNotRunning = 0x88890010;

constexpr CaptureResult ToCaptureResult(LoopbackStatus status) {
    switch (status) {
        case LoopbackStatus::Ok:
            return kResultOk;
        case LoopbackStatus::ServerUnavailable:
            return kResultServiceNotRunning;
        case LoopbackStatus::WatchFailed:
            return kResultFail;
        case LoopbackStatus::NoDefaultDevice:
            return kResultNotFound;
        case LoopbackStatus::DeviceInvalidated:
            return kResultDeviceInvalidated;
        case LoopbackStatus::UnsupportedFormat:
            return kResultUnsupportedFormat;
        case LoopbackStatus::OutOfMemory:
            return kResultOutOfMemory;
        case LoopbackStatus::TimedOut:
            return kResultTimeout;
        case LoopbackStatus::Failed:
            return kResultFail;
    }
    return kResultFail;
}

}  // namespace ovra::music
