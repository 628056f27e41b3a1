#pragma once
// The umockdev-record text for the sysfs chain of one USB HID device, and for
// the bus it plugs into.

#include <cstdint>
#include <string>
#include <vector>

namespace ovra::sim {

inline constexpr const char* kControllerSysPath = "/devices/pci0000:00/0000:00:14.0";
inline constexpr int kHidrawMajor = 247;

struct UsbHidPlacement {
    int port = 1;          // 1-N: the root hub port
    int devnum = 2;        // USB device number on bus 1 (a re-plug gets a new one)
    int hidInstance = 1;   // the kernel's running HID device counter
    int hidrawIndex = 0;   // /dev/hidrawM
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string productName;
    std::vector<std::uint8_t> reportDescriptor;
};

struct UsbHidPaths {
    std::string usbDevice;  // sysfs paths, relative to /sys ("/devices/...")
    std::string interface;
    std::string hid;
    std::string hidraw;
    std::string node;  // "/dev/hidrawM"
};

UsbHidPaths PathsOf(const UsbHidPlacement& placement);
std::string ControllerRecord();                          // pci controller and usb1 root hub
// One record per device, usb device first, down to the hidraw node. Adding
// each on its own gives one "add" uevent per device, parents first.
std::vector<std::string> DeviceRecords(const UsbHidPlacement& placement);

}  // namespace ovra::sim
