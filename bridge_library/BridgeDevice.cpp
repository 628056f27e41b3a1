#include "bridge_library/BridgeDevice.h"

namespace ovra::brx {
namespace {

void CopyInfo(const CamDevInfo& from, CamDevInfo& to) {
    to.deviceDescriptor = from.deviceDescriptor;
    to.configuration = from.configuration;
    to.hasBridge = from.hasBridge;
    to.hasExtUnit = from.hasExtUnit;
    to.hasVendorRequest = from.hasVendorRequest;
    to.extUnitId = from.extUnitId;
    to.deviceStatus = from.deviceStatus;
}

}  // namespace

std::unique_ptr<BridgeDevice> BridgeDevice::Open(std::uint32_t instance, DeviceLocator& locator,
                                                 UsbRequests& requests, NamedObjects& named,
                                                 BrxLog& log, std::uint32_t* error) {
    CamLocation probe;
    if (const std::uint32_t code = locator.Open(instance, probe)) {
        *error = code;
        return nullptr;
    }
    if (!locator.ReadCamDevInfo(probe, false)) {
        locator.Destroy(probe);
        *error = kHresultFail;
        return nullptr;
    }

    // The object keeps a record of its own, with its own proxy context; the
    // probe's record goes before the open step returns.
    std::unique_ptr<BridgeDevice> device(new BridgeDevice(locator, instance));
    if (probe.filled && probe.instance != 0) locator.Open(probe.instance, device->location_);
    device->location_.info = std::make_unique<CamDevInfo>();
    CopyInfo(*probe.info, *device->location_.info);
    CopyInfo(*probe.info, device->info_);
    locator.Destroy(probe);

    if (device->info_.hasBridge) {
        if (device->info_.hasExtUnit) {
            device->extUnit_ = std::make_unique<ExtUnitChannel>(requests, device->location_,
                                                                device->info_.extUnitId, named, log);
        }
        if (device->info_.hasVendorRequest) {
            device->vendor_ = std::make_unique<VendorRequestChannel>(requests, device->location_, log);
        }
    }
    *error = 0;
    return device;
}

BridgeDevice::~BridgeDevice() {
    extUnit_.reset();
    vendor_.reset();
    locator_.Destroy(location_);
}

}  // namespace ovra::brx
