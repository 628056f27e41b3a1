#pragma once
// Port: the stored lighting choices as the UI program reads and writes them
// (targets 1 headset, 2 microphone). The program binds it to the settings
// accessors; never-stored values come back as 255 (effect, switch) and 256
// (colour components).

#include <cstdint>

#include "device_access/LightingTypes.h"

namespace ovra {

inline constexpr std::uint32_t kStoreHeadset = 1;
inline constexpr std::uint32_t kStoreMicrophone = 2;
inline constexpr std::uint32_t kStoreUnsetEffect = 255;
inline constexpr std::uint32_t kStoreUnsetSwitch = 255;
inline constexpr double kStoreUnsetColour = 256.0;
inline constexpr std::uint32_t kSyncStatusNoDevice = 255;

class LightingStore {
public:
    virtual ~LightingStore() = default;
    virtual void SaveLEDServiceBehavior(std::uint32_t target, std::uint32_t effect) = 0;
    virtual std::uint32_t LoadLEDServiceBehavior(std::uint32_t target) = 0;
    virtual void SaveLEDColor(std::uint32_t target, const Colour& colour) = 0;
    virtual Colour LoadLEDColor(std::uint32_t target) = 0;
    virtual void SaveLEDSwitch(std::uint32_t target, std::uint32_t state) = 0;
    virtual std::uint32_t LoadLEDSwitch(std::uint32_t target) = 0;
    virtual void SaveSyncStatus(std::uint32_t mask) = 0;
};

}  // namespace ovra
