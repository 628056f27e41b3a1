#pragma once
// What the library asks of the proxy: take hold of a device, give it up, and
// run the four kinds of control request that the device channels rest on.
// Every request answers like the proxy's request builders do: success, or
// failure with the error code the proxy left (0 when it left none).

#include <cstdint>
#include <span>

#include "platform/UsbNodeTree.h"

namespace ovra::brx {

using DeviceContext = std::uint64_t;

struct RequestOutcome {
    bool ok = false;
    std::uint32_t lastError = 0;    // Win32 code the failing step left; 0 = none
    std::uint32_t transferred = 0;  // bytes moved in the data stage
};

// A class-specific request to a unit of an interface: wValue = control
// selector << 8, wIndex = unit << 8 | interface.
struct ClassRequest {
    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint8_t controlSelector = 0;
    std::uint8_t unitId = 0;
    std::uint8_t interfaceNumber = 0;
    bool in = false;
    std::uint32_t timeoutMs = 5000;
};

struct VendorRequest {
    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    bool in = false;
    std::uint32_t timeoutMs = 5000;
};

class UsbRequests {
public:
    virtual ~UsbRequests() = default;

    // Has the proxy take hold of the device's interface. Fails with
    // ERROR_PATH_NOT_FOUND when the proxy channel is not open.
    virtual RequestOutcome OpenDevice(const UsbDeviceLocation& location, std::uint8_t interfaceNumber,
                                      DeviceContext* context) = 0;
    virtual bool CloseDevice(DeviceContext context) = 0;

    // Succeeds only when all 18 bytes came.
    virtual RequestOutcome GetDeviceDescriptor(DeviceContext context,
                                               std::span<std::uint8_t, 18> buffer) = 0;
    // Succeeds only when buffer.size() bytes came.
    virtual RequestOutcome GetConfigurationDescriptor(DeviceContext context,
                                                      std::span<std::uint8_t> buffer) = 0;
    // wLength = buffer.size().
    virtual RequestOutcome ClassInterfaceRequest(DeviceContext context, const ClassRequest& request,
                                                 std::span<std::uint8_t> buffer) = 0;
    virtual RequestOutcome VendorDeviceRequest(DeviceContext context, const VendorRequest& request,
                                               std::span<std::uint8_t> buffer) = 0;
};

}  // namespace ovra::brx
