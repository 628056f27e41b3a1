#include "service/music/FormatCoercion.h"

namespace ovra::music {

CaptureResult CoerceToInt16(MixFormat& format, DebugLog& console) {
    MixFormat coerced = format;
    if (format.formatTag == kWaveFormatIeeeFloat) {
        coerced.formatTag = kWaveFormatPcm;
        coerced.bitsPerSample = 16;
    } else if (format.formatTag == kWaveFormatExtensible) {
        if (format.subFormat != SampleSubFormat::IeeeFloat) {
            console.Write("Don't know how to coerce mix format to int-16\n");
            return kResultUnexpected;
        }
        coerced.subFormat = SampleSubFormat::Pcm;
        coerced.validBitsPerSample = 16;
        coerced.bitsPerSample = 16;
    } else {
        console.Printf("Don't know how to coerce WAVEFORMATEX with wFormatTag = 0x%08x to int-16\n",
                       static_cast<unsigned>(format.formatTag));
        return kResultUnexpected;
    }
    coerced.blockAlign = static_cast<std::uint16_t>(coerced.channels * coerced.bitsPerSample / 8);
    coerced.avgBytesPerSec = coerced.blockAlign * coerced.samplesPerSec;
    format = coerced;
    return kResultOk;
}

}  // namespace ovra::music
