#pragma once
// One process's hold on a named shared-memory object.
//
// Lifetime follows the holders, not the files: each holder keeps a shared
// (read) OFD lock on byte 0 of the shm file. Whoever finds no other holder
// (an exclusive lock on byte 0 succeeds) is alone: on open it (re)initialises
// the content — a file left by a crashed run is thereby reset, not trusted —
// and on close it unlinks the name. Byte 1 is a short guard lock that orders
// these decisions between processes. The kernel drops the locks of a dead
// process, so a crash never keeps an object alive.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace ovra {

class SharedObjectFile {
public:
    enum class Mode { CreateOrOpen, OpenExisting };

    // `initialise` runs on the zeroed mapping when this holder is the only
    // one; `validate` checks an existing object's content (kind, magic).
    // Null when the object cannot be created/opened or does not validate.
    static std::unique_ptr<SharedObjectFile> Acquire(
        const std::string& shmName, std::size_t size, Mode mode,
        const std::function<bool(void*)>& initialise,
        const std::function<bool(const void*)>& validate, bool* alreadyExisted);

    ~SharedObjectFile();
    SharedObjectFile(const SharedObjectFile&) = delete;
    SharedObjectFile& operator=(const SharedObjectFile&) = delete;

    void* Data() const { return data_; }

private:
    SharedObjectFile(std::string shmName, int fd, void* data, std::size_t size)
        : shmName_(std::move(shmName)), fd_(fd), data_(data), size_(size) {}

    std::string shmName_;
    int fd_;
    void* data_;
    std::size_t size_;
};

}  // namespace ovra
