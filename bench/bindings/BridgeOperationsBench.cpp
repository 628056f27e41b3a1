// Library calls and device transfers per operation of the bridge-attached
// headsets and the microphone, against the golden tables' counts (a ratio of
// 1.0 means no redundant call or transfer), and each operation's time as a
// multiple of one bare library call measured in the same run. Protocol waits
// run on a manual clock, so the times are the code's own cost.

#include <benchmark/benchmark.h>

#include <functional>
#include <memory>

#include "device_access/BridgeBinding.h"
#include "device_access/BridgeConnections.h"
#include "device_access/Gen2MidHeadset.h"
#include "device_access/Tv520Headset.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/module/DlModuleLoader.h"
#include "sim/i2c_devices/BridgeHeadsetModels.h"
#include "tests/bridge_double/BridgeDoubleHost.h"

namespace ovra {
namespace {

struct Bed {
    Bed() : loader(DlModuleLoader::ProgramFolder()) {
        host.devices = {&gen2mid, &tv520};
        plain = BridgeBinding::Load(loader, kPlainBridgeLibrary, false, log);
        ene = BridgeBinding::Load(loader, kEneBridgeLibrary, true, log);
        ok = plain->Loaded() && ene->Loaded();
        if (!ok) return;
        for (auto* binding : {plain.get(), ene.get()})
            BindExport<BridgeDoubleAttachFn>(binding->LoadedModule(), "BridgeDouble_Attach")(&host);
        plain->OpenPid(kGen2MidProductId);
        tv520Connection = std::make_unique<Tv520Connection>(*ene);
        tv520Connection->OpenTV520();
    }
    std::size_t Transfers() {
        return gen2mid.registers.Log().Count() + gen2mid.dsp.Log().Count() +
               tv520.first.Log().Count() + tv520.second.Log().Count();
    }
    void ClearRecords() {
        host.ClearCalls();
        for (auto* log_ : {&gen2mid.registers.Log(), &gen2mid.dsp.Log(), &tv520.first.Log(),
                           &tv520.second.Log()})
            log_->Clear();
    }

    DlModuleLoader loader;
    RecordingDebugLog log;
    ManualClock clock;
    sim::Gen2MidHeadsetModel gen2mid;
    sim::Tv520HeadsetModel tv520;
    testing::BridgeDoubleHost host;
    std::unique_ptr<BridgeBinding> plain, ene;
    std::unique_ptr<Tv520Connection> tv520Connection;
    bool ok = false;
};

Bed& TheBed() {
    static Bed bed;
    return bed;
}

const Colour kColour{200, 100, 50};

struct Operation {
    const char* name;
    std::function<void(Bed&)> run;
    int goldenCalls;
    int goldenTransfers;
};

void Measure(benchmark::State& state, const Operation& op) {
    Bed& bed = TheBed();
    if (!bed.ok) {
        state.SkipWithError("bridge library double not found next to the benchmark");
        return;
    }
    bed.ClearRecords();
    op.run(bed);
    const auto calls = static_cast<double>(bed.host.Calls().size());
    const auto transfers = static_cast<double>(bed.Transfers());
    for (auto _ : state) {
        op.run(bed);
        bed.host.ClearCalls();
    }
    state.counters["calls"] = calls;
    state.counters["calls_vs_golden"] = calls / op.goldenCalls;
    state.counters["transfers"] = transfers;
    state.counters["transfers_vs_golden"] = transfers / op.goldenTransfers;
}

// Baseline: one bare register write through the library.
void BM_OneLibraryCall(benchmark::State& state) {
    Bed& bed = TheBed();
    if (!bed.ok) {
        state.SkipWithError("bridge library double not found next to the benchmark");
        return;
    }
    const std::uint8_t value[1] = {1};
    for (auto _ : state) {
        bed.plain->WriteRegister(0x52, 0x0C, value);
        bed.host.ClearCalls();
    }
}
BENCHMARK(BM_OneLibraryCall);

const Operation kOperations[] = {
    {"Gen2Mid/SetLEDEffect", [](Bed& b) { Gen2MidHeadset(*b.plain, b.clock).SetLEDEffect(LightingEffect::Breathing, kColour); }, 4, 4},
    {"Gen2Mid/SetLEDOff", [](Bed& b) { Gen2MidHeadset(*b.plain, b.clock).SetLEDOff(); }, 1, 1},
    {"Gen2Mid/SetLEDFrame", [](Bed& b) { Gen2MidHeadset(*b.plain, b.clock).SetLEDFrame(7); }, 1, 1},
    {"Gen2Mid/WriteColour", [](Bed& b) { Gen2MidHeadset(*b.plain, b.clock).WriteColour(kColour); }, 3, 3},
    {"Gen2Mid/BleStatus", [](Bed& b) { Gen2MidHeadset(*b.plain, b.clock).BleStatusOn(); }, 1, 5},
    {"TV520/SetLEDEffect", [](Bed& b) { Tv520Headset(*b.ene, b.clock).SetLEDEffect(LightingEffect::Static, kColour); }, 30, 28},
    {"TV520/SetLEDEffect(Music)", [](Bed& b) { Tv520Headset(*b.ene, b.clock).SetLEDEffect(LightingEffect::Music, kColour); }, 13, 12},
    {"TV520/SetLEDOff", [](Bed& b) { Tv520Headset(*b.ene, b.clock).SetLEDOff(); }, 26, 24},
    {"TV520/SetLEDFrame", [](Bed& b) { Tv520Headset(*b.ene, b.clock).SetLEDFrame(7); }, 6, 4},
    {"TV520/GetLEDFrame", [](Bed& b) { Tv520Headset(*b.ene, b.clock).GetLEDFrame(); }, 4, 2},
    {"TV520/WriteColour", [](Bed& b) { Tv520Headset(*b.ene, b.clock).WriteColour(kColour); }, 8, 8},
};

const bool kRegistered = [] {
    for (const auto& op : kOperations)
        benchmark::RegisterBenchmark(op.name, [&op](benchmark::State& state) { Measure(state, op); });
    return true;
}();

}  // namespace
}  // namespace ovra

BENCHMARK_MAIN();
