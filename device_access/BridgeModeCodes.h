#pragma once
// What the bridge-attached headsets and the microphone are sent for each
// effect, and how the microphone's mode byte reads back. These codes are the
// devices' own; they differ per family on purpose (the microphone has no
// strobing of its own, the TV520 numbers rainbow 5).

#include <cstdint>
#include <optional>

#include "device_access/LightingTypes.h"

namespace ovra {

// Gen2Mid register 0x07.
std::uint8_t Gen2MidModeFor(LightingEffect effect);
inline constexpr std::uint8_t kGen2MidModeOff = 0;

// TV520 register 0x8021; empty for Music, which writes no mode.
std::optional<std::uint8_t> Tv520ModeFor(LightingEffect effect);
inline constexpr std::uint8_t kTv520ModeOff = 0;

// MK470 register 0x07.
std::uint8_t Mk470ModeFor(LightingEffect effect);
inline constexpr std::uint8_t kMk470ModeOff = 4;

// The microphone's mode byte as an effect when reading its setting back:
// 1 Static, 2 Breathing, 3 ColorCycle, 4 (off) the effect stored for the
// microphone; any other value leaves the caller's effect unchanged (empty).
std::optional<LightingEffect> Mk470ReadBackEffect(std::uint8_t mode, LightingEffect storedEffect);

// The microphone's mode byte as the 500 ms poll compares it: 1 -> 0, 2 -> 1,
// 3 -> 3, 4 -> 4 (off), anything else -> 0.
std::uint32_t Mk470PollValue(std::uint8_t mode);

}  // namespace ovra
