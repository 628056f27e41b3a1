// Band peaks of single packets against a plain DFT computed here in double
// precision. Tolerance: 1e-3 absolute on magnitudes whose full scale is N/4
// (120 for 480 frames), i.e. well under 1e-5 of full scale; the float
// transform's rounding is about 1e-5 absolute at these lengths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "service/music/BandSpectrum.h"

namespace ovra::music {
namespace {

constexpr double kTolerance = 1e-3;

struct Packet {
    std::vector<std::int16_t> samples;  // exactly frames x channels
    std::uint32_t frames;
    std::uint32_t channels;
};

// The signal the analysis sees: mean of channels 0 and 1, or the one channel.
std::vector<double> MonoSignal(const Packet& p) {
    std::vector<double> x(p.frames);
    for (std::uint32_t k = 0; k < p.frames; ++k) {
        const std::int16_t* f = &p.samples[static_cast<std::size_t>(k) * p.channels];
        x[k] = p.channels == 1 ? f[0] / 32768.0 : (f[0] / 32768.0 + f[1] / 32768.0) / 2.0;
    }
    return x;
}

// Band k ranges (inclusive bins) for N, straight from the edge rule.
std::vector<std::pair<int, int>> ReferenceBands(std::uint32_t n) {
    const int last = static_cast<int>(n / 2) - 1;
    std::vector<std::pair<int, int>> bands;
    int s = 0;
    for (int i = 0; i < 3; ++i) {
        int e = static_cast<int>(std::pow(std::pow(static_cast<double>(n), 0.1), 5.0 * i));
        if (e <= s) e = s + 1;
        if (e > last) e = last;
        bands.emplace_back(s + 1, e);  // bins s+1 .. e
        s = e;
    }
    return bands;
}

BandPeaks ReferencePeaks(const Packet& p) {
    BandPeaks peaks{0, 0, 0};
    if (p.frames == 0) return peaks;
    const std::vector<double> x = MonoSignal(p);
    const std::uint32_t n = p.frames;
    std::vector<double> magnitude(n / 2 + 1, 0.0);
    for (std::uint32_t j = 0; j <= n / 2; ++j) {
        double re = 0, im = 0;
        for (std::uint32_t k = 0; k < n; ++k) {
            const double angle =
                -2.0 * std::numbers::pi * static_cast<double>((static_cast<std::uint64_t>(j) * k) % n) / n;
            re += x[k] * std::cos(angle);
            im += x[k] * std::sin(angle);
        }
        magnitude[j] = std::hypot(re, im) / 2.0;
    }
    const auto bands = ReferenceBands(n);
    for (std::size_t b = 0; b < 3; ++b)
        for (int bin = bands[b].first; bin <= bands[b].second; ++bin)
            peaks[b] = std::max(peaks[b], static_cast<float>(magnitude[static_cast<std::size_t>(bin)]));
    return peaks;
}

Packet Sine(std::uint32_t frames, std::uint32_t channels, double cyclesPerPacket, double amplitude,
            bool oppositeSecondChannel = false) {
    Packet p{std::vector<std::int16_t>(static_cast<std::size_t>(frames) * channels), frames, channels};
    for (std::uint32_t k = 0; k < frames; ++k) {
        const double v = amplitude * std::sin(2 * std::numbers::pi * cyclesPerPacket * k / frames);
        const auto s = static_cast<std::int16_t>(std::lround(v));
        for (std::uint32_t c = 0; c < channels; ++c) {
            std::int16_t value = s;
            if (c == 1 && oppositeSecondChannel) value = static_cast<std::int16_t>(-s);
            if (c >= 2) value = static_cast<std::int16_t>(9000 * ((k + c) % 3) - 9000);  // must be ignored
            p.samples[static_cast<std::size_t>(k) * channels + c] = value;
        }
    }
    return p;
}

Packet Noise(std::uint32_t frames, std::uint32_t channels, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-20000, 20000);
    Packet p{std::vector<std::int16_t>(static_cast<std::size_t>(frames) * channels), frames, channels};
    for (auto& s : p.samples) s = static_cast<std::int16_t>(dist(rng));
    return p;
}

struct Case {
    std::string name;
    Packet packet;
};

class SpectrumTable : public ::testing::TestWithParam<Case> {};

TEST_P(SpectrumTable, MatchesPlainDft) {
    const Case& c = GetParam();
    BandSpectrum spectrum;
    BandPeaks peaks{-1, -1, -1};
    ASSERT_TRUE(spectrum.GetBandPeaks(c.packet.samples.data(), c.packet.frames, c.packet.channels, &peaks));
    const BandPeaks expected = ReferencePeaks(c.packet);
    for (std::size_t b = 0; b < 3; ++b) EXPECT_NEAR(peaks[b], expected[b], kTolerance) << c.name << " band " << b;
}

INSTANTIATE_TEST_SUITE_P(
    Packets, SpectrumTable,
    ::testing::Values(Case{"silence", Packet{std::vector<std::int16_t>(960, 0), 480, 2}},
                      Case{"sine1k_48k_n480", Sine(480, 2, 10, 32767)}, Case{"noise_n480", Noise(480, 2, 1)},
                      Case{"noise_n512", Noise(512, 2, 2)}, Case{"noise_prime_479", Noise(479, 2, 3)},
                      Case{"noise_prime_997", Noise(997, 2, 4)}, Case{"noise_2x241", Noise(482, 2, 5)},
                      Case{"noise_3x331", Noise(993, 2, 6)}, Case{"mono_noise_441", Noise(441, 1, 7)},
                      Case{"mono_sine", Sine(80, 1, 10, 20000)}, Case{"six_channels_sine", Sine(480, 6, 10, 20000)},
                      Case{"perfect_square_n484", Noise(484, 2, 8)}, Case{"n4", Noise(4, 2, 9)},
                      Case{"n5", Noise(5, 2, 10)}),
    [](const ::testing::TestParamInfo<Case>& param) { return param.param.name; });

TEST(Spectrum, FullScaleSineAt1kHzPeaksInMiddleBand) {
    // 48 kHz, 480 frames: bins are 100 Hz apart and 1 kHz is bin 10.
    const Packet p = Sine(480, 2, 10, 32767);
    BandSpectrum spectrum;
    BandPeaks peaks;
    ASSERT_TRUE(spectrum.GetBandPeaks(p.samples.data(), p.frames, p.channels, &peaks));
    EXPECT_NEAR(peaks[1], 120.0 * 32767 / 32768, 0.01);
    EXPECT_LT(peaks[0], 0.01);
    EXPECT_LT(peaks[2], 0.01);
}

TEST(Spectrum, Length512BandEdges) {
    // Band 0 is bin 1, band 1 bins 2..22, band 2 bins 23..255; bin 256 (the
    // highest frequency) and bin 0 never count.
    struct Edge {
        int bin;
        int band;  // -1: no band
    };
    for (const Edge e : {Edge{1, 0}, Edge{2, 1}, Edge{22, 1}, Edge{23, 2}, Edge{255, 2}, Edge{256, -1}}) {
        Packet p{std::vector<std::int16_t>(1024), 512, 2};
        for (int k = 0; k < 512; ++k) {
            const auto s =
                static_cast<std::int16_t>(std::lround(16000 * std::cos(2 * std::numbers::pi * e.bin * k / 512)));
            p.samples[2 * static_cast<std::size_t>(k)] = p.samples[2 * static_cast<std::size_t>(k) + 1] = s;
        }
        BandSpectrum spectrum;
        BandPeaks peaks;
        ASSERT_TRUE(spectrum.GetBandPeaks(p.samples.data(), 512, 2, &peaks));
        for (int b = 0; b < 3; ++b) {
            if (b == e.band)
                EXPECT_NEAR(peaks[static_cast<std::size_t>(b)], 128.0 * 16000 / 32768, 0.01) << "bin " << e.bin;
            else
                EXPECT_LT(peaks[static_cast<std::size_t>(b)], 0.01) << "bin " << e.bin << " band " << b;
        }
    }
}

TEST(Spectrum, ShortPacketsGiveZeroLevels) {
    for (std::uint32_t n = 0; n < 4; ++n) {
        std::vector<std::int16_t> loud(2 * n, 30000);
        BandSpectrum spectrum;
        BandPeaks peaks{9, 9, 9};
        ASSERT_TRUE(spectrum.GetBandPeaks(loud.data(), n, 2, &peaks));
        EXPECT_EQ(peaks, (BandPeaks{0, 0, 0})) << "N=" << n;
    }
}

TEST(Spectrum, OppositeChannelsCancel) {
    const Packet p = Sine(480, 2, 10, 32767, /*opposite*/ true);
    BandSpectrum spectrum;
    BandPeaks peaks;
    ASSERT_TRUE(spectrum.GetBandPeaks(p.samples.data(), p.frames, p.channels, &peaks));
    EXPECT_EQ(peaks, (BandPeaks{0, 0, 0}));
}

TEST(Spectrum, CachedPlansGiveTheSameResultsAsFreshOnes) {
    // Lengths alternate over more than the cache holds; each result must be
    // bit-identical to that of an analyser that never saw another length.
    BandSpectrum shared;
    const std::uint32_t lengths[] = {480, 441, 512, 479, 960, 480, 441, 97, 480};
    unsigned seed = 20;
    for (const std::uint32_t n : lengths) {
        const Packet p = Noise(n, 2, seed++);
        BandPeaks cached, fresh;
        ASSERT_TRUE(shared.GetBandPeaks(p.samples.data(), n, 2, &cached));
        BandSpectrum once;
        ASSERT_TRUE(once.GetBandPeaks(p.samples.data(), n, 2, &fresh));
        EXPECT_EQ(cached, fresh) << "N=" << n;
    }
    // 480 stayed cached while fewer than four other lengths came between.
    EXPECT_LT(shared.PlansCreated(), std::size(lengths));
}

}  // namespace
}  // namespace ovra::music
