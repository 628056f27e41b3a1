// The lighting-choice accessors and the service's rules, against the real
// SQLite store in a private folder.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/registry/SqliteRegistry.h"
#include "settings/ServiceSettings.h"
#include "settings/SettingsStore.h"
#include "tests/settings/TempStore.h"

namespace ovra {
namespace {

class SettingsAccessors : public ::testing::Test {
protected:
    void TearDown() override {
        // Nothing in these tests may make the store itself fail.
        EXPECT_TRUE(log_.Texts().empty()) << log_.Texts().front();
    }

    // Raw access to check exactly what was stored.
    std::optional<RegistryValue> Raw(std::string_view key, std::string_view name,
                                     RegistryRoot root = kSettingsRoot) {
        std::unique_ptr<RegistryKey> open;
        if (registry_.OpenKey(root, key, RegistryAccess::Read, &open) != RegistryStatus::Ok)
            return std::nullopt;
        RegistryValue value;
        if (open->QueryValue(name, &value) != RegistryStatus::Ok) return std::nullopt;
        return value;
    }
    void SetRaw(std::string_view key, std::string_view name, RegistryType type,
                std::vector<std::uint8_t> data) {
        std::unique_ptr<RegistryKey> open;
        ASSERT_EQ(registry_.CreateKey(kSettingsRoot, key, &open), RegistryStatus::Ok);
        ASSERT_EQ(open->SetValue(name, type, data), RegistryStatus::Ok);
    }
    void SetDword(std::string_view key, std::string_view name, std::uint32_t value) {
        SetRaw(key, name, RegistryType::Dword, EncodeRegistryDword(value));
    }
    std::optional<std::uint32_t> Dword(std::string_view key, std::string_view name) {
        const auto value = Raw(key, name);
        if (!value) return std::nullopt;
        EXPECT_EQ(value->type, RegistryType::Dword);
        EXPECT_EQ(value->data.size(), 4u);
        if (value->data.size() != 4) return std::nullopt;
        return value->data[0] | (value->data[1] << 8) | (value->data[2] << 16) |
               (std::uint32_t(value->data[3]) << 24);
    }

    testing::TempStore dir_;
    RecordingDebugLog log_;
    SqliteRegistry registry_{log_, dir_.Location()};
    SettingsStore store_{registry_};
};

TEST_F(SettingsAccessors, EmptyStoreGivesTheOutOfRangeDefaults) {
    for (const SettingsTarget target : {0u, 1u, 2u, 3u, 0xFFFFFFFFu}) {
        EXPECT_EQ(store_.LoadLEDServiceBehavior(target), 255u) << target;
        EXPECT_EQ(store_.LoadLEDSwitch(target), 255u) << target;
        const Colour colour = store_.LoadLEDColor(target);
        EXPECT_EQ(colour.red, 256.0);
        EXPECT_EQ(colour.green, 256.0);
        EXPECT_EQ(colour.blue, 256.0);
    }
    EXPECT_EQ(store_.LoadSyncStatus(), 255u);
    // Reading creates nothing.
    std::unique_ptr<RegistryKey> key;
    EXPECT_EQ(registry_.OpenKey(kSettingsRoot, "Software\\Quelt", RegistryAccess::Read, &key),
              RegistryStatus::NotFound);
}

TEST_F(SettingsAccessors, TargetsSelectTheirKeyAndValuesAreFourByteDwords) {
    struct Case {
        SettingsTarget target;
        std::string_view key;
    } const cases[] = {
        {1, "Software\\Quelt\\OVRA(ZIRUZAVUVU)\\KYX_Headset"},
        {2, "Software\\Quelt\\OVRA(ZIRUZAVUVU)\\KYX_Mic"},
        {0, "Software\\Quelt\\OVRA(ZIRUZAVUVU)\\Settings"},
        {3, "Software\\Quelt\\OVRA(ZIRUZAVUVU)\\Settings"},
        {0x80000001u, "Software\\Quelt\\OVRA(ZIRUZAVUVU)\\Settings"},
    };
    std::uint32_t effect = 10;
    for (const auto& c : cases) {
        ++effect;
        store_.SaveLEDServiceBehavior(c.target, effect);
        store_.SaveLEDSwitch(c.target, effect + 100);
        store_.SaveLEDColor(c.target, 1, 2, 3);
        EXPECT_EQ(Dword(c.key, "LED Service Behavior"), effect) << c.target;
        EXPECT_EQ(Dword(c.key, "LED Switch"), effect + 100) << c.target;
        EXPECT_EQ(Dword(c.key, "LED Red"), 1u);
        EXPECT_EQ(Dword(c.key, "LED Green"), 2u);
        EXPECT_EQ(Dword(c.key, "LED Blue"), 3u);
        EXPECT_EQ(store_.LoadLEDServiceBehavior(c.target), effect);
        EXPECT_EQ(store_.LoadLEDSwitch(c.target), effect + 100);
    }
    store_.SaveSyncStatus(9);
    EXPECT_EQ(Dword("Software\\Quelt\\OVRA(ZIRUZAVUVU)\\Settings", "Sync Status"), 9u);
    EXPECT_EQ(store_.LoadSyncStatus(), 9u);
}

TEST_F(SettingsAccessors, ColourIsTruncatedTowardZeroKeepingTheLow32Bits) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double written;
        std::uint32_t stored;
    } const cases[] = {
        {200.9, 200},        {0.0, 0},           {255.0, 255},         {255.99, 255},
        {256.0, 256},        {-0.9, 0},          {-1.5, 0xFFFFFFFFu},  {4294967296.7, 0},
        {4294967551.0, 255}, {-4294967296.0, 0}, {1e300, 0},           {-1e300, 0},
        {nan, 0},            {inf, 0},           {9223372036854775807.0, 0},
    };
    for (const auto& c : cases) {
        store_.SaveLEDColor(kHeadsetTarget, c.written, 17.0, c.written);
        EXPECT_EQ(Dword(kHeadsetKey, "LED Red"), c.stored) << c.written;
        EXPECT_EQ(Dword(kHeadsetKey, "LED Blue"), c.stored) << c.written;
        const Colour read = store_.LoadLEDColor(kHeadsetTarget);
        EXPECT_EQ(read.red, static_cast<double>(c.stored)) << c.written;
        EXPECT_EQ(read.green, 17.0);
        EXPECT_EQ(read.blue, static_cast<double>(c.stored));
    }
}

TEST_F(SettingsAccessors, EachColourComponentFallsBackOnItsOwn) {
    store_.SaveLEDColor(kMicTarget, 10, 20, 30);
    std::unique_ptr<RegistryKey> key;
    ASSERT_EQ(registry_.OpenKey(kSettingsRoot, kMicKey, RegistryAccess::ReadWrite, &key),
              RegistryStatus::Ok);
    ASSERT_EQ(key->DeleteValue("LED Green"), RegistryStatus::Ok);
    Colour colour = store_.LoadLEDColor(kMicTarget);
    EXPECT_EQ(colour.red, 10.0);
    EXPECT_EQ(colour.green, 256.0);
    EXPECT_EQ(colour.blue, 30.0);
    SetRaw(kMicKey, "LED Blue", RegistryType::String, {0x41, 0, 0, 0, 0, 0});  // 6 bytes
    colour = store_.LoadLEDColor(kMicTarget);
    EXPECT_EQ(colour.red, 10.0);
    EXPECT_EQ(colour.blue, 256.0);
}

TEST_F(SettingsAccessors, ValuesOfAnotherTypeOrSizeReadAsTheirFirstFourBytesOrTheDefault) {
    struct Case {
        const char* what;
        RegistryType type;
        std::vector<std::uint8_t> data;
        std::uint32_t expected;
    } const cases[] = {
        {"dword", RegistryType::Dword, {1, 0, 0, 0}, 1},
        {"one-letter text", RegistryType::String, {'A', 0, 0, 0}, 65},
        {"4 binary bytes", RegistryType::Binary, {1, 2, 3, 4}, 0x04030201},
        {"unknown type", static_cast<RegistryType>(11), {0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF},
        {"5 bytes", RegistryType::Binary, {1, 0, 0, 0, 0}, 255},
        {"8-byte dword", RegistryType::Dword, {1, 0, 0, 0, 0, 0, 0, 0}, 255},
        {"longer text", RegistryType::String, {'1', 0, '2', 0, 0, 0}, 255},
        {"short dword", RegistryType::Dword, {7, 0}, 255},
        {"empty", RegistryType::Binary, {}, 255},
        {"huge text", RegistryType::String, std::vector<std::uint8_t>(kMaxRegistryValueSize, 'x'), 255},
    };
    for (const auto& c : cases) {
        SetRaw(kHeadsetKey, "LED Switch", c.type, c.data);
        EXPECT_EQ(store_.LoadLEDSwitch(kHeadsetTarget), c.expected) << c.what;
        SetRaw(kGeneralKey, "Sync Status", c.type, c.data);
        EXPECT_EQ(store_.LoadSyncStatus(), c.expected) << c.what;
    }
}

TEST_F(SettingsAccessors, AnApplyStoresColourEffectAndSwitchOfEachDevice) {
    const LightingSetting headset{LightingEffect::Breathing, {229.6, 26.2, 0.0}, 1};
    const LightingSetting mic{LightingEffect::Music, {1.0, 2.0, 3.0}, 0};
    store_.SaveSyncStatus(3);
    StoreDeviceChoice(store_, kHeadsetTarget, headset);
    StoreDeviceChoice(store_, kMicTarget, mic);
    EXPECT_EQ(store_.LoadSyncStatus(), 3u);
    EXPECT_EQ(store_.LoadLEDServiceBehavior(kHeadsetTarget), 1u);
    EXPECT_EQ(store_.LoadLEDColor(kHeadsetTarget).red, 229.0);
    EXPECT_EQ(store_.LoadLEDColor(kHeadsetTarget).green, 26.0);
    EXPECT_EQ(store_.LoadLEDSwitch(kHeadsetTarget), 1u);
    EXPECT_EQ(store_.LoadLEDServiceBehavior(kMicTarget), 4u);
    EXPECT_EQ(store_.LoadLEDColor(kMicTarget).blue, 3.0);
    EXPECT_EQ(store_.LoadLEDSwitch(kMicTarget), 0u);
}

TEST_F(SettingsAccessors, StartUpRegistrationWritesTextValues) {
    store_.SaveInstallPaths("/opt/ovra/", "/opt/ovra/lumiserv");
    store_.SaveAutoRunEntry("/opt/ovra/lumiserv");
    std::vector<std::uint8_t> folder, service;
    ASSERT_TRUE(EncodeRegistryString("/opt/ovra/", &folder));
    ASSERT_TRUE(EncodeRegistryString("/opt/ovra/lumiserv", &service));
    EXPECT_EQ(Raw(kGeneralKey, "VIR_ARE_Zizariz Install Path"),
              (RegistryValue{RegistryType::String, folder}));
    EXPECT_EQ(Raw(kGeneralKey, "Auto run path"), (RegistryValue{RegistryType::String, service}));
    EXPECT_EQ(Raw("Software\\Microsoft\\Windows\\CurrentVersion\\Run", "VIR ARE Zizariz",
                  RegistryRoot::CurrentUser),
              (RegistryValue{RegistryType::String, service}));
}

// --- the service's rules ---------------------------------------------------

TEST_F(SettingsAccessors, ServiceSwitchReadPicksTheHeadsetKeyForAnyHeadsetBit) {
    SetDword(kHeadsetKey, "LED Switch", 11);
    SetDword(kMicKey, "LED Switch", 22);
    struct Case {
        std::uint32_t sync;
        std::uint32_t expected;
    } const cases[] = {{1, 11}, {4, 11}, {8, 11}, {3, 11}, {255, 11}, {0x0D, 11},
                       {2, 22}, {0, 22}, {16, 22}, {0xF2, 22}};
    for (const auto& c : cases) EXPECT_EQ(ServiceLoadLEDSwitch(store_, c.sync), c.expected) << c.sync;
}

TEST_F(SettingsAccessors, ServiceWritesEffectsOnlyToDeviceKeys) {
    struct Case {
        SettingsTarget target;
        std::string_view key;
    } const cases[] = {{1, kHeadsetKey}, {2, kMicKey}, {0, kMicKey}, {7, kMicKey}};
    std::uint32_t effect = 0;
    for (const auto& c : cases) {
        ServiceSaveLEDServiceBehavior(store_, c.target, ++effect);
        EXPECT_EQ(Dword(c.key, "LED Service Behavior"), effect) << c.target;
    }
    EXPECT_EQ(Raw(kGeneralKey, "LED Service Behavior"), std::nullopt);
}

TEST_F(SettingsAccessors, ServiceStartUpLoad) {
    constexpr std::uint32_t kMissing = 0xDEAD;  // value not stored in the case
    struct Case {
        std::uint32_t sync;
        std::uint32_t headsetSwitch, micSwitch, headsetEffect, micEffect;
        std::uint32_t current;
        // expected
        std::uint32_t ledSwitch, behavior;
        std::uint32_t headsetSwitchAfter, micSwitchAfter;
    } const cases[] = {
        // Switch missing: counts as on and is stored for the kinds of the mask.
        {1, kMissing, kMissing, kMissing, kMissing, 0, 1, 0, 1, kMissing},
        {2, kMissing, kMissing, kMissing, kMissing, 0, 1, 0, kMissing, 1},
        {255, kMissing, kMissing, kMissing, kMissing, 3, 1, 3, 1, 1},
        {16, kMissing, kMissing, kMissing, kMissing, 0, 1, 0, kMissing, kMissing},
        // Stored switch is taken as it is, from the headset key when a headset bit is set.
        {3, 0, 1, 2, 5, 0, 0, 5, 0, 1},
        {2, 0, 1, 2, 5, 0, 1, 5, 0, 1},
        // Effect from the microphone when bit 2 is set, else from the headset.
        {3, 1, 1, 0, 4, 0, 1, 4, 1, 1},
        {1, 1, 1, 0, 4, 2, 1, 0, 1, 1},
        // 255 keeps the current effect, other out-of-range codes count as 0.
        {1, 1, 1, kMissing, 4, 3, 1, 3, 1, 1},
        {1, 1, 1, 7, 4, 3, 1, 0, 1, 1},
        {1, 1, 1, 255, 4, 3, 1, 3, 1, 1},
    };
    for (const auto& c : cases) {
        registry_.DeleteKey(kSettingsRoot, "Software\\Quelt");
        if (c.headsetSwitch != kMissing) SetDword(kHeadsetKey, "LED Switch", c.headsetSwitch);
        if (c.micSwitch != kMissing) SetDword(kMicKey, "LED Switch", c.micSwitch);
        if (c.headsetEffect != kMissing) SetDword(kHeadsetKey, "LED Service Behavior", c.headsetEffect);
        if (c.micEffect != kMissing) SetDword(kMicKey, "LED Service Behavior", c.micEffect);
        const auto result = LoadServiceStartupSettings(store_, c.sync, c.current);
        SCOPED_TRACE(::testing::Message() << "sync " << c.sync << " current " << c.current);
        EXPECT_EQ(result.ledSwitch, c.ledSwitch);
        EXPECT_EQ(result.serviceBehavior, c.behavior);
        EXPECT_EQ(Dword(kHeadsetKey, "LED Switch").value_or(kMissing), c.headsetSwitchAfter);
        EXPECT_EQ(Dword(kMicKey, "LED Switch").value_or(kMissing), c.micSwitchAfter);
    }
}

TEST_F(SettingsAccessors, ServiceWakeUpLoadKeepsMusicOnlyForKindsInTheMask) {
    constexpr std::uint32_t kMissing = 0xDEAD;
    struct Case {
        std::uint32_t sync;
        std::uint32_t headsetEffect, micEffect;
        ServiceBehaviors expected;
        std::uint32_t headsetAfter, micAfter;
    } const cases[] = {
        {1, 0, 4, {0, 0, 4}, 0, 0},                 // mic left the mask: its music is reset
        {3, 0, 4, {0, 0, 4}, 0, 4},                 // headset's effect rules when both take part
        {2, 4, 1, {1, 4, 1}, 0, 1},                 // headset left the mask
        {2, 4, 4, {4, 4, 4}, 0, 4},
        {255, 4, 4, {4, 4, 4}, 4, 4},               // 255: every kind takes part
        {0, 4, 2, {2, 4, 2}, 0, 2},                 // no headset bit: the mic's effect
        {1, kMissing, kMissing, {0, 0, 0}, kMissing, kMissing},  // missing reads 0, nothing stored
        {1, 7, 4, {7, 7, 4}, 7, 0},                 // taken unchanged, no range limit
        {8, 4, kMissing, {4, 4, 0}, 4, kMissing},
    };
    for (const auto& c : cases) {
        registry_.DeleteKey(kSettingsRoot, "Software\\Quelt");
        if (c.headsetEffect != kMissing) SetDword(kHeadsetKey, "LED Service Behavior", c.headsetEffect);
        if (c.micEffect != kMissing) SetDword(kMicKey, "LED Service Behavior", c.micEffect);
        const auto result = LoadServiceBehaviors(store_, c.sync);
        SCOPED_TRACE(::testing::Message() << "sync " << c.sync);
        EXPECT_EQ(result.serviceBehavior, c.expected.serviceBehavior);
        EXPECT_EQ(result.headset, c.expected.headset);
        EXPECT_EQ(result.mic, c.expected.mic);
        EXPECT_EQ(Dword(kHeadsetKey, "LED Service Behavior").value_or(kMissing), c.headsetAfter);
        EXPECT_EQ(Dword(kMicKey, "LED Service Behavior").value_or(kMissing), c.micAfter);
    }
}

TEST_F(SettingsAccessors, ServiceRestoresTheDefaultBreathingForTheKindsInTheMask) {
    struct Case {
        std::uint32_t sync;
        bool headset, mic;
    } const cases[] = {{1, true, false}, {4, true, false}, {8, true, false}, {2, false, true},
                       {3, true, true},  {255, true, true}, {0, false, false}, {16, false, false}};
    for (const auto& c : cases) {
        registry_.DeleteKey(kSettingsRoot, "Software\\Quelt");
        StoreDefaultLighting(store_, c.sync);
        SCOPED_TRACE(::testing::Message() << "sync " << c.sync);
        for (const auto& [key, expected] : {std::pair{kHeadsetKey, c.headset}, {kMicKey, c.mic}}) {
            if (!expected) {
                EXPECT_EQ(Raw(key, "LED Service Behavior"), std::nullopt);
                EXPECT_EQ(Raw(key, "LED Red"), std::nullopt);
                continue;
            }
            EXPECT_EQ(Dword(key, "LED Service Behavior"), 1u);
            EXPECT_EQ(Dword(key, "LED Red"), 229u);
            EXPECT_EQ(Dword(key, "LED Green"), 26u);
            EXPECT_EQ(Dword(key, "LED Blue"), 0u);
            EXPECT_EQ(Raw(key, "LED Switch"), std::nullopt);
        }
        EXPECT_EQ(Raw(kGeneralKey, "LED Red"), std::nullopt);
    }
}

TEST_F(SettingsAccessors, StoresMadeByOneRegistryAreSeenByAnother) {
    // Both programs open the same file.
    RecordingDebugLog otherLog;
    SqliteRegistry other(otherLog, dir_.Location());
    SettingsStore otherStore(other);
    store_.SaveLEDColor(kHeadsetTarget, 5, 6, 7);
    EXPECT_EQ(otherStore.LoadLEDColor(kHeadsetTarget).green, 6.0);
    otherStore.SaveSyncStatus(8);
    EXPECT_EQ(store_.LoadSyncStatus(), 8u);
    EXPECT_TRUE(otherLog.Texts().empty());
}

}  // namespace
}  // namespace ovra
