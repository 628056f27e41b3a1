#include "bridge_library/DspRegisterWindow.h"

#include <array>

#include "bridge_library/SuperRegisterPacket.h"

namespace ovra::brx {
namespace {

constexpr std::uint32_t kCommand = 0x0000;
constexpr std::uint32_t kAddressLow = 0x0001;
constexpr std::uint32_t kAddressHigh = 0x0002;
constexpr std::uint32_t kDataLow = 0x0003;
constexpr std::uint32_t kDataHigh = 0x0004;
constexpr std::uint16_t kCommandWrite16 = 0x0001;
constexpr std::uint16_t kCommandRead = 0x0002;
constexpr std::uint16_t kCommandWrite32 = 0x0003;

bool WriteWord(VendorCmdCommon& channel, int slave, std::uint32_t reg, std::uint16_t word) {
    const std::array<std::uint8_t, 2> data{static_cast<std::uint8_t>(word >> 8),
                                           static_cast<std::uint8_t>(word)};
    auto packet = BuildSuperWritePacket(2, reg, data);
    return channel.I2CSuperWrite(static_cast<std::uint32_t>(slave), packet->channelLength,
                                 packet->bytes) == 0;
}

bool ReadWord(VendorCmdCommon& channel, int slave, std::uint32_t reg, std::uint16_t* word) {
    auto packet = BuildSuperReadPacket(2, reg, 2);
    if (channel.I2CSuperRead(static_cast<std::uint32_t>(slave), 2, packet->bytes) != 0) return false;
    *word = static_cast<std::uint16_t>((packet->bytes[0] << 8) | packet->bytes[1]);
    return true;
}

}  // namespace

bool ReadDspWindow(VendorCmdCommon& channel, int slave, std::uint32_t dspAddress, unsigned width,
                   std::uint32_t* value) {
    std::uint16_t low = 0;
    std::uint16_t high = 0;
    const bool ok = WriteWord(channel, slave, kAddressLow, static_cast<std::uint16_t>(dspAddress)) &&
                    WriteWord(channel, slave, kAddressHigh, static_cast<std::uint16_t>(dspAddress >> 16)) &&
                    WriteWord(channel, slave, kCommand, kCommandRead) &&
                    ReadWord(channel, slave, kDataLow, &low) && ReadWord(channel, slave, kDataHigh, &high);
    if (!ok) return false;
    if (width == 4) *value = (static_cast<std::uint32_t>(high) << 16) | low;
    else if (width == 2) *value = low;
    return true;
}

bool WriteDspWindow(VendorCmdCommon& channel, int slave, std::uint32_t dspAddress,
                    std::uint32_t value, unsigned width) {
    const auto low = static_cast<std::uint16_t>(value);
    const auto high = width == 4 ? static_cast<std::uint16_t>(value >> 16) : low;
    // Widths other than 2 and 4 keep the command word the bridge has always
    // been sent for them: the low byte of the value.
    const std::uint16_t command = width == 2   ? kCommandWrite16
                                  : width == 4 ? kCommandWrite32
                                               : static_cast<std::uint16_t>(value & 0xFF);
    return WriteWord(channel, slave, kAddressLow, static_cast<std::uint16_t>(dspAddress)) &&
           WriteWord(channel, slave, kAddressHigh, static_cast<std::uint16_t>(dspAddress >> 16)) &&
           WriteWord(channel, slave, kDataLow, low) && WriteWord(channel, slave, kDataHigh, high) &&
           WriteWord(channel, slave, kCommand, command);
}

}  // namespace ovra::brx
