// Raw descriptor bytes from a device: the checked walk, the device
// descriptor, the configuration header and the extension-unit search.
#include <cstddef>
#include <cstdint>
#include <span>

#include "bridge_library/DescriptorParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    ovra::brx::ParseDeviceDescriptor(bytes);
    if (auto total = ovra::brx::ConfigurationTotalLength(bytes)) {
        if (*total < 9) __builtin_trap();
    }
    ovra::brx::DescriptorWalker walker(bytes);
    std::size_t covered = 0;
    for (auto d = walker.Next(); !d.empty(); d = walker.Next()) {
        if (d.size() < 2 || d[0] != d.size()) __builtin_trap();
        covered += d.size();
    }
    if (covered > size) __builtin_trap();
    const auto unit = ovra::brx::FindBridgeExtensionUnit(bytes);
    if (unit.skippedBeforeInterface > size / 2) __builtin_trap();
    ovra::brx::HasBridgeSignature(bytes);
    return 0;
}
