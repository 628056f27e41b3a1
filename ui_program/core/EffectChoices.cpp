// The effect choices, the Special effects box, the sync box and the effect
// panel views: window state only, no device traffic.
#include "ui_program/core/LightingModel.h"

namespace ovra {
namespace {

bool Grey(const Colour& c) { return c.red == c.green && c.green == c.blue; }

}  // namespace

void LightingModel::OnEffectChoice(EffectChoice choice) { ChooseEffect(choice); }

bool LightingModel::StrobingRainbowAllowed() const {
    return tv520_.load() && state_.selected == SelectedDevice::Headset;
}

void LightingModel::MakeSyncAvailable() {
    if ((gen2_.load() || gen2Mid_.load() || tv520_.load()) && mk470_.load()) {
        state_.syncEnabled = true;
        state_.disableSyncDevShown = false;
    }
}

void LightingModel::MakeSyncUnavailable() {
    state_.syncChecked = false;
    state_.syncEnabled = false;
    state_.disableSyncDevShown = true;
}

void LightingModel::ChooseEffect(EffectChoice choice) {
    if (state_.choice == choice) return;
    state_.choice = choice;
    const bool grey = Grey(state_.colour);
    const bool singleColourHeadset =
        state_.selected == SelectedDevice::Headset && gen2Entry_.load();
    switch (choice) {
        case EffectChoice::Static:
        case EffectChoice::Breathing:
            state_.specialEffectsChecked = false;
            if (!grey) {
                state_.activeBar = ActiveBar::ColorValue;
                SetPanelView(singleColourHeadset ? 4 : 0);
            } else {
                state_.activeBar = ActiveBar::Lightness;
                SetPanelView(3);
            }
            MakeSyncAvailable();
            break;
        case EffectChoice::Strobing:
            state_.specialEffectsChecked = false;
            state_.activeBar = grey ? ActiveBar::Lightness : ActiveBar::ColorValue;
            SetPanelView(grey ? 3 : 0);
            MakeSyncUnavailable();
            break;
        case EffectChoice::ColorCycle:
            state_.specialEffectsChecked = false;
            state_.activeBar = ActiveBar::None;
            SetPanelView(2);
            MakeSyncAvailable();
            break;
        case EffectChoice::Music:
            state_.specialEffectsChecked = true;
            SetPanelView(2);
            MakeSyncAvailable();
            break;
        case EffectChoice::GpuTemperature:
            state_.specialEffectsChecked = true;
            state_.activeBar = ActiveBar::None;
            SetPanelView(2);
            break;
        case EffectChoice::Rainbow:
            SetPanelView(2);
            MakeSyncUnavailable();
            break;
        case EffectChoice::None: break;
    }
    deps_.host.RequestRedraw();
}

void LightingModel::OnSpecialEffectsBox() {
    state_.specialEffectsChecked = !state_.specialEffectsChecked;
    if (state_.specialEffectsChecked) {
        state_.choice = EffectChoice::Music;  // and GPU Temperature no longer
        SetPanelView(2);
        MakeSyncAvailable();
    } else {
        if (state_.choice == EffectChoice::Music) state_.choice = EffectChoice::None;
        SetPanelView(0);
    }
    deps_.host.RequestRedraw();
}

void LightingModel::OnSyncBox() {
    if (!state_.syncEnabled) return;
    state_.syncChecked = !state_.syncChecked;
    deps_.host.RequestRedraw();
}

void LightingModel::SetPanelView(int view) {
    state_.panelView = view;
    PanelAvailability& p = state_.panel;
    const bool touchStrobingRainbow = view <= 4;
    const bool strobingRainbow = StrobingRainbowAllowed();
    auto enableAll = [&](bool enabled) {
        p.apply = p.staticChoice = p.breathingChoice = p.colorCycleChoice = p.musicChoice =
            p.gpuChoice = p.colorValueBar = p.lightnessBar = p.specialEffectsBox = enabled;
    };
    p.disableBg = p.disableBgMusic = p.disableBgLightness = p.disableBgGen2Entry = false;
    switch (view) {
        case 1:
            enableAll(false);
            p.disableBg = true;
            if (touchStrobingRainbow) p.strobingChoice = p.rainbowChoice = false;
            return;
        case 2:
            enableAll(true);
            p.colorValueBar = p.lightnessBar = false;
            p.disableBgMusic = true;
            break;
        case 3:
            enableAll(true);
            p.disableBgLightness = true;
            break;
        case 4:
            enableAll(true);
            p.colorCycleChoice = p.musicChoice = p.gpuChoice = false;
            p.lightnessBar = p.specialEffectsBox = false;
            p.disableBgGen2Entry = true;
            return;  // Strobing and Rainbow stay as they are
        default:
            enableAll(true);
            break;
    }
    if (touchStrobingRainbow) p.strobingChoice = p.rainbowChoice = strobingRainbow;
}

}  // namespace ovra
