#pragma once
// The super-register packet: the one buffer a register transfer hands to the
// command channel. The extension-unit channel sends it whole as its data
// phase, so its layout is a wire format:
//   0: direction (0 write, 1 read)   1: address width (1..4)
//   2..: address bytes, most significant first, zero up to offset 7
//   8..: data bytes (write only)
// The buffer carries 12 spare zero bytes beyond the data, as the channels
// read answers into it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace ovra::brx {

inline constexpr std::size_t kSuperHeaderSize = 8;
inline constexpr std::size_t kSuperMaxData = 60;
inline constexpr std::size_t kSuperSpare = 12;

struct SuperRegisterPacket {
    std::array<std::uint8_t, kSuperHeaderSize + kSuperMaxData + kSuperSpare> bytes{};
    // What the export passes to the channel: 8 + data length for a write,
    // the data length for a read.
    std::uint32_t channelLength = 0;

    std::uint8_t AddressWidth() const { return bytes[1]; }
    std::span<const std::uint8_t> AddressBytes() const { return {bytes.data() + 2, bytes[1]}; }
    std::span<std::uint8_t> Data() { return {bytes.data() + kSuperHeaderSize, kSuperMaxData}; }
};

// Null when the width is not 1..4 or the data exceed 60 bytes.
std::optional<SuperRegisterPacket> BuildSuperWritePacket(int addressWidth, std::uint32_t address,
                                                         std::span<const std::uint8_t> data);
std::optional<SuperRegisterPacket> BuildSuperReadPacket(int addressWidth, std::uint32_t address,
                                                        std::uint32_t length);

}  // namespace ovra::brx
