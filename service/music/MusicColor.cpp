#include "service/music/MusicColor.h"

#include <algorithm>
#include <cmath>

namespace ovra::music {

RgbColor HslToRgb(double h, double s, double l) {
    RgbColor c{l, l, l};
    const double v = (l <= 0.5) ? l * (1.0 + s) : l + s - l * s;
    if (v > 0.0) {
        const double m = 2.0 * l - v;
        const double sv = (v - m) / v;
        const double h6 = 6.0 * h;
        const int sextant = static_cast<int>(h6);
        const double f = h6 - sextant;
        const double vsf = v * sv * f;
        const double mid1 = m + vsf;
        const double mid2 = v - vsf;
        switch (sextant) {
            case 0:
                c = {v, mid1, m};
                break;
            case 1:
                c = {mid2, v, m};
                break;
            case 2:
                c = {m, v, mid1};
                break;
            case 3:
                c = {m, mid2, v};
                break;
            case 4:
                c = {mid1, m, v};
                break;
            case 5:
                c = {v, m, mid2};
                break;
            default:
                break;  // out of range: stays grey
        }
    }
    return {c.red * 255.0, c.green * 255.0, c.blue * 255.0};
}

namespace {
// The brightness curve's pi is the single-precision one.
constexpr double kPi = static_cast<double>(3.14159265358979f);

double NonNegative(float level) {
    return level >= 0.0f ? static_cast<double>(level) : 0.0;
}
}  // namespace

RgbColor MusicColorMapper::Next(float red, float green, float blue) {
    const double r = NonNegative(red), g = NonNegative(green), b = NonNegative(blue);

    const double energy = (r * r + g * g + b * b) / kEnergyDivisor;
    const double x = energy <= 1.0 ? energy : 1.0;
    const double target = std::sin(x * kPi / 2.0);
    brightness_ += (target - brightness_) * kBrightnessSmoothing;

    // Compared as single-precision values: green wins a tie with red, blue
    // wins any tie with the largest of the others (silence counts as blue).
    const float rf = static_cast<float>(r), gf = static_cast<float>(g), bf = static_cast<float>(b);
    double targetHue, smoothing;
    if (gf < rf) {
        if (bf < rf) {
            targetHue = kRedHue, smoothing = kRedSmoothing;
        } else {
            targetHue = kBlueHue, smoothing = kBlueSmoothing;
        }
    } else if (bf < gf) {
        targetHue = kGreenHue, smoothing = kGreenSmoothing;
    } else {
        targetHue = kBlueHue, smoothing = kBlueSmoothing;
    }
    hue_ += (targetHue - hue_) * smoothing;

    RgbColor c = HslToRgb(hue_, kSaturation, 0.5 * brightness_);
    c.red = std::min(c.red, kOutputLimit);
    c.green = std::min(c.green, kOutputLimit);
    c.blue = std::min(c.blue, kOutputLimit);
    return c;
}

}  // namespace ovra::music
