#pragma once
// Spectrum analysis of one captured packet: the loudest component in a low,
// a middle and a high band of one forward transform of the whole packet.
//
// The transform configuration and the work buffers are kept per packet
// length (a few lengths at a time), so a steady stream of packets allocates
// nothing; the results are those of a fresh transform of each packet.

#include <array>
#include <cstdint>
#include <vector>

#include <kiss_fft.h>

namespace ovra::music {

inline constexpr int kBandCount = 3;

// Peak magnitudes, lowest band first. A full-scale sine on a transform bin
// gives a quarter of the packet length (120 for 480 frames).
using BandPeaks = std::array<float, kBandCount>;

class BandSpectrum {
public:
    BandSpectrum() = default;
    ~BandSpectrum();
    BandSpectrum(const BandSpectrum&) = delete;
    BandSpectrum& operator=(const BandSpectrum&) = delete;

    // `samples` holds `frames` interleaved frames of `channels` 16-bit
    // samples. The signal is the mean of channels 0 and 1 (a mono stream's
    // one channel). False only when the transform could not be set up (out of
    // memory); `peaks` is then untouched.
    bool GetBandPeaks(const std::int16_t* samples, std::uint32_t frames, std::uint32_t channels, BandPeaks* peaks);

    // Number of transform set-ups made so far (for tests of the cache).
    std::uint64_t PlansCreated() const { return plansCreated_; }

private:
    struct Band {
        int first;  // bins first+1 .. end (the constant component never counts)
        int end;
    };
    struct Plan {
        std::uint32_t length = 0;
        kiss_fft_cfg config = nullptr;
        std::vector<kiss_fft_cpx> input;
        std::vector<kiss_fft_cpx> output;
        std::array<Band, kBandCount> bands{};
        std::uint64_t lastUse = 0;
    };
    static constexpr std::size_t kCachedLengths = 4;

    Plan* PlanFor(std::uint32_t length);
    static std::array<Band, kBandCount> BandEdges(std::uint32_t length);

    std::array<Plan, kCachedLengths> plans_{};
    std::uint64_t useCounter_ = 0;
    std::uint64_t plansCreated_ = 0;
};

}  // namespace ovra::music
