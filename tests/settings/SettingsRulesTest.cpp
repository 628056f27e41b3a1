// Rules that need no store: the SyncStatus computation, and the service's
// store sequences when a key cannot be created (in-memory registry).

#include <gtest/gtest.h>

#include <set>

#include "platform/fake/InMemoryRegistry.h"
#include "settings/ServiceSettings.h"
#include "settings/SyncStatus.h"

namespace ovra {
namespace {

TEST(ComputeSyncStatus, FromConnectedFamiliesAndSelection) {
    using S = SelectedDevice;
    struct Case {
        ConnectedFamilies connected;
        bool sync;
        S selected;
        std::uint32_t expected;
    } const cases[] = {
        {{.gen2 = true, .mk470 = true}, true, S::Headset, 3},
        {{.gen2 = true, .mk470 = true}, true, S::None, 3},
        {{.tv520 = true}, false, S::Headset, 8},
        {{.mk470 = true}, false, S::Microphone, 2},
        {{.gen2Mid = true, .mk470 = true}, false, S::Headset, 4},
        {{.gen2Mid = true, .mk470 = true}, true, S::Microphone, 6},
        {{.gen2Mid = true, .tv520 = true}, false, S::Headset, 4},  // Gen2Mid before TV520
        {{.gen2 = true, .gen2Mid = true}, false, S::Headset, 1},   // Gen2 first
        {{.gen2Entry = true}, false, S::Headset, 0},               // no bit of its own
        {{.gen2Entry = true, .mk470 = true}, true, S::Headset, 2},
        {{.gen2 = true}, false, S::Microphone, 0},
        {{.gen2 = true, .mk470 = true}, false, S::None, 255},
        {{}, false, S::None, 255},
        {{}, true, S::None, 0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(ComputeSyncStatus(cases[i].connected, cases[i].sync, cases[i].selected),
                  cases[i].expected)
            << "case " << i;
}

// Refuses to create (or open) chosen keys, like a store that cannot write them.
class RefusingRegistry final : public Registry {
public:
    explicit RefusingRegistry(std::set<std::string> refused) : refused_(std::move(refused)) {}
    RegistryStatus CreateKey(RegistryRoot root, std::string_view path,
                             std::unique_ptr<RegistryKey>* key) override {
        if (refused_.count(std::string(path))) return RegistryStatus::Unavailable;
        return inner.CreateKey(root, path, key);
    }
    RegistryStatus OpenKey(RegistryRoot root, std::string_view path, RegistryAccess access,
                           std::unique_ptr<RegistryKey>* key) override {
        return inner.OpenKey(root, path, access, key);
    }
    RegistryStatus DeleteKey(RegistryRoot root, std::string_view path) override {
        return inner.DeleteKey(root, path);
    }
    InMemoryRegistry inner;

private:
    std::set<std::string> refused_;
};

TEST(ServiceStores, AHeadsetKeyThatCannotBeCreatedStopsTheSequence) {
    RefusingRegistry registry({std::string(kHeadsetKey)});
    SettingsStore store(registry);
    StoreDefaultLighting(store, 255);
    EXPECT_EQ(store.LoadLEDServiceBehavior(kMicTarget), 255u);
    EXPECT_EQ(store.LoadLEDColor(kMicTarget).red, 256.0);

    const auto startup = LoadServiceStartupSettings(store, 3, 0);
    EXPECT_EQ(startup.ledSwitch, 1u);
    EXPECT_EQ(store.LoadLEDSwitch(kMicTarget), 255u);  // not written either

    // Without a headset bit the microphone key is written as usual.
    StoreDefaultLighting(store, 2);
    EXPECT_EQ(store.LoadLEDServiceBehavior(kMicTarget), 1u);
    EXPECT_EQ(store.LoadLEDColor(kMicTarget).red, 229.0);
}

TEST(ServiceStores, AnUnavailableStoreGivesDefaultsAndWritesNothing) {
    InMemoryRegistry registry;
    SettingsStore store(registry);
    store.SaveLEDSwitch(kHeadsetTarget, 1);
    registry.SetUnavailable(true);
    EXPECT_EQ(store.LoadLEDSwitch(kHeadsetTarget), 255u);
    EXPECT_EQ(LoadServiceBehaviors(store, 1).serviceBehavior, 0u);
    store.SaveLEDSwitch(kHeadsetTarget, 0);
    registry.SetUnavailable(false);
    EXPECT_EQ(store.LoadLEDSwitch(kHeadsetTarget), 1u);
}

}  // namespace
}  // namespace ovra
