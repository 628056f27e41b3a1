#pragma once
// The Gen2Mid headset: single register writes to its lighting device at I2C
// address 0x52 through the plain copy of the bridge library. The headset
// needs 30 ms after an effect or off before it takes the next command. It is
// never read back; its Bluetooth link state is read through the DSP window.

#include "device_access/BridgeBinding.h"
#include "device_access/LightingDevice.h"
#include "platform/Clock.h"

namespace ovra {

class Gen2MidHeadset final : public LightingDevice {
public:
    static constexpr std::uint8_t kLightingAddress = 0x52;
    static constexpr std::uint8_t kDspAddress = 0x5A;
    static constexpr std::uint32_t kBleStatusRegister = 0x1800C412;

    Gen2MidHeadset(BridgeBinding& plain, Clock& clock) : bridge_(plain), clock_(clock) {}

    DeviceFamily Family() const override { return DeviceFamily::Gen2Mid; }
    bool SetLEDEffect(LightingEffect effect, const Colour& colour) override;
    bool SetLEDOff() override;
    bool SetLEDFrame(std::uint8_t frame) override;
    std::optional<std::uint8_t> GetLEDFrame() override { return std::nullopt; }
    std::optional<DeviceLightingState> GetLEDSetting() override { return std::nullopt; }
    bool WriteColour(const Colour& colour) override;

    // True only when the headset reports its BLE status as 1; a failed read
    // or an unbound function counts as off.
    bool BleStatusOn();

private:
    bool WriteRegister(std::uint8_t reg, std::uint8_t value);  // with the device lock held
    bool WriteColourRegisters(const Colour& colour);

    BridgeBinding& bridge_;
    Clock& clock_;
};

}  // namespace ovra
