#pragma once
// One opened bridge device: its own location record (its own proxy context),
// a copy of what the device told about itself, and the command channels it
// offers. Destroying it closes the channels and gives the device back.

#include <memory>

#include "bridge_library/DeviceLocator.h"
#include "bridge_library/ExtUnitChannel.h"
#include "bridge_library/VendorRequestChannel.h"

namespace ovra::brx {

class BridgeDevice {
public:
    // The open step: locate and open the node, read what it tells, and make
    // the device object (with channels when the device is a bridge).
    // Null with `error` set when any step fails.
    static std::unique_ptr<BridgeDevice> Open(std::uint32_t instance, DeviceLocator& locator,
                                              UsbRequests& requests, NamedObjects& named,
                                              BrxLog& log, std::uint32_t* error);
    ~BridgeDevice();
    BridgeDevice(const BridgeDevice&) = delete;
    BridgeDevice& operator=(const BridgeDevice&) = delete;

    const CamDevInfo& Info() const { return info_; }
    std::uint32_t Instance() const { return instance_; }

    // Makes sure the own record holds its device information.
    bool EnsureInfo() { return locator_.ReadCamDevInfo(location_, false); }

    // Handed out only when the device information says the device has them.
    VendorRequestChannel* VendorChannel() { return info_.hasVendorRequest ? vendor_.get() : nullptr; }
    ExtUnitChannel* ExtUnit() { return info_.hasExtUnit ? extUnit_.get() : nullptr; }

private:
    BridgeDevice(DeviceLocator& locator, std::uint32_t instance) : locator_(locator), instance_(instance) {}

    DeviceLocator& locator_;
    std::uint32_t instance_;
    CamLocation location_;
    CamDevInfo info_;
    std::unique_ptr<ExtUnitChannel> extUnit_;
    std::unique_ptr<VendorRequestChannel> vendor_;
};

}  // namespace ovra::brx
