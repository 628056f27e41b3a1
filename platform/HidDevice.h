#pragma once
// Port: one opened HID device (a hidraw node on Linux). Each Open() of the
// enumerator gives an independent handle, so a reader thread can use a handle
// of its own while another thread writes.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace ovra {

enum class HidStatus {
    Ok,
    NotFound,        // no such device (any more)
    AccessDenied,    // the node exists but we may not open it (udev rule missing)
    Timeout,         // a bounded write or read did not complete in time (it was cancelled)
    Gone,            // the device was removed while open
    Interrupted,     // CancelReads() was called
    IoError,         // any other failure of the transfer
    InvalidArgument, // report too long/short for the device, empty buffer, ...
};

const char* ToString(HidStatus status);

// What the device's report descriptor tells. Lengths include the report id
// byte, also for devices that use no report ids (then byte 0 is 0), exactly as
// the HID capability record of the system reports them.
struct HidCapabilities {
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
    bool usesReportIds = false;
};

struct HidDeviceInfo {
    std::string node;       // device node, e.g. "/dev/hidraw3"
    std::string sysPath;    // sysfs path of the hidraw device
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

class HidDevice {
public:
    virtual ~HidDevice() = default;

    virtual const HidDeviceInfo& Info() const = 0;
    virtual const HidCapabilities& Capabilities() const = 0;

    // Writes one output report (byte 0 = report id). Completes within
    // `timeout` or is cancelled and reported as Timeout.
    virtual HidStatus WriteOutputReport(std::span<const std::uint8_t> report,
                                        std::chrono::milliseconds timeout) = 0;

    // Fetches an input report on demand. On entry buffer[0] holds the report id;
    // on success `length` is the number of bytes the device returned.
    virtual HidStatus GetInputReport(std::span<std::uint8_t> buffer, std::size_t& length) = 0;

    // Waits for the next interrupt-in report. A negative timeout waits without
    // limit; the wait always ends promptly after CancelReads().
    virtual HidStatus ReadInputReport(std::span<std::uint8_t> buffer, std::size_t& length,
                                      std::chrono::milliseconds timeout) = 0;

    // From any thread: every pending and later ReadInputReport on this handle
    // returns Interrupted. Used to stop a reader thread without killing it.
    virtual void CancelReads() = 0;
};

}  // namespace ovra
