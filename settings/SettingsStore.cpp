#include "settings/SettingsStore.h"

#include <array>

#include "settings/ColourUnits.h"

namespace ovra {
namespace {

// A stored value of another type is read as a DWORD all the same; one that is
// longer than 4 bytes does not fit the reader's 4-byte buffer and gives the
// default. A shorter one gives the default too: it holds no whole DWORD.
bool DwordFromRead(const RegistryRead& read, std::uint32_t* value) {
    if (read.status != RegistryStatus::Ok || read.value.data.size() != 4) return false;
    const auto& d = read.value.data;
    *value = static_cast<std::uint32_t>(d[0]) | (static_cast<std::uint32_t>(d[1]) << 8) |
             (static_cast<std::uint32_t>(d[2]) << 16) | (static_cast<std::uint32_t>(d[3]) << 24);
    return true;
}

NamedRegistryValue Dword(std::string_view name, std::uint32_t value) {
    return {std::string(name), RegistryValue{RegistryType::Dword, EncodeRegistryDword(value)}};
}

}  // namespace

std::string_view SettingsKeyPath(SettingsTarget target) {
    if (target == kHeadsetTarget) return kHeadsetKey;
    if (target == kMicTarget) return kMicKey;
    return kGeneralKey;
}

bool SettingsStore::SaveValues(SettingsTarget target, std::span<const NamedRegistryValue> values) {
    std::unique_ptr<RegistryKey> key;
    if (registry_.CreateKey(kSettingsRoot, SettingsKeyPath(target), &key) != RegistryStatus::Ok)
        return false;
    key->SetValues(values);  // a failed set is skipped like the write it is
    return true;
}

bool SettingsStore::SaveDword(SettingsTarget target, std::string_view name, std::uint32_t value) {
    const std::array values{Dword(name, value)};
    return SaveValues(target, values);
}

bool SettingsStore::LoadValues(SettingsTarget target, std::span<const std::string_view> names,
                               std::vector<RegistryRead>* reads) const {
    // Opened as the programs always opened it (read plus set-value and
    // create-sub-key access), read into a 4-byte buffer: a longer value does
    // not fit and counts as unreadable.
    std::unique_ptr<RegistryKey> key;
    return registry_.OpenKey(kSettingsRoot, SettingsKeyPath(target), RegistryAccess::ReadWrite,
                             &key) == RegistryStatus::Ok &&
           key->QueryValues(names, 4, reads) == RegistryStatus::Ok;
}

std::uint32_t SettingsStore::LoadDword(SettingsTarget target, std::string_view name,
                                       std::uint32_t fallback) const {
    const std::array<std::string_view, 1> names{name};
    std::vector<RegistryRead> reads;
    std::uint32_t value = fallback;
    if (LoadValues(target, names, &reads) && DwordFromRead(reads[0], &value)) return value;
    return fallback;
}

bool SettingsStore::TrySaveLEDServiceBehavior(SettingsTarget target, std::uint32_t effect) {
    return SaveDword(target, kBehaviorValue, effect);
}

void SettingsStore::SaveLEDServiceBehavior(SettingsTarget target, std::uint32_t effect) {
    TrySaveLEDServiceBehavior(target, effect);
}

std::uint32_t SettingsStore::LoadLEDServiceBehavior(SettingsTarget target) const {
    return LoadDword(target, kBehaviorValue, kUnsetBehavior);
}

bool SettingsStore::TrySaveLEDColor(SettingsTarget target, const Colour& colour) {
    // One transaction in the order red, green, blue: a reader never sees half
    // a colour.
    const std::array values{Dword(kRedValue, ColourComponentToRegistry(colour.red)),
                            Dword(kGreenValue, ColourComponentToRegistry(colour.green)),
                            Dword(kBlueValue, ColourComponentToRegistry(colour.blue))};
    return SaveValues(target, values);
}

void SettingsStore::SaveLEDColor(SettingsTarget target, double red, double green, double blue) {
    TrySaveLEDColor(target, Colour{red, green, blue});
}

Colour SettingsStore::LoadLEDColor(SettingsTarget target) const {
    Colour colour{kUnsetColourComponent, kUnsetColourComponent, kUnsetColourComponent};
    const std::array<std::string_view, 3> names{kRedValue, kGreenValue, kBlueValue};
    std::vector<RegistryRead> reads;
    if (!LoadValues(target, names, &reads)) return colour;
    double* components[3] = {&colour.red, &colour.green, &colour.blue};
    for (std::size_t i = 0; i < 3; ++i) {
        std::uint32_t stored;
        if (DwordFromRead(reads[i], &stored)) *components[i] = ColourComponentFromRegistry(stored);
    }
    return colour;
}

bool SettingsStore::TrySaveLEDSwitch(SettingsTarget target, std::uint32_t state) {
    return SaveDword(target, kSwitchValue, state);
}

void SettingsStore::SaveLEDSwitch(SettingsTarget target, std::uint32_t state) {
    TrySaveLEDSwitch(target, state);
}

std::uint32_t SettingsStore::LoadLEDSwitch(SettingsTarget target) const {
    return LoadDword(target, kSwitchValue, kUnsetSwitch);
}

void SettingsStore::SaveSyncStatus(std::uint32_t mask) {
    SaveDword(kGeneralTarget, kSyncStatusValue, mask);
}

std::uint32_t SettingsStore::LoadSyncStatus() const {
    return LoadDword(kGeneralTarget, kSyncStatusValue, kUnsetSyncStatus);
}

void SettingsStore::SaveInstallPaths(std::string_view installFolder, std::string_view servicePath) {
    std::unique_ptr<RegistryKey> key;
    if (registry_.CreateKey(kSettingsRoot, kGeneralKey, &key) != RegistryStatus::Ok) return;
    std::vector<std::uint8_t> folder, service;
    // Paths that are not valid UTF-8 cannot be stored as text; they are skipped.
    if (EncodeRegistryString(installFolder, &folder))
        key->SetValue(kInstallPathValue, RegistryType::String, folder);
    if (EncodeRegistryString(servicePath, &service))
        key->SetValue(kAutoRunPathValue, RegistryType::String, service);
}

void SettingsStore::SaveAutoRunEntry(std::string_view servicePath) {
    std::vector<std::uint8_t> data;
    if (!EncodeRegistryString(servicePath, &data)) return;
    std::unique_ptr<RegistryKey> key;
    if (registry_.CreateKey(kRunRoot, kRunKey, &key) != RegistryStatus::Ok) return;
    key->SetValue(kRunValue, RegistryType::String, data);
}

void StoreDeviceChoice(SettingsStore& store, SettingsTarget target, const LightingSetting& setting) {
    store.StoreChoice(target, setting);
}

void SettingsStore::StoreChoice(SettingsTarget target, const LightingSetting& setting) {
    // The values of SaveLEDColor, SaveLEDServiceBehavior and SaveLEDSwitch, in
    // this order, as one transaction: the other program never reads half a
    // choice, and the apply pays for one synchronous commit instead of three.
    const std::array values{
        Dword(kRedValue, ColourComponentToRegistry(setting.colour.red)),
        Dword(kGreenValue, ColourComponentToRegistry(setting.colour.green)),
        Dword(kBlueValue, ColourComponentToRegistry(setting.colour.blue)),
        Dword(kBehaviorValue, static_cast<std::uint32_t>(setting.effect)),
        Dword(kSwitchValue, static_cast<std::uint32_t>(setting.lightSwitch))};
    SaveValues(target, values);
}

}  // namespace ovra
