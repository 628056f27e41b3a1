#include "bridge_library/ProxyClientRequests.h"

namespace ovra::brx {

RequestOutcome ProxyClientRequests::Outcome(bool ok, std::uint32_t transferred) {
    RequestOutcome outcome;
    outcome.ok = ok;
    outcome.lastError = ok ? 0 : client_.LastError();
    outcome.transferred = transferred;
    return outcome;
}

RequestOutcome ProxyClientRequests::OpenDevice(const UsbDeviceLocation& location,
                                               std::uint8_t interfaceNumber, DeviceContext* context) {
    // A failed request that leaves no error of its own must not show the
    // error of an earlier one.
    client_.SetLastError(0);
    const std::uint64_t handle =
        proxy::MakeInterfaceHandle(location.busNumber, location.deviceAddress, interfaceNumber);
    return Outcome(client_.Open(handle, context));
}

bool ProxyClientRequests::CloseDevice(DeviceContext context) { return client_.Close(context); }

RequestOutcome ProxyClientRequests::GetDeviceDescriptor(DeviceContext context,
                                                        std::span<std::uint8_t, 18> buffer) {
    client_.SetLastError(0);
    const bool ok = client_.GetDeviceDescriptor(context, buffer);
    return Outcome(ok, ok ? 18 : 0);
}

RequestOutcome ProxyClientRequests::GetConfigurationDescriptor(DeviceContext context,
                                                               std::span<std::uint8_t> buffer) {
    client_.SetLastError(0);
    const bool ok = client_.GetConfigureDescriptor(context, buffer);
    return Outcome(ok, ok ? static_cast<std::uint32_t>(buffer.size()) : 0);
}

RequestOutcome ProxyClientRequests::ClassInterfaceRequest(DeviceContext context,
                                                          const ClassRequest& request,
                                                          std::span<std::uint8_t> buffer) {
    client_.SetLastError(0);
    std::uint32_t transferred = 0;
    const bool ok = client_.UvcControlRequest(context, request.bmRequestType, request.bRequest,
                                              request.controlSelector, request.unitId,
                                              request.interfaceNumber, buffer, request.in,
                                              &transferred, request.timeoutMs);
    return Outcome(ok, transferred);
}

RequestOutcome ProxyClientRequests::VendorDeviceRequest(DeviceContext context,
                                                        const VendorRequest& request,
                                                        std::span<std::uint8_t> buffer) {
    client_.SetLastError(0);
    std::uint32_t transferred = 0;
    const bool ok = client_.UsbVendorRequest(context, request.bmRequestType, request.bRequest,
                                             request.wValue, request.wIndex, buffer, request.in,
                                             &transferred, request.timeoutMs);
    return Outcome(ok, transferred);
}

}  // namespace ovra::brx
