#include "platform/linux/proxy/CarriedImage.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <fcntl.h>

namespace ovra::proxy {

std::string ModuleFolderOf(const void* addressInModule) {
    Dl_info info{};
    if (!::dladdr(addressInModule, &info) || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    if (path.find('/') == std::string::npos) {
        // The main program reports its bare name: take /proc/self/exe.
        char buffer[4096];
        const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (n <= 0) return {};
        path.assign(buffer, static_cast<std::size_t>(n));
    }
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bytes.clear();
    std::uint8_t chunk[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    ::close(fd);
    return ok;
}

}  // namespace ovra::proxy

