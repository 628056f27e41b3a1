#pragma once
// The lighting vocabulary both programs share: effects, device families and
// one device's lighting choice.

#include <cstdint>
#include <optional>
#include <string_view>

namespace ovra {

// The numbers are stored ("LED Service Behavior") and exchanged between the
// programs: never renumber.
enum class LightingEffect : std::uint32_t {
    Static = 0,
    Breathing = 1,
    Strobing = 2,
    ColorCycle = 3,
    Music = 4,
    Rainbow = 5,
};

inline constexpr std::uint32_t kLightingEffectCount = 6;

std::optional<LightingEffect> LightingEffectFromCode(std::uint32_t code);
std::string_view LightingEffectName(LightingEffect effect);  // "static", "colorcycle", ...
std::optional<LightingEffect> LightingEffectFromName(std::string_view name);

enum class DeviceFamily {
    Gen2,       // HID headset, 0B05:1855 and 0D8C:01AC
    Gen2Entry,  // HID single-colour headset, 0B05:1859
    Gen2Mid,    // bridge-attached headset, 0B05:1858, register device 0x52
    TV520,      // bridge-attached headset, 0B05:1876, ENE controllers 0xCC and 0xCE
    MK470,      // microphone, 0B05:1842
};

std::string_view DeviceFamilyName(DeviceFamily family);  // "Gen2", "Gen2Entry", ...

struct UsbId {
    std::uint16_t vendor;
    std::uint16_t product;
};

struct Colour {
    double red = 0;
    double green = 0;
    double blue = 0;
};

struct LightingSetting {
    LightingEffect effect = LightingEffect::Static;
    Colour colour;
    int lightSwitch = 1;  // 1 = on, 0 = off
};

// A colour component as the device receives it: rounded half up. Components
// are clamped to 0..255 first, so an out-of-range value (such as the store's
// "never written" 256) can never wrap to a dark byte.
std::uint8_t ColourComponentToDeviceByte(double component);

}  // namespace ovra
