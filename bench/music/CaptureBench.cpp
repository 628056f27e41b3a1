// The whole capture path against a private sound server with a tone playing:
//  - CPU of this process (capture thread, the server library's thread, the
//    analysis of every packet and a music step every 100 ms) next to parec
//    recording the same monitor at the same time, over --seconds=N (default
//    3; the budget is stated for 30: pass --seconds=30);
//  - latency from starting a tone to a colour change reaching the device
//    writer, split into tone start -> levels and levels -> writer.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <dirent.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/Notifier.h"
#include "platform/linux/audio/PulseLoopback.h"
#include "platform/linux/core/SteadyClock.h"
#include "service/music/MusicStep.h"
#include "service/music/StdoutConsole.h"
#include "sim/audio/PulseTestbed.h"

namespace {

using namespace std::chrono_literals;
using ovra::sim::PulseTestbed;
using SteadyTime = std::chrono::steady_clock;

int g_seconds = 3;
int g_trials = 5;

class LogNotifier final : public ovra::Notifier {
public:
    void Notify(std::string_view text, std::string_view caption) override {
        std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
    }
};

double SelfCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// On-CPU time of every thread of another process (scheduler statistics, ns).
double ProcessCpuSeconds(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    if (DIR* dir = opendir(tasks.c_str())) {
        while (dirent* e = readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream stat(tasks + "/" + e->d_name + "/schedstat");
            double ns = 0;
            if (stat >> ns) total += ns / 1e9;
        }
        closedir(dir);
    }
    return total;
}

struct Bed {
    std::unique_ptr<PulseTestbed> bed;
    bool ok = false;
    explicit Bed(benchmark::State& state) {
        std::string error;
        bed = PulseTestbed::Start(&error);
        if (!bed || bed->LoadNullSink("bench_sink") < 0 || !bed->SetDefaultSink("bench_sink")) {
            state.SkipWithError(("no private sound server: " + error).c_str());
            return;
        }
        ok = true;
    }
};

// What the service puts together for the music effect, on the real adapters.
struct MusicPath {
    ovra::SteadyClock clock;
    LogNotifier notifier;
    ovra::music::StdoutConsole console;
    ovra::PulseLoopback loopback;
    ovra::music::MusicAnalyzer analyzer{loopback, notifier, console};
    std::atomic<bool> noDevice{false};
    ovra::music::MusicLoop loop{analyzer, clock, noDevice};
};

void BM_CapturePathCpu(benchmark::State& state) {
    for (auto _ : state) {
        Bed bed(state);
        if (!bed.ok) return;
        const std::string tone = bed.bed->MakeTone(440, g_seconds + 4, 0.5);
        // The baseline recorder also keeps the sink at low latency.
        const pid_t parec = bed.bed->KeepResponsive("bench_sink");
        const pid_t player = bed.bed->PlayFile("bench_sink", tone);

        MusicPath path;
        auto& analyzer = path.analyzer;
        auto& loop = path.loop;
        double writes = 0;
        const auto writer = [&](const ovra::music::RgbColor&) { ++writes; };
        loop.Step(writer);
        const auto warmEnd = SteadyTime::now() + 10s;
        while (analyzer.Capture().FrameCount() < 48000 && SteadyTime::now() < warmEnd)
            std::this_thread::sleep_for(10ms);

        const double self0 = SelfCpuSeconds(), parec0 = ProcessCpuSeconds(parec),
                     server0 = ProcessCpuSeconds(bed.bed->DaemonPid());
        const std::uint32_t frames0 = analyzer.Capture().FrameCount();
        const auto t0 = SteadyTime::now();
        auto next = t0;
        while (SteadyTime::now() - t0 < std::chrono::seconds(g_seconds)) {
            loop.Step(writer);  // what the service's lighting thread does
            next += ovra::music::kMusicStepPeriod;
            std::this_thread::sleep_until(next);
        }
        const double wall = std::chrono::duration<double>(SteadyTime::now() - t0).count();
        const double self = SelfCpuSeconds() - self0, parecCpu = ProcessCpuSeconds(parec) - parec0,
                     server = ProcessCpuSeconds(bed.bed->DaemonPid()) - server0;
        const std::uint32_t frames = analyzer.Capture().FrameCount() - frames0;
        analyzer.Shutdown();
        PulseTestbed::StopChild(player);
        PulseTestbed::StopChild(parec);

        state.counters["seconds"] = wall;
        state.counters["ours_cpu_pct"] = 100 * self / wall;
        state.counters["parec_cpu_pct"] = 100 * parecCpu / wall;
        state.counters["ours_vs_parec"] = parecCpu > 0 ? self / parecCpu : 0;
        state.counters["server_cpu_pct"] = 100 * server / wall;
        state.counters["packets_per_s"] = frames / 480.0 / wall;
        state.counters["steps"] = writes;
        std::printf(
            "capture path over %.1f s: ours %.3f %% of one core, parec on the same monitor %.3f %% "
            "(ratio %.2f), server %.2f %%, %.1f packets/s\n",
            wall, 100 * self / wall, 100 * parecCpu / wall, parecCpu > 0 ? self / parecCpu : 0.0, 100 * server / wall,
            frames / 480.0 / wall);
    }
}

void BM_ToneToColourLatency(benchmark::State& state) {
    for (auto _ : state) {
        Bed bed(state);
        if (!bed.ok) return;
        const pid_t keep = bed.bed->KeepResponsive("bench_sink");
        const std::string tone = bed.bed->MakeTone(1000, 0.25, 0.5);

        MusicPath path;
        auto& analyzer = path.analyzer;
        auto& loop = path.loop;

        // The lighting thread: a step every 100 ms, the writer stamps colours.
        std::atomic<bool> stop{false};
        std::atomic<SteadyTime::rep> lastBright{0};  // time of the last write with a visible colour
        std::atomic<double> brightness{0};
        std::thread lighting([&] {
            auto next = SteadyTime::now();
            while (!stop) {
                loop.Step([&](const ovra::music::RgbColor& c) {
                    if (std::max({c.red, c.green, c.blue}) > 5.0 && lastBright.load() == 0)
                        lastBright = SteadyTime::now().time_since_epoch().count();
                });
                brightness = loop.Mapper().Brightness();
                next += ovra::music::kMusicStepPeriod;
                std::this_thread::sleep_until(next);
            }
        });
        const auto warmEnd = SteadyTime::now() + 10s;
        while (analyzer.Capture().FrameCount() == 0 && SteadyTime::now() < warmEnd) std::this_thread::sleep_for(5ms);

        std::vector<double> toLevels, toWriter, total;
        for (int trial = 0; trial < g_trials; ++trial) {
            // Wait for darkness, then a tone.
            const auto quietEnd = SteadyTime::now() + 5s;
            while ((brightness.load() > 0.005 || analyzer.Levels().green.load() > 1.0f) && SteadyTime::now() < quietEnd)
                std::this_thread::sleep_for(5ms);
            // Tones start at a random phase of the 100 ms step.
            std::this_thread::sleep_for(std::chrono::milliseconds(17 * trial % 100));
            lastBright = 0;
            const auto start = SteadyTime::now();
            const pid_t player = bed.bed->PlayFile("bench_sink", tone);
            SteadyTime::time_point levelsAt{};
            const auto giveUp = start + 5s;
            while (SteadyTime::now() < giveUp) {
                if (levelsAt == SteadyTime::time_point{} && analyzer.Levels().green.load() > 10.0f)
                    levelsAt = SteadyTime::now();
                if (lastBright.load() != 0) break;
                std::this_thread::sleep_for(500us);
            }
            PulseTestbed::WaitChild(player, 10s);
            if (lastBright.load() == 0 || levelsAt == SteadyTime::time_point{}) continue;
            const SteadyTime::time_point writerAt{SteadyTime::duration(lastBright.load())};
            toLevels.push_back(std::chrono::duration<double, std::milli>(levelsAt - start).count());
            toWriter.push_back(std::chrono::duration<double, std::milli>(writerAt - levelsAt).count());
            total.push_back(std::chrono::duration<double, std::milli>(writerAt - start).count());
        }
        stop = true;
        lighting.join();
        analyzer.Shutdown();
        PulseTestbed::StopChild(keep);
        if (total.empty()) {
            state.SkipWithError("no tone reached the writer");
            return;
        }
        auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        state.counters["trials"] = static_cast<double>(total.size());
        state.counters["start_to_levels_ms_median"] = median(toLevels);
        state.counters["levels_to_writer_ms_median"] = median(toWriter);
        state.counters["start_to_writer_ms_median"] = median(total);
        state.counters["start_to_writer_ms_max"] = *std::max_element(total.begin(), total.end());
        std::printf(
            "tone start -> colour at the writer over %zu trials: median %.1f ms (max %.1f): "
            "tone start -> levels %.1f ms (player start-up, sink, 10 ms packet), "
            "levels -> writer %.1f ms (the 100 ms step)\n",
            total.size(), median(total), *std::max_element(total.begin(), total.end()), median(toLevels),
            median(toWriter));
    }
}

}  // namespace

BENCHMARK(BM_CapturePathCpu)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToneToColourLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (const char* s = std::getenv("OVRA_MUSIC_BENCH_SECONDS")) g_seconds = std::max(1, std::atoi(s));
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0) {
            g_seconds = std::max(1, std::atoi(argv[i] + 10));
        } else if (std::strncmp(argv[i], "--trials=", 9) == 0) {
            g_trials = std::max(1, std::atoi(argv[i] + 9));
        } else {
            rest.push_back(argv[i]);
        }
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
