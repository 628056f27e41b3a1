#pragma once
// One client connection of the proxy: the device contexts it was issued and
// the requests it sends. A context is a random 64-bit number that is valid
// only on the connection that opened it; everything a client sends is
// validated first (RequestValidator) and every failure is an answer with an
// error, never a crash.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <vector>

#include "platform/DebugLog.h"
#include "proxy/RequestValidator.h"
#include "proxy/UsbBackend.h"

namespace ovra::proxy {

// Most contexts one connection may hold at once: the library holds two per
// device for a moment (the open step's and the device object's).
inline constexpr std::size_t kMaxContextsPerSession = 64;

class ProxySession {
public:
    ProxySession(UsbBackend& backend, DebugLog& log, std::chrono::milliseconds urbTimeout);

    // One request frame in, one answer frame out.
    std::vector<std::uint8_t> Handle(std::span<const std::uint8_t> frame);

    std::size_t OpenContexts() const { return contexts_.size(); }

private:
    struct Held {
        std::shared_ptr<UsbDevice> device;
        std::uint8_t interfaceNumber = 0;
    };

    std::vector<std::uint8_t> Refuse(const Rejection& why, std::span<const std::uint8_t> frame);
    std::vector<std::uint8_t> Open(const ValidatedRequest& v, const OpenRequest& r);
    std::vector<std::uint8_t> Close(const CloseRequest& r);
    std::vector<std::uint8_t> Send(const ValidatedRequest& v, const UrbRequest& r);
    std::uint64_t NewContext();

    UsbBackend& backend_;
    DebugLog& log_;
    std::chrono::milliseconds urbTimeout_;
    std::map<std::uint64_t, Held> contexts_;
    std::mt19937_64 random_;
};

}  // namespace ovra::proxy
