// devsim: virtual devices for the demo, manual tries and system tests. It
// hosts device models behind umockdev, runs a command inside that testbed and
// prints what the devices show whenever it changes. See DevsimOptions.h.

#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/core/SteadyClock.h"
#include "sim/hid/Gen2HeadsetModel.h"
#include "sim/mic/MicrophoneModel.h"
#include "sim/umockdev/UmockdevHidHost.h"
#include "tools/devsim/DevsimOptions.h"

extern char** environ;

namespace ovra::devsim {
namespace {

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";

std::mutex g_printMutex;
void Say(const std::string& line) {
    std::lock_guard lock(g_printMutex);
    std::fputs(("[devsim] " + line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// The testbed only works for a process that runs under the preload library,
// devsim itself included (it sends the hot-plug uevents): restart under it,
// as umockdev-wrapper would.
void EnsurePreloaded(char** argv) {
    if (sim::UmockdevHidHost::InMockEnvironment()) return;
    const char* old = std::getenv("LD_PRELOAD");
    const std::string preload = std::string(kPreloadLibrary) + (old && *old ? std::string(":") + old : "");
    setenv("LD_PRELOAD", preload.c_str(), 1);
    // An ASan build would object to a library loaded ahead of its runtime.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions =
        std::string(asan && *asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "devsim: cannot restart under %s: %s\n", kPreloadLibrary, std::strerror(errno));
    std::exit(1);
}

std::string ProgramDir() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    std::string exe(path, static_cast<std::size_t>(length));
    return exe.substr(0, exe.rfind('/'));
}

std::atomic<pid_t> g_child{0};
std::atomic<int> g_stopSignal{0};

void OnStopSignal(int signal) {
    g_stopSignal = signal;
    const pid_t child = g_child.load();
    if (child > 0) kill(child, signal);
}

// Runs `command` inside the testbed (it inherits UMOCKDEV_DIR and
// LD_PRELOAD) and returns its exit code (128 + signal when killed).
int RunInside(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const auto& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::fflush(stdout);
    // devsim keeps the plug signals blocked for its own use; the command
    // starts with none blocked.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        Say("cannot start '" + command[0] + "': " + std::strerror(error));
        return 127;
    }
    g_child = pid;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    g_child = 0;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

std::string HexColour(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X%02X", r, g, b);
    return text;
}

// The microphone model has no change notice: watch its registers.
class MicrophoneWatcher {
public:
    explicit MicrophoneWatcher(std::shared_ptr<sim::MicrophoneModel> mic)
        : mic_(std::move(mic)), thread_([this] { Loop(); }) {}
    ~MicrophoneWatcher() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    static std::string Describe(const sim::MicrophoneModel& mic) {
        using M = sim::MicrophoneModel;
        const std::uint8_t mode = mic.Register(M::kMode);
        if (mode == 4 || mode == 0) return "off mode=" + std::to_string(mode);  // 0: never set
        static const char* const kNames[] = {"mode0", "static", "breathing", "colorcycle", "off", "mode5", "rainbow"};
        const std::string effect = mode < 7 ? kNames[mode] : "mode" + std::to_string(mode);
        return "on effect=" + effect + " color=" +
               HexColour(mic.Register(M::kRed), mic.Register(M::kGreen), mic.Register(M::kBlue)) +
               " mode=" + std::to_string(mode);
    }

private:
    void Loop() {
        std::string last = Describe(*mic_);
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(20), [this] { return stop_; })) {
            const std::string now = Describe(*mic_);
            if (now != last) Say("microphone shows: " + now);
            last = now;
        }
    }

    std::shared_ptr<sim::MicrophoneModel> mic_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

// SIGUSR1 unplugs the headset or plugs it in again, SIGUSR2 the microphone,
// so that a test or a person can try hot-plug while a program runs.
class PlugControl {
public:
    struct Device {
        std::string name;
        std::shared_ptr<sim::HidDeviceModel> model;
        sim::UmockdevHidHost::DeviceId id = -1;
    };

    // The signals must be blocked in every thread before this is created.
    PlugControl(sim::UmockdevHidHost& host, Device headset, Device mic)
        : host_(host), headset_(std::move(headset)), mic_(std::move(mic)), thread_([this] { Loop(); }) {}
    ~PlugControl() {
        stop_ = true;
        pthread_kill(thread_.native_handle(), SIGUSR1);
        thread_.join();
    }

    static sigset_t Signals() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGUSR1);
        sigaddset(&set, SIGUSR2);
        return set;
    }

private:
    void Loop() {
        const sigset_t set = Signals();
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0) continue;
            if (stop_) return;
            Toggle(signal == SIGUSR1 ? headset_ : mic_);
        }
    }
    void Toggle(Device& device) {
        if (!device.model) return;
        if (host_.IsPresent(device.id)) {
            host_.RemoveDevice(device.id);
            Say(device.name + " unplugged");
        } else {
            device.id = host_.AddDevice(device.model);
            Say(device.name + " plugged in at " + host_.Node(device.id));
        }
    }

    sim::UmockdevHidHost& host_;
    Device headset_, mic_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

int RunDemo() {
    const std::string ovractl = ProgramDir() + "/ovractl";
    if (access(ovractl.c_str(), X_OK) != 0) {
        Say("the demo needs ovractl next to devsim (" + ovractl + "), which is missing");
        return 1;
    }
    const std::vector<std::vector<std::string>> steps = {
        {"list"},
        {"set", "breathing", "FF4000"},
        {"get"},
        {"set", "static", "00A0FF"},
        {"get"},
    };
    int failures = 0;
    for (const auto& step : steps) {
        std::string shown = "$ ovractl";
        for (const auto& arg : step) shown += " " + arg;
        Say(shown);
        std::vector<std::string> command{ovractl};
        command.insert(command.end(), step.begin(), step.end());
        const int code = RunInside(command);
        if (code != 0) {
            Say("ovractl exited with " + std::to_string(code));
            ++failures;
        }
        if (g_stopSignal) break;
    }
    Say(failures == 0 ? "demo done" : "demo failed");
    return failures == 0 ? 0 : 1;
}

int Serve(const sim::UmockdevHidHost& host) {
    Say("devices are up; run programs inside with:");
    for (const auto& variable : host.ChildEnvironment()) Say("  export " + variable);
    Say("Ctrl-C ends devsim");
    while (!g_stopSignal) pause();
    return 0;
}

int Main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = ParseOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "devsim: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (options->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    EnsurePreloaded(argv);
    const sigset_t plugSignals = PlugControl::Signals();
    pthread_sigmask(SIG_BLOCK, &plugSignals, nullptr);  // before any thread starts

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    SteadyClock clock;
    sim::UmockdevHidHost host;
    setenv("UMOCKDEV_DIR", host.RootDir().c_str(), 1);  // inherited by what we run

    std::shared_ptr<sim::Gen2HeadsetModel> headset;
    sim::UmockdevHidHost::DeviceId headsetId = -1, micId = -1;
    if (options->headset != HeadsetChoice::None) {
        const sim::Gen2HeadsetConfig config = options->headset == HeadsetChoice::Gen2Entry ? sim::Gen2EntryConfig()
                                              : options->headset == HeadsetChoice::Gen2AltIds ? sim::Gen2SecondIdConfig()
                                                                                              : sim::Gen2Config();
        headset = std::make_shared<sim::Gen2HeadsetModel>(config, clock);
        headset->OnShowsChanged([](const sim::HeadsetShows& shows) { Say("headset shows: " + sim::Describe(shows)); });
        const auto id = headsetId = host.AddDevice(headset);
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", config.vendorId, config.productId);
        Say(std::string(options->headset == HeadsetChoice::Gen2Entry ? "Gen2Entry" : "Gen2") + " headset " + ids +
            " at " + host.Node(id) + ", shows: " + sim::Describe(headset->Shows()));
    }
    std::shared_ptr<sim::MicrophoneModel> mic;
    std::unique_ptr<MicrophoneWatcher> micWatcher;
    if (options->microphone) {
        mic = std::make_shared<sim::MicrophoneModel>();
        const auto id = micId = host.AddDevice(mic);
        Say("MK470 microphone 0b05:1842 at " + host.Node(id) + ", shows: " + MicrophoneWatcher::Describe(*mic));
        micWatcher = std::make_unique<MicrophoneWatcher>(mic);
    }

    PlugControl plugControl(host, {"headset", headset, headsetId}, {"microphone", mic, micId});

    int code = 0;
    if (options->demo) code = RunDemo();
    else if (!options->command.empty()) code = RunInside(options->command);
    else code = Serve(host);
    micWatcher.reset();  // its last change is printed before the end
    return code;
}

}  // namespace
}  // namespace ovra::devsim

int main(int argc, char** argv) { return ovra::devsim::Main(argc, argv); }
