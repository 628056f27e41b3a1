#pragma once
// Port: the HID part of the device tree: which HID devices are present (in the
// system's enumeration order) and opening one of them.

#include <memory>
#include <vector>

#include "platform/HidDevice.h"

namespace ovra {

class HidEnumerator {
public:
    virtual ~HidEnumerator() = default;

    // Present HID devices, in enumeration order.
    virtual std::vector<HidDeviceInfo> Enumerate() = 0;

    // Opens the device for reading and writing. Returns null and sets `status`
    // when it cannot (NotFound, AccessDenied, IoError).
    virtual std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info, HidStatus& status) = 0;
};

}  // namespace ovra
