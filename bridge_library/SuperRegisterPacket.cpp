#include "bridge_library/SuperRegisterPacket.h"

#include <algorithm>

namespace ovra::brx {
namespace {

std::optional<SuperRegisterPacket> BuildHeader(std::uint8_t direction, int addressWidth,
                                               std::uint32_t address) {
    if (addressWidth < 1 || addressWidth > 4) return std::nullopt;
    SuperRegisterPacket packet;
    packet.bytes[0] = direction;
    packet.bytes[1] = static_cast<std::uint8_t>(addressWidth);
    for (int i = 0; i < addressWidth; ++i) {
        const int shift = 8 * (addressWidth - 1 - i);
        packet.bytes[2 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(address >> shift);
    }
    return packet;
}

}  // namespace

std::optional<SuperRegisterPacket> BuildSuperWritePacket(int addressWidth, std::uint32_t address,
                                                         std::span<const std::uint8_t> data) {
    if (data.size() > kSuperMaxData) return std::nullopt;
    auto packet = BuildHeader(0, addressWidth, address);
    if (!packet) return std::nullopt;
    std::copy(data.begin(), data.end(), packet->bytes.begin() + kSuperHeaderSize);
    packet->channelLength = static_cast<std::uint32_t>(kSuperHeaderSize + data.size());
    return packet;
}

std::optional<SuperRegisterPacket> BuildSuperReadPacket(int addressWidth, std::uint32_t address,
                                                        std::uint32_t length) {
    if (length > kSuperMaxData) return std::nullopt;
    auto packet = BuildHeader(1, addressWidth, address);
    if (!packet) return std::nullopt;
    packet->channelLength = length;
    return packet;
}

}  // namespace ovra::brx
