// Selecting the headset or the microphone and reading its lighting back.
#include "ui_program/core/LightingModel.h"
#include "ui_program/core/StoredValues.h"

namespace ovra {
namespace {

EffectChoice ChoiceOfEffect(LightingEffect effect) {
    switch (effect) {
        case LightingEffect::Static: return EffectChoice::Static;
        case LightingEffect::Breathing: return EffectChoice::Breathing;
        case LightingEffect::Strobing: return EffectChoice::Strobing;
        case LightingEffect::ColorCycle: return EffectChoice::ColorCycle;
        case LightingEffect::Music: return EffectChoice::Music;
        case LightingEffect::Rainbow: return EffectChoice::Rainbow;
    }
    return EffectChoice::Static;
}

Colour ColourOf(const DeviceLightingState& state) {
    return {static_cast<double>(state.red), static_cast<double>(state.green),
            static_cast<double>(state.blue)};
}

bool ReadSetting(LightingDevice* device, DeviceLightingState& state) {
    if (!device) return false;
    const auto read = device->GetLEDSetting();
    if (!read) return false;
    state = *read;
    return true;
}

const char* ModelNameOf(DeviceFamily family) {
    switch (family) {
        case DeviceFamily::Gen2: return "KYX Vanta HS";
        case DeviceFamily::Gen2Entry: return "KYX Vanta Corda 300";
        case DeviceFamily::Gen2Mid: return "KYX Vanta Corda 500";
        case DeviceFamily::TV520: return "KYX Headset TV520";
        case DeviceFamily::MK470: return "KYX Vanta Ostra";
    }
    return "";
}

}  // namespace

void LightingModel::OnHeadsetButton() {
    if (state_.selected == SelectedDevice::Headset) return;
    const auto family = HeadsetFamily();
    if (!family) return;  // the button is disabled
    deps_.log.Write("OnBnClickedBtnHeadset!!!!!!!!\n");
    state_.selected = SelectedDevice::Headset;
    ReadBackHeadset();
    state_.modelName = ModelNameOf(*family);
    deps_.host.RequestRedraw();
}

void LightingModel::OnMicButton() {
    if (state_.selected == SelectedDevice::Microphone) return;
    if (!mk470_.load()) return;
    deps_.log.Write("OnBnClickedBtnMic!!!!!!!!\n");
    state_.selected = SelectedDevice::Microphone;
    ReadBackMicrophone();
    state_.modelName = ModelNameOf(DeviceFamily::MK470);
    deps_.host.RequestRedraw();
}

void LightingModel::SelectInitialDevice() {
    if (AnyHeadsetConnected())
        OnHeadsetButton();
    else if (mk470_.load())
        OnMicButton();
}

void LightingModel::ReadBackHeadset() {
    const std::uint32_t storedCode = deps_.store.LoadLEDServiceBehavior(kStoreHeadset);
    const Colour storedColourRaw = deps_.store.LoadLEDColor(kStoreHeadset);
    const std::uint32_t storedSwitch = deps_.store.LoadLEDSwitch(kStoreHeadset);
    const auto family = HeadsetFamily();
    LightingEffect storedEffect = SanitizedEffect(storedCode);
    LightingEffect shown = storedEffect;
    Colour colour = SanitizedColour(storedColourRaw);
    Colour storedColour = colour;

    if (family == DeviceFamily::Gen2Mid || family == DeviceFamily::TV520) {
        // Neither family can be read back: the stored choice is all we know.
        if (family == DeviceFamily::Gen2Mid &&
            (shown == LightingEffect::Strobing || shown == LightingEffect::Rainbow))
            shown = LightingEffect::Static;
    } else {
        LightingDevice* headset = family ? deps_.links.Headset(*family) : nullptr;
        DeviceLightingState read{};
        // A mode the headset cannot have is an answer we cannot trust.
        const auto readEffect = ReadSetting(headset, read)
                                    ? LightingEffectFromCode(static_cast<std::uint32_t>(read.mode) - 1u)
                                    : std::nullopt;
        if (readEffect && family == DeviceFamily::Gen2Entry) read.green = read.blue = 0;  // red only
        if (readEffect) {
            // A never-stored colour takes what the headset shows instead.
            storedColour = SanitizedColour(storedColourRaw, ColourOf(read));
            colour = storedColour;
        }
        if (storedEffect == LightingEffect::Music && LightingEffectFromCode(storedCode)) {
            shown = LightingEffect::Music;
        } else if (readEffect) {
            shown = *readEffect;
            colour = ColourOf(read);
            if (!LightingEffectFromCode(storedCode)) storedEffect = shown;
        }
    }
    state_.ledSwitch = storedSwitch == 0 ? 0 : 1;  // never stored counts as on
    if (storedSwitch == 0) {
        colour = storedColour;
        shown = storedEffect;
    }
    FinishReadBack(storedSwitch, shown, colour);
}

void LightingModel::ReadBackMicrophone() {
    const std::uint32_t storedCode = deps_.store.LoadLEDServiceBehavior(kStoreMicrophone);
    const Colour storedColourRaw = deps_.store.LoadLEDColor(kStoreMicrophone);
    const std::uint32_t storedSwitch = deps_.store.LoadLEDSwitch(kStoreMicrophone);
    LightingDevice* mic = deps_.links.Microphone();
    DeviceLightingState read{};
    const bool readOk = ReadSetting(mic, read);
    const std::optional<Colour> readColour =
        readOk ? std::optional<Colour>(ColourOf(read)) : std::nullopt;

    const bool storedKnown = LightingEffectFromCode(storedCode).has_value();
    LightingEffect storedEffect = SanitizedEffect(storedCode);
    const Colour storedColour = SanitizedColour(storedColourRaw, readColour);
    LightingEffect shown = LightingEffectFromCode(state_.shownEffect).value_or(storedEffect);
    Colour colour = storedColour;

    if (storedKnown && storedEffect == LightingEffect::Music) {
        shown = LightingEffect::Music;
        micLightEffect_ = 0;
    } else {
        if (readOk) {
            switch (read.mode) {
                case 1: shown = LightingEffect::Static; break;
                case 2: shown = LightingEffect::Breathing; break;
                case 3: shown = LightingEffect::ColorCycle; break;
                case 4: shown = storedEffect; break;  // off: what was chosen last
                default: break;                       // unknown: unchanged
            }
            colour = *readColour;
            if (!storedKnown) storedEffect = shown;
        } else {
            shown = storedEffect;
        }
        micLightEffect_ = static_cast<std::uint32_t>(shown);
    }
    state_.ledSwitch = storedSwitch == 0 ? 0 : 1;
    if (storedSwitch == 0) {
        colour = storedColour;
        shown = storedEffect;
    }
    FinishReadBack(storedSwitch, shown, colour);
}

void LightingModel::FinishReadBack(std::uint32_t storedSwitch, LightingEffect shown,
                                   const Colour& colour) {
    state_.offOnButton = storedSwitch == 0 ? 0 : 1;
    state_.shownEffect = static_cast<std::uint8_t>(shown);
    state_.choice = ChoiceOfEffect(shown);
    state_.specialEffectsChecked = shown == LightingEffect::Music;
    state_.colour = colour;
}

}  // namespace ovra
