#include "device_access/Tv520Headset.h"

#include <array>
#include <chrono>
#include <mutex>

#include "device_access/BridgeModeCodes.h"

namespace ovra {
namespace {

constexpr std::uint32_t kPointerSubAddress = 0x00;
constexpr std::uint32_t kDataSubAddress = 0x01;
constexpr std::uint32_t kBlockSubAddress = 0x03;
constexpr std::uint32_t kReadSubAddress = 0x81;

constexpr std::uint16_t kDirectMode = 0x8020;  // 1 while the host drives the colours (music)
constexpr std::uint16_t kMode = 0x8021;
constexpr std::uint16_t kChanged = 0x802F;
constexpr std::uint16_t kApply = 0x80A0;
constexpr std::uint16_t kFrameWrite = 0x80F2;
constexpr std::uint16_t kFrameRead = 0x80F3;
constexpr std::uint16_t kDirectBank = 0x8100;  // the service's colours
constexpr std::uint16_t kEffectBank = 0x8160;  // the colours of an effect

// The bracket around the UI's sequences (a request to the bridge firmware).
// A bridge reached only through its extension unit refuses it while the
// register writes still work, so its result does not decide an operation's.
constexpr int kBracketOpen = 3;
constexpr int kBracketClose = 2;

// The controller needs time between arming and confirming an apply.
constexpr auto kApplyDelay = std::chrono::milliseconds(50);

constexpr int kLedsPerController = 8;
using ColourBlock = std::array<std::uint8_t, kLedsPerController * 3>;

// All LEDs the same colour; each LED takes its bytes as red, blue, green.
ColourBlock MakeColourBlock(const Colour& colour) {
    const std::uint8_t red = ColourComponentToDeviceByte(colour.red);
    const std::uint8_t green = ColourComponentToDeviceByte(colour.green);
    const std::uint8_t blue = ColourComponentToDeviceByte(colour.blue);
    ColourBlock block{};
    for (int led = 0; led < kLedsPerController; ++led) {
        block[led * 3] = red;
        block[led * 3 + 1] = blue;
        block[led * 3 + 2] = green;
    }
    return block;
}

}  // namespace

bool Tv520Headset::SetRegisterPointer(std::uint8_t controller, std::uint16_t reg) {
    const std::uint8_t address[2] = {static_cast<std::uint8_t>(reg >> 8),
                                     static_cast<std::uint8_t>(reg & 0xFF)};
    return bridge_.WriteRegister(controller, kPointerSubAddress, address);
}

bool Tv520Headset::WriteENERegister(std::uint8_t controller, std::uint16_t reg,
                                    std::uint8_t value) {
    bool ok = SetRegisterPointer(controller, reg);
    const std::uint8_t data[1] = {value};
    ok &= bridge_.WriteRegister(controller, kDataSubAddress, data);
    return ok;
}

std::optional<std::uint8_t> Tv520Headset::ReadENERegister(std::uint8_t controller,
                                                          std::uint16_t reg) {
    // A pointer that did not reach the controller would make the read return
    // some other register: treat it as a failed read.
    const bool pointerSet = SetRegisterPointer(controller, reg);
    std::uint8_t value[1] = {0};
    if (!bridge_.ReadRegister(controller, kReadSubAddress, value) || !pointerSet)
        return std::nullopt;
    return value[0];
}

bool Tv520Headset::WriteENEBlock(std::uint8_t controller, std::uint16_t reg,
                                 std::span<const std::uint8_t> data) {
    bool ok = SetRegisterPointer(controller, reg);
    if (data.size() > kMaxBlock) return false;
    std::array<std::uint8_t, kMaxBlock + 1> packet{};
    packet[0] = static_cast<std::uint8_t>(data.size());  // the count precedes the data
    std::copy(data.begin(), data.end(), packet.begin() + 1);
    ok &= bridge_.WriteRegister(controller, kBlockSubAddress,
                                std::span<const std::uint8_t>(packet.data(), data.size() + 1));
    return ok;
}

bool Tv520Headset::ApplyENEChanges(std::uint8_t controller) {
    bool ok = WriteENERegister(controller, kApply, 0x55);
    clock_.SleepFor(kApplyDelay);
    ok &= WriteENERegister(controller, kApply, 0xAA);
    return ok;
}

bool Tv520Headset::SetLEDEffect(LightingEffect effect, const Colour& colour) {
    std::lock_guard lock(bridge_.DeviceLock());
    const bool music = effect == LightingEffect::Music;
    const ColourBlock block = MakeColourBlock(colour);
    const auto mode = Tv520ModeFor(effect);

    bridge_.CustomerControl(kBracketOpen);
    bool ok = true;
    for (const auto controller : kControllers) {
        ok &= WriteENERegister(controller, kDirectMode, music ? 1 : 0);
        ok &= WriteENERegister(controller, kChanged, 1);
        if (!music) ok &= WriteENEBlock(controller, kEffectBank, block);
        if (mode) ok &= WriteENERegister(controller, kMode, *mode);
    }
    for (const auto controller : kControllers) ok &= WriteENERegister(controller, kChanged, 1);
    if (music) {
        // The service's music loop writes the colours from here on; this
        // sequence ends with the bracket still open and nothing applied.
        return ok;
    }
    for (const auto controller : kControllers) ok &= ApplyENEChanges(controller);
    bridge_.CustomerControl(kBracketClose);
    return ok;
}

bool Tv520Headset::SetLEDOff() {
    std::lock_guard lock(bridge_.DeviceLock());
    bridge_.CustomerControl(kBracketOpen);
    bool ok = true;
    for (const auto controller : kControllers) {
        ok &= WriteENERegister(controller, kDirectMode, 0);
        ok &= WriteENERegister(controller, kChanged, 1);
        ok &= WriteENERegister(controller, kMode, kTv520ModeOff);
        ok &= WriteENERegister(controller, kChanged, 1);
        ok &= ApplyENEChanges(controller);
    }
    bridge_.CustomerControl(kBracketClose);
    return ok;
}

bool Tv520Headset::SetLEDFrame(std::uint8_t frame) {
    std::lock_guard lock(bridge_.DeviceLock());
    bridge_.CustomerControl(kBracketOpen);
    bool ok = true;
    for (const auto controller : kControllers) ok &= WriteENERegister(controller, kFrameWrite, frame);
    bridge_.CustomerControl(kBracketClose);
    return ok;
}

std::optional<std::uint8_t> Tv520Headset::GetLEDFrame() {
    std::lock_guard lock(bridge_.DeviceLock());
    bridge_.CustomerControl(kBracketOpen);
    const auto frame = ReadENERegister(kControllers[0], kFrameRead);
    bridge_.CustomerControl(kBracketClose);
    return frame;
}

bool Tv520Headset::WriteColour(const Colour& colour) {
    std::lock_guard lock(bridge_.DeviceLock());
    const ColourBlock block = MakeColourBlock(colour);
    bool ok = true;
    for (const auto controller : kControllers) ok &= WriteENEBlock(controller, kDirectBank, block);
    for (const auto controller : kControllers) ok &= WriteENERegister(controller, kChanged, 1);
    return ok;
}

}  // namespace ovra
