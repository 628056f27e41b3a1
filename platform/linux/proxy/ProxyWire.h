#pragma once
// Frames on the socket between the channel adapter (in the library's process)
// and the proxy program. The socket is SOCK_SEQPACKET, so one frame is one
// message. A request carries the control code, the KvProxyRequest record and,
// for a URB, the URB and its data stage by value (the proxy cannot reach the
// caller's memory); the answer carries the output record or the completed URB
// and, for a transfer to the host, the data.
//
//   request: u32 magic 'KVPX', u32 code, u32 record length, u32 output
//            capacity, u32 URB length, u32 data length, then record, URB, data
//   answer:  u32 magic 'KVPR', u32 error (ProxyError), u32 output length,
//            u32 URB length, u32 data length, then output, URB, data
// All numbers little-endian.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/ProxyChannel.h"
#include "platform/ProxyRecords.h"

namespace ovra::proxy {

inline constexpr std::uint32_t kRequestMagic = 0x5850564B;  // "KVPX"
inline constexpr std::uint32_t kAnswerMagic = 0x5250564B;   // "KVPR"
inline constexpr std::size_t kRequestHeaderSize = 24;
inline constexpr std::size_t kAnswerHeaderSize = 20;
// Largest frame either way: header, the larger record, the larger URB, a full
// 16-bit data stage.
inline constexpr std::size_t kMaxFrameSize =
    kRequestHeaderSize + kRequestSize64 + kUrbSize64 + kMaxTransferLength;

struct RequestFrame {
    std::uint32_t code = 0;
    std::uint32_t outputCapacity = 0;
    std::span<const std::uint8_t> record;
    std::span<const std::uint8_t> urb;
    std::span<const std::uint8_t> data;
};

struct AnswerFrame {
    ProxyError error = ProxyError::Ok;
    std::span<const std::uint8_t> output;
    std::span<const std::uint8_t> urb;
    std::span<const std::uint8_t> data;
};

inline std::vector<std::uint8_t> EncodeRequestFrame(std::uint32_t code, std::uint32_t outputCapacity,
                                                    std::span<const std::uint8_t> record,
                                                    std::span<const std::uint8_t> urb,
                                                    std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> f(kRequestHeaderSize + record.size() + urb.size() + data.size());
    PutLe32(f, 0, kRequestMagic);
    PutLe32(f, 4, code);
    PutLe32(f, 8, static_cast<std::uint32_t>(record.size()));
    PutLe32(f, 12, outputCapacity);
    PutLe32(f, 16, static_cast<std::uint32_t>(urb.size()));
    PutLe32(f, 20, static_cast<std::uint32_t>(data.size()));
    auto at = f.begin() + kRequestHeaderSize;
    at = std::copy(record.begin(), record.end(), at);
    at = std::copy(urb.begin(), urb.end(), at);
    std::copy(data.begin(), data.end(), at);
    return f;
}

// Splits a request frame; nullopt when the header is short, the magic wrong,
// or the lengths do not add up to the frame exactly.
inline std::optional<RequestFrame> DecodeRequestFrame(std::span<const std::uint8_t> f) {
    if (f.size() < kRequestHeaderSize || f.size() > kMaxFrameSize || Le32(f, 0) != kRequestMagic)
        return std::nullopt;
    const std::uint64_t record = Le32(f, 8), urb = Le32(f, 16), data = Le32(f, 20);
    if (kRequestHeaderSize + record + urb + data != f.size()) return std::nullopt;
    RequestFrame r;
    r.code = Le32(f, 4);
    r.outputCapacity = Le32(f, 12);
    r.record = f.subspan(kRequestHeaderSize, record);
    r.urb = f.subspan(kRequestHeaderSize + record, urb);
    r.data = f.subspan(kRequestHeaderSize + record + urb, data);
    return r;
}

inline std::vector<std::uint8_t> EncodeAnswerFrame(ProxyError error,
                                                   std::span<const std::uint8_t> output,
                                                   std::span<const std::uint8_t> urb,
                                                   std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> f(kAnswerHeaderSize + output.size() + urb.size() + data.size());
    PutLe32(f, 0, kAnswerMagic);
    PutLe32(f, 4, static_cast<std::uint32_t>(error));
    PutLe32(f, 8, static_cast<std::uint32_t>(output.size()));
    PutLe32(f, 12, static_cast<std::uint32_t>(urb.size()));
    PutLe32(f, 16, static_cast<std::uint32_t>(data.size()));
    auto at = f.begin() + kAnswerHeaderSize;
    at = std::copy(output.begin(), output.end(), at);
    at = std::copy(urb.begin(), urb.end(), at);
    std::copy(data.begin(), data.end(), at);
    return f;
}

inline std::optional<AnswerFrame> DecodeAnswerFrame(std::span<const std::uint8_t> f) {
    if (f.size() < kAnswerHeaderSize || Le32(f, 0) != kAnswerMagic) return std::nullopt;
    const std::uint64_t output = Le32(f, 8), urb = Le32(f, 12), data = Le32(f, 16);
    if (kAnswerHeaderSize + output + urb + data != f.size()) return std::nullopt;
    AnswerFrame a;
    a.error = static_cast<ProxyError>(Le32(f, 4));
    a.output = f.subspan(kAnswerHeaderSize, output);
    a.urb = f.subspan(kAnswerHeaderSize + output, urb);
    a.data = f.subspan(kAnswerHeaderSize + output + urb, data);
    return a;
}

// The abstract socket name of the proxy of this user: the user id is part of
// the name, and both ends check the other's credentials anyway (an abstract
// name can be taken by anyone). `instance` separates independent setups
// (tests, parallel runs); it comes from OVRA_PROXY_INSTANCE when set.
std::string ProxySocketName(unsigned uid, const std::string& instance);
std::string ProxyInstanceFromEnvironment();

}  // namespace ovra::proxy
