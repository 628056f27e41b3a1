#pragma once
// The TV520 headset: two ENE lighting controllers (I2C 0xCC and 0xCE, always
// in this order, 8 LEDs each) behind the ENE copy of the bridge library. The
// UI's sequences are bracketed by USB_Customer_Control(3) ... (2); the
// service's colour-only write is not.

#include <span>

#include "device_access/BridgeBinding.h"
#include "device_access/LightingDevice.h"
#include "platform/Clock.h"

namespace ovra {

class Tv520Headset final : public LightingDevice {
public:
    static constexpr std::uint8_t kControllers[2] = {0xCC, 0xCE};
    static constexpr std::size_t kMaxBlock = 32;

    Tv520Headset(BridgeBinding& ene, Clock& clock) : bridge_(ene), clock_(clock) {}

    DeviceFamily Family() const override { return DeviceFamily::TV520; }
    bool SetLEDEffect(LightingEffect effect, const Colour& colour) override;
    bool SetLEDOff() override;
    bool SetLEDFrame(std::uint8_t frame) override;
    std::optional<std::uint8_t> GetLEDFrame() override;
    std::optional<DeviceLightingState> GetLEDSetting() override { return std::nullopt; }
    bool WriteColour(const Colour& colour) override;

    // The register-level steps, for callers that hold DeviceLock() themselves
    // (the operations above take it for their whole sequence).
    bool WriteENERegister(std::uint8_t controller, std::uint16_t reg, std::uint8_t value);
    std::optional<std::uint8_t> ReadENERegister(std::uint8_t controller, std::uint16_t reg);
    // More than 32 data bytes do not fit the controller's block buffer: only
    // the register address is sent and the result is false.
    bool WriteENEBlock(std::uint8_t controller, std::uint16_t reg,
                       std::span<const std::uint8_t> data);
    bool ApplyENEChanges(std::uint8_t controller);

private:
    bool SetRegisterPointer(std::uint8_t controller, std::uint16_t reg);

    BridgeBinding& bridge_;
    Clock& clock_;
};

}  // namespace ovra
