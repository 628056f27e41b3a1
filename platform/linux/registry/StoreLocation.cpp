#include "platform/linux/registry/StoreLocation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace ovra {
namespace {

std::string FromEnv(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace

bool ResolveStoreLocation(StoreLocation* location) {
    std::string folder = FromEnv("OVRA_CONFIG_DIR");
    if (folder.empty()) {
        std::string base = FromEnv("XDG_CONFIG_HOME");
        // Relative values are invalid in the XDG rules and are ignored.
        if (base.empty() || base.front() != '/') {
            const std::string home = FromEnv("HOME");
            if (home.empty()) return false;
            base = home + "/.config";
        }
        folder = base + "/ovra";
    }
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    location->folder = folder;
    location->file = folder + "/settings.db";
    return true;
}

bool EnsureStoreFolder(const std::string& folder, std::string* reason) {
    struct stat info{};
    if (::stat(folder.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return true;
        *reason = "not a folder";
        return false;
    }
    // Create the missing parents first, each owner-only, then the folder.
    for (std::size_t at = folder.find('/', 1); at != std::string::npos;
         at = folder.find('/', at + 1)) {
        const std::string parent = folder.substr(0, at);
        if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
            *reason = "cannot create " + parent + ": " + ErrnoText(errno);
            return false;
        }
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *reason = "cannot create the folder: " + ErrnoText(errno);
        return false;
    }
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *reason = "not a folder";
        return false;
    }
    return true;
}

bool EnsureStoreFile(const std::string& file, std::string* reason) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *reason = ErrnoText(errno);
        return false;
    }
    ::close(fd);
    return true;
}

std::string AsideName(const std::string& file) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    const std::string base = file + ".corrupt-" + stamp;
    std::string name = base;
    struct stat info{};
    for (int n = 2; ::lstat(name.c_str(), &info) == 0; ++n) name = base + "-" + std::to_string(n);
    return name;
}

}  // namespace ovra
