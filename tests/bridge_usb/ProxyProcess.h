#pragma once
// Test helper: runs the built proxy program KvsUpx as a child on a private
// instance name and waits until it serves its socket.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace ovra::test {

inline std::string BinDir() {
    const char* d = std::getenv("OVRA_BIN_DIR");
    return d ? d : ".";
}

inline std::string UniqueInstance(const std::string& what) {
    return what + "-" + std::to_string(::getpid()) + "-" + std::to_string(std::rand());
}

class ProxyProcess {
public:
    // Extra environment entries "NAME=value".
    explicit ProxyProcess(const std::string& instance, std::vector<std::string> env = {}) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::setenv("OVRA_PROXY_INSTANCE", instance.c_str(), 1);
            ::setenv("OVRA_PROXY_READY_FD", std::to_string(ready[1]).c_str(), 1);
            for (auto& e : env) ::putenv(e.data());
            const std::string program = BinDir() + "/KvsUpx";
            ::execl(program.c_str(), "KvsUpx", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ready[1]);
        int pid = 0;
        ready_ = ::read(ready[0], &pid, sizeof pid) == sizeof pid;
        ::close(ready[0]);
    }
    ~ProxyProcess() { Stop(); }
    bool Ready() const { return ready_; }
    // Whether the program ended by itself within `ms`.
    bool EndsWithin(int ms) {
        for (int waited = 0; pid_ > 0 && waited <= ms; waited += 10) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return true;
            }
            ::usleep(10 * 1000);
        }
        return pid_ <= 0;
    }
    // SIGTERM and wait; the exit status (-1 when killed by a signal).
    int Stop() {
        if (pid_ <= 0) return exit_;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exit_;
    }

private:
    pid_t pid_ = -1;
    bool ready_ = false;
    int exit_ = -1;
};

}  // namespace ovra::test
