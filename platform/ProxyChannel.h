#pragma once
// Port: the control channel of the USB proxy "KvsUpx" (the library opens
// "\\.\KvsUpx" and sends control codes to it, as with DeviceIoControl). The
// records and control codes are in platform/ProxyRecords.h. The Linux adapter
// is a same-user abstract Unix socket to the proxy program
// (platform/linux/proxy/); peers of another user are refused both ways.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace ovra {

// A closed set of failures. The numbers are the error codes the bridge
// library reports for them (it logs them and turns them into 0x8007xxxx), so
// they are kept equal to the codes the library has always shown.
enum class ProxyError : std::uint32_t {
    Ok = 0,
    InvalidFunction = 1,       // unknown control code
    FileNotFound = 2,          // no proxy serves the channel name
    PathNotFound = 3,          // the channel is not open
    AccessDenied = 5,          // the other end belongs to another user
    InvalidHandle = 6,         // a device context the proxy did not issue (or closed)
    NotReady = 21,             // the device cannot take requests yet (waking up)
    GenFailure = 31,           // the device failed the transfer (stall, garbage)
    BrokenPipe = 109,          // the proxy went away during the request
    InvalidParameter = 87,     // malformed record or URB
    SemTimeout = 121,          // the device did not complete the transfer in time
    InsufficientBuffer = 122,  // output buffer too small for the answer
    Busy = 170,                // the interface is held by another program
    DeviceNotConnected = 1167, // the device is gone
};

inline const char* ToString(ProxyError e) {
    switch (e) {
        case ProxyError::Ok: return "ok";
        case ProxyError::InvalidFunction: return "unknown control code";
        case ProxyError::FileNotFound: return "no proxy serves the channel";
        case ProxyError::PathNotFound: return "channel not open";
        case ProxyError::AccessDenied: return "peer belongs to another user";
        case ProxyError::InvalidHandle: return "unknown device context";
        case ProxyError::NotReady: return "device not ready";
        case ProxyError::GenFailure: return "device failed the transfer";
        case ProxyError::BrokenPipe: return "proxy went away";
        case ProxyError::InvalidParameter: return "malformed request";
        case ProxyError::SemTimeout: return "transfer timed out";
        case ProxyError::InsufficientBuffer: return "output buffer too small";
        case ProxyError::Busy: return "interface busy";
        case ProxyError::DeviceNotConnected: return "device not connected";
    }
    return "unknown error";
}

class ProxyChannel {
public:
    virtual ~ProxyChannel() = default;

    // One synchronous request. `input` is a KvProxyRequest of either form
    // (24 or 32 bytes); `output` receives the answer record (open only);
    // `bytesReturned` (optional) the bytes written to it.
    //
    // For kIoctlSendUrb the record's URB address names a URB in this
    // process's memory (Hdr.Length = the layout size of the record's form),
    // whose TransferBuffer names its data stage of TransferBufferLength bytes.
    // The channel carries both to the proxy and leaves the proxy's answer in
    // place: Hdr.Status, TransferBufferLength and, for a transfer to the host,
    // the data. The URB is updated also when the request fails, so that the
    // caller can log Hdr.Status.
    virtual ProxyError DeviceIoControl(std::uint32_t code, std::span<const std::uint8_t> input,
                                       std::span<std::uint8_t> output,
                                       std::size_t* bytesReturned) = 0;

    // False once the proxy at the other end is known to be gone (it ended or
    // was stopped): no request on this channel can succeed any more.
    virtual bool Alive() { return true; }
};

class ProxyChannelOpener {
public:
    virtual ~ProxyChannelOpener() = default;

    // Opens the channel by its name ("\\.\KvsUpx"). Null with FileNotFound
    // when no proxy serves it, AccessDenied when the proxy that serves it
    // belongs to another user.
    virtual std::unique_ptr<ProxyChannel> Open(std::string_view name, ProxyError& error) = 0;
};

}  // namespace ovra
