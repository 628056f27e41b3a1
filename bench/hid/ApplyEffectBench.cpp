// Applying one effect to a Gen2 headset: HidHeadset -> HidControl -> the real
// hidraw adapter -> /dev/hidrawN (umockdev) -> the headset model, on the real
// clock. The protocol's own cost is one fixed 1 ms wait after the command and
// three output reports (PrepareTransaction and the two halves of the command
// block); the figures to read are the time against that wait (baseline
// ProtocolWait, measured in the same run) and the reports per apply.
//
//   ApplyEffect/umockdev   the whole path through the kernel interface
//   ApplyEffect/inprocess  the same logic with the model behind the port
//                          (isolates what the hidraw path adds)
//   TestbedWrite           one bare write() of a 16-byte report to the node:
//                          what the testbed's transport itself costs per report
// Counters: reports (per apply, must be 3), overhead_ms (time minus the 1 ms
// wait), x_wait (time / measured wait), beyond_testbed_ms (overhead minus
// three bare testbed writes: what our adapter and logic add).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "device_access/HidControl.h"
#include "device_access/HidHeadset.h"
#include "platform/DebugLog.h"
#include "platform/linux/core/SteadyClock.h"
#include "platform/linux/hid/HidrawEnumerator.h"
#include "sim/hid/Gen2HeadsetModel.h"
#include "sim/hid/InProcessHidHost.h"
#include "sim/umockdev/UmockdevHidHost.h"

namespace {

using namespace std::chrono_literals;

class QuietLog final : public ovra::DebugLog {
public:
    void Write(std::string_view) override {}
};

double g_waitSeconds = 0;     // the measured 1 ms protocol wait
double g_testbedWrite = 0;    // one bare write() through the testbed

void ProtocolWait(benchmark::State& state) {
    ovra::SteadyClock clock;
    for (auto _ : state) clock.SleepFor(1ms);
    state.SetIterationTime(0);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i) clock.SleepFor(1ms);
    g_waitSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 50;
    state.counters["wait_ms"] = g_waitSeconds * 1e3;
}

void Report(benchmark::State& state, std::size_t reports, double seconds, bool overTestbed) {
    const double perApply = seconds / static_cast<double>(state.iterations());
    state.counters["reports"] = static_cast<double>(reports) / static_cast<double>(state.iterations());
    state.counters["overhead_ms"] = (perApply - g_waitSeconds) * 1e3;
    if (g_waitSeconds > 0) state.counters["x_wait"] = perApply / g_waitSeconds;
    if (overTestbed) state.counters["beyond_testbed_ms"] = (perApply - g_waitSeconds - 3 * g_testbedWrite) * 1e3;
}

void TestbedWrite(benchmark::State& state) {
    ovra::SteadyClock clock;
    auto model = std::make_shared<ovra::sim::Gen2HeadsetModel>(ovra::sim::Gen2Config(), clock);
    ovra::sim::UmockdevHidHost host;
    host.AddDevice(model);
    const int fd = open("/dev/hidraw0", O_RDWR | O_CLOEXEC);
    if (fd < 0) return state.SkipWithError("cannot open the node");
    // A read request for one byte: the model takes it without side effects.
    const std::uint8_t report[16] = {0x01, 0x00, 0xFE, 0x01, 0x00, 0x94};
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (write(fd, report, sizeof report) != sizeof report) state.SkipWithError("write failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    close(fd);
    g_testbedWrite = seconds / static_cast<double>(state.iterations());
    state.counters["write_ms"] = g_testbedWrite * 1e3;
}

template <typename Apply>
void Measure(benchmark::State& state, ovra::sim::Gen2HeadsetModel& model, bool overTestbed, Apply apply) {
    apply();  // first apply outside the measurement (opens caches, threads)
    model.ClearTraffic();
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!apply()) state.SkipWithError("SetLEDEffect failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    Report(state, model.OutputReports().size(), seconds, overTestbed);
}

void ApplyEffectUmockdev(benchmark::State& state) {
    ovra::SteadyClock clock;
    QuietLog log;
    auto model = std::make_shared<ovra::sim::Gen2HeadsetModel>(ovra::sim::Gen2Config(), clock);
    ovra::sim::UmockdevHidHost host;
    host.AddDevice(model);
    ovra::HidrawEnumerator enumerator(log);
    ovra::HidControl hid(enumerator, log);
    if (!hid.OpenDevice(0x0B05, 0x1855) || !hid.StartReadThread()) return state.SkipWithError("no headset");
    ovra::HidHeadset headset(ovra::DeviceFamily::Gen2, hid, clock, log);
    Measure(state, *model, true, [&] { return headset.SetLEDEffect(ovra::LightingEffect::Breathing, {255, 64, 0}); });
    hid.CloseDevice();
}

void ApplyEffectInProcess(benchmark::State& state) {
    ovra::SteadyClock clock;
    QuietLog log;
    auto model = std::make_shared<ovra::sim::Gen2HeadsetModel>(ovra::sim::Gen2Config(), clock);
    ovra::sim::InProcessHidHost host(&clock);
    host.Add(model);
    ovra::HidControl hid(host, log);
    if (!hid.OpenDevice(0x0B05, 0x1855) || !hid.StartReadThread()) return state.SkipWithError("no headset");
    ovra::HidHeadset headset(ovra::DeviceFamily::Gen2, hid, clock, log);
    Measure(state, *model, false, [&] { return headset.SetLEDEffect(ovra::LightingEffect::Breathing, {255, 64, 0}); });
    hid.CloseDevice();
}

BENCHMARK(ProtocolWait)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(TestbedWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(ApplyEffectUmockdev)->Name("ApplyEffect/umockdev")->Unit(benchmark::kMillisecond);
BENCHMARK(ApplyEffectInProcess)->Name("ApplyEffect/inprocess")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
