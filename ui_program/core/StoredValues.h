#pragma once
// Stored lighting values as the UI program may use them. A value that was
// never stored comes back out of range (effect 255, colour component 256);
// it must never become a live value, reach a device or be stored back.

#include <cmath>
#include <cstdint>
#include <optional>

#include "device_access/LightingTypes.h"

namespace ovra {

// The system's own default lighting (what the service also restores):
// breathing, red 229, green 26, blue 0.
inline constexpr LightingEffect kDefaultEffect = LightingEffect::Breathing;
inline constexpr Colour kDefaultColour{229, 26, 0};

inline LightingEffect SanitizedEffect(std::uint32_t code) {
    return LightingEffectFromCode(code).value_or(kDefaultEffect);
}

inline bool ComponentInRange(double component) {
    return std::isfinite(component) && component >= 0.0 && component <= 255.0;
}

inline bool ColourInRange(const Colour& colour) {
    return ComponentInRange(colour.red) && ComponentInRange(colour.green) &&
           ComponentInRange(colour.blue);
}

// A stored colour with any component out of range is replaced as a whole:
// by what the device showed when known, else by the default colour.
inline Colour SanitizedColour(const Colour& stored, std::optional<Colour> fallback = std::nullopt) {
    if (ColourInRange(stored)) return stored;
    return fallback.value_or(kDefaultColour);
}

inline double ClampedComponent(double component) {
    if (!std::isfinite(component)) return component > 0 ? 255.0 : 0.0;
    return component < 0 ? 0.0 : component > 255 ? 255.0 : component;
}

inline Colour ClampedColour(const Colour& colour) {
    return {ClampedComponent(colour.red), ClampedComponent(colour.green),
            ClampedComponent(colour.blue)};
}

}  // namespace ovra
