#pragma once
// Every request is checked here before anything touches a device: the frame,
// the control code, the record's size and unused fields, and for a URB its
// size, Hdr.Length, function, the request's type and direction, and that its
// length matches the data carried. Pure function of the bytes received.

#include <cstdint>
#include <optional>
#include <span>
#include <variant>

#include "platform/ProxyChannel.h"
#include "platform/ProxyRecords.h"

namespace ovra::proxy {

struct OpenRequest {
    InterfaceLocation where;
};
struct CloseRequest {
    std::uint64_t context = 0;
};
struct UrbRequest {
    std::uint64_t context = 0;
    ControlUrb urb;
    std::uint8_t bmRequestType = 0;  // as the proxy sends it: from function and direction
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    bool in = false;
    std::uint32_t timeoutMs = 0;     // 0 = the proxy's own (64-bit form carries none)
};

struct ValidatedRequest {
    std::uint32_t code = 0;
    RecordForm form = RecordForm::Bits64;
    std::span<const std::uint8_t> record;
    std::span<const std::uint8_t> urbBytes;
    std::span<const std::uint8_t> data;
    std::variant<OpenRequest, CloseRequest, UrbRequest> request;
};

struct Rejection {
    ProxyError error = ProxyError::InvalidParameter;
    // When the URB itself was readable, the status to leave in it.
    std::optional<std::uint32_t> urbStatus;
    const char* reason = "";
};

// Either a request the proxy may run, or why not.
std::variant<ValidatedRequest, Rejection> ValidateRequest(std::span<const std::uint8_t> frame);

}  // namespace ovra::proxy
