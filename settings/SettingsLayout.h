#pragma once
// The registry layout both programs share: key paths, value names and the
// defaults readers substitute. Every name is kept letter for letter, since the
// other program, tools and earlier installations rely on them.

#include <cstdint>
#include <string_view>

#include "platform/Registry.h"

namespace ovra {

// Which key an accessor works on: 1 the headset key, 2 the microphone key,
// any other value the general Settings key.
using SettingsTarget = std::uint32_t;
inline constexpr SettingsTarget kHeadsetTarget = 1;
inline constexpr SettingsTarget kMicTarget = 2;
inline constexpr SettingsTarget kGeneralTarget = 0;

inline constexpr RegistryRoot kSettingsRoot = RegistryRoot::LocalMachine;
inline constexpr std::string_view kHeadsetKey = "Software\\Quelt\\OVRA(ZIRUZAVUVU)\\KYX_Headset";
inline constexpr std::string_view kMicKey = "Software\\Quelt\\OVRA(ZIRUZAVUVU)\\KYX_Mic";
inline constexpr std::string_view kGeneralKey = "Software\\Quelt\\OVRA(ZIRUZAVUVU)\\Settings";

inline constexpr std::string_view kBehaviorValue = "LED Service Behavior";
inline constexpr std::string_view kRedValue = "LED Red";
inline constexpr std::string_view kGreenValue = "LED Green";
inline constexpr std::string_view kBlueValue = "LED Blue";
inline constexpr std::string_view kSwitchValue = "LED Switch";
inline constexpr std::string_view kSyncStatusValue = "Sync Status";
inline constexpr std::string_view kInstallPathValue = "VIR_ARE_Zizariz Install Path";
inline constexpr std::string_view kAutoRunPathValue = "Auto run path";

// The log-on start entry.
inline constexpr RegistryRoot kRunRoot = RegistryRoot::CurrentUser;
inline constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::string_view kRunValue = "VIR ARE Zizariz";

// Defaults for values that were never stored. They lie outside every range
// that is written, so a caller can tell "never stored" from a stored choice;
// each caller decides what that means. They are never written back as such.
inline constexpr std::uint32_t kUnsetBehavior = 255;
inline constexpr std::uint32_t kUnsetSwitch = 255;
inline constexpr std::uint32_t kUnsetSyncStatus = 255;
inline constexpr double kUnsetColourComponent = 256.0;
// The service's wake-up read of both device effects treats a missing value as
// static (0).
inline constexpr std::uint32_t kWakeUpUnsetBehavior = 0;

// SyncStatus bits: the device kinds that the last applied choice went to.
inline constexpr std::uint32_t kSyncGen2 = 1;
inline constexpr std::uint32_t kSyncMK470 = 2;
inline constexpr std::uint32_t kSyncGen2Mid = 4;
inline constexpr std::uint32_t kSyncTV520 = 8;
inline constexpr std::uint32_t kSyncHeadsetBits = kSyncGen2 | kSyncGen2Mid | kSyncTV520;  // 0x0D
inline constexpr std::uint32_t kSyncNoDevice = 255;  // UI: nothing selected; service: every kind

std::string_view SettingsKeyPath(SettingsTarget target);

}  // namespace ovra
