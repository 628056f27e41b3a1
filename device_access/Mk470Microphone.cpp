#include "device_access/Mk470Microphone.h"

#include <mutex>

#include "device_access/BridgeModeCodes.h"

namespace ovra {
namespace {

constexpr std::uint8_t kWriteCommand = 0x10;
constexpr std::uint8_t kDumpCommand = 0x81;
constexpr std::uint8_t kRed = 0x04, kGreen = 0x05, kBlue = 0x06, kMode = 0x07;
constexpr std::uint8_t kFrameWrite = 0x0C;
constexpr std::size_t kDumpColour = 4, kDumpMode = 7, kDumpFrame = 11;

}  // namespace

std::optional<MicReport> Mk470Microphone::WriteRegister(std::uint8_t reg, std::uint8_t value) {
    MicReport report{};
    report[0] = kWriteCommand;
    report[1] = reg;
    report[2] = value;
    if (!mic_.Exchange(report)) return std::nullopt;
    return report;
}

std::optional<MicReport> Mk470Microphone::Dump() {
    MicReport report{};
    report[0] = kDumpCommand;
    if (!mic_.Exchange(report)) return std::nullopt;
    return report;
}

bool Mk470Microphone::SetMicColor(const Colour& colour) {
    bool ok = WriteRegister(kRed, ColourComponentToDeviceByte(colour.red)).has_value();
    ok &= WriteRegister(kGreen, ColourComponentToDeviceByte(colour.green)).has_value();
    ok &= WriteRegister(kBlue, ColourComponentToDeviceByte(colour.blue)).has_value();
    return ok;
}

bool Mk470Microphone::SetLEDEffect(LightingEffect effect, const Colour& colour) {
    std::lock_guard lock(mic_.DeviceLock());
    bool ok = SetMicColor(colour);
    ok &= WriteRegister(kMode, Mk470ModeFor(effect)).has_value();
    return ok;
}

std::optional<std::uint8_t> Mk470Microphone::SwitchOff() {
    std::lock_guard lock(mic_.DeviceLock());
    const auto answer = WriteRegister(kMode, kMk470ModeOff);
    if (!answer) return std::nullopt;
    return (*answer)[2];
}

bool Mk470Microphone::SetLEDFrame(std::uint8_t frame) {
    std::lock_guard lock(mic_.DeviceLock());
    const auto answer = WriteRegister(kFrameWrite, frame);
    if (!answer) {
        log_.Write("\nSetLEDFrame to MK470 Failed!\n");
        return false;
    }
    log_.Printf("%d\n\n", (*answer)[2]);
    return true;
}

std::optional<std::uint8_t> Mk470Microphone::GetLEDFrame() {
    std::lock_guard lock(mic_.DeviceLock());
    const auto answer = Dump();
    if (!answer) return std::nullopt;
    return (*answer)[kDumpFrame];
}

std::optional<DeviceLightingState> Mk470Microphone::GetLEDSetting() {
    std::lock_guard lock(mic_.DeviceLock());
    const auto answer = Dump();
    if (!answer) return std::nullopt;
    DeviceLightingState state;
    state.red = (*answer)[kDumpColour];
    state.green = (*answer)[kDumpColour + 1];
    state.blue = (*answer)[kDumpColour + 2];
    state.mode = (*answer)[kDumpMode];
    log_.Printf("Mic: %lu %lu %lu %lu\n", static_cast<unsigned long>(state.red),
                static_cast<unsigned long>(state.green), static_cast<unsigned long>(state.blue),
                static_cast<unsigned long>(state.mode));
    return state;
}

bool Mk470Microphone::WriteColour(const Colour& colour) {
    std::lock_guard lock(mic_.DeviceLock());
    return SetMicColor(colour);
}

}  // namespace ovra
