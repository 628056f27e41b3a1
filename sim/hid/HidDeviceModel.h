#pragma once
// A HID device as seen from the device's side. A model is hosted either
// in-process behind the HidDevice port (unit tests) or behind umockdev, where
// the real hidraw adapter talks to it through /dev/hidrawN. Models lock
// internally: hosts call them from any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ovra::sim {

// What the device does with one request from the host.
enum class ModelAction {
    Accept,    // request taken (for an input request: `length` bytes answered)
    Reject,    // the device refuses (wrong size/id, address out of range): the transfer fails
    NoAnswer,  // the device never completes the request (stall): the host times out
    Unplug,    // the device disappears during this request
};

struct ModelReply {
    ModelAction action = ModelAction::Accept;
    std::size_t length = 0;  // bytes answered, for input requests
};

class HidDeviceModel {
public:
    virtual ~HidDeviceModel() = default;

    virtual std::uint16_t VendorId() const = 0;
    virtual std::uint16_t ProductId() const = 0;
    virtual std::string ProductName() const = 0;
    virtual std::vector<std::uint8_t> ReportDescriptor() const = 0;

    // An output report as written to the node: byte 0 is the report id.
    virtual ModelReply OnOutputReport(std::span<const std::uint8_t> report) = 0;

    // An on-demand input report (HIDIOCGINPUT): buffer[0] holds the requested
    // report id; the model fills the buffer and answers the length it wrote.
    virtual ModelReply OnGetInputReport(std::span<std::uint8_t> buffer) = 0;

    // The next interrupt-in report the device sends, if any. Hosts ask after
    // every output report.
    virtual std::optional<std::vector<std::uint8_t>> TakeInterruptReport() { return std::nullopt; }
};

}  // namespace ovra::sim
