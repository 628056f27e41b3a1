// Drives the accessors and the service's rules over a registry filled with
// arbitrary values (any type, size or name) and arbitrary arguments, and checks
// that every reader returns its default or exactly what a 4-byte value holds.

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "platform/fake/InMemoryRegistry.h"
#include "settings/ColourUnits.h"
#include "settings/ServiceSettings.h"
#include "settings/SettingsStore.h"
#include "settings/SyncStatus.h"

namespace {

using namespace ovra;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

std::string_view PickKey(FuzzedDataProvider& input, std::string* scratch) {
    switch (input.ConsumeIntegralInRange(0, 4)) {
        case 0: return kHeadsetKey;
        case 1: return kMicKey;
        case 2: return kGeneralKey;
        case 3: return kRunKey;
        default:
            *scratch = input.ConsumeRandomLengthString(300);
            return *scratch;
    }
}

std::string PickValueName(FuzzedDataProvider& input) {
    static constexpr std::string_view kNames[] = {kBehaviorValue, kRedValue,      kGreenValue,
                                                  kBlueValue,     kSwitchValue,   kSyncStatusValue,
                                                  kRunValue,      kInstallPathValue};
    if (input.ConsumeBool()) return std::string(kNames[input.ConsumeIntegralInRange<std::size_t>(0, 7)]);
    return input.ConsumeRandomLengthString(64);
}

// What a reader must give for the raw value under `name` of `key`.
std::uint32_t Expected(Registry& registry, std::string_view key, std::string_view name,
                       std::uint32_t fallback) {
    std::unique_ptr<RegistryKey> open;
    if (registry.OpenKey(kSettingsRoot, key, RegistryAccess::Read, &open) != RegistryStatus::Ok)
        return fallback;
    RegistryValue value;
    if (open->QueryValue(name, &value) != RegistryStatus::Ok || value.data.size() != 4) return fallback;
    return value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
           (static_cast<std::uint32_t>(value.data[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    InMemoryRegistry registry;
    SettingsStore store(registry);
    int steps = 0;
    while (input.remaining_bytes() > 0 && ++steps < 64) {
        const SettingsTarget target = input.ConsumeIntegralInRange<SettingsTarget>(0, 3);
        const std::uint32_t sync = input.ConsumeIntegral<std::uint32_t>();
        switch (input.ConsumeIntegralInRange(0, 7)) {
            case 0: {  // a raw value of any type and size
                std::string scratch;
                const std::string_view key = PickKey(input, &scratch);
                const std::string name = PickValueName(input);
                const auto type = static_cast<RegistryType>(input.ConsumeIntegralInRange<std::uint32_t>(0, 12));
                const std::size_t length = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::size_t>(0, 8)
                                                               : input.ConsumeIntegralInRange<std::size_t>(0, 4096);
                const auto bytes = input.ConsumeBytes<std::uint8_t>(length);
                std::unique_ptr<RegistryKey> open;
                if (registry.CreateKey(kSettingsRoot, key, &open) == RegistryStatus::Ok)
                    open->SetValue(name, type, bytes);
                break;
            }
            case 1: {
                std::string scratch;
                registry.DeleteKey(kSettingsRoot, PickKey(input, &scratch));
                break;
            }
            case 2: {  // readers
                const std::string_view key = SettingsKeyPath(target);
                Check(store.LoadLEDServiceBehavior(target) == Expected(registry, key, kBehaviorValue, 255));
                Check(store.LoadLEDSwitch(target) == Expected(registry, key, kSwitchValue, 255));
                Check(store.LoadSyncStatus() == Expected(registry, kGeneralKey, kSyncStatusValue, 255));
                const Colour colour = store.LoadLEDColor(target);
                const std::uint32_t red = Expected(registry, key, kRedValue, 256);
                Check(colour.red == static_cast<double>(red));
                Check(colour.green == static_cast<double>(Expected(registry, key, kGreenValue, 256)));
                Check(colour.blue == static_cast<double>(Expected(registry, key, kBlueValue, 256)));
                break;
            }
            case 3: {  // writers read back exactly
                const double red = input.ConsumeFloatingPoint<double>();
                const double green = input.ConsumeFloatingPoint<double>();
                const double blue = input.ConsumeFloatingPoint<double>();
                store.SaveLEDColor(target, red, green, blue);
                const Colour colour = store.LoadLEDColor(target);
                Check(colour.red == ColourComponentFromRegistry(ColourComponentToRegistry(red)));
                Check(colour.green == ColourComponentFromRegistry(ColourComponentToRegistry(green)));
                Check(colour.blue == ColourComponentFromRegistry(ColourComponentToRegistry(blue)));
                if (std::isfinite(red) && red >= 0 && red < 4294967296.0)
                    Check(colour.red == std::trunc(red));
                const std::uint32_t effect = input.ConsumeIntegral<std::uint32_t>();
                store.SaveLEDServiceBehavior(target, effect);
                Check(store.LoadLEDServiceBehavior(target) == effect);
                store.SaveLEDSwitch(target, effect ^ 1);
                Check(store.LoadLEDSwitch(target) == (effect ^ 1));
                store.SaveSyncStatus(sync);
                Check(store.LoadSyncStatus() == sync);
                break;
            }
            case 4: {
                const auto startup = LoadServiceStartupSettings(store, sync, input.ConsumeIntegral<std::uint32_t>());
                Check(startup.ledSwitch != 255);
                const auto behaviors = LoadServiceBehaviors(store, sync);
                Check(behaviors.serviceBehavior == (SyncHasHeadset(sync) ? behaviors.headset : behaviors.mic));
                break;
            }
            case 5: {
                StoreDefaultLighting(store, sync);
                if (SyncHasHeadset(sync)) Check(store.LoadLEDServiceBehavior(kHeadsetTarget) == 1);
                if (SyncHasMic(sync)) Check(store.LoadLEDColor(kMicTarget).red == 229);
                break;
            }
            case 6: {
                ConnectedFamilies families{input.ConsumeBool(), input.ConsumeBool(), input.ConsumeBool(),
                                           input.ConsumeBool(), input.ConsumeBool()};
                const auto selected = static_cast<SelectedDevice>(input.ConsumeIntegralInRange(0, 2));
                const std::uint32_t mask = ComputeSyncStatus(families, input.ConsumeBool(), selected);
                Check(mask == 255 || mask <= 10);
                break;
            }
            default:
                store.SaveInstallPaths(input.ConsumeRandomLengthString(200), input.ConsumeRandomLengthString(200));
                store.SaveAutoRunEntry(input.ConsumeRandomLengthString(200));
                break;
        }
    }
    return 0;
}
