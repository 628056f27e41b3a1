#pragma once
// The I2C side of the two bridge-attached headsets, as a bridge-chip model
// carries them: which device answers at which (8-bit) slave address.

#include <cstdint>

#include "sim/i2c_devices/DspWindowModel.h"
#include "sim/i2c_devices/EneControllerModel.h"
#include "sim/i2c_devices/Gen2MidRegisterModel.h"

namespace ovra::sim {

class I2cBusDevices {
public:
    virtual ~I2cBusDevices() = default;
    virtual std::uint16_t ProductId() const = 0;
    // The device at an 8-bit slave address, or null (the bridge sees a NAK).
    virtual I2cDevice* DeviceAt(std::uint8_t slave) = 0;
};

class Gen2MidHeadsetModel final : public I2cBusDevices {
public:
    static constexpr std::uint16_t kProductId = 0x1858;
    std::uint16_t ProductId() const override { return kProductId; }
    I2cDevice* DeviceAt(std::uint8_t slave) override {
        if (slave == Gen2MidRegisterModel::kAddress) return &registers;
        if (slave == DspWindowModel::kAddress) return &dsp;
        return nullptr;
    }

    Gen2MidRegisterModel registers;
    DspWindowModel dsp;
};

class Tv520HeadsetModel final : public I2cBusDevices {
public:
    static constexpr std::uint16_t kProductId = 0x1876;
    std::uint16_t ProductId() const override { return kProductId; }
    I2cDevice* DeviceAt(std::uint8_t slave) override {
        if (slave == EneControllerModel::kFirstAddress) return &first;
        if (slave == EneControllerModel::kSecondAddress) return &second;
        return nullptr;
    }

    EneControllerModel first;   // 0xCC
    EneControllerModel second;  // 0xCE
};

}  // namespace ovra::sim
