#include "service/music/BandSpectrum.h"

#include <cmath>
#include <new>

namespace ovra::music {

namespace {

// The largest re^2 + im^2 of `count` bins, at least 0. Four running maxima
// keep the comparisons independent of each other; the maximum is the same
// in any order.
float LoudestPower(const kiss_fft_cpx* bins, int count) {
    float m0 = 0.0f, m1 = 0.0f, m2 = 0.0f, m3 = 0.0f;
    int k = 0;
    for (; k + 4 <= count; k += 4) {
        const float p0 = bins[k].r * bins[k].r + bins[k].i * bins[k].i;
        const float p1 = bins[k + 1].r * bins[k + 1].r + bins[k + 1].i * bins[k + 1].i;
        const float p2 = bins[k + 2].r * bins[k + 2].r + bins[k + 2].i * bins[k + 2].i;
        const float p3 = bins[k + 3].r * bins[k + 3].r + bins[k + 3].i * bins[k + 3].i;
        m0 = m0 < p0 ? p0 : m0;
        m1 = m1 < p1 ? p1 : m1;
        m2 = m2 < p2 ? p2 : m2;
        m3 = m3 < p3 ? p3 : m3;
    }
    for (; k < count; ++k) {
        const float p = bins[k].r * bins[k].r + bins[k].i * bins[k].i;
        m0 = m0 < p ? p : m0;
    }
    m0 = m0 < m1 ? m1 : m0;
    m2 = m2 < m3 ? m3 : m2;
    return m0 < m2 ? m2 : m0;
}

}  // namespace

BandSpectrum::~BandSpectrum() {
    for (auto& plan : plans_)
        if (plan.config) kiss_fft_free(plan.config);
}

// Band edges for a transform of `length` points: band i ends at the integer
// part of length^(i / (bands - 1)) (computed as (length^0.1)^(10 i / (bands -
// 1))), at least one bin past the previous band and at most the last bin of
// the lower half. With three bands: the single bin 1, then bins 2..sqrt(N),
// then the rest of the lower half.
std::array<BandSpectrum::Band, kBandCount> BandSpectrum::BandEdges(std::uint32_t length) {
    std::array<Band, kBandCount> bands{};
    const int last = static_cast<int>(length / 2) - 1;
    const double base = std::pow(static_cast<double>(length), 0.1);
    int start = 0;
    for (int i = 0; i < kBandCount; ++i) {
        int end = static_cast<int>(std::pow(base, 10.0 * i / (kBandCount - 1)));
        if (end <= start) end = start + 1;
        if (end > last) end = last;
        bands[static_cast<std::size_t>(i)] = Band{start, end};
        start = end;
    }
    return bands;
}

BandSpectrum::Plan* BandSpectrum::PlanFor(std::uint32_t length) {
    Plan* victim = &plans_[0];
    for (auto& plan : plans_) {
        if (plan.length == length && plan.config) {
            plan.lastUse = ++useCounter_;
            return &plan;
        }
        if (plan.lastUse < victim->lastUse) victim = &plan;
    }
    // A new packet length: set up its transform once, replacing the length
    // used longest ago.
    if (victim->config) kiss_fft_free(victim->config);
    victim->config = nullptr;
    victim->length = 0;
    try {
        victim->input.assign(length, kiss_fft_cpx{0.0f, 0.0f});
        victim->output.assign(length, kiss_fft_cpx{0.0f, 0.0f});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    victim->config = kiss_fft_alloc(static_cast<int>(length), 0, nullptr, nullptr);
    if (!victim->config) return nullptr;
    victim->length = length;
    victim->bands = BandEdges(length);
    victim->lastUse = ++useCounter_;
    ++plansCreated_;
    return victim;
}

bool BandSpectrum::GetBandPeaks(const std::int16_t* samples, std::uint32_t frames, std::uint32_t channels,
                                BandPeaks* peaks) {
    // Below four frames the lower half has no bin past the constant one: every
    // band is empty, whatever the samples.
    if (frames < 4 || channels == 0 || samples == nullptr) {
        peaks->fill(0.0f);
        return true;
    }
    Plan* plan = PlanFor(frames);
    if (!plan) return false;

    // One signal from the first two channels, scaled to -1..1; a mono stream
    // gives its one channel. Each frame is `channels` samples wide. The sum of
    // two 16-bit samples is exact in float, so (a + b) / 2^16 is the same value
    // as the mean of a / 2^15 and b / 2^15. The imaginary parts stay 0 from
    // the plan's set-up: the transform does not write its input.
    constexpr float kScale = 1.0f / 32768.0f;
    constexpr float kHalfScale = 1.0f / 65536.0f;
    kiss_fft_cpx* x = plan->input.data();
    if (channels == 1) {
        for (std::uint32_t k = 0; k < frames; ++k) x[k].r = samples[k] * kScale;
    } else if (channels == 2) {  // the common case: a fixed stride
        for (std::uint32_t k = 0; k < frames; ++k)
            x[k].r = static_cast<float>(samples[2 * k] + samples[2 * k + 1]) * kHalfScale;
    } else {
        const std::int16_t* frame = samples;
        for (std::uint32_t k = 0; k < frames; ++k, frame += channels)
            x[k].r = static_cast<float>(frame[0] + frame[1]) * kHalfScale;
    }
    kiss_fft(plan->config, x, plan->output.data());

    // Peak magnitude per band: |X[k]| / 2 of the loudest bin. The square root
    // is monotonic, so it is taken once per band, of the largest power.
    const kiss_fft_cpx* out = plan->output.data();
    for (std::size_t b = 0; b < kBandCount; ++b) {
        const Band band = plan->bands[b];
        const float loudest = band.end > band.first ? LoudestPower(out + band.first + 1, band.end - band.first) : 0.0f;
        (*peaks)[b] = static_cast<float>(static_cast<double>(std::sqrt(loudest)) * 0.5);
    }
    return true;
}

}  // namespace ovra::music
