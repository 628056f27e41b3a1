#pragma once
// The stored lighting choices of the running program: the settings accessors.

#include "settings/SettingsStore.h"
#include "ui_program/core/LightingStore.h"

namespace ovra {

class SettingsLightingStore final : public LightingStore {
public:
    explicit SettingsLightingStore(SettingsStore& store) : store_(store) {}
    void SaveLEDServiceBehavior(std::uint32_t target, std::uint32_t effect) override {
        store_.SaveLEDServiceBehavior(target, effect);
    }
    std::uint32_t LoadLEDServiceBehavior(std::uint32_t target) override {
        return store_.LoadLEDServiceBehavior(target);
    }
    void SaveLEDColor(std::uint32_t target, const Colour& colour) override {
        store_.SaveLEDColor(target, colour);
    }
    Colour LoadLEDColor(std::uint32_t target) override { return store_.LoadLEDColor(target); }
    void SaveLEDSwitch(std::uint32_t target, std::uint32_t state) override {
        store_.SaveLEDSwitch(target, state);
    }
    std::uint32_t LoadLEDSwitch(std::uint32_t target) override { return store_.LoadLEDSwitch(target); }
    void SaveSyncStatus(std::uint32_t mask) override { store_.SaveSyncStatus(mask); }

private:
    SettingsStore& store_;
};

}  // namespace ovra
