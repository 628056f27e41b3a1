#include "platform/linux/named_objects/SharedObjectFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ovra {
namespace {

constexpr off_t kHolderByte = 0;
constexpr off_t kGuardByte = 1;
constexpr int kMaxAttempts = 16;

bool OfdLock(int fd, off_t byte, short type, bool wait) {
    struct flock lock;
    std::memset(&lock, 0, sizeof lock);
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return true;
        if (errno != EINTR) return false;
    }
}

// Holds the guard byte for the lifetime of the object.
class GuardLock {
public:
    explicit GuardLock(int fd) : fd_(fd), held_(OfdLock(fd, kGuardByte, F_WRLCK, true)) {}
    ~GuardLock() {
        if (held_) OfdLock(fd_, kGuardByte, F_UNLCK, false);
    }
    GuardLock(const GuardLock&) = delete;
    GuardLock& operator=(const GuardLock&) = delete;
    bool Held() const { return held_; }

private:
    int fd_;
    bool held_;
};

void* MapShared(int fd, std::size_t size) {
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return data == MAP_FAILED ? nullptr : data;
}

}  // namespace

std::unique_ptr<SharedObjectFile> SharedObjectFile::Acquire(
    const std::string& shmName, std::size_t size, Mode mode,
    const std::function<bool(void*)>& initialise,
    const std::function<bool(const void*)>& validate, bool* alreadyExisted) {
    if (alreadyExisted) *alreadyExisted = false;
    const int flags = O_RDWR | O_CLOEXEC | (mode == Mode::CreateOrOpen ? O_CREAT : 0);
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const int fd = shm_open(shmName.c_str(), flags, S_IRUSR | S_IWUSR);
        if (fd < 0) return nullptr;
        void* data = nullptr;
        bool existed = false;
        bool retry = false;
        bool ok = false;
        {
            GuardLock guard(fd);
            struct stat st;
            if (!guard.Held() || fstat(fd, &st) != 0) {
                // fall through: failure
            } else if (st.st_nlink == 0) {
                retry = true;  // the last holder unlinked it while we waited
            } else if (st.st_uid != geteuid()) {
                // Someone else's object under our name: never use it.
            } else if (OfdLock(fd, kHolderByte, F_WRLCK, false)) {
                // Alone: a new object, or one left behind by a crashed run.
                if (mode == Mode::OpenExisting) {
                    shm_unlink(shmName.c_str());
                } else if ((st.st_mode & 0777) != (S_IRUSR | S_IWUSR) &&
                           fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
                } else if (ftruncate(fd, 0) == 0 &&
                           ftruncate(fd, static_cast<off_t>(size)) == 0 &&
                           (data = MapShared(fd, size)) != nullptr) {
                    ok = initialise(data);
                    // Converting our exclusive lock to a shared one is atomic
                    // for OFD locks: no other opener can slip in between.
                    ok = ok && OfdLock(fd, kHolderByte, F_RDLCK, false);
                }
            } else if (OfdLock(fd, kHolderByte, F_RDLCK, false) &&
                       static_cast<std::size_t>(st.st_size) >= size &&
                       (data = MapShared(fd, size)) != nullptr) {
                existed = true;
                ok = validate(data);
            }
        }
        if (ok) {
            if (alreadyExisted) *alreadyExisted = existed;
            return std::unique_ptr<SharedObjectFile>(new SharedObjectFile(shmName, fd, data, size));
        }
        if (data) munmap(data, size);
        close(fd);
        if (!retry) return nullptr;
    }
    return nullptr;
}

SharedObjectFile::~SharedObjectFile() {
    {
        GuardLock guard(fd_);
        struct stat st;
        // The last holder takes the name away, unless it already went (a
        // newer object may own the name by then).
        if (guard.Held() && OfdLock(fd_, kHolderByte, F_WRLCK, false) && fstat(fd_, &st) == 0 &&
            st.st_nlink > 0)
            shm_unlink(shmName_.c_str());
    }
    munmap(data_, size_);
    close(fd_);
}

}  // namespace ovra
