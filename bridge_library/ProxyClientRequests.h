#pragma once
// The library's device requests carried by the proxy client: the location of
// a device becomes the proxy's interface handle, and each request one URB.

#include "bridge_library/UsbRequests.h"
#include "bridge_library/install/ProxyClient.h"

namespace ovra::brx {

class ProxyClientRequests final : public UsbRequests {
public:
    explicit ProxyClientRequests(ProxyClient& client) : client_(client) {}

    RequestOutcome OpenDevice(const UsbDeviceLocation& location, std::uint8_t interfaceNumber,
                              DeviceContext* context) override;
    bool CloseDevice(DeviceContext context) override;
    RequestOutcome GetDeviceDescriptor(DeviceContext context, std::span<std::uint8_t, 18> buffer) override;
    RequestOutcome GetConfigurationDescriptor(DeviceContext context, std::span<std::uint8_t> buffer) override;
    RequestOutcome ClassInterfaceRequest(DeviceContext context, const ClassRequest& request,
                                         std::span<std::uint8_t> buffer) override;
    RequestOutcome VendorDeviceRequest(DeviceContext context, const VendorRequest& request,
                                       std::span<std::uint8_t> buffer) override;

private:
    RequestOutcome Outcome(bool ok, std::uint32_t transferred = 0);

    ProxyClient& client_;
};

}  // namespace ovra::brx
