#include "platform/linux/device_tree/UdevDeviceTree.h"

#include <libudev.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/linux/device_tree/InstanceIds.h"

namespace ovra {
namespace {

struct EnumerateDeleter {
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
};
struct DeviceDeleter {
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
struct MonitorDeleter {
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
using DevicePtr = std::unique_ptr<udev_device, DeviceDeleter>;

std::string_view OrEmpty(const char* text) { return text ? std::string_view(text) : std::string_view(); }

// sysfs numbers come as "0b05\n", " 4\n", "03\n".
std::optional<unsigned long> ParseNumber(const char* text, int base) {
    if (!text) return std::nullopt;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, base);
    if (end == text) return std::nullopt;
    while (*end == '\n' || *end == ' ') ++end;
    if (*end != '\0') return std::nullopt;
    return value;
}

std::optional<std::uint16_t> HexAttribute(udev_device* device, const char* name) {
    const auto value = ParseNumber(udev_device_get_sysattr_value(device, name), 16);
    if (!value || *value > 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(*value);
}

bool IsDevType(udev_device* device, std::string_view type) {
    return OrEmpty(udev_device_get_devtype(device)) == type;
}

// The hub port a device hangs on: the last number of its name ("1-1.3" -> 3).
int PortOf(std::string_view sysName) {
    const auto cut = sysName.find_last_of(".-");
    if (cut == std::string_view::npos) return 0;
    return std::atoi(std::string(sysName.substr(cut + 1)).c_str());
}

std::string Trimmed(const char* text) {
    std::string value(OrEmpty(text));
    while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
    return value;
}

// Not owned: udev_device_get_parent_* results live as long as the child.
udev_device* ParentUsbDevice(udev_device* device) {
    return udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
}

std::optional<std::string> DeviceId(udev_device* device) {
    UsbDeviceFacts facts;
    const auto vendor = HexAttribute(device, "idVendor");
    const auto product = HexAttribute(device, "idProduct");
    if (!vendor || !product) return std::nullopt;  // vanished, or not readable
    facts.vendor = *vendor;
    facts.product = *product;
    facts.serial = Trimmed(udev_device_get_sysattr_value(device, "serial"));
    udev_device* parent = udev_device_get_parent(device);
    facts.parentPath = parent ? OrEmpty(udev_device_get_syspath(parent)) : std::string_view();
    facts.port = PortOf(OrEmpty(udev_device_get_sysname(device)));
    facts.rootHub = ParentUsbDevice(device) == nullptr;
    const auto speed = ParseNumber(udev_device_get_sysattr_value(device, "speed"), 10);
    facts.superSpeedHub = speed && *speed >= 5000;
    return UsbDeviceInstanceId(facts);
}

// Interfaces get nodes of their own only on composite devices.
std::optional<std::string> InterfaceId(udev_device* interface, bool* composite) {
    *composite = false;
    udev_device* device = ParentUsbDevice(interface);
    if (!device) return std::nullopt;
    const auto count = ParseNumber(udev_device_get_sysattr_value(device, "bNumInterfaces"), 10);
    if (!count) return std::nullopt;
    *composite = *count > 1;
    const auto number = ParseNumber(udev_device_get_sysattr_value(interface, "bInterfaceNumber"), 16);
    const auto vendor = HexAttribute(device, "idVendor");
    const auto product = HexAttribute(device, "idProduct");
    if (!number || !vendor || !product) return std::nullopt;
    return UsbInterfaceInstanceId(*vendor, *product, static_cast<unsigned>(*number),
                                  OrEmpty(udev_device_get_syspath(device)));
}

DeviceNodeStatus StatusOf(udev_device* device) {
    return udev_device_get_driver(device) ? DeviceNodeStatus::Started
                                          : DeviceNodeStatus::NotStarted;
}

// For a removed node sysfs is gone: the uevent's PRODUCT ("b05/1855/100")
// still names it.
std::string RemovedNodeId(udev_device* device) {
    const char* product = udev_device_get_property_value(device, "PRODUCT");
    unsigned vendorId = 0, productId = 0;
    if (!product || std::sscanf(product, "%x/%x", &vendorId, &productId) != 2) return {};
    char id[64];
    std::snprintf(id, sizeof id, "USB\\VID_%04X&PID_%04X", vendorId & 0xFFFF, productId & 0xFFFF);
    std::string result = id;
    if (IsDevType(device, "usb_interface")) {
        const std::string_view name = OrEmpty(udev_device_get_sysname(device));
        const auto dot = name.find_last_of('.');
        if (dot != std::string_view::npos) {
            std::snprintf(id, sizeof id, "&MI_%02lX",
                          std::strtoul(std::string(name.substr(dot + 1)).c_str(), nullptr, 10) & 0xFF);
            result += id;
        }
    }
    return result;
}

class UdevChangeSource final : public DeviceChangeSource {
public:
    UdevChangeSource(udev* context, udev_monitor* monitor) : udev_(udev_ref(context)), monitor_(monitor) {}
    ~UdevChangeSource() override {
        monitor_.reset();
        udev_unref(udev_);
    }

    int PollFd() const override { return udev_monitor_get_fd(monitor_.get()); }

    std::vector<DeviceChange> TakeChanges() override {
        std::vector<DeviceChange> changes;
        // The monitor's socket is non-blocking: this ends when nothing waits.
        while (DevicePtr device{udev_monitor_receive_device(monitor_.get())}) {
            const std::string_view action = OrEmpty(udev_device_get_action(device.get()));
            const bool add = action == "add";
            if (!add && action != "remove") continue;  // bind, change, ...: no node came or went
            const bool isDevice = IsDevType(device.get(), "usb_device");
            if (!isDevice && !IsDevType(device.get(), "usb_interface")) continue;
            std::string id;
            if (add) {
                bool composite = false;
                id = (isDevice ? DeviceId(device.get()) : InterfaceId(device.get(), &composite))
                         .value_or(std::string());
            }
            if (id.empty()) id = RemovedNodeId(device.get());
            if (isDevice)
                changes.push_back({add ? DeviceChangeCode::Arrival : DeviceChangeCode::RemoveComplete, id});
            changes.push_back({DeviceChangeCode::TreeChanged, id});
        }
        return changes;
    }

private:
    udev* udev_;
    std::unique_ptr<udev_monitor, MonitorDeleter> monitor_;
};

}  // namespace

UdevDeviceTree::UdevDeviceTree() : udev_(udev_new()) {}

UdevDeviceTree::~UdevDeviceTree() {
    if (udev_) udev_unref(udev_);
}

bool UdevDeviceTree::ListPresentDevices(std::vector<DeviceNode>& nodes) {
    nodes.clear();
    if (!udev_) return false;
    std::unique_ptr<udev_enumerate, EnumerateDeleter> enumerate{udev_enumerate_new(udev_)};
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "usb") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0)
        return false;
    // Every interface and device asks for its parent's ID and interface
    // count: read each device's attributes once per listing.
    struct DeviceFacts {
        std::optional<std::string> id;
        std::optional<unsigned long> interfaces;
    };
    std::unordered_map<std::string, DeviceFacts> facts;
    auto factsOf = [&](udev_device* device) -> const DeviceFacts& {
        const std::string path(OrEmpty(udev_device_get_syspath(device)));
        auto it = facts.find(path);
        if (it == facts.end())
            it = facts.emplace(path, DeviceFacts{DeviceId(device),
                                                 ParseNumber(udev_device_get_sysattr_value(device, "bNumInterfaces"), 10)})
                     .first;
        return it->second;
    };
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        const char* path = udev_list_entry_get_name(entry);
        DevicePtr device{udev_device_new_from_syspath(udev_, path)};
        DeviceNode node;
        node.sysPath = OrEmpty(path);
        if (!device) {
            nodes.push_back(std::move(node));  // listed, but gone before we could read it
            continue;
        }
        udev_device* parent = ParentUsbDevice(device.get());
        if (IsDevType(device.get(), "usb_device")) {
            node.instanceId = factsOf(device.get()).id;
        } else if (IsDevType(device.get(), "usb_interface")) {
            if (!parent) continue;
            const DeviceFacts& owner = factsOf(parent);
            if (!owner.interfaces || *owner.interfaces <= 1) continue;  // not composite: no node
            bool composite = false;
            node.instanceId = InterfaceId(device.get(), &composite);
        } else {
            continue;
        }
        if (parent) node.parentId = factsOf(parent).id.value_or(std::string());
        node.status = StatusOf(device.get());
        nodes.push_back(std::move(node));
    }
    return true;
}

std::unique_ptr<DeviceChangeSource> UdevDeviceTree::WatchChanges() {
    if (!udev_) return nullptr;
    const char* source = std::getenv("OVRA_UDEV_MONITOR");
    const bool kernel = source && std::strcmp(source, "kernel") == 0;
    udev_monitor* monitor = udev_monitor_new_from_netlink(udev_, kernel ? "kernel" : "udev");
    if (!monitor) return nullptr;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        udev_monitor_unref(monitor);
        return nullptr;
    }
    // A storm of plug events must not overflow the socket before the main
    // loop drains it.
    udev_monitor_set_receive_buffer_size(monitor, 1 << 20);
    return std::make_unique<UdevChangeSource>(udev_, monitor);
}

}  // namespace ovra
