#pragma once
// The library's side of the proxy request channel: take hold of a device
// through the proxy, give it up, send one URB, and the four URB builders the
// device channels rest on. Failures leave a Win32-style error code in
// LastError() (what the library turns into 0x8007xxxx), and write the
// library's log lines.

#include <cstdint>
#include <memory>
#include <span>

#include "platform/DebugLog.h"
#include "platform/ProxyChannel.h"
#include "platform/ProxyRecords.h"

namespace ovra::brx {

inline constexpr std::uint32_t kDefaultUrbTimeoutMs = 5000;

class ProxyClient {
public:
    explicit ProxyClient(DebugLog& log, proxy::RecordForm form = proxy::RecordForm::Bits64)
        : log_(log), form_(form) {}

    // The open control channel ("hProxyDriver"); null while closed.
    void Attach(std::unique_ptr<ProxyChannel> channel) { channel_ = std::move(channel); }
    std::unique_ptr<ProxyChannel> Detach() { return std::move(channel_); }
    bool IsOpen() const { return channel_ != nullptr; }
    proxy::RecordForm Form() const { return form_; }

    // Error code of the last failed request (ProxyError values); 0 = none.
    std::uint32_t LastError() const { return lastError_; }
    void SetLastError(std::uint32_t error) { lastError_ = error; }

    // KvProxy_Open: without a channel fails with PathNotFound.
    bool Open(std::uint64_t interfaceHandle, std::uint64_t* deviceContext);
    // KvProxy_Close: without a channel fails quietly.
    bool Close(std::uint64_t deviceContext);
    // KvProxy_SendUrb: `urb` is a URB of this client's form built in the
    // caller's memory; the proxy completes it in place.
    bool SendUrb(std::uint64_t deviceContext, std::span<std::uint8_t> urb, std::uint32_t timeoutMs);

    // The builders: true when the send succeeded and Hdr.Status is 0 (and,
    // for the descriptors, the whole asked length came).
    bool GetDeviceDescriptor(std::uint64_t deviceContext, std::span<std::uint8_t, 18> buffer);
    bool GetConfigureDescriptor(std::uint64_t deviceContext, std::span<std::uint8_t> buffer);
    // Class-specific interface request: wValue = selector << 8, wIndex =
    // unit << 8 | interface; wLength = buffer.size().
    bool UvcControlRequest(std::uint64_t deviceContext, std::uint8_t bmRequestType,
                           std::uint8_t bRequest, std::uint8_t controlSelector, std::uint8_t unitId,
                           std::uint8_t interfaceNumber, std::span<std::uint8_t> buffer, bool in,
                           std::uint32_t* transferred,
                           std::uint32_t timeoutMs = kDefaultUrbTimeoutMs);
    // Vendor request to the device; wLength = buffer.size().
    bool UsbVendorRequest(std::uint64_t deviceContext, std::uint8_t bmRequestType,
                          std::uint8_t bRequest, std::uint16_t wValue, std::uint16_t wIndex,
                          std::span<std::uint8_t> buffer, bool in, std::uint32_t* transferred,
                          std::uint32_t timeoutMs = kDefaultUrbTimeoutMs);

private:
    // Builds, sends, and reads back the URB; `status`/`transferred` from the
    // URB after the call.
    bool Transfer(std::uint64_t deviceContext, const proxy::ControlUrb& request,
                  std::uint32_t timeoutMs, std::uint32_t& status, std::uint32_t& transferred);
    // A vendor or class request; logs `failureLine` (with Hdr.Status) on failure.
    bool ControlRequest(std::uint64_t deviceContext, std::uint16_t function, std::uint8_t bmRequestType,
                        std::uint8_t bRequest, std::uint16_t wValue, std::uint16_t wIndex,
                        std::span<std::uint8_t> buffer, bool in, std::uint32_t* transferred,
                        std::uint32_t timeoutMs, const char* failureLine)
        __attribute__((format(printf, 12, 0)));

    DebugLog& log_;
    proxy::RecordForm form_;
    std::unique_ptr<ProxyChannel> channel_;
    std::uint32_t lastError_ = 0;
};

}  // namespace ovra::brx
