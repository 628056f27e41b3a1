#include "device_access/BridgeModeCodes.h"

namespace ovra {

std::uint8_t Gen2MidModeFor(LightingEffect effect) {
    switch (effect) {
        case LightingEffect::Static: return 1;
        case LightingEffect::Breathing: return 2;
        case LightingEffect::Strobing: return 3;
        case LightingEffect::ColorCycle: return 4;
        case LightingEffect::Music: return 1;  // the service drives the colour over a static light
        case LightingEffect::Rainbow: return 6;
    }
    return 1;
}

std::optional<std::uint8_t> Tv520ModeFor(LightingEffect effect) {
    switch (effect) {
        case LightingEffect::Static: return 1;
        case LightingEffect::Breathing: return 2;
        case LightingEffect::Strobing: return 3;
        case LightingEffect::ColorCycle: return 4;
        case LightingEffect::Music: return std::nullopt;  // 0x8020 = 1 hands the colours to the host
        case LightingEffect::Rainbow: return 5;
    }
    return 1;
}

std::uint8_t Mk470ModeFor(LightingEffect effect) {
    switch (effect) {
        case LightingEffect::Static: return 1;
        case LightingEffect::Breathing: return 2;
        case LightingEffect::Strobing: return 3;    // no strobing of its own: colour cycle
        case LightingEffect::ColorCycle: return 3;
        case LightingEffect::Music: return 1;
        case LightingEffect::Rainbow: return 6;
    }
    return 1;
}

std::optional<LightingEffect> Mk470ReadBackEffect(std::uint8_t mode, LightingEffect storedEffect) {
    switch (mode) {
        case 1: return LightingEffect::Static;
        case 2: return LightingEffect::Breathing;
        case 3: return LightingEffect::ColorCycle;
        case kMk470ModeOff: return storedEffect;
        default: return std::nullopt;
    }
}

std::uint32_t Mk470PollValue(std::uint8_t mode) {
    switch (mode) {
        case 2: return 1;
        case 3: return 3;
        case kMk470ModeOff: return 4;
        default: return 0;
    }
}

}  // namespace ovra
