#pragma once
// The HID headsets' (Gen2, Gen2Entry) command blocks: 22 bytes that go to the
// bridge memory at 0x80-0x95. The lighting controller behind the bridge sits
// at device address 0x52 (0x53 to read its registers):
//   0x80 device address byte, 0x81 first register, 0x82 0x00,
//   0x83-0x92 register data, 0x93 register count, 0x94 0x9A, 0x95 0x80.
// Blocks are built from text templates with the command codec. Encoding
// allocates nothing.

#include <array>
#include <cstdint>
#include <optional>

#include "device_access/LightingTypes.h"

namespace ovra {

inline constexpr std::size_t kHeadsetCommandLength = 22;
using HeadsetCommandBlock = std::array<std::uint8_t, kHeadsetCommandLength>;

// The four bytes red, green, blue, 0x01 that the colour-only path stores in
// registers 0x04-0x07.
using HeadsetColourRecord = std::array<std::uint8_t, 4>;

// Effect to the headset's mode code (Static 1 ... Rainbow 6) and back.
std::uint8_t HidHeadsetModeCode(LightingEffect effect);
std::optional<LightingEffect> HidHeadsetEffectFromMode(std::uint8_t mode);

HeadsetCommandBlock EncodeSetLEDEffect(LightingEffect effect, const Colour& colour);
HeadsetCommandBlock EncodeSetLEDOff();
HeadsetCommandBlock EncodeSetLEDFrame(std::uint8_t frame);
HeadsetCommandBlock EncodeGetLEDFrame();
HeadsetCommandBlock EncodeGetLEDSetting();
HeadsetColourRecord EncodeHeadsetColourRecord(const Colour& colour);

}  // namespace ovra
