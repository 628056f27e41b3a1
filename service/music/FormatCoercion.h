#pragma once
// The capture records the device's float mix format and hands 16-bit integer
// PCM to the analysis. CoerceToInt16 turns the mix-format record into the
// 16-bit one, or refuses formats it does not know how to convert.

#include "platform/AudioLoopback.h"
#include "platform/DebugLog.h"
#include "service/music/CaptureResult.h"

namespace ovra::music {

// Rewrites `format` in place; on refusal writes the reason to `console` and
// returns kResultUnexpected, leaving `format` unchanged.
CaptureResult CoerceToInt16(MixFormat& format, DebugLog& console);

}  // namespace ovra::music
