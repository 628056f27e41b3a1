#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "device_access/LightingTypes.h"

namespace ovra {
namespace {

TEST(ColourComponentToDeviceByte, RoundsHalfUpAndClampsOutOfRange) {
    struct Case {
        double component;
        int expected;
    } const cases[] = {
        {0.0, 0},      {0.49, 0},    {0.5, 1},       {26.2, 26},     {229.6, 230},
        {254.5, 255},  {255.0, 255}, {255.4, 255},
        // Out of range must never wrap to a dark byte: 256 is the store's
        // "never written" value.
        {255.5, 255},  {256.0, 255}, {1e9, 255},     {-0.4, 0},      {-1e9, 0},
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {std::numeric_limits<double>::infinity(), 255},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ColourComponentToDeviceByte(c.component), c.expected) << c.component;
}

TEST(LightingEffect, CodesAndNamesRoundTrip) {
    for (std::uint32_t code = 0; code < kLightingEffectCount; ++code) {
        const auto effect = LightingEffectFromCode(code);
        ASSERT_TRUE(effect.has_value());
        EXPECT_EQ(LightingEffectFromName(LightingEffectName(*effect)), effect);
    }
    EXPECT_FALSE(LightingEffectFromCode(6).has_value());
    EXPECT_FALSE(LightingEffectFromCode(255).has_value());
    EXPECT_FALSE(LightingEffectFromName("Static").has_value());
    EXPECT_EQ(LightingEffectFromName("colorcycle"), LightingEffect::ColorCycle);
}

}  // namespace
}  // namespace ovra
