#pragma once
// The accessors of the lighting choices. Each call opens its key, does one
// thing and closes the key; nothing is kept between calls. No accessor reports
// a failure: a writer that cannot create its key writes nothing, a reader that
// cannot open its key or read its value returns the default (the registry
// adapter logs the store's own failures).

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "device_access/LightingTypes.h"
#include "platform/Registry.h"
#include "settings/SettingsLayout.h"

namespace ovra {

class SettingsStore {
public:
    explicit SettingsStore(Registry& registry) : registry_(registry) {}

    void SaveLEDServiceBehavior(SettingsTarget target, std::uint32_t effect);
    std::uint32_t LoadLEDServiceBehavior(SettingsTarget target) const;  // or 255

    // Sets "LED Red", "LED Green", "LED Blue" in this order, each truncated.
    void SaveLEDColor(SettingsTarget target, double red, double green, double blue);
    void SaveLEDColor(SettingsTarget target, const Colour& colour) {
        SaveLEDColor(target, colour.red, colour.green, colour.blue);
    }
    // Each component is the stored DWORD or 256 on its own.
    Colour LoadLEDColor(SettingsTarget target) const;

    // `state` is the program-wide switch state (1 on, 0 off).
    void SaveLEDSwitch(SettingsTarget target, std::uint32_t state);
    std::uint32_t LoadLEDSwitch(SettingsTarget target) const;  // or 255

    void SaveSyncStatus(std::uint32_t mask);
    std::uint32_t LoadSyncStatus() const;  // or 255

    // Start-up registration: the folder of both programs (with its trailing
    // backslash) and the service's full path, in the general key; and the
    // log-on start entry.
    void SaveInstallPaths(std::string_view installFolder, std::string_view servicePath);
    void SaveAutoRunEntry(std::string_view servicePath);

    // A device's whole choice as an apply stores it: the values of
    // SaveLEDColor, SaveLEDServiceBehavior and SaveLEDSwitch in this order, in
    // one transaction.
    void StoreChoice(SettingsTarget target, const LightingSetting& setting);

    // Variants for rules that must know whether the key could be created or
    // opened (the service stops a store sequence when a key cannot be created).
    bool TrySaveLEDServiceBehavior(SettingsTarget target, std::uint32_t effect);
    bool TrySaveLEDColor(SettingsTarget target, const Colour& colour);
    bool TrySaveLEDSwitch(SettingsTarget target, std::uint32_t state);
    // Reads a DWORD value of the target's key; `fallback` when the key or value
    // is missing or the value is not exactly 4 bytes long.
    std::uint32_t LoadDword(SettingsTarget target, std::string_view name,
                            std::uint32_t fallback) const;

private:
    // Creates or opens the target's key and sets the values in one
    // transaction; false when the key could not be created.
    bool SaveValues(SettingsTarget target, std::span<const NamedRegistryValue> values);
    bool SaveDword(SettingsTarget target, std::string_view name, std::uint32_t value);
    // Opens the target's key and reads the values from one snapshot; false
    // when the key cannot be opened or read.
    bool LoadValues(SettingsTarget target, std::span<const std::string_view> names,
                    std::vector<RegistryRead>* reads) const;

    Registry& registry_;
};

// The choice of one device as an apply stores it: colour, effect, switch.
// Same as SettingsStore::StoreChoice.
void StoreDeviceChoice(SettingsStore& store, SettingsTarget target, const LightingSetting& setting);

}  // namespace ovra
