#include "platform/linux/core/StderrDebugLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace ovra {
namespace {

void WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // nowhere left to report a failing log
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

StderrDebugLog::StderrDebugLog() {
    if (const char* path = std::getenv("OVRA_LOG"); path && *path) {
        fileFd_ = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fileFd_ < 0) {
            WriteAll(STDERR_FILENO, "ovra: cannot open the log file named by OVRA_LOG\n");
        }
    }
}

StderrDebugLog::~StderrDebugLog() {
    if (fileFd_ >= 0) ::close(fileFd_);
}

void StderrDebugLog::Write(std::string_view text) {
    std::lock_guard lock(mutex_);
    WriteAll(STDERR_FILENO, text);
    if (fileFd_ >= 0) WriteAll(fileFd_, text);
}

}  // namespace ovra
