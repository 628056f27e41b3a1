// The bridge library's exports against the bridge-chip model behind umockdev,
// loaded by file name as the programs load it (the library installs and
// starts its proxy itself).
// - One WriteI2CSuperRegister (vendor channel, bus mode 2) through library,
//   proxy and libusb, as a ratio of the same vendor request sent straight
//   through libusb to the same device in the same run.
// - Control transfers that reach the device per export, against the number
//   the protocol needs (a ratio of 1.00 = no redundant transfer).

#include <benchmark/benchmark.h>
#include <libusb.h>
#include <stdlib.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "sim/bridge_chip/RegisterFileI2cDevice.h"
#include "sim/bridge_chip/UsbfsHost.h"
#include "tests/bridge_lib_integration/LoadedBridgeLibrary.h"

namespace {

using namespace ovra;

struct Bed {
    sim::BridgeChipModel model;
    sim::RegisterFileI2cDevice headset;
    std::unique_ptr<sim::UsbfsHost> host;
    std::unique_ptr<test::LoadedBridgeLibrary> lib;
    std::string privateDir;
    libusb_context* usb = nullptr;
    libusb_device_handle* direct = nullptr;

    bool Start() {
        const std::string tag = "bridge-lib-bench-" + std::to_string(::getpid());
        ::setenv("OVRA_PROXY_INSTANCE", tag.c_str(), 1);
        ::setenv("OVRA_IPC_NAMESPACE", tag.c_str(), 1);
        char pattern[] = "/tmp/ovra-bridge-lib-bench-XXXXXX";
        if (!::mkdtemp(pattern)) return false;
        privateDir = pattern;
        ::setenv("OVRA_PRIVATE_DIR", pattern, 1);

        model.AttachI2c(0xA4, &headset);
        host = std::make_unique<sim::UsbfsHost>(model);
        if (!host->Ok()) return false;
        lib = std::make_unique<test::LoadedBridgeLibrary>("B2Xlib_ene.so");
        if (!lib->Complete() || lib->Initialize(0, 0) != 1 || lib->OpenPid(0x1876) == 0) return false;

        if (libusb_init(&usb) != 0) return false;
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(usb, &list);
        for (ssize_t i = 0; i < n; ++i)
            if (libusb_get_bus_number(list[i]) == host->Bus() &&
                libusb_get_device_address(list[i]) == host->Address())
                libusb_open(list[i], &direct);
        libusb_free_device_list(list, 1);
        return direct != nullptr;
    }
    ~Bed() {
        if (direct) libusb_close(direct);
        if (usb) libusb_exit(usb);
        if (lib && lib->Complete()) {
            lib->Close();
            lib->UnInitialize();  // the last user stops the proxy
        }
        if (!privateDir.empty()) std::filesystem::remove_all(privateDir);
    }
};

Bed* g_bed = nullptr;
double g_directSeconds = 0;

void BM_DirectLibusbSuperWrite(benchmark::State& state) {
    std::array<unsigned char, 3> data{0x07, 0x01, 0x02};  // register 0x07 <- 01 02
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (libusb_control_transfer(g_bed->direct, 0x40, 0x3E, 0x0052, 0x0200, data.data(), 3, 5000) != 3)
            state.SkipWithError("direct transfer failed");
    }
    g_directSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                      static_cast<double>(state.iterations());
}

void BM_LibraryWriteI2CSuperRegister(benchmark::State& state) {
    const std::array<unsigned char, 2> data{0x01, 0x02};
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (g_bed->lib->WriteSuper(0xA4, 2, 1, 0x07, 2, data.data()) != 1)
            state.SkipWithError("library write failed");
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                           static_cast<double>(state.iterations());
    if (g_directSeconds > 0) {
        state.counters["ratio_vs_direct"] = seconds / g_directSeconds;
        state.counters["overhead_us"] = (seconds - g_directSeconds) * 1e6;
    }
}

struct ExportCase {
    const char* name;
    int protocolTransfers;
    std::function<int()> call;
};

// Each export with the transfers the protocol needs on the vendor channel.
const ExportCase kExports[] = {
    {"WriteI2CSuperRegister", 1,
     [] { const unsigned char d[2] = {1, 2}; return g_bed->lib->WriteSuper(0xA4, 2, 1, 0x07, 2, d); }},
    {"ReadI2CSuperRegister", 2,
     [] { unsigned char d[2]; return g_bed->lib->ReadSuper(0xA4, 2, 1, 0x07, 2, d); }},
    // Bus mode 0 on a prepared bus: read the state, set the mode, read mode,
    // state and ready flag, read the ready flag again, then the write.
    {"WriteI2CSuperRegister_busMode0_ready", 7,
     [] { const unsigned char d[1] = {1}; return g_bed->lib->WriteSuper(0xA4, 0, 1, 0x07, 1, d); }},
    {"WriteI2CRegister_DSP", 5, [] { return g_bed->lib->WriteDsp(0xA4, 0x12345678, 0xAABBCCDD, 4); }},
    {"ReadI2CRegister_DSP", 7,
     [] { unsigned v = 0; return g_bed->lib->ReadDsp(0xA4, 0x10, &v, 2); }},
    {"USB_Customer_Control", 1, [] { return g_bed->lib->CustomerControl(3); }},
    // Open: the probe's wake-up check and device information (device
    // descriptor, configuration header and whole, twelve status pieces), the
    // object's own wake-up check, and the qualify command and data piece.
    // (Close itself sends nothing.)
    {"UVC_Close_and_UVC_OpenPID", 19,
     [] {
         g_bed->lib->Close();
         return g_bed->lib->OpenPid(0x1876) != 0 ? 1 : 0;
     }},
};

void BM_TransfersPerExport(benchmark::State& state) {
    const ExportCase& c = kExports[state.range(0)];
    state.SetLabel(c.name);
    c.call();  // once outside the count: bus mode 0 prepares the bus the first time
    std::size_t transfers = 0;
    for (auto _ : state) {
        const std::size_t before = g_bed->host->SubmittedUrbs();
        if (c.call() != 1) state.SkipWithError("export failed");
        transfers += g_bed->host->SubmittedUrbs() - before;
    }
    const double perCall = static_cast<double>(transfers) / static_cast<double>(state.iterations());
    state.counters["transfers"] = perCall;
    state.counters["protocol"] = c.protocolTransfers;
    state.counters["transfers_vs_protocol"] = perCall / c.protocolTransfers;
}

BENCHMARK(BM_DirectLibusbSuperWrite)->UseRealTime();
BENCHMARK(BM_LibraryWriteI2CSuperRegister)->UseRealTime();
BENCHMARK(BM_TransfersPerExport)->DenseRange(0, static_cast<int>(std::size(kExports)) - 1)->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Bed bed;
    if (!bed.Start()) {
        std::fprintf(stderr, "bench: the test bed did not start (run under umockdev-wrapper)\n");
        return 1;
    }
    g_bed = &bed;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_bed = nullptr;
    return 0;
}
