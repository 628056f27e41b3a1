#pragma once
// Which supported product a device node is, from its instance ID alone.
// A node qualifies when its ID, upper-cased, starts with "USB" and carries
// vendor 0D8C or 0B05 at character 8 (right after "USB\VID_"). The product
// text is what lies between "PID_" and the last backslash; only the exact
// four-digit texts of the table match, so interface nodes ("1855&MI_03")
// match nothing.

#include <optional>
#include <string>
#include <string_view>

#include "device_access/LightingTypes.h"

namespace ovra {

enum class ProductKind { HidHeadset, Gen2MidHeadset, Tv520Headset, Microphone };

struct ClassifiedProduct {
    std::string productText;  // "1855", "01AC", ...
    DeviceFamily family;
    ProductKind kind;
    bool IsHeadset() const { return kind != ProductKind::Microphone; }
};

std::optional<ClassifiedProduct> ClassifyInstanceId(std::string_view instanceId);

// The ids a HID headset is opened with: vendor 0D8C for product "01AC",
// otherwise 0B05.
UsbId HidHeadsetIds(std::string_view productText);

}  // namespace ovra
