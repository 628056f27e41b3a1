// Fuzzes the reader of a program image's version note (outside bytes: the
// installed file may be anything).

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/ImageVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto info = ovra::ReadImageInfo(std::span<const std::uint8_t>(data, size));
    if (info && info->versionOffset + 8 > size) __builtin_trap();
    return 0;
}
