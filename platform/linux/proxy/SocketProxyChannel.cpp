#include "platform/linux/proxy/SocketProxyChannel.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "platform/linux/proxy/AbstractSocket.h"
#include "platform/linux/proxy/ProxyWire.h"

namespace ovra::proxy {

namespace {

// Longest wait for an answer: the proxy bounds every transfer by its
// time-out (at most 60 s), so a silent proxy is a dead one.
constexpr int kAnswerWaitMs = 65000;

class SocketProxyChannel final : public ProxyChannel {
public:
    explicit SocketProxyChannel(int fd) : fd_(fd) {}
    ~SocketProxyChannel() override { ::close(fd_); }

    ProxyError DeviceIoControl(std::uint32_t code, std::span<const std::uint8_t> input,
                               std::span<std::uint8_t> output, std::size_t* bytesReturned) override {
        std::lock_guard lock(mutex_);
        if (bytesReturned) *bytesReturned = 0;
        const auto form = RequestFormOfSize(input.size());
        std::span<std::uint8_t> urb;
        std::span<std::uint8_t> data;
        if (code == kIoctlSendUrb && form) {
            // Like the kernel with a buffered request's URB pointer: read the
            // URB and its data stage from this process's memory.
            const KvProxyRequest r = *DecodeRequest(input);
            auto* urbBytes = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(r.urbAddress));
            if (!urbBytes) return ProxyError::InvalidParameter;
            const std::size_t urbSize = UrbSize(*form);
            if (Le16(std::span<const std::uint8_t>(urbBytes, 2), 0) != urbSize)
                return ProxyError::InvalidParameter;
            urb = std::span<std::uint8_t>(urbBytes, urbSize);
            const auto decoded = DecodeUrb(urb, *form);
            if (!decoded || decoded->transferBufferLength > kMaxTransferLength ||
                (decoded->transferBufferLength > 0 && decoded->transferBuffer == 0))
                return ProxyError::InvalidParameter;
            data = std::span<std::uint8_t>(
                reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(decoded->transferBuffer)),
                decoded->transferBufferLength);
        }
        const auto frame = EncodeRequestFrame(code, static_cast<std::uint32_t>(output.size()), input,
                                              urb, data);
        if (::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) < 0)
            return errno == EMSGSIZE ? ProxyError::InvalidParameter : ProxyError::BrokenPipe;

        std::vector<std::uint8_t> answer(kMaxFrameSize);
        pollfd p{fd_, POLLIN, 0};
        int ready;
        do {
            ready = ::poll(&p, 1, kAnswerWaitMs);
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0) return ProxyError::BrokenPipe;
        ssize_t n;
        do {
            n = ::recv(fd_, answer.data(), answer.size(), MSG_TRUNC);
        } while (n < 0 && errno == EINTR);
        if (n <= 0 || static_cast<std::size_t>(n) > answer.size()) return ProxyError::BrokenPipe;
        const auto a = DecodeAnswerFrame(std::span<const std::uint8_t>(answer.data(), static_cast<std::size_t>(n)));
        if (!a) return ProxyError::BrokenPipe;

        // Copy back only what fits where it belongs: the URB's status and
        // length fields, the data stage up to its length, the output record.
        if (!urb.empty() && a->urb.size() == urb.size()) {
            const UrbLayout& l = LayoutOf(*form);
            const std::uint32_t moved = std::min<std::uint32_t>(Le32(a->urb, l.transferBufferLength),
                                                                static_cast<std::uint32_t>(data.size()));
            WriteUrbResult(urb, *form, Le32(a->urb, l.hdrStatus), moved);
            std::copy_n(a->data.begin(), std::min(a->data.size(), data.size()), data.begin());
        }
        if (a->output.size() > output.size()) return ProxyError::InsufficientBuffer;
        std::copy(a->output.begin(), a->output.end(), output.begin());
        if (bytesReturned) *bytesReturned = a->output.size();
        return a->error;
    }

    bool Alive() override {
        std::lock_guard lock(mutex_);
        // Between requests the proxy sends nothing: a hang-up (or anything
        // readable) means it closed its end.
        pollfd p{fd_, POLLIN | POLLRDHUP, 0};
        int ready;
        do {
            ready = ::poll(&p, 1, 0);
        } while (ready < 0 && errno == EINTR);
        return ready == 0;
    }

private:
    int fd_;
    std::mutex mutex_;
};

}  // namespace

SocketProxyChannelOpener::SocketProxyChannelOpener(std::string instance)
    : instance_(instance.empty() ? ProxyInstanceFromEnvironment() : std::move(instance)) {}

std::unique_ptr<ProxyChannel> SocketProxyChannelOpener::Open(std::string_view name, ProxyError& error) {
    if (name != kControlChannelName) {
        error = ProxyError::FileNotFound;
        return nullptr;
    }
    const int fd = ConnectAbstract(ProxySocketName(::getuid(), instance_));
    if (fd < 0) {
        error = errno == EACCES ? ProxyError::AccessDenied : ProxyError::FileNotFound;
        return nullptr;
    }
    uid_t peer = 0;
    if (!PeerUid(fd, peer) || peer != ::getuid()) {
        // Anybody can bind an abstract name: never talk to another user's
        // program posing as our proxy.
        ::close(fd);
        error = ProxyError::AccessDenied;
        return nullptr;
    }
    error = ProxyError::Ok;
    return std::make_unique<SocketProxyChannel>(fd);
}

}  // namespace ovra::proxy
