// Applying the lighting choice: store it, make the service let go of the
// devices, write the devices; the OFF / ON switch; the microphone poll.
#include "ui_program/core/LightingModel.h"
#include "ui_program/core/StoredValues.h"

namespace ovra {
namespace {

// Resets the finish event when the apply ends, on every path, once a release
// request was made: a stale "finished" must never let the next apply skip its
// wait.
class FinishEventReset {
public:
    explicit FinishEventReset(NamedEvent* event) : event_(event) {}
    ~FinishEventReset() {
        if (armed_ && event_) event_->Reset();
    }
    FinishEventReset(const FinishEventReset&) = delete;
    FinishEventReset& operator=(const FinishEventReset&) = delete;
    void Arm() { armed_ = true; }
    void ResetNow() {
        if (event_) event_->Reset();
        armed_ = false;
    }

private:
    NamedEvent* event_;
    bool armed_ = false;
};

// The microphone's mode byte as the poll compares it.
std::uint32_t PollValueOfMicMode(std::uint8_t mode) {
    switch (mode) {
        case 1: return 0;
        case 2: return 1;
        case 3: return 3;
        case 4: return 4;  // the microphone light is off
        default: return 0;
    }
}

}  // namespace

void LightingModel::OnApply() {
    if (startService_) startService_();
    SetLedControl();
    deps_.host.RequestRedraw();
}

LightingEffect LightingModel::EffectFromChoice() const {
    switch (state_.choice) {
        case EffectChoice::Static: return LightingEffect::Static;
        case EffectChoice::Breathing: return LightingEffect::Breathing;
        case EffectChoice::Strobing: return LightingEffect::Strobing;
        case EffectChoice::ColorCycle: return LightingEffect::ColorCycle;
        case EffectChoice::Music: return LightingEffect::Music;
        case EffectChoice::Rainbow: return LightingEffect::Rainbow;
        default: return LightingEffect::Static;  // nothing, or GPU Temperature
    }
}

std::uint32_t LightingModel::SyncStatusMask() const {
    const std::uint32_t headset = gen2_.load() ? 1 : gen2Mid_.load() ? 4 : tv520_.load() ? 8 : 0;
    const std::uint32_t mic = mk470_.load() ? 2 : 0;
    if (state_.syncChecked) return headset + mic;
    if (state_.selected == SelectedDevice::Headset) return headset;
    if (state_.selected == SelectedDevice::Microphone) return mic;
    return kSyncStatusNoDevice;
}

bool LightingModel::ReleaseRequest() {
    // Only the service's answer to this request counts: a "finished" left
    // over from an earlier wake-up (a device connection, a late answer)
    // must not let the UI write while the service may still hold a device.
    if (finishEvent_) finishEvent_->Reset();
    WakeService();
    return finishEvent_ && finishEvent_->Wait(kFinishWait) == WaitResult::Signaled;
}

void LightingModel::StoreChoice(std::uint32_t target, LightingEffect effect) {
    // Only values of the written ranges are ever stored.
    deps_.store.SaveLEDColor(target, ClampedColour(state_.colour));
    deps_.store.SaveLEDServiceBehavior(target, static_cast<std::uint32_t>(effect));
    deps_.store.SaveLEDSwitch(target, state_.ledSwitch == 0 ? 0 : 1);
}

void LightingModel::SetLedControl() {
    const LightingEffect effect = EffectFromChoice();
    currentEffect_ = effect;
    if (state_.selected == SelectedDevice::None) {
        deps_.notifier.Notify(kSelectDeviceText, kProgramCaption);
        return;
    }
    if (state_.selected == SelectedDevice::Headset && gen2Mid_.load() && deps_.links.Gen2MidBleOn()) {
        deps_.notifier.Notify(kBleOnText, kProgramCaption);
        return;
    }
    if (frameSync_) {
        frameSync_->SetPaused(state_.syncChecked ? effect == LightingEffect::Music : true);
        frameSync_->Signal();
    }
    deps_.store.SaveSyncStatus(SyncStatusMask());
    state_.colour = ClampedColour(state_.colour);
    const Colour colour = state_.colour;
    const auto code = static_cast<std::uint8_t>(effect);
    const bool music = effect == LightingEffect::Music;
    FinishEventReset finishReset(finishEvent_.get());

    if (state_.syncChecked || state_.selected == SelectedDevice::Headset) {
        StoreChoice(kStoreHeadset, effect);
        bool released = true;
        if (!music) {
            state_.shownEffect = code;
            finishReset.Arm();
            released = ReleaseRequest();
            // Nobody answered: no service holds the devices, so the UI
            // writes them itself and the stored choice matches the devices.
            if (!released) deps_.log.Write("\nm_hLEDFinishedEvent - TimeOut\n");
        } else {
            state_.shownEffect = 0;
        }
        const auto family = HeadsetFamily();
        LightingDevice* headset = family ? deps_.links.Headset(*family) : nullptr;
        if (family == DeviceFamily::Gen2Mid || family == DeviceFamily::TV520) {
            if (headset) headset->SetLEDEffect(effect, colour);
            if (family == DeviceFamily::TV520 && released)
                deps_.log.Write("\nm_hLEDFinishedEvent - WAIT_OBJECT_0!\n");
        } else if (headset && !headset->SetLEDEffect(effect, colour)) {
            // The HID headset did not take it: the choice is stored but not
            // shown anywhere; say so instead of going on as if it were.
            deps_.log.Write("\nSetLedControl: the headset did not take the choice!\n");
            deps_.notifier.Notify(kNotSentText, kProgramCaption);
            return;
        }
        finishReset.ResetNow();
    }

    if (state_.syncChecked || state_.selected == SelectedDevice::Microphone) {
        StoreChoice(kStoreMicrophone, effect);
        if (music) {
            state_.shownEffect = 0;
        } else {
            state_.shownEffect = code;
            if (!state_.syncChecked) {
                finishReset.Arm();
                if (!ReleaseRequest()) deps_.log.Write("\nm_hLEDFinishedEvent - TimeOut\n");
            }
        }
        micLightEffect_ = state_.shownEffect;
        if (LightingDevice* mic = mk470_.load() ? deps_.links.Microphone() : nullptr)
            mic->SetLEDEffect(effect, colour);
        finishReset.ResetNow();
    }

    if (music) WakeService();  // the service starts its music loop
    deps_.log.Printf("R = %g\nG = %g\nB = %g\n", colour.red, colour.green, colour.blue);
}

void LightingModel::OnSwitchButton() {
    SwitchAction();
}

void LightingModel::SwitchAction() {
    if (state_.selected == SelectedDevice::Headset && gen2Mid_.load() && deps_.links.Gen2MidBleOn()) {
        deps_.notifier.Notify(kBleOnText, kProgramCaption);
        return;
    }
    state_.offOnButton = state_.offOnButton ? 0 : 1;
    if (state_.offOnButton == 1) {
        state_.ledSwitch = 1;
        SetLedControl();
        int view;
        if (state_.specialEffectsChecked || state_.choice == EffectChoice::ColorCycle) {
            view = 2;
        } else if (state_.activeBar == ActiveBar::Lightness) {
            view = 3;
        } else {
            state_.activeBar = ActiveBar::ColorValue;
            view = state_.selected == SelectedDevice::Headset && gen2Entry_.load() ? 4 : 0;
        }
        SetPanelView(view);
    } else {
        state_.ledSwitch = 0;
        if (state_.syncChecked || state_.selected == SelectedDevice::Headset) {
            const auto family = HeadsetFamily();
            LightingDevice* headset = family ? deps_.links.Headset(*family) : nullptr;
            const bool hid = family == DeviceFamily::Gen2 || family == DeviceFamily::Gen2Entry;
            if (headset && !headset->SetLEDOff() && hid) {
                // Still on: keep the switch showing what the headset shows.
                state_.offOnButton = 1;
                state_.ledSwitch = 1;
                deps_.notifier.Notify(kNotSentText, kProgramCaption);
                deps_.host.RequestRedraw();
                return;
            }
            deps_.store.SaveLEDSwitch(kStoreHeadset, 0);
        }
        if (state_.syncChecked || state_.selected == SelectedDevice::Microphone) {
            std::optional<std::uint8_t> reported;
            if (mk470_.load()) reported = deps_.links.MicSwitchOff();
            micLightEffect_ = reported.value_or(4);
            deps_.store.SaveLEDSwitch(kStoreMicrophone, 0);
        }
        WakeService();
        SetPanelView(1);
    }
    deps_.host.RequestRedraw();
}

void LightingModel::StartMicPoll() {
    deps_.host.StartMicPollTimer(kMicPollPeriod);
    micPollRunning_ = true;
}

void LightingModel::StopMicPoll() {
    if (!micPollRunning_) return;
    deps_.host.StopMicPollTimer();
    micPollRunning_ = false;
}

void LightingModel::OnMicPollTimer() {
    if (!mk470_.load()) return;
    LightingDevice* mic = deps_.links.Microphone();
    const auto dump = mic ? mic->GetLEDSetting() : std::nullopt;
    if (!dump) return;  // nothing read, nothing to compare
    const std::uint32_t polled = PollValueOfMicMode(dump->mode);

    if (polled != micLightEffect_ && state_.syncChecked) {
        deps_.log.Write("cancel checkbox for sync!!\n");
        state_.syncChecked = false;
        deps_.host.RequestRedraw();
    }
    if (state_.selected != SelectedDevice::Microphone) return;

    if (polled == 4) {
        if (state_.ledSwitch == 1) {
            deps_.log.Write("Light effect need to be updated!!\n");
            state_.offOnButton = 1;
            SwitchAction();  // switches off
        }
        return;
    }
    if (polled == 1 && currentEffect_.load() == LightingEffect::Music) {
        deps_.log.Write("Music to Static!!\n");
        ChooseEffect(EffectChoice::Static);
        SetLedControl();
        return;
    }
    if (polled == 0 && state_.ledSwitch == 0) {
        deps_.log.Write("Off to Static!!\n");
        deps_.log.Write("Light effect need to be updated!!\n");
        ChooseEffect(EffectChoice::Static);
        state_.offOnButton = 0;
        SwitchAction();  // switches on and applies
        return;
    }
    if (polled == micLightEffect_) return;
    micLightEffect_ = polled;
    deps_.log.Write("Light effect need to be updated!!\n");
    if (polled == 0) ChooseEffect(EffectChoice::Static);
    if (polled == 1) ChooseEffect(EffectChoice::Breathing);
    if (polled == 3) ChooseEffect(EffectChoice::ColorCycle);
    if (state_.ledSwitch == 0) {
        state_.offOnButton = 0;
        SwitchAction();
    }
}

}  // namespace ovra
