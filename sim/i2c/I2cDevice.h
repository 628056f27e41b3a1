#pragma once
// A device on the bridge chip's I2C bus, seen from the device's side. The
// bridge-chip model forwards its register transfers to the device at the
// addressed slave address. Models lock internally.

#include <cstdint>
#include <span>

namespace ovra::sim {

class I2cDevice {
public:
    virtual ~I2cDevice() = default;

    // A write transfer: `subAddress` (already assembled from its 1..4 address
    // bytes) followed by the data bytes. Returns false when the device NAKs.
    virtual bool Write(std::uint32_t subAddress, std::span<const std::uint8_t> data) = 0;

    // A read transfer of data.size() bytes from `subAddress`. Returns false on NAK.
    virtual bool Read(std::uint32_t subAddress, std::span<std::uint8_t> data) = 0;
};

}  // namespace ovra::sim
