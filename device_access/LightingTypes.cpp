#include "device_access/LightingTypes.h"

#include <array>
#include <cmath>

namespace ovra {
namespace {

constexpr std::array<std::string_view, kLightingEffectCount> kEffectNames = {
    "static", "breathing", "strobing", "colorcycle", "music", "rainbow"};

}  // namespace

std::optional<LightingEffect> LightingEffectFromCode(std::uint32_t code) {
    if (code >= kLightingEffectCount) return std::nullopt;
    return static_cast<LightingEffect>(code);
}

std::string_view LightingEffectName(LightingEffect effect) {
    const auto code = static_cast<std::uint32_t>(effect);
    return code < kLightingEffectCount ? kEffectNames[code] : std::string_view("unknown");
}

std::optional<LightingEffect> LightingEffectFromName(std::string_view name) {
    for (std::uint32_t code = 0; code < kLightingEffectCount; ++code)
        if (kEffectNames[code] == name) return static_cast<LightingEffect>(code);
    return std::nullopt;
}

std::string_view DeviceFamilyName(DeviceFamily family) {
    switch (family) {
        case DeviceFamily::Gen2: return "Gen2";
        case DeviceFamily::Gen2Entry: return "Gen2Entry";
        case DeviceFamily::Gen2Mid: return "Gen2Mid";
        case DeviceFamily::TV520: return "TV520";
        case DeviceFamily::MK470: return "MK470";
    }
    return "unknown";
}

std::uint8_t ColourComponentToDeviceByte(double component) {
    if (std::isnan(component) || component <= 0.0) return 0;
    if (component >= 255.0) return 255;
    return static_cast<std::uint8_t>(std::trunc(component + 0.5));
}

}  // namespace ovra
