// One control transfer to the bridge-chip model (behind umockdev): straight
// through libusb, and through the library's request client, the socket, the
// KvsUpx proxy and its libusb. The transfer is the vendor super-register
// write of one data byte to register 0x07 of slave 0xA4, the single request a
// one-byte register write makes on the vendor channel. Reported: the proxy
// path's time as a ratio of the direct one, and the hop's cost in µs.

#include <benchmark/benchmark.h>
#include <libusb.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>

#include "bridge_library/install/ProxyClient.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/proxy/SocketProxyChannel.h"
#include "sim/bridge_chip/RegisterFileI2cDevice.h"
#include "sim/bridge_chip/UsbfsHost.h"
#include "tests/bridge_usb/ProxyProcess.h"

namespace {

using namespace ovra;

struct Bed {
    sim::BridgeChipModel model;
    sim::RegisterFileI2cDevice headset;
    std::unique_ptr<sim::UsbfsHost> host;
    std::unique_ptr<test::ProxyProcess> proxyProcess;
    RecordingDebugLog log;  // the client logs every vendor request
    std::unique_ptr<brx::ProxyClient> client;
    std::uint64_t context = 0;
    libusb_context* usb = nullptr;
    libusb_device_handle* direct = nullptr;

    bool Start() {
        model.AttachI2c(0xA4, &headset);
        host = std::make_unique<sim::UsbfsHost>(model);
        if (!host->Ok()) return false;
        const std::string instance = test::UniqueInstance("bench");
        proxyProcess = std::make_unique<test::ProxyProcess>(instance);
        if (!proxyProcess->Ready()) return false;
        proxy::SocketProxyChannelOpener opener(instance);
        ProxyError e;
        client = std::make_unique<brx::ProxyClient>(log);
        client->Attach(opener.Open(proxy::kControlChannelName, e));
        if (!client->IsOpen() || !client->Open(proxy::MakeInterfaceHandle(1, 2, 0), &context)) return false;
        if (libusb_init(&usb) != 0) return false;
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(usb, &list);
        for (ssize_t i = 0; i < n; ++i)
            if (libusb_get_bus_number(list[i]) == 1 && libusb_get_device_address(list[i]) == 2)
                libusb_open(list[i], &direct);
        libusb_free_device_list(list, 1);
        return direct != nullptr;
    }
    ~Bed() {
        if (direct) libusb_close(direct);
        if (usb) libusb_exit(usb);
        client.reset();
        proxyProcess.reset();
    }
};

Bed* g_bed = nullptr;
double g_directSeconds = 0;

std::array<std::uint8_t, 2> Payload() { return {0x07, 0x01}; }  // register 0x07 <- 1

void BM_DirectLibusbTransfer(benchmark::State& state) {
    auto data = Payload();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const int r = libusb_control_transfer(g_bed->direct, 0x40, 0x3E, 0x0052, 0x0100, data.data(), 2, 5000);
        if (r != 2) state.SkipWithError("direct transfer failed");
    }
    g_directSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                      static_cast<double>(state.iterations());
}

void BM_TransferThroughProxy(benchmark::State& state) {
    auto data = Payload();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!g_bed->client->UsbVendorRequest(g_bed->context, 0x40, 0x3E, 0x0052, 0x0100, data, false, nullptr))
            state.SkipWithError("transfer through the proxy failed");
        g_bed->log.Clear();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                           static_cast<double>(state.iterations());
    if (g_directSeconds > 0) {
        state.counters["ratio_vs_direct"] = seconds / g_directSeconds;
        state.counters["hop_us"] = (seconds - g_directSeconds) * 1e6;
    }
}

BENCHMARK(BM_DirectLibusbTransfer)->UseRealTime();
BENCHMARK(BM_TransferThroughProxy)->UseRealTime();

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
