#include "settings/ColourUnits.h"

#include <cmath>

namespace ovra {

std::uint32_t ColourComponentToRegistry(double component) {
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (!std::isfinite(component) || component >= kTwoTo63 || component < -kTwoTo63) return 0;
    const auto whole = static_cast<std::int64_t>(component);  // truncates toward zero
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole) & 0xFFFFFFFFu);
}

double ColourComponentFromRegistry(std::uint32_t stored) { return static_cast<double>(stored); }

}  // namespace ovra
