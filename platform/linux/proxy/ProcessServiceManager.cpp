#include "platform/linux/proxy/ProcessServiceManager.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "platform/ImageVersion.h"

extern char** environ;

namespace ovra::proxy {

namespace {

std::string RecordName(std::string_view name) { return "service-" + std::string(name) + ".conf"; }
std::string PidName(std::string_view name) { return "service-" + std::string(name) + ".pid"; }

// Start time of a process in clock ticks since boot; 0 when it is not alive
// (or a zombie nobody reaped).
unsigned long long StartTime(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return 0;
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string state;
    fields >> state;
    if (state == "Z" || state == "X") return 0;
    std::string skip;
    for (int i = 0; i < 18; ++i) fields >> skip;  // fields 4..21
    unsigned long long start = 0;
    fields >> start;
    return start;
}

}  // namespace

ProcessServiceManager::ProcessServiceManager(LinuxPrivateFolder& folder, bool mayManage,
                                             std::chrono::milliseconds readyTimeout)
    : folder_(folder), mayManage_(mayManage), readyTimeout_(readyTimeout) {}

ServiceError ProcessServiceManager::Connect() {
    if (!mayManage_ || !folder_.Ok()) return ServiceError::AccessDenied;
    return ServiceError::Ok;
}

bool ProcessServiceManager::ReadRegistration(std::string_view name, std::string& image) {
    std::vector<std::uint8_t> bytes;
    if (folder_.Read(RecordName(name), bytes) != FileError::Ok) return false;
    const std::string text(bytes.begin(), bytes.end());
    const auto at = text.find("image=");
    if (at == std::string::npos) return false;
    const auto end = text.find('\n', at);
    image = text.substr(at + 6, end == std::string::npos ? std::string::npos : end - at - 6);
    return !image.empty();
}

ServiceError ProcessServiceManager::Exists(std::string_view name) {
    std::string image;
    return ReadRegistration(name, image) ? ServiceError::Ok : ServiceError::DoesNotExist;
}

ServiceError ProcessServiceManager::Create(const ServiceDefinition& d) {
    if (Connect() != ServiceError::Ok) return ServiceError::AccessDenied;
    if (Exists(d.name) == ServiceError::Ok) return ServiceError::Exists;
    const std::string text = "name=" + d.name + "\ndisplay=" + d.displayName + "\nimage=" + d.imagePath +
                             "\nstart=demand\n";
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    return folder_.Replace(RecordName(d.name), bytes, false) == FileError::Ok ? ServiceError::Ok
                                                                              : ServiceError::GenFailure;
}

ServiceError ProcessServiceManager::Delete(std::string_view name) {
    if (Connect() != ServiceError::Ok) return ServiceError::AccessDenied;
    if (Exists(name) != ServiceError::Ok) return ServiceError::DoesNotExist;
    if (RunningPid(name) == 0) folder_.Remove(PidName(name));
    return folder_.Remove(RecordName(name)) == FileError::Ok ? ServiceError::Ok : ServiceError::GenFailure;
}

int ProcessServiceManager::RunningPid(std::string_view name) {
    std::vector<std::uint8_t> bytes;
    if (folder_.Read(PidName(name), bytes) != FileError::Ok) return 0;
    int pid = 0;
    unsigned long long start = 0;
    const std::string text(bytes.begin(), bytes.end());
    if (std::sscanf(text.c_str(), "%d %llu", &pid, &start) != 2 || pid <= 0) return 0;
    return StartTime(pid) == start ? pid : 0;
}

ServiceError ProcessServiceManager::Query(std::string_view name, ServiceState& state) {
    if (Exists(name) != ServiceError::Ok) return ServiceError::DoesNotExist;
    state = RunningPid(name) ? ServiceState::Running : ServiceState::Stopped;
    return ServiceError::Ok;
}

ServiceError ProcessServiceManager::Start(std::string_view name) {
    if (Connect() != ServiceError::Ok) return ServiceError::AccessDenied;
    std::string image;
    if (!ReadRegistration(name, image)) return ServiceError::DoesNotExist;
    if (RunningPid(name)) return ServiceError::AlreadyRunning;

    // Check the image and keep the descriptor: what runs is what was checked.
    const auto slash = image.rfind('/');
    if (image.empty() || image[0] != '/' || slash == std::string::npos) return ServiceError::BadImage;
    if (!IsPrivateFolder(image.substr(0, slash == 0 ? 1 : slash))) return ServiceError::AccessDenied;
    const int fd = ::open(image.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ServiceError::FileNotFound : ServiceError::AccessDenied;
    if (!IsPrivateRegularFile(fd)) {
        ::close(fd);
        return ServiceError::AccessDenied;
    }
    std::vector<std::uint8_t> bytes;
    {
        struct stat st {};
        ::fstat(fd, &st);
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        bytes.resize(done);
    }
    const auto info = ReadImageInfo(bytes);
    if (!info || std::string_view(info->product.data()) != name) {
        ::close(fd);
        return ServiceError::BadImage;
    }

    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        ::close(fd);
        return ServiceError::GenFailure;
    }
    // Everything the child needs is prepared before fork (the caller may have
    // threads: the child only makes async-signal-safe calls).
    std::vector<std::string> envStrings;
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, "OVRA_PROXY_READY_FD=", 20) != 0) envStrings.emplace_back(*e);
    envStrings.push_back("OVRA_PROXY_READY_FD=" + std::to_string(ready[1]));
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string argv0(name);
    char* argv[] = {argv0.data(), nullptr};
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);

    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        if (::fork() != 0) ::_exit(0);  // the program is nobody's child: it outlives us
        ::fcntl(ready[1], F_SETFD, 0);  // the one descriptor it inherits
        if (devNull >= 0) {
            ::dup2(devNull, 0);
            ::dup2(devNull, 1);
        }
        ::fexecve(fd, argv, envp.data());
        ::_exit(127);
    }
    ::close(ready[1]);
    ::close(fd);
    if (devNull >= 0) ::close(devNull);
    if (child < 0) {
        ::close(ready[0]);
        return ServiceError::GenFailure;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    pollfd p{ready[0], POLLIN, 0};
    std::int32_t pid = 0;
    const bool answered = ::poll(&p, 1, static_cast<int>(readyTimeout_.count())) == 1 &&
                          ::read(ready[0], &pid, sizeof pid) == sizeof pid;
    ::close(ready[0]);
    if (answered && pid == -1) return ServiceError::AlreadyRunning;  // served by a proxy started otherwise
    if (!answered || pid <= 0) return ServiceError::RequestTimeout;
    const std::string record = std::to_string(pid) + " " + std::to_string(StartTime(pid)) + "\n";
    const std::vector<std::uint8_t> recordBytes(record.begin(), record.end());
    folder_.Replace(PidName(name), recordBytes, false);
    return ServiceError::Ok;
}

ServiceError ProcessServiceManager::Stop(std::string_view name) {
    if (Connect() != ServiceError::Ok) return ServiceError::AccessDenied;
    if (Exists(name) != ServiceError::Ok) return ServiceError::DoesNotExist;
    const int pid = RunningPid(name);
    if (!pid) return ServiceError::NotActive;
    ::kill(pid, SIGTERM);
    const auto start = std::chrono::steady_clock::now();
    while (RunningPid(name) && std::chrono::steady_clock::now() - start < std::chrono::seconds(3))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (RunningPid(name)) {
        ::kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (RunningPid(name)) return ServiceError::RequestTimeout;
    folder_.Remove(PidName(name));
    return ServiceError::Ok;
}

}  // namespace ovra::proxy
