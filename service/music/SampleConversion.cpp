#include "service/music/SampleConversion.h"

#include <cmath>
#include <cstring>

namespace ovra::music {

void ConvertFloatToInt16(const float* in, std::size_t count, std::int16_t* out) {
    if (in == nullptr) {
        std::memset(out, 0, count * sizeof *out);
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        float v = in[i] * 32768.0f;
        if (std::isnan(v)) v = 0.0f;
        if (v > 32767.0f) v = 32767.0f;
        if (v < -32768.0f) v = -32768.0f;
        out[i] = static_cast<std::int16_t>(std::lrint(v));
    }
}

}  // namespace ovra::music
