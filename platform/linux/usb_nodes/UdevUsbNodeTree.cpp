#include "platform/linux/usb_nodes/UdevUsbNodeTree.h"

#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace ovra {
namespace {

// sysfs attribute values end in "\n" in a testbed and sometimes on real
// systems; compare and parse them trimmed.
std::string Attr(udev_device* device, const char* name) {
    const char* value = udev_device_get_sysattr_value(device, name);
    std::string text = value ? value : "";
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
}

unsigned long AttrNumber(udev_device* device, const char* name, int base) {
    const std::string text = Attr(device, name);
    return text.empty() ? 0 : std::strtoul(text.c_str(), nullptr, base);
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

bool IsDeviceType(udev_device* device, const char* type) {
    const char* devtype = udev_device_get_devtype(device);
    return devtype && std::string(devtype) == type;
}

bool IsRootHub(udev_device* device) {
    const char* sysname = udev_device_get_sysname(device);
    return IsDeviceType(device, "usb_device") && sysname && std::string(sysname).rfind("usb", 0) == 0;
}

std::string VidPid(udev_device* usbDevice) {
    char text[32];
    std::snprintf(text, sizeof text, "VID_%04lX&PID_%04lX", AttrNumber(usbDevice, "idVendor", 16),
                  AttrNumber(usbDevice, "idProduct", 16));
    return text;
}

}  // namespace

UdevUsbNodeTree::UdevUsbNodeTree() : udev_(udev_new()) {}

UdevUsbNodeTree::~UdevUsbNodeTree() {
    if (udev_) udev_unref(udev_);
}

std::uint32_t UdevUsbNodeTree::InstanceOf(const std::string& syspath) {
    auto found = instances_.find(syspath);
    if (found != instances_.end()) return found->second;
    syspaths_.push_back(syspath);
    const auto instance = static_cast<std::uint32_t>(syspaths_.size());
    instances_.emplace(syspath, instance);
    return instance;
}

udev_device* UdevUsbNodeTree::DeviceOf(std::uint32_t instance) {
    if (!udev_ || instance == 0 || instance > syspaths_.size()) return nullptr;
    return udev_device_new_from_syspath(udev_, syspaths_[instance - 1].c_str());
}

UsbNode UdevUsbNodeTree::Describe(udev_device* device) {
    UsbNode node;
    node.instance = InstanceOf(udev_device_get_syspath(device));
    const char* sysname = udev_device_get_sysname(device);
    const std::string name = sysname ? sysname : "";
    const char* devpath = udev_device_get_devpath(device);
    node.locationPath = devpath ? devpath : "";

    if (IsDeviceType(device, "usb_interface")) {
        udev_device* usbDevice = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
        const std::string number = Upper(Attr(device, "bInterfaceNumber"));
        node.deviceId = "USB\\" + (usbDevice ? VidPid(usbDevice) : std::string("VID_0000&PID_0000")) +
                        "&MI_" + (number.empty() ? std::string("00") : number) + "\\" + name;
        node.friendlyName = usbDevice ? Attr(usbDevice, "product") : std::string();
        if (node.friendlyName.empty()) node.friendlyName = Attr(device, "interface");
        node.setupClass = "MEDIA";
    } else if (IsRootHub(device)) {
        const unsigned long speed = AttrNumber(device, "speed", 10);
        const char* hub = speed >= 5000 ? "ROOT_HUB30" : speed == 480 ? "ROOT_HUB20" : "ROOT_HUB";
        node.deviceId = std::string("USB\\") + hub + "\\" + name;
        node.setupClass = "USB";
    } else if (IsDeviceType(device, "usb_device")) {
        const std::string serial = Attr(device, "serial");
        node.deviceId = "USB\\" + VidPid(device) + "\\" + (serial.empty() ? name : serial);
        node.friendlyName = Attr(device, "product");
        node.setupClass = "USB";
    } else {
        const char* subsystem = udev_device_get_subsystem(device);
        node.setupClass = Upper(subsystem ? subsystem : "SYSTEM");
        node.deviceId = node.setupClass + "\\" + Upper(name);
    }
    return node;
}

std::vector<UsbNode> UdevUsbNodeTree::ListAudioFunctions() {
    std::lock_guard lock(mutex_);
    std::vector<UsbNode> nodes;
    if (!udev_) return nodes;
    udev_enumerate* enumerate = udev_enumerate_new(udev_);
    if (!enumerate) return nodes;
    udev_enumerate_add_match_subsystem(enumerate, "usb");
    udev_enumerate_scan_devices(enumerate);
    std::vector<std::string> paths;
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(enumerate); entry;
         entry = udev_list_entry_get_next(entry)) {
        paths.emplace_back(udev_list_entry_get_name(entry));
    }
    udev_enumerate_unref(enumerate);
    std::sort(paths.begin(), paths.end());
    for (const std::string& path : paths) {
        udev_device* device = udev_device_new_from_syspath(udev_, path.c_str());
        if (!device) continue;
        // One node per audio function: its audio-control interface
        // (class 1, subclass 1).
        if (IsDeviceType(device, "usb_interface") && AttrNumber(device, "bInterfaceClass", 16) == 1 &&
            AttrNumber(device, "bInterfaceSubClass", 16) == 1) {
            nodes.push_back(Describe(device));
        }
        udev_device_unref(device);
    }
    return nodes;
}

std::optional<UsbNode> UdevUsbNodeTree::Node(std::uint32_t instance) {
    std::lock_guard lock(mutex_);
    udev_device* device = DeviceOf(instance);
    if (!device) return std::nullopt;
    UsbNode node = Describe(device);
    udev_device_unref(device);
    return node;
}

std::optional<std::uint32_t> UdevUsbNodeTree::Parent(std::uint32_t instance) {
    std::lock_guard lock(mutex_);
    udev_device* device = DeviceOf(instance);
    if (!device) return std::nullopt;
    std::optional<std::uint32_t> parent;
    if (udev_device* up = udev_device_get_parent(device)) {  // owned by `device`
        parent = InstanceOf(udev_device_get_syspath(up));
    }
    udev_device_unref(device);
    return parent;
}

UsbNodeError UdevUsbNodeTree::OpenDevice(std::uint32_t instance, UsbDeviceLocation* location) {
    std::lock_guard lock(mutex_);
    udev_device* device = DeviceOf(instance);
    if (!device) return UsbNodeError::NotFound;
    udev_device* usbDevice = IsDeviceType(device, "usb_device")
                                 ? device
                                 : udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    UsbNodeError result = UsbNodeError::NotFound;
    if (usbDevice) {
        UsbDeviceLocation found;
        found.busNumber = static_cast<std::uint8_t>(AttrNumber(usbDevice, "busnum", 10));
        found.deviceAddress = static_cast<std::uint8_t>(AttrNumber(usbDevice, "devnum", 10));
        const char* devnode = udev_device_get_devnode(usbDevice);
        if (devnode) {
            found.devicePath = devnode;
        } else {
            char path[64];
            std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", found.busNumber, found.deviceAddress);
            found.devicePath = path;
        }
        if (::access(found.devicePath.c_str(), R_OK | W_OK) == 0) {
            *location = found;
            result = UsbNodeError::None;
        } else {
            result = errno == ENOENT ? UsbNodeError::NotFound
                     : (errno == EACCES || errno == EPERM) ? UsbNodeError::AccessDenied
                                                           : UsbNodeError::Failed;
        }
    }
    udev_device_unref(device);
    return result;
}

}  // namespace ovra
