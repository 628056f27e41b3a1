// The microphone library's request/answer round trip over hidraw (umockdev
// hosting the microphone model) as a ratio to a bare write + read of the same
// 32-byte report on the same node, measured alternately in the same run; and
// the reports each MK470 operation sends against the golden counts.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>

#include "device_access/MicBinding.h"
#include "device_access/Mk470Microphone.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/module/DlModuleLoader.h"
#include "sim/mic/MicrophoneModel.h"
#include "sim/umockdev/UmockdevHidHost.h"

namespace ovra {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct Bed {
    Bed() {
        if (!sim::UmockdevHidHost::InMockEnvironment()) return;
        id = host.AddDevice(model);
        const char* bin = std::getenv("OVRA_BIN_DIR");
        DlModuleLoader loader(bin != nullptr ? bin : DlModuleLoader::ProgramFolder() + "/../bin");
        binding = MicBinding::Load(loader, log);
        ok = binding->Ready() && binding->ConnectDevice();
    }

    sim::UmockdevHidHost host;
    std::shared_ptr<sim::MicrophoneModel> model = std::make_shared<sim::MicrophoneModel>();
    sim::UmockdevHidHost::DeviceId id = -1;
    RecordingDebugLog log;
    std::unique_ptr<MicBinding> binding;
    bool ok = false;
};

Bed& TheBed() {
    static Bed bed;
    return bed;
}

// One bare round trip on the node: write report id 0 + 32 bytes, wait, read 32.
bool RawRoundTrip(int fd) {
    unsigned char out[33] = {0, 0x81};
    if (write(fd, out, sizeof out) != static_cast<ssize_t>(sizeof out)) return false;
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 1000) != 1) return false;
    unsigned char in[64];
    return read(fd, in, sizeof in) == 32;
}

void BM_MicRoundTripVsRawHidraw(benchmark::State& state) {
    Bed& bed = TheBed();
    if (!bed.ok) {
        state.SkipWithError("needs umockdev-wrapper and ITECCTdll.so in OVRA_BIN_DIR");
        return;
    }
    const int fd = open(bed.host.Node(bed.id).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("cannot open the hidraw node");
        return;
    }
    SteadyClock::duration raw{}, library{};
    std::int64_t failures = 0;
    for (auto _ : state) {
        auto start = SteadyClock::now();
        failures += RawRoundTrip(fd) ? 0 : 1;
        raw += SteadyClock::now() - start;
        MicReport report{};
        report[0] = 0x81;
        start = SteadyClock::now();
        failures += bed.binding->Exchange(report) ? 0 : 1;
        library += SteadyClock::now() - start;
    }
    close(fd);
    const double n = static_cast<double>(state.iterations());
    state.counters["raw_us"] = std::chrono::duration<double, std::micro>(raw).count() / n;
    state.counters["library_us"] = std::chrono::duration<double, std::micro>(library).count() / n;
    state.counters["library_vs_raw"] =
        std::chrono::duration<double>(library).count() / std::chrono::duration<double>(raw).count();
    state.counters["failures"] = static_cast<double>(failures);
}
BENCHMARK(BM_MicRoundTripVsRawHidraw)->Iterations(200);

struct MicOperation {
    const char* name;
    std::function<void(Mk470Microphone&)> run;
    int goldenReports;
};

const MicOperation kMicOperations[] = {
    {"MK470/SetLEDEffect", [](Mk470Microphone& m) { m.SetLEDEffect(LightingEffect::Breathing, {1, 2, 3}); }, 4},
    {"MK470/SetLEDOff", [](Mk470Microphone& m) { m.SetLEDOff(); }, 1},
    {"MK470/SetLEDFrame", [](Mk470Microphone& m) { m.SetLEDFrame(5); }, 1},
    {"MK470/GetLEDFrame", [](Mk470Microphone& m) { m.GetLEDFrame(); }, 1},
    {"MK470/GetLEDSetting", [](Mk470Microphone& m) { m.GetLEDSetting(); }, 1},
    {"MK470/WriteColour", [](Mk470Microphone& m) { m.WriteColour({1, 2, 3}); }, 3},
};

void MeasureMic(benchmark::State& state, const MicOperation& op) {
    Bed& bed = TheBed();
    if (!bed.ok) {
        state.SkipWithError("needs umockdev-wrapper and ITECCTdll.so in OVRA_BIN_DIR");
        return;
    }
    Mk470Microphone mic(*bed.binding, bed.log);
    bed.model->ClearRequests();
    op.run(mic);
    const auto reports = static_cast<double>(bed.model->Requests().size());
    for (auto _ : state) op.run(mic);
    bed.model->ClearRequests();
    bed.log.Clear();
    state.counters["reports"] = reports;
    state.counters["reports_vs_golden"] = reports / op.goldenReports;
}

const bool kRegistered = [] {
    for (const auto& op : kMicOperations)
        benchmark::RegisterBenchmark(op.name, [&op](benchmark::State& s) { MeasureMic(s, op); })
            ->Iterations(50);
    return true;
}();

}  // namespace
}  // namespace ovra

BENCHMARK_MAIN();
