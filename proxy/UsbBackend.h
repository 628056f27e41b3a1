#pragma once
// What the proxy needs of the USB stack: open the device that holds a given
// interface, and run one control transfer on it. The program uses libusb
// (LibusbBackend); unit tests put the bridge-chip model behind it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/ProxyChannel.h"
#include "platform/ProxyRecords.h"

namespace ovra::proxy {

struct ControlSetup {
    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    std::uint16_t wLength = 0;
};

enum class TransferOutcome {
    Ok,
    Stall,
    Timeout,
    Gone,
    Busy,     // the interface is held by another program
    TooLong,  // a data stage above what usbfs takes in one control transfer (4096 bytes)
    Failed,   // anything else
};

struct TransferResult {
    TransferOutcome outcome = TransferOutcome::Ok;
    std::size_t transferred = 0;
};

class UsbDevice {
public:
    virtual ~UsbDevice() = default;
    // One control transfer; `data` is the data stage (wLength bytes). A
    // request addressed to an interface is run with that interface claimed.
    virtual TransferResult Control(const ControlSetup& setup, std::span<std::uint8_t> data,
                                   std::chrono::milliseconds timeout) = 0;
};

class UsbBackend {
public:
    virtual ~UsbBackend() = default;
    // Opens the device at `where` when it is a bridge device: the interface
    // exists and is an audio-control interface. Errors: DeviceNotConnected
    // (no such device), AccessDenied (may not open it), InvalidParameter (not
    // a bridge interface). Several opens of one device may share one handle.
    virtual std::shared_ptr<UsbDevice> Open(const InterfaceLocation& where, ProxyError& error) = 0;
};

}  // namespace ovra::proxy
