#pragma once
// Our own checked reader of the USB descriptors the bridge chip hands out.
// Device bytes are never trusted: a descriptor walk stops at a bLength below
// 2 or at a descriptor that runs past the end, every field is read only when
// the descriptor's length covers it, and counts that cannot fit are refused.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace ovra::brx {

inline constexpr std::size_t kDeviceDescriptorSize = 18;
inline constexpr std::size_t kConfigHeaderSize = 9;
inline constexpr std::uint16_t kBridgeExtensionCode = 0x0BDA;

struct DeviceDescriptor {
    std::uint16_t bcdUsb = 0;
    std::uint8_t deviceClass = 0;
    std::uint8_t maxPacketSize0 = 0;
    std::uint16_t idVendor = 0;
    std::uint16_t idProduct = 0;
    std::uint16_t bcdDevice = 0;
    std::uint8_t numConfigurations = 0;
};

// Null unless the bytes hold a whole device descriptor (bLength 18, type 1).
std::optional<DeviceDescriptor> ParseDeviceDescriptor(std::span<const std::uint8_t> bytes);

// wTotalLength of a configuration descriptor header; null unless the header
// is a configuration descriptor (bLength >= 9, type 2) whose total covers
// at least the header.
std::optional<std::uint16_t> ConfigurationTotalLength(std::span<const std::uint8_t> header);

// One step of a checked descriptor walk.
class DescriptorWalker {
public:
    explicit DescriptorWalker(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    // The next whole descriptor, or an empty span at the end or at the first
    // malformed descriptor (then Malformed() is true).
    std::span<const std::uint8_t> Next();
    bool Malformed() const { return malformed_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t offset_ = 0;
    bool malformed_ = false;
};

enum class ExtensionUnitSearch {
    Found,
    NoInterface,  // no interface descriptor in the configuration
    NoUnit,       // the audio-control interface carries no bridge extension unit
};

struct ExtensionUnitResult {
    ExtensionUnitSearch outcome = ExtensionUnitSearch::NoInterface;
    std::uint8_t unitId = 0;
    // Descriptors passed before the first interface descriptor (each gets a
    // log line from the caller).
    std::uint32_t skippedBeforeInterface = 0;
};

// Looks in the class-specific run right after the first interface
// descriptor (the audio-control interface) for an extension unit (subtype
// 0x08 of audio class 1, 0x09 of class 2) with wExtensionCode 0x0BDA.
ExtensionUnitResult FindBridgeExtensionUnit(std::span<const std::uint8_t> configuration);

// True when the vendor status block carries the bridge signature "VELTRIX"
// and a zero byte at offsets 24..31.
bool HasBridgeSignature(std::span<const std::uint8_t> status);
// The same test on the 8 bytes a device-qualify read answers.
bool IsBridgeSignature(std::span<const std::uint8_t> eightBytes);

}  // namespace ovra::brx
