#include "bridge_library/VendorRequestChannel.h"

#include <algorithm>
#include <array>

namespace ovra::brx {
namespace {

constexpr std::uint8_t kVendorOut = 0x40;
constexpr std::uint8_t kVendorIn = 0xC0;
constexpr std::uint8_t kRequestStatus = 0x07;
constexpr std::uint8_t kRequestWriteMem = 0x24;
constexpr std::uint8_t kRequestReadMem = 0x25;
constexpr std::uint8_t kRequestSuperRead = 0x3D;
constexpr std::uint8_t kRequestSuperWrite = 0x3E;
constexpr std::uint8_t kRequestCustomer = 0x6A;
constexpr std::size_t kMemPiece = 4096;
constexpr std::size_t kSuperBuffer = 128;

// Form B: length bits 19..16 and address bits 19..16 ride in wValue's high
// byte, the low address half in wIndex.
std::uint16_t FormBValue(std::uint32_t address, std::uint32_t length) {
    const std::uint32_t high = (((length >> 16) & 0xF) << 4) | ((address >> 16) & 0xF);
    return static_cast<std::uint16_t>(high << 8);
}

std::size_t SafeWidth(std::span<const std::uint8_t> packet) {
    return packet.size() > 1 ? std::min<std::size_t>(packet[1], 4) : 0;
}

}  // namespace

std::uint32_t ReadVendorStatus(UsbRequests& requests, DeviceContext context,
                               std::uint32_t firstPiece, std::span<std::uint8_t> buffer) {
    for (std::size_t piece = 0; piece * 8 < buffer.size(); ++piece) {
        auto chunk = buffer.subspan(piece * 8, std::min<std::size_t>(8, buffer.size() - piece * 8));
        std::array<std::uint8_t, 8> answer{};
        VendorRequest request;
        request.bmRequestType = kVendorIn;
        request.bRequest = kRequestStatus;
        request.wValue = static_cast<std::uint16_t>((firstPiece + piece) & 0xFF);
        request.in = true;
        request.timeoutMs = kVendorTimeoutMs;
        const RequestOutcome outcome = requests.VendorDeviceRequest(context, request, answer);
        if (!outcome.ok) return HresultFromError(outcome.lastError);
        if (outcome.transferred < 8) return kHresultFail;
        std::copy_n(answer.begin(), chunk.size(), chunk.begin());
    }
    return 0;
}

std::uint32_t VendorRequestChannel::Send(std::uint8_t requestType, std::uint8_t request,
                                         std::uint16_t value, std::uint16_t index,
                                         std::span<std::uint8_t> data) {
    VendorRequest r;
    r.bmRequestType = requestType;
    r.bRequest = request;
    r.wValue = value;
    r.wIndex = index;
    r.in = (requestType & 0x80) != 0;
    r.timeoutMs = kVendorTimeoutMs;
    const RequestOutcome outcome = requests_.VendorDeviceRequest(location_.context, r, data);
    std::uint32_t code = 0;
    if (!outcome.ok) {
        code = HresultFromError(outcome.lastError);
    } else if (r.in && outcome.transferred < data.size()) {
        code = kHresultFail;  // the device answered short: the rest would be stale bytes
    }
    if (code != 0) log_.Line("CVendorRequestV2 SendRequest failed: %08x\n", code);
    return code;
}

std::uint32_t VendorRequestChannel::GetDevStatus(std::uint32_t firstPiece,
                                                 std::span<std::uint8_t> buffer) {
    const std::uint32_t code = ReadVendorStatus(requests_, location_.context, firstPiece, buffer);
    if (code != 0) log_.Line("CVendorRequestV2 SendRequest failed: %08x\n", code);
    return code;
}

std::uint32_t VendorRequestChannel::MemPiece(bool read, std::uint32_t address,
                                             std::span<std::uint8_t> piece) {
    const auto length = static_cast<std::uint32_t>(piece.size());
    return Send(read ? kVendorIn : kVendorOut, read ? kRequestReadMem : kRequestWriteMem,
                FormBValue(address, length), static_cast<std::uint16_t>(address & 0xFFFF), piece);
}

std::uint32_t VendorRequestChannel::ReadMem(std::uint32_t address, std::span<std::uint8_t> buffer,
                                            ProgressCallback progress, void* user) {
    while (!buffer.empty()) {
        auto piece = buffer.first(std::min(kMemPiece, buffer.size()));
        if (const std::uint32_t code = MemPiece(true, address, piece)) return code;
        if (progress) progress(user, static_cast<std::uint32_t>(piece.size()));
        address += static_cast<std::uint32_t>(piece.size());
        buffer = buffer.subspan(piece.size());
    }
    return 0;
}

std::uint32_t VendorRequestChannel::WriteMem(std::uint32_t address,
                                             std::span<const std::uint8_t> buffer,
                                             ProgressCallback progress, void* user) {
    std::array<std::uint8_t, kMemPiece> piece{};
    while (!buffer.empty()) {
        const std::size_t n = std::min(kMemPiece, buffer.size());
        std::copy_n(buffer.begin(), n, piece.begin());
        if (const std::uint32_t code = MemPiece(false, address, std::span(piece).first(n))) return code;
        if (progress) progress(user, static_cast<std::uint32_t>(n));
        address += static_cast<std::uint32_t>(n);
        buffer = buffer.subspan(n);
    }
    return 0;
}

std::uint32_t VendorRequestChannel::I2CSuperRead(std::uint32_t slave, std::uint32_t length,
                                                 std::span<std::uint8_t> packet) {
    const std::size_t width = SafeWidth(packet);
    if (length > packet.size() || length + width > kSuperBuffer) return kHresultInvalidArg;
    std::array<std::uint8_t, kSuperBuffer> local{};
    std::copy_n(packet.begin() + 2, width, local.begin());
    const auto value = static_cast<std::uint16_t>((slave & 0xFF) >> 1);
    const auto index = static_cast<std::uint16_t>((length & 0xFF) << 8);
    auto stage = std::span(local).first(length + width);
    if (const std::uint32_t code = Send(kVendorOut, kRequestSuperRead, value, index, stage)) return code;
    // The answer comes back in the same buffer and length as the request.
    VendorRequest r;
    r.bmRequestType = kVendorIn;
    r.bRequest = kRequestSuperRead;
    r.wValue = value;
    r.wIndex = index;
    r.in = true;
    r.timeoutMs = kVendorTimeoutMs;
    const RequestOutcome outcome = requests_.VendorDeviceRequest(location_.context, r, stage);
    std::uint32_t code = 0;
    if (!outcome.ok) code = HresultFromError(outcome.lastError);
    else if (outcome.transferred < length) code = kHresultFail;
    if (code != 0) {
        log_.Line("CVendorRequestV2 SendRequest failed: %08x\n", code);
        return code;
    }
    std::copy_n(local.begin(), length, packet.begin());
    return 0;
}

std::uint32_t VendorRequestChannel::I2CSuperWrite(std::uint32_t slave, std::uint32_t length,
                                                  std::span<const std::uint8_t> packet) {
    const std::size_t width = SafeWidth(packet);
    if (length < 8 || length > packet.size() || (length - 8) + width > kSuperBuffer) {
        return kHresultInvalidArg;
    }
    const std::size_t dataLength = length - 8;
    std::array<std::uint8_t, kSuperBuffer> local{};
    std::copy_n(packet.begin() + 2, width, local.begin());
    std::copy_n(packet.begin() + 8, dataLength, local.begin() + static_cast<std::ptrdiff_t>(width));
    const auto value = static_cast<std::uint16_t>((slave & 0xFF) >> 1);
    const auto index = static_cast<std::uint16_t>((dataLength & 0xFF) << 8);
    return Send(kVendorOut, kRequestSuperWrite, value, index,
                std::span(local).first(dataLength + width));
}

std::uint32_t VendorRequestChannel::CustomerControl(std::uint32_t mode) {
    return Send(kVendorOut, kRequestCustomer, static_cast<std::uint16_t>(mode & 0xFF), 0, {});
}

}  // namespace ovra::brx
