#pragma once
// The main window's lighting state, as the model keeps it for the window to
// draw: which device is selected, the effect choice, colour, switch, the sync
// box and which parts of the effect panel are available.

#include <cstdint>
#include <string>

#include "device_access/LightingTypes.h"

namespace ovra {

enum class SelectedDevice { None, Headset, Microphone };

enum class EffectChoice { None, Static, Breathing, Strobing, ColorCycle, Music, GpuTemperature, Rainbow };

// The colour picker's bar that takes the pointer.
enum class ActiveBar { None, ColorValue, Lightness };

// Panel views: 0 all, 1 off, 2 music/special (bars covered), 3 lightness,
// 4 single-colour headset; 5 and above as 0 without touching Strobing and
// Rainbow.
struct PanelAvailability {
    bool apply = true;
    bool staticChoice = true, breathingChoice = true, colorCycleChoice = true,
         musicChoice = true, gpuChoice = true;
    bool strobingChoice = false, rainbowChoice = false;
    bool colorValueBar = true, lightnessBar = true;
    bool specialEffectsBox = true;
    // Overlays that grey out parts of the panel.
    bool disableBg = false, disableBgMusic = false, disableBgLightness = false,
         disableBgGen2Entry = false;
};

struct WindowState {
    SelectedDevice selected = SelectedDevice::None;
    bool headsetButtonEnabled = false;
    bool micButtonEnabled = false;
    std::string modelName;

    EffectChoice choice = EffectChoice::None;
    bool specialEffectsChecked = false;
    Colour colour;
    ActiveBar activeBar = ActiveBar::ColorValue;
    int panelView = 0;
    PanelAvailability panel;

    bool syncChecked = false;
    bool syncEnabled = false;
    bool disableSyncDevShown = true;

    int ledSwitch = 1;               // program-wide on/off
    std::uint8_t offOnButton = 1;    // what the OFF / ON button shows
    std::uint8_t shownEffect = 0;    // the effect the window draws as current
};

}  // namespace ovra
