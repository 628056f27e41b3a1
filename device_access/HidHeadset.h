#pragma once
// Lighting of the HID headsets (Gen2, Gen2Entry). The headset is reached
// through a 256-byte bridge memory behind its HID interface: 16-byte output
// reports with report id 1 write it (up to 12 bytes each) or ask for up to
// 10 bytes of it, and an on-demand input report answers. Commands are 22-byte
// blocks at 0x80 (HidHeadsetCommandBlock.h); 0x94/0x95 are the control bytes.
//
// Every operation holds the device's operation lock for all its reports, so
// the UI thread and the frame-sync thread never interleave on one headset.
// A transfer succeeds only when every one of its reports did.

#include <cstdint>
#include <optional>
#include <span>

#include "device_access/HidControl.h"
#include "device_access/HidHeadsetCommandBlock.h"
#include "device_access/LightingDevice.h"
#include "platform/Clock.h"
#include "platform/DebugLog.h"

namespace ovra {

class HidHeadset final : public LightingDevice {
public:
    static constexpr std::size_t kReportLength = 16;  // report id included
    static constexpr std::size_t kMaxWritePiece = 12;
    static constexpr std::size_t kMaxReadPiece = 10;

    // `hid` must be open; it stays owned by the caller.
    HidHeadset(DeviceFamily family, HidControl& hid, Clock& clock, DebugLog& log);

    DeviceFamily Family() const override { return family_; }
    bool SetLEDEffect(LightingEffect effect, const Colour& colour) override;
    bool SetLEDOff() override;
    bool SetLEDFrame(std::uint8_t frame) override;
    std::optional<std::uint8_t> GetLEDFrame() override;
    std::optional<DeviceLightingState> GetLEDSetting() override;
    // The colour goes to registers 0x04-0x07 one device transaction at a time
    // (WriteHeadsetEEPROM); logs "\nWrite EEPROM Fail!!\n" when it fails.
    bool WriteColour(const Colour& colour) override;

    // Protocol steps, each one whole operation under the operation lock.
    bool PrepareTransaction();
    bool WriteBridgeMemory(std::uint16_t address, std::span<const std::uint8_t> data);
    bool ReadBridgeMemory(std::uint16_t address, std::span<std::uint8_t> buffer);
    // `record` is red, green, blue, 0x01 (EncodeHeadsetColourRecord).
    bool WriteHeadsetEEPROM(std::span<const std::uint8_t> record);

private:
    bool PrepareTransactionLocked();
    bool WriteBridgeMemoryLocked(std::uint16_t address, std::span<const std::uint8_t> data);
    bool ReadBridgeMemoryLocked(std::uint16_t address, std::span<std::uint8_t> buffer);
    bool SendReadRequest(std::uint16_t address, std::size_t count);
    bool WriteHeadsetEEPROMLocked(std::span<const std::uint8_t> record);
    bool WaitForCommandDone();
    bool WriteCommand(const HeadsetCommandBlock& block, const char* failureLine);
    std::optional<HeadsetCommandBlock> ReadCommand(const HeadsetCommandBlock& block,
                                                   const char* writeFailureLine,
                                                   const char* readFailureLine);

    const DeviceFamily family_;
    HidControl& hid_;
    Clock& clock_;
    DebugLog& log_;
};

}  // namespace ovra
