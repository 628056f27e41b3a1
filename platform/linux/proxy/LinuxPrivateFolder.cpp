#include "platform/linux/proxy/LinuxPrivateFolder.h"
#include "platform/linux/proxy/ProxyWire.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ovra::proxy {

namespace {

constexpr std::size_t kMaxFileSize = 64u << 20;

bool ValidName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

bool MakeFolders(const std::string& path) {
    // Parents as the user's umask has them; the folder itself 0700.
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string parent = path.substr(0, slash);
        if (::mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

class FlockHold final : public FlagHold {
public:
    explicit FlockHold(int fd) : fd_(fd) {}
    ~FlockHold() override { ::close(fd_); }

private:
    int fd_;
};

}  // namespace

bool IsPrivateRegularFile(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool IsPrivateFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string LinuxPrivateFolder::DefaultPath() {
    if (const char* d = std::getenv("OVRA_PRIVATE_DIR"); d && *d == '/') return d;
    std::string base;
    if (const char* d = std::getenv("XDG_DATA_HOME"); d && *d == '/')
        base = std::string(d) + "/ovra";
    else if (const char* h = std::getenv("HOME"); h && *h == '/')
        base = std::string(h) + "/.local/share/ovra";
    else
        return "/nonexistent/ovra";  // no home: nothing private to install into
    // A separate proxy instance (tests, parallel setups) keeps its own
    // installation, service record and flag file.
    const std::string instance = ProxyInstanceFromEnvironment();
    if (instance != "default" && instance.find('/') == std::string::npos && instance != "." && instance != "..")
        base += "/instance-" + instance;
    return base;
}

LinuxPrivateFolder::LinuxPrivateFolder(std::string path) : path_(std::move(path)) {
    if (path_.empty() || path_[0] != '/' || !MakeFolders(path_)) return;
    const int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        ::close(fd);  // another user could swap files in there
        return;
    }
    dirFd_ = fd;
}

LinuxPrivateFolder::~LinuxPrivateFolder() {
    if (dirFd_ >= 0) ::close(dirFd_);
}

std::string LinuxPrivateFolder::PathOf(std::string_view name) const {
    return path_ + "/" + std::string(name);
}

FileError LinuxPrivateFolder::Exists(std::string_view name) {
    if (!Ok()) return FileError::AccessDenied;
    if (!ValidName(name)) return FileError::InvalidName;
    struct stat st {};
    if (::fstatat(dirFd_, std::string(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? FileError::FileNotFound : FileError::AccessDenied;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)))
        return FileError::AccessDenied;
    return FileError::Ok;
}

FileError LinuxPrivateFolder::Read(std::string_view name, std::vector<std::uint8_t>& bytes) {
    if (!Ok()) return FileError::AccessDenied;
    if (!ValidName(name)) return FileError::InvalidName;
    const int fd = ::openat(dirFd_, std::string(name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? FileError::FileNotFound : FileError::AccessDenied;
    FileError result = FileError::Ok;
    struct stat st {};
    if (!IsPrivateRegularFile(fd) || ::fstat(fd, &st) != 0) {
        result = FileError::AccessDenied;
    } else if (static_cast<std::size_t>(st.st_size) > kMaxFileSize) {
        result = FileError::ReadFault;
    } else {
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        if (done != bytes.size()) result = FileError::ReadFault;
    }
    ::close(fd);
    return result;
}

FileError LinuxPrivateFolder::Replace(std::string_view name, std::span<const std::uint8_t> bytes,
                                      bool executable) {
    if (!Ok()) return FileError::AccessDenied;
    if (!ValidName(name)) return FileError::InvalidName;
    std::random_device random;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        temp = "." + std::string(name) + ".staging-" + std::to_string(random());
        fd = ::openat(dirFd_, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    if (fd < 0) return FileError::WriteFault;
    bool ok = true;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fchmod(fd, executable ? 0700 : 0600) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::renameat(dirFd_, temp.c_str(), dirFd_, std::string(name).c_str()) == 0;
    if (!ok) {
        ::unlinkat(dirFd_, temp.c_str(), 0);
        return FileError::WriteFault;
    }
    return FileError::Ok;
}

FileError LinuxPrivateFolder::Remove(std::string_view name) {
    if (!Ok()) return FileError::AccessDenied;
    if (!ValidName(name)) return FileError::InvalidName;
    if (::unlinkat(dirFd_, std::string(name).c_str(), 0) != 0)
        return errno == ENOENT ? FileError::FileNotFound : FileError::AccessDenied;
    return FileError::Ok;
}

std::unique_ptr<FlagHold> LinuxPrivateFolder::HoldFlag(std::string_view name, FileError& error) {
    error = !Ok() ? FileError::AccessDenied : !ValidName(name) ? FileError::InvalidName : FileError::Ok;
    if (error != FileError::Ok) return nullptr;
    const std::string file(name);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::openat(dirFd_, file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = FileError::AccessDenied;
            return nullptr;
        }
        if (!IsPrivateRegularFile(fd) || ::flock(fd, LOCK_SH) != 0) {
            ::close(fd);
            error = FileError::AccessDenied;
            return nullptr;
        }
        // A last holder may have removed the file between our open and our
        // lock: then we hold a file nobody else can see, so start over.
        struct stat mine {}, named {};
        if (::fstat(fd, &mine) == 0 && ::fstatat(dirFd_, file.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            mine.st_ino == named.st_ino && mine.st_dev == named.st_dev)
            return std::make_unique<FlockHold>(fd);
        ::close(fd);
    }
    error = FileError::WriteFault;
    return nullptr;
}

FileError LinuxPrivateFolder::FlagHeld(std::string_view name, bool& held) {
    held = false;
    if (!Ok()) return FileError::AccessDenied;
    if (!ValidName(name)) return FileError::InvalidName;
    const int fd = ::openat(dirFd_, std::string(name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? FileError::Ok : FileError::AccessDenied;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        held = errno == EWOULDBLOCK;
        const FileError e = held ? FileError::Ok : FileError::AccessDenied;
        ::close(fd);
        return e;
    }
    ::close(fd);  // a file nobody holds: left by a process that crashed
    return FileError::Ok;
}

FileError LinuxPrivateFolder::RemoveFlagIfUnheld(std::string_view name, bool& removed) {
    removed = false;
    if (!Ok()) return FileError::AccessDenied;
    if (!ValidName(name)) return FileError::InvalidName;
    const std::string file(name);
    const int fd = ::openat(dirFd_, file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        removed = errno == ENOENT;
        return removed ? FileError::Ok : FileError::AccessDenied;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? FileError::Ok : FileError::AccessDenied;
    }
    // Unlink while holding the exclusive lock, so that a process that opened
    // the old file meanwhile notices (HoldFlag) and creates a new one.
    ::unlinkat(dirFd_, file.c_str(), 0);
    ::close(fd);
    removed = true;
    return FileError::Ok;
}

}  // namespace ovra::proxy
