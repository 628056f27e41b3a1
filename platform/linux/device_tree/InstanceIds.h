#pragma once
// Instance IDs in the system's form for what udev reports about USB nodes.
// Pure functions, so the naming rules are testable without a device tree.

#include <cstdint>
#include <string>
#include <string_view>

namespace ovra {

struct UsbDeviceFacts {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::string serial;      // empty when the device has none
    std::string parentPath;  // sysfs path of the hub it hangs on
    int port = 0;            // port number on that hub
    bool rootHub = false;
    bool superSpeedHub = false;
};

// "USB\VID_0B05&PID_1855\<serial>" when the serial can serve as an instance
// suffix, else "USB\VID_0B05&PID_1855\5&<hash of the parent>&0&<port>".
// Root hubs: "USB\ROOT_HUB20\4&<hash>&0" (ROOT_HUB30 for SuperSpeed).
std::string UsbDeviceInstanceId(const UsbDeviceFacts& device);

// An interface of a composite device: "USB\VID_0B05&PID_1855&MI_03\6&<hash>&0&0003".
std::string UsbInterfaceInstanceId(std::uint16_t vendor, std::uint16_t product,
                                   unsigned interfaceNumber, std::string_view devicePath);

// A serial number the system would use as the instance suffix: printable
// ASCII without spaces or commas, at most 126 characters.
bool SerialUsableAsInstanceSuffix(std::string_view serial);

}  // namespace ovra
