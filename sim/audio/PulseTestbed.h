#pragma once
// A private sound server for tests and benchmarks: a daemon of its own (no
// desktop session), in a fresh temporary folder, reached only by this process
// and the children it starts (the PULSE_* variables point there while the
// test bed lives). Null sinks stand in for playback devices; tones are
// written with sox and played with pacat. The daemon is a direct child and is
// stopped by its process id.
//
// Each instance uses its own folder, so test programs running side by side
// (ctest -j) never meet. One instance per process at a time.

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace ovra::sim {

class PulseTestbed {
public:
    // Starts the daemon with only the native protocol (no sink). Null and
    // `error` filled when it could not be started.
    static std::unique_ptr<PulseTestbed> Start(std::string* error);
    ~PulseTestbed();
    PulseTestbed(const PulseTestbed&) = delete;
    PulseTestbed& operator=(const PulseTestbed&) = delete;

    // Loads a null sink; returns its module index, or -1.
    int LoadNullSink(const std::string& name, unsigned rate = 48000, unsigned channels = 2,
                     const std::string& format = "float32le");
    bool UnloadModule(int index);
    bool SetDefaultSink(const std::string& name);
    std::string DefaultSink();

    // A null sink works in 2 s blocks while no client asks for low latency,
    // so a fresh capture may wait seconds for its first data. This keeps a
    // 10 ms recorder on the sink's monitor (returns its pid; StopChild ends it).
    pid_t KeepResponsive(const std::string& sink);

    // Plays a sine into `sink` in the background (returns the player's pid,
    // or -1). The tone file is made first, so playing starts at once.
    pid_t PlayTone(const std::string& sink, double hertz, double seconds, double volume, unsigned rate = 48000,
                   unsigned channels = 2, int latencyMs = 20);
    // The two halves of PlayTone: write the tone file (path returned, empty
    // on failure), then play it into a sink.
    std::string MakeTone(double hertz, double seconds, double volume, unsigned rate = 48000, unsigned channels = 2);
    pid_t PlayFile(const std::string& sink, const std::string& file, unsigned rate = 48000, unsigned channels = 2,
                   int latencyMs = 20);
    // Starts `argv` in the background with this test bed's environment.
    pid_t Spawn(const std::vector<std::string>& argv);
    // Waits for a child started by Spawn/PlayTone; kills it when the time
    // is up. True when it exited with status 0.
    static bool WaitChild(pid_t pid, std::chrono::milliseconds limit);
    static void StopChild(pid_t pid);

    // Runs a command to its end (bounded); its standard output into `out`.
    bool Run(const std::vector<std::string>& argv, std::string* out = nullptr,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

    // The daemon dies at once (SIGKILL), as a crashed server would.
    void KillDaemon();
    pid_t DaemonPid() const { return daemon_; }
    const std::string& Folder() const { return folder_; }
    std::string ServerAddress() const { return "unix:" + folder_ + "/run/native"; }

private:
    PulseTestbed() = default;
    bool Launch(std::string* error);

    std::string folder_;
    pid_t daemon_ = -1;
    int tones_ = 0;
    std::vector<std::pair<std::string, std::string>> savedEnvironment_;
};

}  // namespace ovra::sim
