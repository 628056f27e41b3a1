#include "bridge_library/install/ProxyClient.h"

#include <array>
#include <vector>

namespace ovra::brx {

using namespace ovra::proxy;

namespace {
std::uint64_t AddressOf(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }
}  // namespace

bool ProxyClient::Open(std::uint64_t interfaceHandle, std::uint64_t* deviceContext) {
    if (!channel_) {
        lastError_ = static_cast<std::uint32_t>(ProxyError::PathNotFound);
        return false;
    }
    KvProxyRequest r;
    r.interfaceHandle = interfaceHandle;
    std::array<std::uint8_t, kRequestSize64> record{};
    const std::span<std::uint8_t> bytes(record.data(), RequestSize(form_));
    if (!FitsForm(r, form_)) {
        lastError_ = static_cast<std::uint32_t>(ProxyError::InvalidParameter);
        log_.Printf("IOCTL_KVPROXY_OPEN_DEVICE_BY_HANDLE failed %d\n", static_cast<int>(lastError_));
        return false;
    }
    EncodeRequest(r, form_, bytes);
    std::size_t returned = 0;
    const ProxyError e = channel_->DeviceIoControl(kIoctlOpenDeviceByHandle, bytes, bytes, &returned);
    if (e != ProxyError::Ok || returned != bytes.size()) {
        lastError_ = static_cast<std::uint32_t>(e == ProxyError::Ok ? ProxyError::GenFailure : e);
        log_.Printf("IOCTL_KVPROXY_OPEN_DEVICE_BY_HANDLE failed %d\n", static_cast<int>(lastError_));
        return false;
    }
    if (deviceContext) *deviceContext = Le64(bytes, ContextOffset(form_));
    return true;
}

bool ProxyClient::Close(std::uint64_t deviceContext) {
    if (!channel_) return false;
    KvProxyRequest r;
    r.deviceContext = deviceContext;
    std::array<std::uint8_t, kRequestSize64> record{};
    const std::span<std::uint8_t> bytes(record.data(), RequestSize(form_));
    EncodeRequest(r, form_, bytes);
    const ProxyError e = channel_->DeviceIoControl(kIoctlCloseDevice, bytes, {}, nullptr);
    if (e != ProxyError::Ok) {
        lastError_ = static_cast<std::uint32_t>(e);
        log_.Printf("IOCTL_KVPROXY_CLOSE_DEVICE failed %d\n", static_cast<int>(lastError_));
        return false;
    }
    return true;
}

bool ProxyClient::SendUrb(std::uint64_t deviceContext, std::span<std::uint8_t> urb,
                          std::uint32_t timeoutMs) {
    if (!channel_) return false;
    KvProxyRequest r;
    r.deviceContext = deviceContext;
    r.urbAddress = AddressOf(urb.data());
    r.timeoutMs = timeoutMs;
    std::array<std::uint8_t, kRequestSize64> record{};
    const std::span<std::uint8_t> bytes(record.data(), RequestSize(form_));
    ProxyError e = ProxyError::InvalidParameter;
    if (urb.size() == UrbSize(form_) && FitsForm(r, form_)) {
        EncodeRequest(r, form_, bytes);
        e = channel_->DeviceIoControl(kIoctlSendUrb, bytes, {}, nullptr);
    }
    if (e != ProxyError::Ok) {
        // The caller's last error stays as the proxy left it: the open step
        // waits on NotReady for a device that is waking up.
        lastError_ = static_cast<std::uint32_t>(e);
        log_.Printf("IOCTL_KVPROXY_SEND_URB failed %d\n", static_cast<int>(lastError_));
        return false;
    }
    return true;
}

bool ProxyClient::Transfer(std::uint64_t deviceContext, const ControlUrb& request,
                           std::uint32_t timeoutMs, std::uint32_t& status,
                           std::uint32_t& transferred) {
    std::array<std::uint8_t, kUrbSize64> storage{};
    const std::span<std::uint8_t> urb(storage.data(), UrbSize(form_));
    EncodeUrb(request, form_, urb);
    const bool sent = SendUrb(deviceContext, urb, timeoutMs);
    const auto back = DecodeUrb(urb, form_);
    status = back ? back->status : kUsbdStatusInvalidParameter;
    transferred = back ? back->transferBufferLength : 0;
    return sent;
}

bool ProxyClient::GetDeviceDescriptor(std::uint64_t deviceContext,
                                      std::span<std::uint8_t, 18> buffer) {
    ControlUrb u;
    u.function = kUrbFunctionGetDescriptorFromDevice;
    u.transferBufferLength = 18;
    u.transferBuffer = AddressOf(buffer.data());
    u.descriptorType = 1;
    std::uint32_t status = 0, transferred = 0;
    const bool sent = Transfer(deviceContext, u, kDefaultUrbTimeoutMs, status, transferred);
    if (sent && status == 0 && transferred == 18) return true;
    log_.Printf("Urb failed %08X\n", status);
    return false;
}

bool ProxyClient::GetConfigureDescriptor(std::uint64_t deviceContext,
                                         std::span<std::uint8_t> buffer) {
    ControlUrb u;
    u.function = kUrbFunctionGetDescriptorFromDevice;
    u.transferBufferLength = static_cast<std::uint32_t>(buffer.size());
    u.transferBuffer = AddressOf(buffer.data());
    u.descriptorType = 2;
    std::uint32_t status = 0, transferred = 0;
    const bool sent = Transfer(deviceContext, u, kDefaultUrbTimeoutMs, status, transferred);
    if (sent && status == 0 && transferred == buffer.size()) return true;
    log_.Printf("GetConfigureDescriptor failed, UrbStatus %08X\n", status);
    return false;
}

bool ProxyClient::ControlRequest(std::uint64_t deviceContext, std::uint16_t function,
                                 std::uint8_t bmRequestType, std::uint8_t bRequest,
                                 std::uint16_t wValue, std::uint16_t wIndex,
                                 std::span<std::uint8_t> buffer, bool in,
                                 std::uint32_t* transferred, std::uint32_t timeoutMs,
                                 const char* failureLine) {
    ControlUrb u;
    u.function = function;
    u.transferFlags = in ? kTransferDirectionIn : 0;
    u.transferBufferLength = static_cast<std::uint32_t>(buffer.size());
    u.transferBuffer = AddressOf(buffer.data());
    u.requestType = bmRequestType;
    u.request = bRequest;
    u.value = wValue;
    u.index = wIndex;
    std::uint32_t status = 0, moved = 0;
    const bool sent = Transfer(deviceContext, u, timeoutMs, status, moved);
    if (sent && status == 0) {
        if (transferred) *transferred = moved;
        return true;
    }
    log_.Printf(failureLine, status);
    return false;
}

bool ProxyClient::UvcControlRequest(std::uint64_t deviceContext, std::uint8_t bmRequestType,
                                    std::uint8_t bRequest, std::uint8_t controlSelector,
                                    std::uint8_t unitId, std::uint8_t interfaceNumber,
                                    std::span<std::uint8_t> buffer, bool in,
                                    std::uint32_t* transferred, std::uint32_t timeoutMs) {
    return ControlRequest(deviceContext, kUrbFunctionClassInterface, bmRequestType, bRequest,
                          static_cast<std::uint16_t>(controlSelector << 8),
                          static_cast<std::uint16_t>(unitId << 8 | interfaceNumber), buffer, in,
                          transferred, timeoutMs, "UvcControlRequest failed, UrbStatus %08X\n");
}

bool ProxyClient::UsbVendorRequest(std::uint64_t deviceContext, std::uint8_t bmRequestType,
                                   std::uint8_t bRequest, std::uint16_t wValue,
                                   std::uint16_t wIndex, std::span<std::uint8_t> buffer, bool in,
                                   std::uint32_t* transferred, std::uint32_t timeoutMs) {
    log_.Printf("requestType is 0x%02x, request is 0x%02x\n", bmRequestType, bRequest);
    return ControlRequest(deviceContext, kUrbFunctionVendorDevice, bmRequestType, bRequest, wValue,
                          wIndex, buffer, in, transferred, timeoutMs,
                          "UsbVendorRequest failed, UrbStatus %08X\n");
}

}  // namespace ovra::brx
