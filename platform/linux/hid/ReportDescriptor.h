#pragma once
// Our own HID report-descriptor parser: from the raw descriptor bytes that the
// kernel hands out (HIDIOCGRDESC) to the report lengths the transport needs.
// A pure function over untrusted bytes: every item is bounds-checked, every
// count is capped, and each step consumes at least one byte, so it always ends.

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/HidDevice.h"

namespace ovra {

// The kernel's own limits: larger descriptors or reports do not exist on hidraw.
inline constexpr std::size_t kMaxReportDescriptorSize = 4096;
inline constexpr std::size_t kMaxReportByteLength = 16384;

struct ReportDescriptorParse {
    bool ok = false;
    HidCapabilities capabilities;  // valid when ok
    std::size_t errorOffset = 0;   // byte offset of the offending item when !ok
    const char* error = "";        // static text, empty when ok
};

// Report byte lengths are the longest report of each kind, plus the report id
// byte (also when the device uses no report ids); 0 when the device has no
// report of that kind.
ReportDescriptorParse ParseReportDescriptor(std::span<const std::uint8_t> descriptor);

}  // namespace ovra
