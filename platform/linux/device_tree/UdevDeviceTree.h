#pragma once
// The device tree from libudev: USB devices and interfaces from sysfs (read
// through libudev, so that a umockdev testbed replaces sysfs unmodified),
// and a udev monitor for hot-plug. The monitor listens to the "udev" source
// (events after the device manager has set the node up) unless
// $OVRA_UDEV_MONITOR names "kernel" (systems without a device manager).

#include <memory>

#include "platform/DeviceTree.h"

struct udev;

namespace ovra {

class UdevDeviceTree final : public DeviceTree {
public:
    UdevDeviceTree();
    ~UdevDeviceTree() override;
    UdevDeviceTree(const UdevDeviceTree&) = delete;
    UdevDeviceTree& operator=(const UdevDeviceTree&) = delete;

    bool ListPresentDevices(std::vector<DeviceNode>& nodes) override;
    std::unique_ptr<DeviceChangeSource> WatchChanges() override;

private:
    struct udev* udev_;
};

}  // namespace ovra
