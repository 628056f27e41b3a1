#pragma once
// Runs a piece of a test in a forked child (a second program on the same
// store, or a process that gets killed). The child reports through a pipe.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

namespace ovra::testing {

class ChildProcess {
public:
    // `body` gets the write end of the pipe; the child exits with its result.
    explicit ChildProcess(const std::function<int(int reportFd)>& body) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            const int code = body(fds[1]);
            ::close(fds[1]);
            ::_exit(code);
        }
        ::close(fds[1]);
        readFd_ = fds[0];
    }
    ~ChildProcess() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        if (readFd_ >= 0) ::close(readFd_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    void Kill() { ::kill(pid_, SIGKILL); }
    // The raw wait status.
    int Wait() {
        if (reaped_) return status_;
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        return status_;
    }
    // Reads exactly `size` bytes; false at end of stream.
    bool Read(void* data, std::size_t size) {
        auto* bytes = static_cast<char*>(data);
        while (size > 0) {
            const ssize_t n = ::read(readFd_, bytes, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            bytes += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    pid_t pid_ = -1;
    int readFd_ = -1;
    int status_ = 0;
    bool reaped_ = false;
};

inline bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace ovra::testing
