#pragma once
// What the library knows of one opened bridge device: where it sits in the
// device tree, the proxy's context for it, and what the device told about
// itself (descriptors, status block, which command channels it offers).

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge_library/DescriptorParser.h"
#include "bridge_library/UsbRequests.h"

namespace ovra::brx {

inline constexpr std::size_t kDeviceStatusSize = 96;
inline constexpr std::size_t kMaxAncestors = 31;

struct CamDevInfo {
    std::array<std::uint8_t, kDeviceDescriptorSize> deviceDescriptor{};
    std::vector<std::uint8_t> configuration;  // wTotalLength bytes
    bool hasBridge = false;
    bool hasExtUnit = false;
    bool hasVendorRequest = false;
    std::uint8_t extUnitId = 0;
    std::array<std::uint8_t, kDeviceStatusSize> deviceStatus{};

    std::uint16_t IdProduct() const {
        return static_cast<std::uint16_t>(deviceDescriptor[10] | (deviceDescriptor[11] << 8));
    }
};

enum class HubClass : std::uint32_t { Unknown = 0, Other = 1, Usb2 = 2, Usb3 = 3 };

struct CamLocation {
    bool filled = false;  // the record has been filled by an open
    DeviceContext context = 0;
    std::uint32_t instance = 0;
    std::optional<UsbDeviceLocation> device;  // the opened device ("interface handle")
    HubClass hubClass = HubClass::Unknown;
    std::string friendlyName;
    std::uint32_t setupClassKind = 0;
    std::vector<std::uint32_t> ancestors;  // nearest first, at most 31
    std::string locationPath;
    std::uint8_t interfaceNumber = 0;
    std::uint32_t chainLength = 0;
    std::unique_ptr<CamDevInfo> info;
};

}  // namespace ovra::brx
