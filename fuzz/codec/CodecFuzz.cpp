// The command text codec on arbitrary text and capacities: it must never
// write past the capacity, write nothing when it refuses, and agree with a
// token count.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "device_access/HexCommandCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t capacity = data[0] % 40;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    constexpr std::uint8_t kCanary = 0xC5;
    // Exactly `capacity` bytes on the heap, so ASan sees any overrun.
    std::vector<std::uint8_t> out(capacity, kCanary);
    const auto count = ovra::DecodeHexCommand(text, out);
    if (count) {
        if (*count > capacity) std::abort();
        for (std::size_t i = *count; i < capacity; ++i)
            if (out[i] != kCanary) std::abort();
    } else {
        for (auto b : out)
            if (b != kCanary) std::abort();
    }

    // With room for every token the decode always succeeds.
    std::vector<std::uint8_t> roomy(text.size() + 1);
    if (!ovra::DecodeHexCommand(text, roomy)) std::abort();

    (void)ovra::ParseHexNumber(text);
    return 0;
}
