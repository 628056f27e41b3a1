// Apply latency, from the Apply click to the last device byte, next to the
// protocol's own waits measured in the same run: the handshake's 100 ms and
// the device's waits (HID headset: 1 ms after the command; TV520: 50 ms in
// each controller's apply step). What is left over is our overhead.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include "device_access/HidControl.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/fake/ScriptedDeviceTree.h"
#include "platform/linux/core/SteadyClock.h"
#include "platform/linux/named_objects/PosixNamedObjects.h"
#include "sim/hid/Gen2HeadsetModel.h"
#include "sim/hid/InProcessHidHost.h"
#include "tests/ui_program/ModelFixture.h"
#include "ui_program/core/BoundDeviceLinks.h"

namespace ovra::test {
namespace {

using namespace std::chrono_literals;

struct Rig {
    explicit Rig(DeviceLinks& links, const std::string& id)
        : model(LightingModelDeps{tree, links, store, objects, clock, log, notifier, host}) {
        model.CreateHandshakeEvents();
        tree.Add(id);
        model.DiscoverDevices();
        model.OnEffectChoice(EffectChoice::Breathing);
        model.SetColour({200, 100, 50});
    }
    SteadyClock clock;
    RecordingDebugLog log;
    PosixNamedObjects objects{"bench-apply-" + std::to_string(getpid())};
    PosixNamedObjects serviceObjects{"bench-apply-" + std::to_string(getpid())};
    FakeServiceSide service{serviceObjects};
    ScriptedDeviceTree tree;
    RecordingStore store;
    RecordingNotifier notifier;
    RecordingHost host;
    LightingModel model;
};

void ReportOverhead(benchmark::State& state, std::chrono::nanoseconds total,
                    std::chrono::milliseconds protocolWaits) {
    const double perApplyMs =
        std::chrono::duration<double, std::milli>(total).count() / static_cast<double>(state.iterations());
    state.counters["apply_ms"] = perApplyMs;
    state.counters["protocol_waits_ms"] = static_cast<double>(protocolWaits.count());
    state.counters["overhead_ms"] = perApplyMs - static_cast<double>(protocolWaits.count());
}

// Baseline: the protocol's own waits alone, slept through the same clock.
void BM_ProtocolWaitsHid(benchmark::State& state) {
    SteadyClock clock;
    for (auto _ : state) {
        clock.SleepFor(100ms);  // handshake
        clock.SleepFor(1ms);    // after the HID command
    }
}
BENCHMARK(BM_ProtocolWaitsHid)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ApplyHidHeadset(benchmark::State& state) {
    SteadyClock clock;
    RecordingDebugLog log;
    sim::InProcessHidHost hidHost;
    auto device = std::make_shared<sim::Gen2HeadsetModel>(sim::Gen2Config(), clock);
    hidHost.Add(device);
    HidControl hid(hidHost, log);
    BoundDeviceLinks links(BoundDeviceParts{hid, clock, log});
    Rig rig(links, kGen2Id);
    std::chrono::nanoseconds total{};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        rig.model.OnApply();
        total += std::chrono::steady_clock::now() - start;
    }
    if (sim::Describe(device->Shows()) != "on effect=breathing color=C86432 mode=2")
        state.SkipWithError("the headset did not take the choice");
    ReportOverhead(state, total, 101ms);
    rig.model.EndDeviceConnections(EndReason::WindowClose);
}
BENCHMARK(BM_ApplyHidHeadset)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProtocolWaitsTv520(benchmark::State& state) {
    SteadyClock clock;
    for (auto _ : state) {
        clock.SleepFor(100ms);  // handshake
        clock.SleepFor(50ms);   // apply step of controller 0xCC
        clock.SleepFor(50ms);   // apply step of controller 0xCE
    }
}
BENCHMARK(BM_ProtocolWaitsTv520)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ApplyTv520(benchmark::State& state) {
    SteadyClock clock;
    // The TV520's command sequence stands in as its two 50 ms apply steps.
    FakeDeviceLinks links(clock);
    links.tv520.SetEffectDelay(100ms);
    Rig rig(links, kTv520Id);
    std::chrono::nanoseconds total{};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        rig.model.OnApply();
        total += std::chrono::steady_clock::now() - start;
    }
    ReportOverhead(state, total, 200ms);
    rig.model.EndDeviceConnections(EndReason::WindowClose);
}
BENCHMARK(BM_ApplyTv520)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace ovra::test

BENCHMARK_MAIN();
