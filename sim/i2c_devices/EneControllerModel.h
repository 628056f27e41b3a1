#pragma once
// One ENE lighting controller of the TV520 headset (I2C addresses 0xCC and
// 0xCE), 8 LEDs. Its 16-bit register space is reached through a register
// pointer:
//   sub-address 0x00  write 2 bytes: set the pointer (high byte first)
//   sub-address 0x01  write 1 byte:  register[pointer] = byte
//   sub-address 0x03  write n+1 bytes [n, data...], n <= 32: block from the pointer
//   sub-address 0x81  read 1 byte:   register[pointer]
// Registers used for lighting:
//   0x8020 1 = colours driven directly by the host (music), 0 = own effect
//   0x8021 mode: 0 off, 1 static, 2 breathing, 3 strobing, 4 colour cycle, 5 rainbow
//   0x802F written 1 after each change
//   0x80A0 apply: 0x55 then 0xAA takes the staged effect
//   0x80F2 frame counter (written), 0x80F3 frame counter (read)
//   0x8100-0x8117 direct colour bank, 0x8160-0x8177 effect colour bank:
//   8 LEDs of 3 bytes each, in the order red, blue, green.

#include <cstdint>
#include <mutex>
#include <vector>

#include "sim/i2c/I2cDevice.h"
#include "sim/i2c_devices/I2cTransferLog.h"

namespace ovra::sim {

struct EneColour {
    std::uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const EneColour&) const = default;
};

class EneControllerModel final : public I2cDevice {
public:
    static constexpr std::uint8_t kFirstAddress = 0xCC;
    static constexpr std::uint8_t kSecondAddress = 0xCE;
    static constexpr std::uint16_t kDirectMode = 0x8020, kMode = 0x8021, kChanged = 0x802F;
    static constexpr std::uint16_t kApply = 0x80A0, kFrameWrite = 0x80F2, kFrameRead = 0x80F3;
    static constexpr std::uint16_t kDirectBank = 0x8100, kEffectBank = 0x8160;
    static constexpr int kLedCount = 8;
    static constexpr std::size_t kMaxBlock = 32;

    EneControllerModel();

    bool Write(std::uint32_t subAddress, std::span<const std::uint8_t> data) override;
    bool Read(std::uint32_t subAddress, std::span<std::uint8_t> data) override;

    std::uint8_t Register(std::uint16_t reg) const;
    std::uint16_t Pointer() const;
    EneColour LedColour(std::uint16_t bank, int led) const;
    int ApplyCount() const;          // completed 0x55/0xAA sequences
    std::uint8_t AppliedMode() const;  // mode taken by the last apply
    void AdvanceFrame(std::uint8_t steps);

    void SetNak(bool nak);
    I2cTransferLog& Log() { return log_; }

private:
    void Store(std::uint16_t reg, std::uint8_t value);  // with mutex_ held

    mutable std::mutex mutex_;
    std::vector<std::uint8_t> registers_;
    std::uint16_t pointer_ = 0;
    bool applyArmed_ = false;
    int applyCount_ = 0;
    std::uint8_t appliedMode_ = 0;
    bool nak_ = false;
    I2cTransferLog log_;
};

}  // namespace ovra::sim
