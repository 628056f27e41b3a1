#pragma once
// The Gen2Mid headset's DSP as reached at I2C address 0x5A: a 32-bit register
// space seen through five 16-bit window registers (two-byte sub-address, two
// data bytes, most significant first):
//   0x0000 command (1 = write low 16 bits, 2 = read, 3 = write 32 bits)
//   0x0001 / 0x0002 DSP address bits 15-0 / 31-16
//   0x0003 / 0x0004 data bits 15-0 / 31-16
// A read command latches the addressed value into the data registers.
// The headset's Bluetooth link state lives at kBleStatus (1 = on).

#include <cstdint>
#include <map>
#include <mutex>

#include "sim/i2c/I2cDevice.h"
#include "sim/i2c_devices/I2cTransferLog.h"

namespace ovra::sim {

class DspWindowModel final : public I2cDevice {
public:
    static constexpr std::uint8_t kAddress = 0x5A;
    static constexpr std::uint32_t kBleStatus = 0x1800C412;

    bool Write(std::uint32_t subAddress, std::span<const std::uint8_t> data) override;
    bool Read(std::uint32_t subAddress, std::span<std::uint8_t> data) override;

    void SetDspValue(std::uint32_t address, std::uint32_t value);
    std::uint32_t DspValue(std::uint32_t address) const;
    void SetBleStatus(bool on) { SetDspValue(kBleStatus, on ? 1u : 0u); }

    void SetNak(bool nak);
    I2cTransferLog& Log() { return log_; }

private:
    void RunCommand(std::uint16_t command);  // with mutex_ held

    mutable std::mutex mutex_;
    std::uint16_t window_[5] = {};
    std::map<std::uint32_t, std::uint32_t> memory_;
    bool nak_ = false;
    I2cTransferLog log_;
};

}  // namespace ovra::sim
