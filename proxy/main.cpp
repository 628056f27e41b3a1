// KvsUpx: the bridge library's USB proxy. Started by the library's service
// manager as a process of the same user; serves the library's requests on
// the user's proxy socket until it is asked to stop (SIGTERM).
//
// Environment: OVRA_PROXY_INSTANCE (socket name part, tests use their own),
// OVRA_PROXY_READY_FD (a pipe to report readiness on: our pid as 4 bytes, or
// -1 when another proxy of this user serves the channel already),
// OVRA_PROXY_URB_TIMEOUT_MS (time-out for requests whose record carries none;
// 5000 ms by default, the time-out every library request asks for),
// OVRA_PROXY_IDLE_EXIT_MS (end after this long without any client; 10000 ms
// by default, 0 = never).

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "platform/linux/core/StderrDebugLog.h"
#include "platform/linux/proxy/ProxyWire.h"
#include "proxy/LibusbBackend.h"
#include "proxy/ProxyServer.h"

namespace {
ovra::proxy::ProxyServer* g_server = nullptr;

void OnSignal(int) {
    if (g_server) g_server->Stop();
}

long EnvNumber(const char* name, long fallback, long low, long high) {
    const char* v = std::getenv(name);
    if (!v || !*v) return fallback;
    char* end = nullptr;
    const long n = std::strtol(v, &end, 10);
    return (*end == '\0' && n >= low && n <= high) ? n : fallback;
}
}  // namespace

int main() {
    ovra::StderrDebugLog log;
    const auto timeout = std::chrono::milliseconds(EnvNumber("OVRA_PROXY_URB_TIMEOUT_MS", 5000, 1, 60000));
    ovra::proxy::LibusbBackend backend(log);
    if (!backend.Ready()) return 1;
    const auto idleExit = std::chrono::milliseconds(EnvNumber("OVRA_PROXY_IDLE_EXIT_MS", 10000, 0, 86400000));
    ovra::proxy::ProxyServer server(backend, log, timeout, idleExit);
    const std::string name =
        ovra::proxy::ProxySocketName(::getuid(), ovra::proxy::ProxyInstanceFromEnvironment());
    const long readyFd = EnvNumber("OVRA_PROXY_READY_FD", -1, 0, 1 << 20);
    if (!server.Listen(name)) {
        const int error = errno;
        log.Printf("KvsUpx: cannot serve the proxy channel: %s\n", std::strerror(error));
        if (error == EADDRINUSE && readyFd >= 0) {
            // Tell the starter that a proxy of this user serves it already.
            const std::int32_t taken = -1;
            [[maybe_unused]] auto n = ::write(static_cast<int>(readyFd), &taken, sizeof taken);
        }
        return 2;
    }
    g_server = &server;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (readyFd >= 0) {
        const std::int32_t pid = ::getpid();
        [[maybe_unused]] auto n = ::write(static_cast<int>(readyFd), &pid, sizeof pid);
        ::close(static_cast<int>(readyFd));
    }
    server.Run();
    g_server = nullptr;
    return 0;
}
