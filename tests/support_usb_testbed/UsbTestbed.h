#pragma once
// A umockdev testbed with USB devices for tests of the real libudev code:
// root hub, devices with their interfaces, plug and unplug uevents. The test
// program must run under the umockdev preload library (umockdev-wrapper).

#include <cstdint>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace ovra::test {

struct UsbDeviceSpec {
    std::string name;  // kernel name on the bus, e.g. "1-3"
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    int interfaces = 1;
    std::string serial;  // empty: none
};

class UsbTestbed {
public:
    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    // True when the process runs under the preload library.
    static bool Preloaded();

    // Adds the device and its interfaces below the root hub; each node is
    // announced with an "add" uevent (device first). Returns the device's
    // sysfs path.
    std::string Add(const UsbDeviceSpec& device);
    std::string Plug(const UsbDeviceSpec& device);
    // Announces the removal (interfaces, then the device) and removes it.
    void Unplug(const std::string& sysPath);
    // Adds a device node without idVendor/idProduct: listed, but its ID
    // cannot be read (as for a device that vanished while being listed).
    std::string AddUnreadable(const std::string& name);

private:
    std::string AddDevice(const std::string& name, const std::string& parent,
                          const std::vector<std::string>& attributes,
                          const std::vector<std::string>& properties);
    struct Entry {
        std::string device;
        std::vector<std::string> interfaces;
    };
    UMockdevTestbed* testbed_;
    std::string rootHub_;
    std::vector<Entry> entries_;
};

}  // namespace ovra::test
