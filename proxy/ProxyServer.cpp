#include "proxy/ProxyServer.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/linux/proxy/AbstractSocket.h"
#include "platform/linux/proxy/ProxyWire.h"
#include "proxy/ProxySession.h"

namespace ovra::proxy {

ProxyServer::ProxyServer(UsbBackend& backend, DebugLog& log, std::chrono::milliseconds urbTimeout,
                         std::chrono::milliseconds idleExit)
    : backend_(backend), log_(log), urbTimeout_(urbTimeout), idleExit_(idleExit) {
    if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) stopPipe_[0] = stopPipe_[1] = -1;
}

ProxyServer::~ProxyServer() {
    if (listenFd_ >= 0) ::close(listenFd_);
    for (int fd : stopPipe_)
        if (fd >= 0) ::close(fd);
}

bool ProxyServer::Listen(const std::string& abstractName) {
    listenFd_ = ListenAbstract(abstractName);
    return listenFd_ >= 0;
}

void ProxyServer::Stop() {
    const char byte = 1;
    if (stopPipe_[1] >= 0) [[maybe_unused]] auto n = ::write(stopPipe_[1], &byte, 1);
}

void ProxyServer::Run() {
    auto idleSince = std::chrono::steady_clock::now();
    for (;;) {
        int waitMs = -1;
        if (idleExit_.count() > 0) {
            std::lock_guard lock(mutex_);
            ReapFinished();
            if (!clients_.empty()) {
                idleSince = std::chrono::steady_clock::now();
                waitMs = 1000;  // look again for clients that left
            } else {
                const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - idleSince);
                if (idle >= idleExit_) {
                    log_.Printf("KvsUpx: no client for %lld ms, ending\n",
                                static_cast<long long>(idle.count()));
                    break;
                }
                waitMs = static_cast<int>(std::min<long long>((idleExit_ - idle).count(), 1000));
            }
        }
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        const int r = ::poll(fds, 2, waitMs);
        if (r == 0) continue;
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (fds[1].revents & POLLIN)) break;
        if (!(fds[0].revents & POLLIN)) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        uid_t peer = 0;
        if (!PeerUid(fd, peer) || peer != ::getuid()) {
            log_.Printf("KvsUpx: refused a client of user %u\n", static_cast<unsigned>(peer));
            const auto answer = EncodeAnswerFrame(ProxyError::AccessDenied, {}, {}, {});
            ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            // Closing with the peer's request unread would reset the
            // connection before the peer reads the refusal: take its first
            // request (briefly) and drop it unread.
            ::shutdown(fd, SHUT_WR);
            pollfd waitForRequest{fd, POLLIN, 0};
            if (::poll(&waitForRequest, 1, 100) == 1) {
                std::uint8_t discard[64];
                ::recv(fd, discard, sizeof discard, MSG_DONTWAIT | MSG_TRUNC);
            }
            ::close(fd);
            continue;
        }
        std::lock_guard lock(mutex_);
        ReapFinished();
        Client& c = clients_.emplace_back();
        c.fd = fd;
        c.thread = std::thread([this, &c] { Serve(c); });
    }
    // Stop taking clients first: one that connects now is refused at once
    // rather than left waiting.
    ::close(listenFd_);
    listenFd_ = -1;
    std::lock_guard lock(mutex_);
    for (Client& c : clients_) ::shutdown(c.fd, SHUT_RDWR);
    for (Client& c : clients_) {
        if (c.thread.joinable()) c.thread.join();
        ::close(c.fd);
    }
    clients_.clear();
}

void ProxyServer::ReapFinished() {
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (it->done) {
            it->thread.join();
            ::close(it->fd);
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

void ProxyServer::Serve(Client& client) {
    ProxySession session(backend_, log_, urbTimeout_);
    std::vector<std::uint8_t> frame(kMaxFrameSize + 1);
    for (;;) {
        const ssize_t n = ::recv(client.fd, frame.data(), frame.size(), MSG_TRUNC);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::vector<std::uint8_t> answer;
        if (static_cast<std::size_t>(n) > kMaxFrameSize) {
            log_.Printf("KvsUpx: refused a request: frame of %zd bytes\n", n);
            answer = EncodeAnswerFrame(ProxyError::InvalidParameter, {}, {}, {});
        } else {
            answer = session.Handle(std::span<const std::uint8_t>(frame.data(), static_cast<std::size_t>(n)));
        }
        if (::send(client.fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) break;
    }
    client.done = true;
}

}  // namespace ovra::proxy
