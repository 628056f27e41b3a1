#include "device_access/HidHeadsetCommandBlock.h"

#include <cstdio>

#include "device_access/HexCommandCodec.h"

namespace ovra {
namespace {

// Every template has exactly as many tokens as its block has bytes, so the
// decode cannot fail; a zeroed block is the fallback all the same.
template <std::size_t N>
std::array<std::uint8_t, N> Decode(const char* text) {
    std::array<std::uint8_t, N> block{};
    if (!DecodeHexCommand(text, block)) block.fill(0);
    return block;
}

// A colour component as the templates want it: lower-case hexadecimal without
// leading zeros ("e6", "1a", "0").
unsigned Hex(double component) { return ColourComponentToDeviceByte(component); }

}  // namespace

std::uint8_t HidHeadsetModeCode(LightingEffect effect) {
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(effect) + 1);
}

std::optional<LightingEffect> HidHeadsetEffectFromMode(std::uint8_t mode) {
    if (mode == 0) return std::nullopt;
    return LightingEffectFromCode(mode - 1u);
}

HeadsetCommandBlock EncodeSetLEDEffect(LightingEffect effect, const Colour& colour) {
    char text[96];
    std::snprintf(text, sizeof text,
                  "52 04 00 %x %x %x 0%d 00 00 00 00 00 00 00 00 00 00 00 00 04 9A 80",
                  Hex(colour.red), Hex(colour.green), Hex(colour.blue),
                  static_cast<int>(HidHeadsetModeCode(effect)));
    return Decode<kHeadsetCommandLength>(text);
}

HeadsetCommandBlock EncodeSetLEDOff() {
    return Decode<kHeadsetCommandLength>(
        "52 04 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 04 9A 80");
}

HeadsetCommandBlock EncodeSetLEDFrame(std::uint8_t frame) {
    char text[96];
    std::snprintf(text, sizeof text,
                  "52 0C 00 %02X 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 9A 80",
                  static_cast<unsigned>(frame));
    return Decode<kHeadsetCommandLength>(text);
}

HeadsetCommandBlock EncodeGetLEDFrame() {
    return Decode<kHeadsetCommandLength>(
        "53 0B 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 9A 80");
}

HeadsetCommandBlock EncodeGetLEDSetting() {
    return Decode<kHeadsetCommandLength>(
        "53 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 04 9A 80");
}

HeadsetColourRecord EncodeHeadsetColourRecord(const Colour& colour) {
    char text[32];
    std::snprintf(text, sizeof text, "%x %x %x 01", Hex(colour.red), Hex(colour.green),
                  Hex(colour.blue));
    return Decode<4>(text);
}

}  // namespace ovra
