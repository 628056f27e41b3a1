#pragma once
// From three band levels to one colour: a fully saturated hue whose
// brightness follows the loudness and whose hue drifts towards the band that
// dominates, both smoothed from step to step.

namespace ovra::music {

struct RgbColor {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    bool operator==(const RgbColor&) const = default;
};

// Shown on the devices when no playback device exists.
inline constexpr RgbColor kNoPlaybackDeviceColor{229.0, 26.0, 0.0};

// Hue, saturation, lightness on the 0..1 scale to red, green, blue on 0..255.
RgbColor HslToRgb(double hue, double saturation, double lightness);

// The smoothed brightness W and hue H, kept for the life of the process (also
// across changes of effect). H stays in [0, 1).
class MusicColorMapper {
public:
    static constexpr double kEnergyDivisor = 250.0;
    static constexpr double kBrightnessSmoothing = 0.5;
    static constexpr double kRedHue = 1.0, kGreenHue = 0.5, kBlueHue = 0.0;
    static constexpr double kRedSmoothing = 0.2, kGreenSmoothing = 0.05, kBlueSmoothing = 0.2;
    static constexpr double kSaturation = 1.0;
    static constexpr double kOutputLimit = 255.0;

    // One step: levels in (anything not >= 0 counts as 0), colour out.
    RgbColor Next(float red, float green, float blue);

    double Brightness() const { return brightness_; }
    double Hue() const { return hue_; }

private:
    double brightness_ = 0.0;
    double hue_ = 0.0;
};

}  // namespace ovra::music
