// Per-packet band analysis against a bare cached transform of the same
// length, measured in the same run. Reports the ratio and the allocations
// per packet of the analysis (expected: 0).
#include <benchmark/benchmark.h>
#include <kiss_fft.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "bench/music/AllocationCounter.h"
#include "service/music/BandSpectrum.h"

namespace {

using ovra::bench::AllocationCount;

std::vector<std::int16_t> MusicLikePacket(std::uint32_t frames) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 1500);
    std::vector<std::int16_t> s(2 * std::size_t{frames});
    for (std::uint32_t k = 0; k < frames; ++k) {
        const double v = 8000 * std::sin(2 * std::numbers::pi * 3 * k / frames) +
                         6000 * std::sin(2 * std::numbers::pi * 37 * k / frames) + noise(rng);
        s[2 * k] = static_cast<std::int16_t>(v);
        s[2 * k + 1] = static_cast<std::int16_t>(v * 0.8);
    }
    return s;
}

void BM_BareKissFft(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    kiss_fft_cfg cfg = kiss_fft_alloc(n, 0, nullptr, nullptr);
    const auto packet = MusicLikePacket(static_cast<std::uint32_t>(n));
    std::vector<kiss_fft_cpx> in(static_cast<std::size_t>(n)), out(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k)
        in[static_cast<std::size_t>(k)] = {packet[2 * static_cast<std::size_t>(k)] / 32768.0f, 0};
    for (auto _ : state) {
        kiss_fft(cfg, in.data(), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    kiss_fft_free(cfg);
}

void BM_BandPeaks(benchmark::State& state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    ovra::music::BandSpectrum spectrum;
    const auto packet = MusicLikePacket(n);
    ovra::music::BandPeaks peaks;
    spectrum.GetBandPeaks(packet.data(), n, 2, &peaks);  // the first packet of a length sets up its transform
    const std::uint64_t before = AllocationCount();
    for (auto _ : state) {
        spectrum.GetBandPeaks(packet.data(), n, 2, &peaks);
        benchmark::DoNotOptimize(peaks);
    }
    state.counters["allocs_per_packet"] =
        static_cast<double>(AllocationCount() - before) / static_cast<double>(state.iterations());
}

// Both in one loop, in alternating blocks: on a busy machine the fastest
// block of each is the one least disturbed by other work, so the ratio of the
// two minima is stable where separate runs are not.
void BM_PairedRatio(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    constexpr int kBlock = 16;
    kiss_fft_cfg cfg = kiss_fft_alloc(n, 0, nullptr, nullptr);
    const auto packet = MusicLikePacket(static_cast<std::uint32_t>(n));
    std::vector<kiss_fft_cpx> in(static_cast<std::size_t>(n)), out(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k)
        in[static_cast<std::size_t>(k)] = {packet[2 * static_cast<std::size_t>(k)] / 32768.0f, 0};
    ovra::music::BandSpectrum spectrum;
    ovra::music::BandPeaks peaks;
    spectrum.GetBandPeaks(packet.data(), static_cast<std::uint32_t>(n), 2, &peaks);
    using Clock = std::chrono::steady_clock;
    auto bestBare = Clock::duration::max(), bestOurs = Clock::duration::max();
    for (auto _ : state) {
        auto t0 = Clock::now();
        for (int i = 0; i < kBlock; ++i) {
            kiss_fft(cfg, in.data(), out.data());
            benchmark::ClobberMemory();
        }
        auto t1 = Clock::now();
        for (int i = 0; i < kBlock; ++i) {
            spectrum.GetBandPeaks(packet.data(), static_cast<std::uint32_t>(n), 2, &peaks);
            benchmark::DoNotOptimize(peaks);
        }
        auto t2 = Clock::now();
        bestBare = std::min(bestBare, t1 - t0);
        bestOurs = std::min(bestOurs, t2 - t1);
    }
    kiss_fft_free(cfg);
    state.counters["bare_ns"] = std::chrono::duration<double, std::nano>(bestBare).count() / kBlock;
    state.counters["ours_ns"] = std::chrono::duration<double, std::nano>(bestOurs).count() / kBlock;
    state.counters["ratio"] = std::chrono::duration<double>(bestOurs) / std::chrono::duration<double>(bestBare);
}

constexpr int kLengths[] = {480, 441, 512, 1920};

// Keeps the times per benchmark name for the ratio lines at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
            if (auto it = run.counters.find("ratio"); it != run.counters.end())
                paired_[run.benchmark_name()] = it->second.value;
            if (auto it = run.counters.find("allocs_per_packet"); it != run.counters.end())
                allocs_[run.benchmark_name()] = it->second.value;
        }
    }
    void PrintRatios() const {
        std::printf("\nband analysis per packet vs bare cached kiss_fft of the same length (same run):\n");
        for (const int n : kLengths) {
            const std::string suffix = "/" + std::to_string(n);
            const auto bare = times_.find("BM_BareKissFft" + suffix);
            const auto ours = times_.find("BM_BandPeaks" + suffix);
            if (bare == times_.end() || ours == times_.end()) continue;
            const auto paired = paired_.find("BM_PairedRatio" + suffix);
            std::printf(
                "  N=%-5d ratio %.3f (fastest blocks, interleaved) %.3f (separate runs, CPU time)"
                "  budget 1.10  allocations per packet %.3f\n",
                n, paired == paired_.end() ? 0.0 : paired->second, ours->second / bare->second,
                allocs_.at("BM_BandPeaks" + suffix));
        }
    }

private:
    std::map<std::string, double> times_, allocs_, paired_;
};

}  // namespace

BENCHMARK(BM_BareKissFft)->Arg(480)->Arg(441)->Arg(512)->Arg(1920);
BENCHMARK(BM_BandPeaks)->Arg(480)->Arg(441)->Arg(512)->Arg(1920);
BENCHMARK(BM_PairedRatio)->Arg(480)->Arg(441)->Arg(512)->Arg(1920);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
