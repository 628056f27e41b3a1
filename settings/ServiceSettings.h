#pragma once
// How the service reads and writes the lighting choices. The service keeps
// no settings of its own; these rules pick the key for each access from the
// SyncStatus mask, where each bit counts on its own (so 255, also the value
// when none is stored, means every device kind). The key choices are
// deliberately not symmetric: the start-up effect comes from the microphone
// when it takes part, the wake-up effect from the headset.

#include <cstdint>

#include "device_access/LightingTypes.h"
#include "settings/SettingsLayout.h"
#include "settings/SettingsStore.h"

namespace ovra {

inline bool SyncHasHeadset(std::uint32_t sync) { return (sync & kSyncHeadsetBits) != 0; }
inline bool SyncHasMic(std::uint32_t sync) { return (sync & kSyncMK470) != 0; }

// "LED Switch" is read from the headset key when a headset bit is set, else
// from the microphone key.
SettingsTarget ServiceSwitchTarget(std::uint32_t sync);
// "LED Service Behavior" at start-up: the microphone key when bit 2 is set,
// else the headset key.
SettingsTarget ServiceStartupBehaviorTarget(std::uint32_t sync);

// The service writes an effect only to a device key: target 1 the headset
// key, any other target the microphone key.
void ServiceSaveLEDServiceBehavior(SettingsStore& store, SettingsTarget target, std::uint32_t effect);

// The single-device switch read (255 when missing).
std::uint32_t ServiceLoadLEDSwitch(const SettingsStore& store, std::uint32_t sync);

struct ServiceStartupSettings {
    std::uint32_t ledSwitch;        // 1 when nothing was stored
    std::uint32_t serviceBehavior;  // the effect in force after the load
};
// The start-up load. A missing switch counts as on and "LED Switch" = 1 is
// stored in the headset key (headset bit) and then the microphone key
// (microphone bit); when the headset key cannot be created the microphone key
// is not written either. The effect: 0-5 are taken, 255 (never stored) keeps
// `currentBehavior`, anything else counts as 0.
ServiceStartupSettings LoadServiceStartupSettings(SettingsStore& store, std::uint32_t sync,
                                                  std::uint32_t currentBehavior);

struct ServiceBehaviors {
    std::uint32_t serviceBehavior;  // dwServiceBehavior
    std::uint32_t headset;          // g_dwHSBehavior
    std::uint32_t mic;              // g_dwMicBehavior
};
// The wake-up load: both device effects, 0 when missing, taken unchanged (no
// range limit). With a headset bit the headset's effect is in force and a
// music effect left in the microphone key is reset to 0 when the microphone
// bit is clear; without a headset bit the microphone's effect is in force and
// a music effect in the headset key is reset to 0.
ServiceBehaviors LoadServiceBehaviors(SettingsStore& store, std::uint32_t sync);

// The default lighting the service restores: breathing in 229, 26, 0.
inline constexpr Colour kDefaultLightingColour{229.0, 26.0, 0.0};
inline constexpr std::uint32_t kDefaultLightingBehavior = 1;

// Stores effect 1 and `colour` in the headset key (headset bit), then in the
// microphone key (microphone bit). When a key cannot be created for the
// colour, the rest is skipped.
void StoreDefaultLighting(SettingsStore& store, std::uint32_t sync,
                          const Colour& colour = kDefaultLightingColour);

}  // namespace ovra
