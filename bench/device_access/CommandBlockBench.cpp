// Encoding a headset command block (template text -> 22 bytes) must not
// allocate; its cost is reported as a ratio to copying 22 bytes.

#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>

#include "device_access/HexCommandCodec.h"
#include "device_access/HidHeadsetCommandBlock.h"

namespace {
std::atomic<std::size_t> gAllocations{0};
std::atomic<bool> gAllocated{false};
}

// Every allocation of the program is counted. (GCC cannot see that these
// replacements pair malloc and free themselves.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    ++gAllocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using ovra::Colour;
using ovra::LightingEffect;

// Runs `body` per iteration and fails the benchmark if any iteration allocated.
template <typename Body>
void CountingAllocations(benchmark::State& state, Body&& body) {
    const std::size_t before = gAllocations.load();
    for (auto _ : state) body();
    const std::size_t allocations = gAllocations.load() - before;
    state.counters["allocs_per_op"] =
        benchmark::Counter(static_cast<double>(allocations) / static_cast<double>(state.iterations()));
    if (allocations != 0) {
        gAllocated = true;
        state.SkipWithError("encoding allocated");
    }
}

void BM_Baseline_Memcpy22(benchmark::State& state) {
    std::array<std::uint8_t, 22> source{};
    source[3] = 0xE6;
    std::array<std::uint8_t, 22> target{};
    CountingAllocations(state, [&] {
        benchmark::DoNotOptimize(source);
        std::memcpy(target.data(), source.data(), target.size());
        benchmark::DoNotOptimize(target);
        benchmark::ClobberMemory();
    });
}
BENCHMARK(BM_Baseline_Memcpy22);

void BM_EncodeSetLEDEffect(benchmark::State& state) {
    Colour colour{229.6, 26.2, 0.0};
    CountingAllocations(state, [&] {
        benchmark::DoNotOptimize(colour);
        auto block = ovra::EncodeSetLEDEffect(LightingEffect::Breathing, colour);
        benchmark::DoNotOptimize(block);
    });
}
BENCHMARK(BM_EncodeSetLEDEffect);

void BM_EncodeSetLEDFrame(benchmark::State& state) {
    std::uint8_t frame = 0xA5;
    CountingAllocations(state, [&] {
        benchmark::DoNotOptimize(frame);
        auto block = ovra::EncodeSetLEDFrame(frame);
        benchmark::DoNotOptimize(block);
    });
}
BENCHMARK(BM_EncodeSetLEDFrame);

void BM_DecodeHexCommand(benchmark::State& state) {
    const char* text = "52 04 00 e6 1a 0 02 00 00 00 00 00 00 00 00 00 00 00 00 04 9A 80";
    std::array<std::uint8_t, 22> block{};
    CountingAllocations(state, [&] {
        benchmark::DoNotOptimize(text);
        auto count = ovra::DecodeHexCommand(text, block);
        benchmark::DoNotOptimize(count);
        benchmark::DoNotOptimize(block);
    });
}
BENCHMARK(BM_DecodeHexCommand);

// Prints each benchmark's time as a ratio to the baseline of the same run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto baseline = times_.find("BM_Baseline_Memcpy22");
        if (baseline == times_.end() || baseline->second <= 0) return;
        for (const auto& [name, time] : times_)
            if (name != baseline->first)
                std::printf("ratio %s / BM_Baseline_Memcpy22 = %.1f\n", name.c_str(),
                            time / baseline->second);
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (gAllocated) {
        std::fprintf(stderr, "FAIL: a command block encoding allocated memory\n");
        return 1;
    }
    return 0;
}
