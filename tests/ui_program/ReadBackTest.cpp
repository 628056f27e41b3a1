// Selecting a device and reading its lighting back into the window.
#include <gtest/gtest.h>

#include "tests/ui_program/ModelFixture.h"

namespace ovra::test {
namespace {

struct Stored {
    std::uint32_t behavior;
    Colour colour;
    std::uint32_t lightSwitch;
};

struct ReadBackCase {
    const char* name;
    std::string id;
    std::uint32_t target;
    Stored stored;
    std::optional<DeviceLightingState> device;  // what the device reports
    std::uint8_t shown;
    Colour colour;
    std::uint8_t offOn;
};

class ReadBackTest : public ModelFixture, public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(ReadBackTest, WindowShowsWhatTheDeviceAndTheStoreSay) {
    const auto& c = GetParam();
    store.values[c.target] = {c.stored.behavior, c.stored.colour, c.stored.lightSwitch};
    RecordingDevice& device = c.id == kEntryId  ? links.gen2Entry
                              : c.id == kGen2Id ? links.gen2
                              : c.id == kMidId  ? links.gen2Mid
                                                : links.mic;
    device.setting = c.device;
    MakeModel();
    Discover({c.id});
    const auto& s = model->State();
    EXPECT_EQ(int(s.shownEffect), int(c.shown));
    EXPECT_EQ(s.colour.red, c.colour.red);
    EXPECT_EQ(s.colour.green, c.colour.green);
    EXPECT_EQ(s.colour.blue, c.colour.blue);
    EXPECT_EQ(int(s.offOnButton), int(c.offOn));
    EXPECT_EQ(s.ledSwitch, c.offOn);
}

constexpr Colour kNever{256, 256, 256};

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadBackTest,
    ::testing::Values(
        ReadBackCase{"EntryKeepsOnlyRed", kEntryId, 1, {0, {1, 2, 3}, 1}, DeviceLightingState{200, 50, 10, 2},
                     1, {200, 0, 0}, 1},
        ReadBackCase{"Gen2StoredMusicIgnoresTheDevice", kGen2Id, 1, {4, {7, 8, 9}, 1},
                     DeviceLightingState{200, 50, 10, 2}, 4, {7, 8, 9}, 1},
        ReadBackCase{"Gen2ReadFailsUsesStore", kGen2Id, 1, {3, {7, 8, 9}, 1}, std::nullopt, 3, {7, 8, 9}, 1},
        ReadBackCase{"Gen2GarbageModeUsesStore", kGen2Id, 1, {1, {7, 8, 9}, 1},
                     DeviceLightingState{1, 2, 3, 0xEE}, 1, {7, 8, 9}, 1},
        ReadBackCase{"Gen2MidRainbowShowsStatic", kMidId, 1, {5, {4, 5, 6}, 1}, std::nullopt, 0, {4, 5, 6}, 1},
        ReadBackCase{"MicOffShowsStoredEffectAndReadColour", kMicId, 2, {1, {4, 5, 6}, 1},
                     DeviceLightingState{11, 12, 13, 4}, 1, {11, 12, 13}, 1},
        ReadBackCase{"MicColorCycle", kMicId, 2, {0, {4, 5, 6}, 1}, DeviceLightingState{11, 12, 13, 3}, 3,
                     {11, 12, 13}, 1},
        ReadBackCase{"SwitchOffShowsTheStoredChoice", kGen2Id, 1, {2, {40, 50, 60}, 0},
                     DeviceLightingState{1, 2, 3, 1}, 2, {40, 50, 60}, 0},
        ReadBackCase{"MicSwitchOff", kMicId, 2, {3, {40, 50, 60}, 0}, DeviceLightingState{1, 2, 3, 1}, 3,
                     {40, 50, 60}, 0},
        // First run: nothing stored. The device's own state, or the default
        // lighting; never the out-of-range "unset" values.
        ReadBackCase{"NeverStoredHidTakesTheDevice", kGen2Id, 1, {255, kNever, 255},
                     DeviceLightingState{30, 40, 50, 3}, 2, {30, 40, 50}, 1},
        ReadBackCase{"NeverStoredHidReadFailsTakesDefault", kGen2Id, 1, {255, kNever, 255}, std::nullopt, 1,
                     {229, 26, 0}, 1},
        ReadBackCase{"NeverStoredMidTakesDefault", kMidId, 1, {255, kNever, 255}, std::nullopt, 1,
                     {229, 26, 0}, 1},
        ReadBackCase{"NeverStoredMicTakesTheDevice", kMicId, 2, {255, kNever, 255},
                     DeviceLightingState{9, 8, 7, 2}, 1, {9, 8, 7}, 1},
        ReadBackCase{"PartlyStoredColourIsReplacedWhole", kMidId, 1, {0, {10, 256, 10}, 1}, std::nullopt, 0,
                     {229, 26, 0}, 1}),
    [](const auto& p) { return std::string(p.param.name); });

class SelectionTest : public ModelFixture {
protected:
    void SetUp() override {
        MakeModel();
        links.gen2.setting = DeviceLightingState{1, 2, 3, 1};
        links.mic.setting = DeviceLightingState{4, 5, 6, 2};
    }
};

TEST_F(SelectionTest, ButtonsSelectReadBackAndNameTheModel) {
    Discover({kGen2Id, kMicId});
    ASSERT_EQ(model->State().selected, SelectedDevice::Headset);
    EXPECT_EQ(model->State().modelName, "KYX Vanta HS");
    const int headsetReads = links.gen2.SettingReads();
    model->OnHeadsetButton();  // already selected: nothing, not even a read
    EXPECT_EQ(links.gen2.SettingReads(), headsetReads);
    EXPECT_EQ(LoggedCount("OnBnClickedBtnHeadset!!!!!!!!\n"), 1);

    model->OnMicButton();
    EXPECT_TRUE(Logged("OnBnClickedBtnMic!!!!!!!!\n"));
    EXPECT_EQ(model->State().selected, SelectedDevice::Microphone);
    EXPECT_EQ(model->State().modelName, "KYX Vanta Ostra");
    EXPECT_EQ(model->State().choice, EffectChoice::Breathing);
    EXPECT_EQ(model->MicLightEffect(), 1u);
    EXPECT_GT(host.redraws, 0);
}

TEST_F(SelectionTest, ModelNamesPerFamily) {
    const std::pair<std::string, const char*> names[] = {
        {kGen2Id, "KYX Vanta HS"}, {kEntryId, "KYX Vanta Corda 300"},
        {kMidId, "KYX Vanta Corda 500"}, {kTv520Id, "KYX Headset TV520"}};
    for (const auto& [id, name] : names) {
        MakeModel();
        Discover({id});
        EXPECT_EQ(model->State().modelName, name);
        model->EndDeviceConnections(EndReason::WindowClose);
    }
}

TEST_F(SelectionTest, EffectChoicesSetViewsAndSyncAvailability) {
    Discover({kTv520Id, kMicId});
    model->SetColour({10, 20, 30});
    struct Case {
        EffectChoice choice;
        int view;
        bool syncEnabled;
    } const cases[] = {
        {EffectChoice::Strobing, 0, false}, {EffectChoice::Static, 0, true},
        {EffectChoice::Rainbow, 2, false},  {EffectChoice::ColorCycle, 2, true},
        {EffectChoice::Music, 2, true},     {EffectChoice::GpuTemperature, 2, true},
    };
    for (const auto& c : cases) {
        model->OnEffectChoice(c.choice);
        EXPECT_EQ(model->State().panelView, c.view) << int(c.choice);
        EXPECT_EQ(model->State().syncEnabled, c.syncEnabled) << int(c.choice);
        EXPECT_TRUE(model->State().panel.strobingChoice) << "TV520 with the headset selected";
    }
    model->SetColour({50, 50, 50});
    model->OnEffectChoice(EffectChoice::Breathing);
    EXPECT_EQ(model->State().panelView, 3) << "grey colour: lightness bar";
    EXPECT_EQ(model->State().activeBar, ActiveBar::Lightness);
    model->OnSpecialEffectsBox();
    EXPECT_EQ(model->State().choice, EffectChoice::Music);
    model->OnSpecialEffectsBox();
    EXPECT_EQ(model->State().choice, EffectChoice::None);
    EXPECT_EQ(model->State().panelView, 0);
}

}  // namespace
}  // namespace ovra::test
