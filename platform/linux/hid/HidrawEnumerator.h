#pragma once
// HidEnumerator over libudev: every hidraw node with the USB vendor/product of
// the USB device above it, in libudev's enumeration order (sorted by sysfs
// path), which is the order in which the system picks the first match.

#include "platform/DebugLog.h"
#include "platform/HidEnumerator.h"

namespace ovra {

class HidrawEnumerator final : public HidEnumerator {
public:
    explicit HidrawEnumerator(DebugLog& log) : log_(log) {}

    std::vector<HidDeviceInfo> Enumerate() override;
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info, HidStatus& status) override;

private:
    DebugLog& log_;
};

// Parses a sysfs id attribute such as "0b05\n": 1-4 hex digits, then only
// white space. False for anything else.
bool ParseUsbIdAttribute(const char* text, std::uint16_t& id);

}  // namespace ovra
