#pragma once
// One connected device family's lighting operations, as the callers (apply,
// frame sync, read-back, the service's colour writes) use them. Each family
// implements it over its own transport (HID reports, bridge library,
// microphone library).

#include <cstdint>
#include <optional>

#include "device_access/LightingTypes.h"

namespace ovra {

// What a device reports about its current lighting: colour bytes and its own
// mode code (the family's code, not a LightingEffect).
struct DeviceLightingState {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    std::uint8_t mode = 0;
};

class LightingDevice {
public:
    virtual ~LightingDevice() = default;

    virtual DeviceFamily Family() const = 0;

    // Shows `colour` with `effect`. False when the device did not take it
    // (families whose transport reports no result return true).
    virtual bool SetLEDEffect(LightingEffect effect, const Colour& colour) = 0;
    virtual bool SetLEDOff() = 0;
    virtual bool SetLEDFrame(std::uint8_t frame) = 0;

    // Empty when the read failed or the family offers no such read.
    virtual std::optional<std::uint8_t> GetLEDFrame() = 0;
    virtual std::optional<DeviceLightingState> GetLEDSetting() = 0;

    // The service's colour-only write (no effect change).
    virtual bool WriteColour(const Colour& colour) = 0;
};

}  // namespace ovra
