#include "platform/linux/proxy/AbstractSocket.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/linux/proxy/ProxyWire.h"

namespace ovra::proxy {

namespace {
socklen_t Address(const std::string& name, sockaddr_un& a) {
    std::memset(&a, 0, sizeof a);
    a.sun_family = AF_UNIX;
    const std::size_t n = std::min(name.size(), sizeof a.sun_path - 1);
    std::memcpy(a.sun_path + 1, name.data(), n);  // sun_path[0] = 0: abstract
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}
}  // namespace

int ListenAbstract(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un a;
    const socklen_t len = Address(name, a);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd, 16) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

int ConnectAbstract(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un a;
    const socklen_t len = Address(name, a);
    int r;
    do {
        r = ::connect(fd, reinterpret_cast<sockaddr*>(&a), len);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

bool PeerUid(int fd, uid_t& uid) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) return false;
    uid = cred.uid;
    return true;
}

std::string ProxySocketName(unsigned uid, const std::string& instance) {
    return "ovra-KvsUpx/" + std::to_string(uid) + "/" + instance;
}

std::string ProxyInstanceFromEnvironment() {
    const char* v = std::getenv("OVRA_PROXY_INSTANCE");
    return v && *v ? std::string(v) : std::string("default");
}

}  // namespace ovra::proxy
