#include "device_access/Gen2MidHeadset.h"

#include <chrono>
#include <mutex>

#include "device_access/BridgeModeCodes.h"

namespace ovra {
namespace {

constexpr std::uint8_t kRed = 0x04, kGreen = 0x05, kBlue = 0x06, kMode = 0x07;
constexpr std::uint8_t kFrameWrite = 0x0C;
// The headset's controller is busy for this long after an effect change.
constexpr auto kSettleTime = std::chrono::milliseconds(30);

}  // namespace

bool Gen2MidHeadset::WriteRegister(std::uint8_t reg, std::uint8_t value) {
    const std::uint8_t byte[1] = {value};
    return bridge_.WriteRegister(kLightingAddress, reg, byte);
}

bool Gen2MidHeadset::WriteColourRegisters(const Colour& colour) {
    bool ok = WriteRegister(kRed, ColourComponentToDeviceByte(colour.red));
    ok &= WriteRegister(kGreen, ColourComponentToDeviceByte(colour.green));
    ok &= WriteRegister(kBlue, ColourComponentToDeviceByte(colour.blue));
    return ok;
}

bool Gen2MidHeadset::SetLEDEffect(LightingEffect effect, const Colour& colour) {
    std::lock_guard lock(bridge_.DeviceLock());
    bool ok = WriteColourRegisters(colour);
    ok &= WriteRegister(kMode, Gen2MidModeFor(effect));
    clock_.SleepFor(kSettleTime);
    return ok;
}

bool Gen2MidHeadset::SetLEDOff() {
    std::lock_guard lock(bridge_.DeviceLock());
    const bool ok = WriteRegister(kMode, kGen2MidModeOff);
    clock_.SleepFor(kSettleTime);
    return ok;
}

bool Gen2MidHeadset::SetLEDFrame(std::uint8_t frame) {
    std::lock_guard lock(bridge_.DeviceLock());
    return WriteRegister(kFrameWrite, frame);
}

bool Gen2MidHeadset::WriteColour(const Colour& colour) {
    std::lock_guard lock(bridge_.DeviceLock());
    return WriteColourRegisters(colour);
}

bool Gen2MidHeadset::BleStatusOn() {
    std::lock_guard lock(bridge_.DeviceLock());
    std::uint32_t status = 0;
    if (!bridge_.ReadDspRegister(kDspAddress, kBleStatusRegister, status)) return false;
    return status == 1;
}

}  // namespace ovra
