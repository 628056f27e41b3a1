#pragma once
// The DSP register window: a 32-bit register space of the DSP behind the I2C
// slave, reached through five 16-bit window registers, each moved as one
// super-register transfer (2 address bytes, 2 data bytes, MSB first):
//   0x0000 command (1 write 16 bits, 2 read, 3 write 32 bits)
//   0x0001/0x0002 DSP address low/high, 0x0003/0x0004 data low/high

#include <cstdint>

#include "bridge_library/VendorCmdCommon.h"

namespace ovra::brx {

// Both stop at the first failed transfer and answer false.
bool ReadDspWindow(VendorCmdCommon& channel, int slave, std::uint32_t dspAddress, unsigned width,
                   std::uint32_t* value);
bool WriteDspWindow(VendorCmdCommon& channel, int slave, std::uint32_t dspAddress,
                    std::uint32_t value, unsigned width);

}  // namespace ovra::brx
