#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "service/music/MusicColor.h"

namespace ovra::music {
namespace {

constexpr double kEps = 1e-9;

void ExpectColor(const RgbColor& actual, const RgbColor& expected, const std::string& what) {
    EXPECT_NEAR(actual.red, expected.red, kEps) << what;
    EXPECT_NEAR(actual.green, expected.green, kEps) << what;
    EXPECT_NEAR(actual.blue, expected.blue, kEps) << what;
}

TEST(HslToRgb, Table) {
    struct Row {
        double h, s, l;
        RgbColor rgb;
    };
    const Row rows[] = {
        {0.0, 1.0, 0.5, {255, 0, 0}},                      // red
        {0.25, 1.0, 0.5, {127.5, 255, 0}},                 // sextant 1, halfway
        {1.0 / 3.0, 1.0, 0.25, {0, 127.5, 0}},             // dark green, sextant 2 start
        {0.5, 1.0, 0.5, {0, 255, 255}},                    // cyan
        {0.75, 1.0, 0.5, {127.5, 0, 255}},                 // sextant 4
        {0.9, 1.0, 0.5, {255, 0, 255 * (1 - (5.4 - 5))}},  // sextant 5
        {0.0, 0.5, 0.75, {223.125, 159.375, 159.375}},     // lightness above one half
        {0.3, 1.0, 0.0, {0, 0, 0}},                        // black: nothing to mix
        {1.0, 1.0, 0.5, {127.5, 127.5, 127.5}},            // sextant 6 is out of range: grey
    };
    for (const Row& r : rows)
        ExpectColor(HslToRgb(r.h, r.s, r.l), r.rgb,
                    "h=" + std::to_string(r.h) + " s=" + std::to_string(r.s) + " l=" + std::to_string(r.l));
}

TEST(MusicColor, SteadyLoudBassBrightensTowardsRed) {
    MusicColorMapper mapper;
    double w = 0;
    for (int step = 1; step <= 8; ++step) {
        const RgbColor c = mapper.Next(0.0f, 0.0f, 100.0f);  // blue level = low band
        w = 1.0 - std::pow(0.5, step);                       // 0.5, 0.75, 0.875, ...
        EXPECT_NEAR(mapper.Brightness(), w, kEps) << step;
        EXPECT_EQ(mapper.Hue(), 0.0);
        ExpectColor(c, {255 * w, 0, 0}, "step " + std::to_string(step));
    }
}

TEST(MusicColor, SteadyMiddleToneDriftsToCyan) {
    MusicColorMapper mapper;
    RgbColor c;
    for (int n = 1; n <= 400; ++n) {
        c = mapper.Next(0.0f, 80.0f, 0.0f);
        EXPECT_NEAR(mapper.Hue(), 0.5 * (1 - std::pow(0.95, n)), kEps) << n;
        if (n == 13) {
            EXPECT_LT(mapper.Hue(), 0.25);
        }
        if (n == 14) {
            EXPECT_GT(mapper.Hue(), 0.25);  // a quarter of the circle after 14 steps
        }
    }
    EXPECT_NEAR(c.red, 0, 0.01);
    EXPECT_NEAR(c.green, 255, 0.01);
    EXPECT_NEAR(c.blue, 255, 0.01);
}

TEST(MusicColor, SilenceAfterLoudMusicFadesThroughRed) {
    MusicColorMapper mapper;
    for (int i = 0; i < 60; ++i) mapper.Next(90.0f, 0.0f, 0.0f);  // loud highs: red level
    const double w0 = mapper.Brightness();
    const double h0 = mapper.Hue();
    ASSERT_NEAR(w0, 1.0, 1e-9);
    for (int n = 1; n <= 10; ++n) {
        mapper.Next(0.0f, 0.0f, 0.0f);
        EXPECT_NEAR(mapper.Brightness(), w0 * std::pow(0.5, n), kEps);
        EXPECT_NEAR(mapper.Hue(), h0 * std::pow(0.8, n), kEps);  // a fifth of the way to 0 per step
    }
}

TEST(MusicColor, ScriptedSequenceOfLevels) {
    // Each step: levels in, expected W and H computed from the smoothing
    // rules by hand.
    struct Step {
        float r, g, b;
        double w, h;
    };
    const double t1 = std::sin(0.1 * static_cast<double>(std::numbers::pi_v<float>) / 2);  // E = 25/250
    const Step steps[] = {
        {0, 5, 0, t1 / 2, 0.025},                                 // green: H += (0.5 - 0) * 0.05
        {30, 0, 0, (t1 / 2 + 1) / 2, 0.025 + (1 - 0.025) * 0.2},  // red: E > 1, x = 1
        {7, 7, 1, 0, 0},                                          // tie red/green: green wins (set below)
        {std::numeric_limits<float>::quiet_NaN(), -4, 0, 0, 0},   // NaN and negative count as 0: blue
    };
    MusicColorMapper mapper;
    double w = 0, h = 0;
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const Step& s = steps[i];
        mapper.Next(s.r, s.g, s.b);
        if (i == 2) {
            const double e = (49.0 + 49.0 + 1.0) / 250.0;
            w = w + (std::sin(e * static_cast<double>(std::numbers::pi_v<float>) / 2) - w) * 0.5;
            h = h + (0.5 - h) * 0.05;
        } else if (i == 3) {
            w = w * 0.5;
            h = h + (0.0 - h) * 0.2;
        } else {
            w = s.w;
            h = s.h;
        }
        EXPECT_NEAR(mapper.Brightness(), w, kEps) << "step " << i;
        EXPECT_NEAR(mapper.Hue(), h, kEps) << "step " << i;
    }
}

TEST(MusicColor, DominantLevelTies) {
    struct Row {
        float r, g, b;
        double hueAfterOneStepFromHalf;  // starting at H = 0.5
    };
    const Row rows[] = {
        {10, 10, 10, 0.5 - 0.5 * 0.2},  // all equal: blue
        {10, 10, 5, 0.5},               // red = green > blue: green (target 0.5)
        {10, 5, 10, 0.5 - 0.5 * 0.2},   // red = blue: blue
        {5, 10, 10, 0.5 - 0.5 * 0.2},   // green = blue: blue
        {10, 5, 5, 0.5 + 0.5 * 0.2},    // red alone: towards 1
    };
    for (const Row& r : rows) {
        MusicColorMapper mapper;
        for (int i = 0; i < 400; ++i) mapper.Next(0, 50, 0);  // settle at H ~ 0.5
        const double start = mapper.Hue();
        ASSERT_NEAR(start, 0.5, 1e-8);
        mapper.Next(r.r, r.g, r.b);
        EXPECT_NEAR(mapper.Hue(), r.hueAfterOneStepFromHalf, 1e-7) << r.r << "," << r.g << "," << r.b;
    }
}

TEST(MusicColor, HueNeverReachesOneAndOutputStaysInRange) {
    MusicColorMapper mapper;
    for (int i = 0; i < 5000; ++i) {
        const RgbColor c = mapper.Next(1000.0f, 0.0f, 0.0f);
        ASSERT_LT(mapper.Hue(), 1.0);
        for (double v : {c.red, c.green, c.blue}) {
            ASSERT_GE(v, 0.0);
            ASSERT_LE(v, 255.0);
        }
    }
}

}  // namespace
}  // namespace ovra::music
