#pragma once
// The seam through which ovractl reaches every supported device family. One
// provider per transport (HID reports, bridge library, microphone library)
// finds its devices and opens a LightingDevice for one of them; adding a
// family is adding a provider to the list the composition root builds.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device_access/LightingDevice.h"
#include "device_access/LightingTypes.h"

namespace ovra::ovractl {

enum class DeviceKind { Headset, Microphone };

struct FoundDevice {
    DeviceFamily family;
    UsbId id;
    std::string node;  // where it was found (device node, bus path)
    DeviceKind kind;
};

// What `get` can show for a family.
struct ReadableFields {
    bool setting = false;  // colour and mode
    bool frame = false;
};

class FamilyProvider {
public:
    virtual ~FamilyProvider() = default;

    // Supported devices of this provider's families that are present now.
    virtual std::vector<FoundDevice> Find() = 0;

    // Connects to the device; null (after a log line) when it cannot.
    virtual std::unique_ptr<LightingDevice> Open(const FoundDevice& device) = 0;

    virtual ReadableFields Reads(DeviceFamily family) const = 0;

    // The family's mode code as an effect, when it names one.
    virtual std::optional<LightingEffect> EffectFromMode(DeviceFamily family,
                                                         std::uint8_t mode) const = 0;
};

}  // namespace ovra::ovractl
