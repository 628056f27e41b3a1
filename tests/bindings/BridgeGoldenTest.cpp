// Golden call tables: the exact library calls (and what the device models end
// up holding) for every operation and effect of the Gen2Mid and TV520 headsets.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <latch>
#include <thread>

#include "device_access/BridgeConnections.h"
#include "device_access/Gen2MidHeadset.h"
#include "device_access/Tv520Headset.h"
#include "tests/bindings/BridgeFixture.h"
#include "tests/bindings/BridgeGoldenCalls.h"

namespace ovra::testing {
namespace {

using ::testing::ElementsAreArray;
using std::chrono::milliseconds;

// 229.6, 26.2, 0.0 goes to a device as E6 1A 00.
const Colour kColour{229.6, 26.2, 0.0};

// ---- Gen2Mid -------------------------------------------------------------

class Gen2MidGolden : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fx.plain->Initialised());
        ASSERT_NE(fx.plain->OpenPid(kGen2MidProductId), 0u);
        fx.plainHost.ClearCalls();
    }
    BridgeFixture fx;
    Gen2MidHeadset headset{*fx.plain, fx.clock};
};

TEST_F(Gen2MidGolden, EffectsWriteColourThenModeAndWait30ms) {
    const struct {
        LightingEffect effect;
        int mode;
    } cases[] = {{LightingEffect::Static, 1},     {LightingEffect::Breathing, 2},
                 {LightingEffect::Strobing, 3},   {LightingEffect::ColorCycle, 4},
                 {LightingEffect::Music, 1},      {LightingEffect::Rainbow, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(LightingEffectName(c.effect));
        fx.plainHost.ClearCalls();
        fx.clock.ClearSleeps();
        EXPECT_TRUE(headset.SetLEDEffect(c.effect, kColour));
        EXPECT_THAT(fx.plainHost.Calls(),
                    ElementsAreArray(Join({Gen2MidRegister(0x04, 0xE6), Gen2MidRegister(0x05, 0x1A),
                                           Gen2MidRegister(0x06, 0x00),
                                           Gen2MidRegister(0x07, c.mode)})));
        EXPECT_THAT(fx.clock.Sleeps(), ElementsAreArray({milliseconds(30)}));
        EXPECT_EQ(fx.gen2mid.registers.Register(0x04), 0xE6);
        EXPECT_EQ(fx.gen2mid.registers.Register(0x05), 0x1A);
        EXPECT_EQ(fx.gen2mid.registers.Register(0x07), c.mode);
    }
}

TEST_F(Gen2MidGolden, OffFrameAndColourOnly) {
    const struct {
        const char* name;
        std::function<bool(Gen2MidHeadset&)> op;
        Calls calls;
        std::vector<milliseconds> sleeps;
    } cases[] = {
        {"off", [](Gen2MidHeadset& h) { return h.SetLEDOff(); }, Gen2MidRegister(0x07, 0),
         {milliseconds(30)}},
        {"frame", [](Gen2MidHeadset& h) { return h.SetLEDFrame(0x9C); },
         Gen2MidRegister(0x0C, 0x9C), {}},
        {"colour only", [](Gen2MidHeadset& h) { return h.WriteColour({1.0, 2.0, 254.5}); },
         Join({Gen2MidRegister(0x04, 1), Gen2MidRegister(0x05, 2), Gen2MidRegister(0x06, 255)}),
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fx.plainHost.ClearCalls();
        fx.clock.ClearSleeps();
        EXPECT_TRUE(c.op(headset));
        EXPECT_THAT(fx.plainHost.Calls(), ElementsAreArray(c.calls));
        EXPECT_THAT(fx.clock.Sleeps(), ElementsAreArray(c.sleeps));
    }
    EXPECT_EQ(fx.gen2mid.registers.Frame(), 0x9C);  // the written frame is where the animation is
    EXPECT_FALSE(headset.GetLEDFrame().has_value());
    EXPECT_FALSE(headset.GetLEDSetting().has_value());
}

TEST_F(Gen2MidGolden, BleStatusIsReadThroughTheDspWindow) {
    const struct {
        std::uint32_t dspValue;
        bool nak;
        bool on;
    } cases[] = {{1, false, true}, {0, false, false}, {2, false, false}, {0x10001, false, true},
                 {1, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dspValue);
        fx.gen2mid.dsp.SetDspValue(sim::DspWindowModel::kBleStatus, c.dspValue);
        fx.gen2mid.dsp.SetNak(c.nak);
        fx.plainHost.ClearCalls();
        EXPECT_EQ(headset.BleStatusOn(), c.on);
        EXPECT_THAT(fx.plainHost.Calls(),
                    ElementsAreArray({"ReadI2CRegister_DSP(5A, 1800C412, 2)"}));
    }
    // The window transfers the double made for one read: address, command, data.
    fx.gen2mid.dsp.SetNak(false);
    fx.gen2mid.dsp.Log().Clear();
    headset.BleStatusOn();
    std::vector<std::string> transfers;
    for (const auto& t : fx.gen2mid.dsp.Log().Transfers()) transfers.push_back(t.ToString());
    EXPECT_THAT(transfers, ElementsAreArray({"W 01 [C4 12]", "W 02 [18 00]", "W 00 [00 02]",
                                             "R 03 [00 01]", "R 04 [00 00]"}));
}

// ---- TV520 ---------------------------------------------------------------

class Tv520Golden : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fx.ene->Initialised());
        ASSERT_TRUE(connection.OpenTV520());
        fx.eneHost.ClearCalls();
    }
    BridgeFixture fx;
    Tv520Connection connection{*fx.ene};
    Tv520Headset headset{*fx.ene, fx.clock};
};

TEST_F(Tv520Golden, EffectsWriteBlockModeApplyInsideTheBracket) {
    const auto leds = Leds(0xE6, 0x1A, 0x00);
    const struct {
        LightingEffect effect;
        int mode;
    } cases[] = {{LightingEffect::Static, 1},   {LightingEffect::Breathing, 2},
                 {LightingEffect::Strobing, 3}, {LightingEffect::ColorCycle, 4},
                 {LightingEffect::Rainbow, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(LightingEffectName(c.effect));
        fx.eneHost.ClearCalls();
        fx.clock.ClearSleeps();
        const int appliesBefore = fx.tv520.first.ApplyCount();
        EXPECT_TRUE(headset.SetLEDEffect(c.effect, kColour));
        EXPECT_THAT(fx.eneHost.Calls(),
                    ElementsAreArray(Join({
                        Bracket(3),
                        Reg(0xCC, 0x8020, 0), Reg(0xCC, 0x802F, 1), Block(0xCC, 0x8160, leds),
                        Reg(0xCC, 0x8021, c.mode),
                        Reg(0xCE, 0x8020, 0), Reg(0xCE, 0x802F, 1), Block(0xCE, 0x8160, leds),
                        Reg(0xCE, 0x8021, c.mode),
                        Reg(0xCC, 0x802F, 1), Reg(0xCE, 0x802F, 1),
                        Apply(0xCC), Apply(0xCE),
                        Bracket(2),
                    })));
        EXPECT_THAT(fx.clock.Sleeps(), ElementsAreArray({milliseconds(50), milliseconds(50)}));
        for (auto* controller : {&fx.tv520.first, &fx.tv520.second}) {
            EXPECT_EQ(controller->ApplyCount(), appliesBefore + 1);
            EXPECT_EQ(controller->AppliedMode(), c.mode);
            for (int led = 0; led < 8; ++led)
                EXPECT_EQ(controller->LedColour(0x8160, led), (sim::EneColour{0xE6, 0x1A, 0x00}));
        }
    }
}

TEST_F(Tv520Golden, MusicHandsTheColoursOverAndLeavesTheBracketOpen) {
    EXPECT_TRUE(headset.SetLEDEffect(LightingEffect::Music, kColour));
    EXPECT_THAT(fx.eneHost.Calls(),
                ElementsAreArray(Join({Bracket(3),
                                       Reg(0xCC, 0x8020, 1), Reg(0xCC, 0x802F, 1),
                                       Reg(0xCE, 0x8020, 1), Reg(0xCE, 0x802F, 1),
                                       Reg(0xCC, 0x802F, 1), Reg(0xCE, 0x802F, 1)})));
    EXPECT_TRUE(fx.clock.Sleeps().empty());
    EXPECT_EQ(fx.tv520.first.ApplyCount(), 0);
    EXPECT_EQ(fx.tv520.second.Register(0x8020), 1);
}

TEST_F(Tv520Golden, OffFrameReadAndColourOnly) {
    fx.tv520.first.AdvanceFrame(0x37);
    fx.tv520.second.AdvanceFrame(0x99);  // only the first controller's frame is read
    const struct {
        const char* name;
        std::function<bool(Tv520Headset&)> op;
        Calls calls;
        int sleeps50;
    } cases[] = {
        {"off", [](Tv520Headset& h) { return h.SetLEDOff(); },
         Join({Bracket(3),
               Reg(0xCC, 0x8020, 0), Reg(0xCC, 0x802F, 1), Reg(0xCC, 0x8021, 0),
               Reg(0xCC, 0x802F, 1), Apply(0xCC),
               Reg(0xCE, 0x8020, 0), Reg(0xCE, 0x802F, 1), Reg(0xCE, 0x8021, 0),
               Reg(0xCE, 0x802F, 1), Apply(0xCE),
               Bracket(2)}),
         2},
        {"read frame", [](Tv520Headset& h) { return h.GetLEDFrame() == 0x37; },
         Join({Bracket(3), {Write(0xCC, 0x00, {0x80, 0xF3})},
               {"ReadI2CSuperRegister(CC, 2, 1, 81, 1)"}, Bracket(2)}),
         0},
        {"write frame", [](Tv520Headset& h) { return h.SetLEDFrame(0x41); },
         Join({Bracket(3), Reg(0xCC, 0x80F2, 0x41), Reg(0xCE, 0x80F2, 0x41), Bracket(2)}), 0},
        {"colour only, no bracket", [](Tv520Headset& h) { return h.WriteColour({10, 20, 30}); },
         Join({Block(0xCC, 0x8100, Leds(10, 20, 30)), Block(0xCE, 0x8100, Leds(10, 20, 30)),
               Reg(0xCC, 0x802F, 1), Reg(0xCE, 0x802F, 1)}),
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fx.eneHost.ClearCalls();
        fx.clock.ClearSleeps();
        EXPECT_TRUE(c.op(headset));
        EXPECT_THAT(fx.eneHost.Calls(), ElementsAreArray(c.calls));
        EXPECT_EQ(fx.clock.Sleeps(), std::vector<ovra::Clock::Duration>(c.sleeps50, milliseconds(50)));
    }
    EXPECT_EQ(fx.tv520.first.AppliedMode(), 0);
    EXPECT_EQ(fx.tv520.second.Register(0x80F3), 0x41);
    EXPECT_EQ(fx.tv520.second.LedColour(0x8100, 7), (sim::EneColour{10, 20, 30}));
    EXPECT_FALSE(headset.GetLEDSetting().has_value());
}

TEST_F(Tv520Golden, FailedFrameReadIsReportedNotTurnedIntoZero) {
    fx.tv520.first.AdvanceFrame(0x37);
    fx.tv520.first.SetNak(true);
    EXPECT_EQ(headset.GetLEDFrame(), std::nullopt);
    fx.tv520.first.SetNak(false);
    fx.eneHost.unplugged = true;
    EXPECT_EQ(headset.GetLEDFrame(), std::nullopt);
    EXPECT_FALSE(headset.SetLEDFrame(1));
    fx.eneHost.unplugged = false;
    EXPECT_EQ(headset.GetLEDFrame(), 0x37);
}

TEST_F(Tv520Golden, BlockLongerThan32BytesSendsOnlyTheAddress) {
    const std::vector<std::uint8_t> tooLong(33, 0xAB);
    const std::vector<std::uint8_t> full(32, 0xCD);
    {
        std::lock_guard lock(fx.ene->DeviceLock());
        EXPECT_FALSE(headset.WriteENEBlock(0xCC, 0x8100, tooLong));
        EXPECT_TRUE(headset.WriteENEBlock(0xCE, 0x8100, full));
    }
    EXPECT_THAT(fx.eneHost.Calls(),
                ElementsAreArray(Join({{Write(0xCC, 0x00, {0x81, 0x00})},
                                       Block(0xCE, 0x8100, full)})));
    EXPECT_EQ(fx.tv520.first.Register(0x8100), 0);
    EXPECT_EQ(fx.tv520.second.Register(0x811F), 0xCD);
}

// Two threads drive the same headset (the UI's apply and the frame sync):
// every register access must stay a pointer write directly followed by its
// own data transfer on the controller.
TEST_F(Tv520Golden, ConcurrentOperationsNeverSplitARegisterAccess) {
    constexpr int kRounds = 3000;
    fx.tv520.first.Log().Clear();
    std::latch start(2);
    std::thread writer([&] {
        start.arrive_and_wait();
        for (int i = 0; i < kRounds; ++i) headset.SetLEDFrame(static_cast<std::uint8_t>(i));
    });
    std::thread reader([&] {
        start.arrive_and_wait();
        for (int i = 0; i < kRounds; ++i) headset.GetLEDFrame();
    });
    writer.join();
    reader.join();
    const auto transfers = fx.tv520.first.Log().Transfers();
    ASSERT_EQ(transfers.size(), kRounds * 2u * 2u);
    for (std::size_t i = 0; i < transfers.size(); i += 2) {
        const auto& pointer = transfers[i];
        const auto& data = transfers[i + 1];
        ASSERT_EQ(pointer.ToString().substr(0, 4), "W 00") << i;
        if (pointer.data == std::vector<std::uint8_t>{0x80, 0xF2})
            ASSERT_EQ(data.ToString().substr(0, 4), "W 01") << i;
        else
            ASSERT_EQ(data.ToString().substr(0, 4), "R 81") << i;
    }
}

}  // namespace
}  // namespace ovra::testing
