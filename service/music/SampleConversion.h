#pragma once
// The conversion of captured float samples to 16-bit integers.

#include <cstddef>
#include <cstdint>

namespace ovra::music {

// Converts `count` samples from the -1..1 float scale to 16-bit integers
// (x 32768, rounded to nearest, clipped to the 16-bit range; not-a-number
// gives 0). A null `in` (a hole in the stream, or a packet flagged silent)
// writes zeros: such a packet has no data to read.
void ConvertFloatToInt16(const float* in, std::size_t count, std::int16_t* out);

}  // namespace ovra::music
