#pragma once
// The Gen2Mid headset's lighting device at I2C address 0x52: a file of 256
// byte registers addressed by a one-byte sub-address. Multi-byte transfers run
// on to the following registers. The lighting registers:
//   0x04-0x06 red, green, blue; 0x07 mode (0 = off);
//   0x0B animation frame counter (read); 0x0C frame counter (written: sets it).

#include <array>
#include <cstdint>
#include <mutex>

#include "sim/i2c/I2cDevice.h"
#include "sim/i2c_devices/I2cTransferLog.h"

namespace ovra::sim {

class Gen2MidRegisterModel final : public I2cDevice {
public:
    static constexpr std::uint8_t kAddress = 0x52;
    static constexpr std::uint8_t kRed = 0x04, kGreen = 0x05, kBlue = 0x06, kMode = 0x07;
    static constexpr std::uint8_t kFrameRead = 0x0B, kFrameWrite = 0x0C;

    bool Write(std::uint32_t subAddress, std::span<const std::uint8_t> data) override;
    bool Read(std::uint32_t subAddress, std::span<std::uint8_t> data) override;

    std::uint8_t Register(std::uint8_t reg) const;
    std::uint8_t Frame() const { return Register(kFrameRead); }
    void AdvanceFrame(std::uint8_t steps);  // the device's own animation

    void SetNak(bool nak);  // the device stops answering (every transfer NAKs)
    I2cTransferLog& Log() { return log_; }

private:
    mutable std::mutex mutex_;
    std::array<std::uint8_t, 256> registers_{};
    bool nak_ = false;
    I2cTransferLog log_;
};

}  // namespace ovra::sim
