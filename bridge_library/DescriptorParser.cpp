#include "bridge_library/DescriptorParser.h"

#include <cstring>

namespace ovra::brx {
namespace {

constexpr std::uint8_t kTypeDevice = 0x01;
constexpr std::uint8_t kTypeConfiguration = 0x02;
constexpr std::uint8_t kTypeInterface = 0x04;
constexpr std::uint8_t kTypeClassInterface = 0x24;
constexpr std::uint8_t kSubtypeExtensionUnitV1 = 0x08;
constexpr std::uint8_t kSubtypeExtensionUnitV2 = 0x09;
constexpr char kSignature[8] = {'V', 'E', 'L', 'T', 'R', 'I', 'X', '\0'};

std::uint16_t Le16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

// An extension unit descriptor: bLength, type, subtype, bUnitID,
// wExtensionCode, bNrInPins, baSourceID[pins], ... Its pin count must fit in
// the descriptor, or the descriptor is not taken for a unit at all.
std::optional<std::uint8_t> BridgeUnitId(std::span<const std::uint8_t> d) {
    if (d.size() < 7) return std::nullopt;
    if (d[2] != kSubtypeExtensionUnitV1 && d[2] != kSubtypeExtensionUnitV2) return std::nullopt;
    const std::size_t pins = d[6];
    if (7 + pins > d.size()) return std::nullopt;
    if (Le16(d, 4) != kBridgeExtensionCode) return std::nullopt;
    return d[3];
}

}  // namespace

std::optional<DeviceDescriptor> ParseDeviceDescriptor(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kDeviceDescriptorSize) return std::nullopt;
    if (bytes[0] != kDeviceDescriptorSize || bytes[1] != kTypeDevice) return std::nullopt;
    DeviceDescriptor d;
    d.bcdUsb = Le16(bytes, 2);
    d.deviceClass = bytes[4];
    d.maxPacketSize0 = bytes[7];
    d.idVendor = Le16(bytes, 8);
    d.idProduct = Le16(bytes, 10);
    d.bcdDevice = Le16(bytes, 12);
    d.numConfigurations = bytes[17];
    return d;
}

std::optional<std::uint16_t> ConfigurationTotalLength(std::span<const std::uint8_t> header) {
    if (header.size() < kConfigHeaderSize) return std::nullopt;
    if (header[0] < kConfigHeaderSize || header[1] != kTypeConfiguration) return std::nullopt;
    const std::uint16_t total = Le16(header, 2);
    if (total < header[0]) return std::nullopt;
    return total;
}

std::span<const std::uint8_t> DescriptorWalker::Next() {
    if (malformed_ || offset_ >= bytes_.size()) return {};
    const std::size_t remaining = bytes_.size() - offset_;
    const std::size_t length = bytes_[offset_];
    if (length < 2 || length > remaining) {
        malformed_ = true;
        return {};
    }
    auto descriptor = bytes_.subspan(offset_, length);
    offset_ += length;
    return descriptor;
}

ExtensionUnitResult FindBridgeExtensionUnit(std::span<const std::uint8_t> configuration) {
    ExtensionUnitResult result;
    DescriptorWalker walker(configuration);
    for (;;) {
        auto d = walker.Next();
        if (d.empty()) return result;  // NoInterface
        if (d[1] == kTypeInterface) break;
        ++result.skippedBeforeInterface;
    }
    result.outcome = ExtensionUnitSearch::NoUnit;
    for (;;) {
        auto d = walker.Next();
        if (d.empty() || d[1] != kTypeClassInterface) return result;
        if (auto unit = BridgeUnitId(d)) {
            result.outcome = ExtensionUnitSearch::Found;
            result.unitId = *unit;
            return result;
        }
    }
}

bool IsBridgeSignature(std::span<const std::uint8_t> eightBytes) {
    return eightBytes.size() >= 8 && std::memcmp(eightBytes.data(), kSignature, 8) == 0;
}

bool HasBridgeSignature(std::span<const std::uint8_t> status) {
    return status.size() >= 32 && IsBridgeSignature(status.subspan(24, 8));
}

}  // namespace ovra::brx
