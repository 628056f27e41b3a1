#pragma once
// The MK470 microphone: 32-byte reports through the microphone library.
//   register write: 10 rr vv, the answer's byte 2 is the register as the device holds it
//   register dump:  81 00 00, the answer's bytes 4-7 are red, green, blue,
//                   mode and byte 11 the frame counter
// Every report is zero apart from the bytes the command sets.

#include "device_access/LightingDevice.h"
#include "device_access/MicBinding.h"

namespace ovra {

class Mk470Microphone final : public LightingDevice {
public:
    Mk470Microphone(MicBinding& mic, DebugLog& log) : mic_(mic), log_(log) {}

    DeviceFamily Family() const override { return DeviceFamily::MK470; }
    bool SetLEDEffect(LightingEffect effect, const Colour& colour) override;
    bool SetLEDOff() override { return SwitchOff().has_value(); }
    bool SetLEDFrame(std::uint8_t frame) override;
    std::optional<std::uint8_t> GetLEDFrame() override;
    std::optional<DeviceLightingState> GetLEDSetting() override;
    bool WriteColour(const Colour& colour) override;  // SetMicColor

    // SetLEDOff with the device's answer: byte 2, the effect value the
    // microphone now reports (normally 4, off). Empty when the exchange failed.
    std::optional<std::uint8_t> SwitchOff();

private:
    // Both with the device lock held; empty / false on a failed exchange.
    std::optional<MicReport> WriteRegister(std::uint8_t reg, std::uint8_t value);
    std::optional<MicReport> Dump();
    bool SetMicColor(const Colour& colour);

    MicBinding& mic_;
    DebugLog& log_;
};

}  // namespace ovra
