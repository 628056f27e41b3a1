#include "sim/audio/PulseTestbed.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

extern char** environ;

namespace ovra::sim {

namespace {

constexpr const char* kVariables[] = {"PULSE_SERVER", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH", "PULSE_COOKIE",
                                      "PULSE_CLIENTCONFIG"};

std::vector<char*> Argv(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// Spawns with standard input from `stdinPath` (or /dev/null), standard output
// to `stdoutFd` (or /dev/null), standard error to /dev/null.
pid_t SpawnWith(const std::vector<std::string>& args, const std::string& stdinPath, int stdoutFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdinPath.empty() ? "/dev/null" : stdinPath.c_str(), O_RDONLY, 0);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    auto argv = Argv(args);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

}  // namespace

std::unique_ptr<PulseTestbed> PulseTestbed::Start(std::string* error) {
    std::unique_ptr<PulseTestbed> bed(new PulseTestbed());
    if (!bed->Launch(error)) return nullptr;
    return bed;
}

bool PulseTestbed::Launch(std::string* error) {
    std::string pattern = (std::filesystem::temp_directory_path() / "ovra-pulse-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        *error = "mkdtemp failed";
        return false;
    }
    folder_ = pattern;
    std::filesystem::create_directories(folder_ + "/run");
    std::filesystem::create_directories(folder_ + "/state");

    for (const char* name : kVariables) {
        const char* old = std::getenv(name);
        savedEnvironment_.emplace_back(name, old ? std::string(old) : std::string("\x01"));
    }
    setenv("PULSE_RUNTIME_PATH", (folder_ + "/run").c_str(), 1);
    setenv("PULSE_STATE_PATH", (folder_ + "/state").c_str(), 1);
    setenv("PULSE_SERVER", ServerAddress().c_str(), 1);
    setenv("PULSE_COOKIE", (folder_ + "/cookie").c_str(), 1);
    setenv("PULSE_CLIENTCONFIG", "/dev/null", 1);

    daemon_ =
        SpawnWith({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--realtime=no", "--high-priority=no",
                   "--log-target=file:" + folder_ + "/pa.log", "-L", "module-native-protocol-unix"},
                  "", -1);
    if (daemon_ < 0) {
        *error = "cannot start pulseaudio";
        return false;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (waitpid(daemon_, &status, WNOHANG) == daemon_) {
            daemon_ = -1;
            *error = "pulseaudio exited at start (see " + folder_ + "/pa.log)";
            return false;
        }
        if (Run({"pactl", "info"}, nullptr, std::chrono::seconds(5))) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    *error = "pulseaudio did not answer in time";
    return false;
}

PulseTestbed::~PulseTestbed() {
    if (daemon_ > 0) {
        kill(daemon_, SIGTERM);
        if (!WaitChild(daemon_, std::chrono::seconds(5))) {
            // WaitChild killed it already.
        }
        daemon_ = -1;
    }
    for (const auto& [name, value] : savedEnvironment_) {
        if (value == "\x01")
            unsetenv(name.c_str());
        else
            setenv(name.c_str(), value.c_str(), 1);
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

pid_t PulseTestbed::Spawn(const std::vector<std::string>& argv) {
    return SpawnWith(argv, "", -1);
}

bool PulseTestbed::WaitChild(pid_t pid, std::chrono::milliseconds limit) {
    if (pid <= 0) return false;
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0) return false;
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void PulseTestbed::StopChild(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    WaitChild(pid, std::chrono::seconds(5));
}

bool PulseTestbed::Run(const std::vector<std::string>& argv, std::string* out, std::chrono::milliseconds limit) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    const pid_t pid = SpawnWith(argv, "", fds[1]);
    close(fds[1]);
    std::string text;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (pid > 0) {
        // Bounded: a command that hangs with its output open is killed below.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[512];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    if (out) *out = text;
    return WaitChild(pid, std::max(std::chrono::milliseconds(1), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                     end - std::chrono::steady_clock::now())));
}

int PulseTestbed::LoadNullSink(const std::string& name, unsigned rate, unsigned channels, const std::string& format) {
    std::string out;
    if (!Run({"pactl", "load-module", "module-null-sink", "sink_name=" + name, "rate=" + std::to_string(rate),
              "channels=" + std::to_string(channels), "format=" + format},
             &out))
        return -1;
    try {
        return std::stoi(out);
    } catch (...) {
        return -1;
    }
}

bool PulseTestbed::UnloadModule(int index) {
    return Run({"pactl", "unload-module", std::to_string(index)});
}

bool PulseTestbed::SetDefaultSink(const std::string& name) {
    return Run({"pactl", "set-default-sink", name});
}

std::string PulseTestbed::DefaultSink() {
    std::string out;
    if (!Run({"pactl", "get-default-sink"}, &out)) return {};
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

namespace {
std::size_t CountLines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}
}  // namespace

pid_t PulseTestbed::KeepResponsive(const std::string& sink) {
    std::string before;
    Run({"pactl", "list", "short", "source-outputs"}, &before);
    const pid_t pid = SpawnWith({"parec", "--raw", "--latency-msec=10", "--device=" + sink + ".monitor"}, "", -1);
    if (pid < 0) return pid;
    // Once the recorder is connected, a suspend and resume makes the sink
    // start its next block now, at the low latency, instead of finishing the
    // 2 s block it is in.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string now;
    while (std::chrono::steady_clock::now() < end) {
        if (Run({"pactl", "list", "short", "source-outputs"}, &now) && CountLines(now) > CountLines(before)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Run({"pactl", "suspend-sink", sink, "1"});
    Run({"pactl", "suspend-sink", sink, "0"});
    return pid;
}

std::string PulseTestbed::MakeTone(double hertz, double seconds, double volume, unsigned rate, unsigned channels) {
    const std::string file = folder_ + "/tone" + std::to_string(tones_++) + ".raw";
    std::ostringstream hz, secs, vol;
    hz << hertz;
    secs << seconds;
    vol << volume;
    if (!Run({"sox", "-n", "-t", "raw", "-r", std::to_string(rate), "-c", std::to_string(channels), "-e",
              "floating-point", "-b", "32", file, "synth", secs.str(), "sine", hz.str(), "vol", vol.str()},
             nullptr, std::chrono::seconds(60)))
        return {};
    return file;
}

pid_t PulseTestbed::PlayFile(const std::string& sink, const std::string& file, unsigned rate, unsigned channels,
                             int latencyMs) {
    if (file.empty()) return -1;
    return SpawnWith(
        {"pacat", "--playback", "--raw", "--format=float32le", "--rate=" + std::to_string(rate),
         "--channels=" + std::to_string(channels), "--latency-msec=" + std::to_string(latencyMs), "--device=" + sink},
        file, -1);
}

pid_t PulseTestbed::PlayTone(const std::string& sink, double hertz, double seconds, double volume, unsigned rate,
                             unsigned channels, int latencyMs) {
    return PlayFile(sink, MakeTone(hertz, seconds, volume, rate, channels), rate, channels, latencyMs);
}

void PulseTestbed::KillDaemon() {
    if (daemon_ <= 0) return;
    kill(daemon_, SIGKILL);
    int status = 0;
    waitpid(daemon_, &status, 0);
    daemon_ = -1;
}

}  // namespace ovra::sim
