#pragma once
// The proxy's request loop: accepts clients on the abstract socket, refuses
// peers of another user, and serves each client on a thread of its own with
// a ProxySession. Stop() may be called from a signal handler.

#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/DebugLog.h"
#include "proxy/UsbBackend.h"

namespace ovra::proxy {

class ProxyServer {
public:
    // `idleExit`: Run() returns once no client has been connected for that
    // long (zero: never). The library keeps its connection open while it is
    // initialised, so an idle proxy has no user left (a user that crashed
    // cannot uninstall it); the next user starts it again.
    ProxyServer(UsbBackend& backend, DebugLog& log, std::chrono::milliseconds urbTimeout,
                std::chrono::milliseconds idleExit = std::chrono::milliseconds::zero());
    ~ProxyServer();
    ProxyServer(const ProxyServer&) = delete;
    ProxyServer& operator=(const ProxyServer&) = delete;

    // Binds the name; false (errno set) when that fails, e.g. when another
    // proxy of this user serves it already.
    bool Listen(const std::string& abstractName);
    // Serves until Stop(); then ends every client connection and returns.
    void Run();
    void Stop();

private:
    struct Client {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void Serve(Client& client);
    void ReapFinished();

    UsbBackend& backend_;
    DebugLog& log_;
    std::chrono::milliseconds urbTimeout_;
    std::chrono::milliseconds idleExit_;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::mutex mutex_;
    std::list<Client> clients_;
};

}  // namespace ovra::proxy
