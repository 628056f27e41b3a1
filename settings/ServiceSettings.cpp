#include "settings/ServiceSettings.h"

namespace ovra {

SettingsTarget ServiceSwitchTarget(std::uint32_t sync) {
    return SyncHasHeadset(sync) ? kHeadsetTarget : kMicTarget;
}

SettingsTarget ServiceStartupBehaviorTarget(std::uint32_t sync) {
    return SyncHasMic(sync) ? kMicTarget : kHeadsetTarget;
}

void ServiceSaveLEDServiceBehavior(SettingsStore& store, SettingsTarget target,
                                   std::uint32_t effect) {
    store.SaveLEDServiceBehavior(target == kHeadsetTarget ? kHeadsetTarget : kMicTarget, effect);
}

std::uint32_t ServiceLoadLEDSwitch(const SettingsStore& store, std::uint32_t sync) {
    return store.LoadLEDSwitch(ServiceSwitchTarget(sync));
}

ServiceStartupSettings LoadServiceStartupSettings(SettingsStore& store, std::uint32_t sync,
                                                  std::uint32_t currentBehavior) {
    ServiceStartupSettings result{ServiceLoadLEDSwitch(store, sync), currentBehavior};
    if (result.ledSwitch == kUnsetSwitch) {
        result.ledSwitch = 1;
        bool headsetKeyCreated = true;
        if (SyncHasHeadset(sync)) headsetKeyCreated = store.TrySaveLEDSwitch(kHeadsetTarget, 1);
        if (headsetKeyCreated && SyncHasMic(sync)) store.TrySaveLEDSwitch(kMicTarget, 1);
    }
    const std::uint32_t effect = store.LoadLEDServiceBehavior(ServiceStartupBehaviorTarget(sync));
    if (effect < kLightingEffectCount) {
        result.serviceBehavior = effect;
    } else if (effect != kUnsetBehavior) {
        result.serviceBehavior = 0;
    }
    return result;
}

ServiceBehaviors LoadServiceBehaviors(SettingsStore& store, std::uint32_t sync) {
    ServiceBehaviors result{};
    result.headset = store.LoadDword(kHeadsetTarget, kBehaviorValue, kWakeUpUnsetBehavior);
    result.mic = store.LoadDword(kMicTarget, kBehaviorValue, kWakeUpUnsetBehavior);
    constexpr auto kMusic = static_cast<std::uint32_t>(LightingEffect::Music);
    if (SyncHasHeadset(sync)) {
        result.serviceBehavior = result.headset;
        if (result.mic == kMusic && !SyncHasMic(sync))
            ServiceSaveLEDServiceBehavior(store, kMicTarget, 0);
    } else {
        result.serviceBehavior = result.mic;
        if (result.headset == kMusic) ServiceSaveLEDServiceBehavior(store, kHeadsetTarget, 0);
    }
    return result;
}

void StoreDefaultLighting(SettingsStore& store, std::uint32_t sync, const Colour& colour) {
    if (SyncHasHeadset(sync)) {
        store.TrySaveLEDServiceBehavior(kHeadsetTarget, kDefaultLightingBehavior);
        if (!store.TrySaveLEDColor(kHeadsetTarget, colour)) return;
    }
    if (SyncHasMic(sync)) {
        store.TrySaveLEDServiceBehavior(kMicTarget, kDefaultLightingBehavior);
        store.TrySaveLEDColor(kMicTarget, colour);
    }
}

}  // namespace ovra
