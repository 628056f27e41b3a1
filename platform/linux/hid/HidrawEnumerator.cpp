#include "platform/linux/hid/HidrawEnumerator.h"

#include <libudev.h>

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/linux/hid/HidrawDevice.h"

namespace ovra {
namespace {

template <typename T, T* (*Unref)(T*)>
struct UdevRef {
    T* ptr;
    explicit UdevRef(T* p) : ptr(p) {}
    ~UdevRef() {
        if (ptr) Unref(ptr);
    }
    UdevRef(const UdevRef&) = delete;
    UdevRef& operator=(const UdevRef&) = delete;
};
using Udev = UdevRef<udev, udev_unref>;
using UdevEnumerate = UdevRef<udev_enumerate, udev_enumerate_unref>;
using UdevDevice = UdevRef<udev_device, udev_device_unref>;

// USB ids of the USB device above a hidraw node. Sysfs attributes are read
// rather than udev database properties: they exist everywhere, also before
// udev has processed the device.
bool UsbIds(udev_device* hidraw, std::uint16_t& vendor, std::uint16_t& product) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(hidraw, "usb", "usb_device");
    if (usb)
        return ParseUsbIdAttribute(udev_device_get_sysattr_value(usb, "idVendor"), vendor) &&
               ParseUsbIdAttribute(udev_device_get_sysattr_value(usb, "idProduct"), product);
    // Not on USB (Bluetooth, I2C): the HID device's own id, "bus:vvvvvvvv:pppppppp".
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
    const char* hidId = hid ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
    unsigned bus = 0, v = 0, p = 0;
    if (!hidId || std::sscanf(hidId, "%x:%x:%x", &bus, &v, &p) != 3 || v > 0xFFFF || p > 0xFFFF) return false;
    vendor = static_cast<std::uint16_t>(v);
    product = static_cast<std::uint16_t>(p);
    return true;
}

}  // namespace

bool ParseUsbIdAttribute(const char* text, std::uint16_t& id) {
    if (!text) return false;
    unsigned value = 0;
    std::size_t digits = 0;
    for (; std::isxdigit(static_cast<unsigned char>(text[digits])); ++digits) {
        if (digits == 4) return false;
        const char c = text[digits];
        value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                                       ? c - '0'
                                                       : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    if (digits == 0) return false;
    for (const char* rest = text + digits; *rest; ++rest)
        if (!std::isspace(static_cast<unsigned char>(*rest))) return false;
    id = static_cast<std::uint16_t>(value);
    return true;
}

std::vector<HidDeviceInfo> HidrawEnumerator::Enumerate() {
    std::vector<HidDeviceInfo> devices;
    Udev context(udev_new());
    if (!context.ptr) {
        log_.Write("hidraw: cannot create a udev context\n");
        return devices;
    }
    UdevEnumerate enumerate(udev_enumerate_new(context.ptr));
    if (!enumerate.ptr || udev_enumerate_add_match_subsystem(enumerate.ptr, "hidraw") < 0 ||
        udev_enumerate_scan_devices(enumerate.ptr) < 0) {
        log_.Write("hidraw: cannot enumerate hidraw devices\n");
        return devices;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.ptr)) {
        const char* sysPath = udev_list_entry_get_name(entry);
        UdevDevice device(udev_device_new_from_syspath(context.ptr, sysPath));
        if (!device.ptr) continue;  // removed meanwhile
        const char* node = udev_device_get_devnode(device.ptr);
        HidDeviceInfo info;
        if (!node || !UsbIds(device.ptr, info.vendorId, info.productId)) continue;
        info.node = node;
        info.sysPath = sysPath;
        devices.push_back(std::move(info));
    }
    return devices;
}

std::unique_ptr<HidDevice> HidrawEnumerator::Open(const HidDeviceInfo& info, HidStatus& status) {
    return HidrawDevice::Open(info, log_, status);
}

}  // namespace ovra
