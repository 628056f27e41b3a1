// One discovery pass with a headset, a microphone and 50 unrelated USB
// devices in a umockdev tree, next to the bare libudev listing of the same
// tree in the same run.
#include <benchmark/benchmark.h>
#include <libudev.h>

#include "platform/fake/FakeNamedObjects.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/fake/ScriptedDeviceTree.h"
#include "platform/linux/device_tree/UdevDeviceTree.h"
#include "tests/support_usb_testbed/UsbTestbed.h"
#include "tests/ui_program/UiDoubles.h"
#include "ui_program/core/LightingModel.h"

namespace ovra::test {
namespace {

UsbTestbed& Tree() {
    static UsbTestbed* testbed = [] {
        auto* t = new UsbTestbed;
        for (int i = 0; i < 50; ++i)
            t->Add({"1-" + std::to_string(i + 10), static_cast<std::uint16_t>(0x1000 + i), 0x0042,
                    i % 3 + 1, i % 2 ? "" : "SN" + std::to_string(i)});
        t->Add({"1-1", 0x0b05, 0x1855, 4, ""});
        t->Add({"1-2", 0x0b05, 0x1842, 1, ""});
        return t;
    }();
    return *testbed;
}

// What libudev alone costs for the same tree: scan, then one device object
// per entry.
void BM_UdevScanOnly(benchmark::State& state) {
    if (!UsbTestbed::Preloaded()) return state.SkipWithError("needs umockdev-wrapper");
    Tree();
    udev* context = udev_new();
    for (auto _ : state) {
        udev_enumerate* e = udev_enumerate_new(context);
        udev_enumerate_add_match_subsystem(e, "usb");
        udev_enumerate_scan_devices(e);
        udev_list_entry* entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
            udev_device* d = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
            benchmark::DoNotOptimize(udev_device_get_devtype(d));
            udev_device_unref(d);
        }
        udev_enumerate_unref(e);
    }
    udev_unref(context);
}
BENCHMARK(BM_UdevScanOnly)->Unit(benchmark::kMillisecond);

void BM_ListTree(benchmark::State& state) {
    if (!UsbTestbed::Preloaded()) return state.SkipWithError("needs umockdev-wrapper");
    Tree();
    UdevDeviceTree tree;
    std::vector<DeviceNode> nodes;
    for (auto _ : state) {
        tree.ListPresentDevices(nodes);
        benchmark::DoNotOptimize(nodes.data());
    }
    state.counters["nodes"] = static_cast<double>(nodes.size());
}
BENCHMARK(BM_ListTree)->Unit(benchmark::kMillisecond);

void BM_DiscoveryPass(benchmark::State& state) {
    if (!UsbTestbed::Preloaded()) return state.SkipWithError("needs umockdev-wrapper");
    Tree();
    ManualClock clock;
    RecordingDebugLog log;
    FakeNamedObjects objects(&clock);
    UdevDeviceTree tree;
    FakeDeviceLinks links(clock);
    RecordingStore store;
    RecordingNotifier notifier;
    RecordingHost host;
    LightingModel model(LightingModelDeps{tree, links, store, objects, clock, log, notifier, host});
    model.CreateHandshakeEvents();
    model.DiscoverDevices();
    if (!model.Connected(DeviceFamily::Gen2) || !model.Connected(DeviceFamily::MK470))
        return state.SkipWithError("the pass did not find the devices");
    for (auto _ : state) model.DiscoverDevices();
    model.EndDeviceConnections(EndReason::WindowClose);
}
BENCHMARK(BM_DiscoveryPass)->Unit(benchmark::kMillisecond);

// The model's own share: the same pass over a snapshot of the listed nodes.
void BM_DiscoveryPassOnSnapshot(benchmark::State& state) {
    if (!UsbTestbed::Preloaded()) return state.SkipWithError("needs umockdev-wrapper");
    Tree();
    std::vector<DeviceNode> nodes;
    UdevDeviceTree real;
    real.ListPresentDevices(nodes);
    ScriptedDeviceTree tree;
    for (const auto& node : nodes) tree.Add(node.instanceId);
    ManualClock clock;
    RecordingDebugLog log;
    FakeNamedObjects objects(&clock);
    FakeDeviceLinks links(clock);
    RecordingStore store;
    RecordingNotifier notifier;
    RecordingHost host;
    LightingModel model(LightingModelDeps{tree, links, store, objects, clock, log, notifier, host});
    model.CreateHandshakeEvents();
    model.DiscoverDevices();
    for (auto _ : state) model.DiscoverDevices();
    state.counters["nodes"] = static_cast<double>(nodes.size());
    model.EndDeviceConnections(EndReason::WindowClose);
}
BENCHMARK(BM_DiscoveryPassOnSnapshot)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ovra::test

BENCHMARK_MAIN();
