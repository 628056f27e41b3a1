#include "tests/support_usb_testbed/UsbTestbed.h"

#include <umockdev.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ovra::test {
namespace {

std::string TakeString(gchar* text) {
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x\n", value);
    return text;
}

}  // namespace

std::string UsbTestbed::AddDevice(const std::string& name, const std::string& parent,
                                  const std::vector<std::string>& attributes,
                                  const std::vector<std::string>& properties) {
    auto pointers = [](const std::vector<std::string>& texts) {
        std::vector<gchar*> out;
        for (const auto& t : texts) out.push_back(const_cast<gchar*>(t.c_str()));
        out.push_back(nullptr);
        return out;
    };
    auto attributePointers = pointers(attributes);
    auto propertyPointers = pointers(properties);
    return TakeString(umockdev_testbed_add_devicev(testbed_, "usb", name.c_str(),
                                                   parent.empty() ? nullptr : parent.c_str(),
                                                   attributePointers.data(),
                                                   propertyPointers.data()));
}

bool UsbTestbed::Preloaded() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "umockdev") != nullptr;
}

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()) {
    rootHub_ = AddDevice("usb1", "",
                         {"idVendor", "1d6b\n", "idProduct", "0002\n", "bNumInterfaces", " 1\n",
                          "speed", "480\n", "busnum", "1\n", "devnum", "1\n"},
                         {"DEVTYPE", "usb_device", "PRODUCT", "1d6b/2/600"});
}

UsbTestbed::~UsbTestbed() { g_object_unref(testbed_); }

std::string UsbTestbed::Add(const UsbDeviceSpec& device) {
    const std::string vendor = Hex4(device.vendor), product = Hex4(device.product);
    const std::string count = " " + std::to_string(device.interfaces) + "\n";
    char productProperty[32];
    std::snprintf(productProperty, sizeof productProperty, "%x/%x/100", device.vendor, device.product);
    Entry entry;
    std::vector<std::string> attributes = {"idVendor", vendor, "idProduct", product,
                                           "bNumInterfaces", count, "speed", "480\n"};
    if (!device.serial.empty()) {
        attributes.push_back("serial");
        attributes.push_back(device.serial + "\n");
    }
    entry.device = AddDevice(device.name, rootHub_, attributes,
                             {"DEVTYPE", "usb_device", "PRODUCT", productProperty});
    for (int i = 0; i < device.interfaces; ++i) {
        char name[64], number[16];
        std::snprintf(name, sizeof name, "%s:1.%d", device.name.c_str(), i);
        std::snprintf(number, sizeof number, "%02x\n", i);
        entry.interfaces.push_back(AddDevice(name, entry.device, {"bInterfaceNumber", number},
                                             {"DEVTYPE", "usb_interface", "PRODUCT", productProperty}));
    }
    entries_.push_back(entry);
    return entry.device;
}

std::string UsbTestbed::Plug(const UsbDeviceSpec& device) {
    // umockdev announces every added node with an "add" uevent itself.
    return Add(device);
}

void UsbTestbed::Unplug(const std::string& sysPath) {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return e.device == sysPath; });
    if (it == entries_.end()) return;
    for (const auto& interface : it->interfaces)
        umockdev_testbed_uevent(testbed_, interface.c_str(), "remove");
    umockdev_testbed_uevent(testbed_, it->device.c_str(), "remove");
    for (const auto& interface : it->interfaces)
        umockdev_testbed_remove_device(testbed_, interface.c_str());
    umockdev_testbed_remove_device(testbed_, it->device.c_str());
    entries_.erase(it);
}

std::string UsbTestbed::AddUnreadable(const std::string& name) {
    Entry entry;
    entry.device = AddDevice(name, rootHub_, {"bNumInterfaces", " 1\n"}, {"DEVTYPE", "usb_device"});
    entries_.push_back(entry);
    return entry.device;
}

}  // namespace ovra::test
