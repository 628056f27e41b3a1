// The exact reports a HID headset receives for every operation. Gen2 and
// Gen2Entry speak the same bytes; every table runs for both.

#include <cmath>
#include <functional>
#include <limits>

#include "tests/device_access/HidHeadsetFixture.h"

namespace ovra {
namespace {

using namespace std::chrono_literals;
using E = LightingEffect;

const std::string kPrepare = "01 00 94 02 50 80";
// Second report of every 4-register command: bytes 0x8C-0x95 of the block,
// the tail (0x8A, 0x8B) carried over from the first report.
const std::string kTail4 = "01 00 8C 0A 00 00 00 00 00 00 00 04 9A 80 00 00";
const std::string kTail1 = "01 00 8C 0A 00 00 00 00 00 00 00 01 9A 80 00 00";

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct EffectRow {
    E effect;
    Colour colour;
    std::string block;  // the first command report: 01 00 80 0C + block bytes 0-11
};

// clang-format off
const EffectRow kEffectTable[] = {
    // effect          red    green  blue      first command report
    {E::Static,     {229.6,  26.2,   0.0},  "01 00 80 0C 52 04 00 E6 1A 00 01 00 00 00 00 00"},
    {E::Static,     {0,      0,      0},    "01 00 80 0C 52 04 00 00 00 00 01 00 00 00 00 00"},
    {E::Static,     {255,    255,    255},  "01 00 80 0C 52 04 00 FF FF FF 01 00 00 00 00 00"},
    {E::Breathing,  {0.5,    127.5,  254.5},"01 00 80 0C 52 04 00 01 80 FF 02 00 00 00 00 00"},
    {E::Breathing,  {0.49,   127.49, 254.49},"01 00 80 0C 52 04 00 00 7F FE 02 00 00 00 00 00"},
    {E::Strobing,   {255.5,  256,    1e9},  "01 00 80 0C 52 04 00 FF FF FF 03 00 00 00 00 00"},  // clamped, no wrap
    {E::Strobing,   {-0.4,   -300,   kNaN}, "01 00 80 0C 52 04 00 00 00 00 03 00 00 00 00 00"},
    {E::ColorCycle, {229.6,  26.2,   0.0},  "01 00 80 0C 52 04 00 E6 1A 00 04 00 00 00 00 00"},
    {E::ColorCycle, {256,    256,    256},  "01 00 80 0C 52 04 00 FF FF FF 04 00 00 00 00 00"},  // "never written"
    {E::Music,      {16,     15.5,   15.4}, "01 00 80 0C 52 04 00 10 10 0F 05 00 00 00 00 00"},
    {E::Music,      {0,      0,      0},    "01 00 80 0C 52 04 00 00 00 00 05 00 00 00 00 00"},
    {E::Rainbow,    {12.3,   200.7,  99.5}, "01 00 80 0C 52 04 00 0C C9 64 06 00 00 00 00 00"},
    {E::Rainbow,    {255,    0,      255},  "01 00 80 0C 52 04 00 FF 00 FF 06 00 00 00 00 00"},
};
// clang-format on

class HidHeadsetGolden : public ::testing::TestWithParam<DeviceFamily> {};

TEST_P(HidHeadsetGolden, SetLEDEffectSendsPrepareAndTwoCommandReports) {
    for (const auto& row : kEffectTable) {
        HeadsetRig rig(GetParam());
        EXPECT_TRUE(rig.headset.SetLEDEffect(row.effect, row.colour));
        EXPECT_EQ(rig.Sent(), Hex(Reports({kPrepare, row.block, kTail4})))
            << LightingEffectName(row.effect);
        EXPECT_EQ(rig.clock.Sleeps(), std::vector<Clock::Duration>{1ms});
        // The device took it: it shows the effect and the colour bytes.
        const auto shows = rig.model->Shows();
        EXPECT_EQ(shows.effect, LightingEffectName(row.effect));
        EXPECT_EQ(shows.red, Report(row.block)[7]);
        EXPECT_EQ(shows.green, Report(row.block)[8]);
        EXPECT_EQ(shows.blue, Report(row.block)[9]);
    }
}

TEST_P(HidHeadsetGolden, EveryEffectThenOffGoesDark) {
    for (std::uint32_t code = 0; code < kLightingEffectCount; ++code) {
        HeadsetRig rig(GetParam());
        ASSERT_TRUE(rig.headset.SetLEDEffect(*LightingEffectFromCode(code), {10, 20, 30}));
        rig.Sent();
        EXPECT_TRUE(rig.headset.SetLEDOff());
        EXPECT_EQ(rig.Sent(), Hex(Reports({kPrepare,
                                           "01 00 80 0C 52 04 00 00 00 00 01 00 00 00 00 00",
                                           kTail4})));
        EXPECT_EQ(rig.model->Shows(), (sim::HeadsetShows{false, "static", 1, 0, 0, 0}));
    }
}

struct OperationRow {
    const char* name;
    std::function<bool(HidHeadset&)> run;
    std::vector<std::string> reports;
    std::vector<Clock::Duration> sleeps;
};

const std::string kReadRequest80 = "01 00 FE 0A 00 80";
const std::string kReadRequest8A = "01 00 FE 0A 00 8A";
const std::string kReadRequest94 = "01 00 FE 02 00 94";

// clang-format off
const OperationRow kOperationTable[] = {
    {"SetLEDFrame(0)", [](HidHeadset& h) { return h.SetLEDFrame(0); },
     {kPrepare, "01 00 80 0C 52 0C 00 00 00 00 00 00 00 00 00 00", kTail1}, {1ms}},
    {"SetLEDFrame(0xA5)", [](HidHeadset& h) { return h.SetLEDFrame(0xA5); },
     {kPrepare, "01 00 80 0C 52 0C 00 A5 00 00 00 00 00 00 00 00", kTail1}, {1ms}},
    {"SetLEDFrame(255)", [](HidHeadset& h) { return h.SetLEDFrame(255); },
     {kPrepare, "01 00 80 0C 52 0C 00 FF 00 00 00 00 00 00 00 00", kTail1}, {1ms}},
    {"GetLEDFrame", [](HidHeadset& h) { return h.GetLEDFrame().has_value(); },
     {kPrepare, "01 00 80 0C 53 0B 00 00 00 00 00 00 00 00 00 00", kTail1,
      kReadRequest80, kReadRequest8A, kReadRequest94}, {1ms, 10ms, 10ms, 10ms, 1ms}},
    {"GetLEDSetting", [](HidHeadset& h) { return h.GetLEDSetting().has_value(); },
     {kPrepare, "01 00 80 0C 53 04 00 00 00 00 00 00 00 00 00 00", kTail4,
      kReadRequest80, kReadRequest8A, kReadRequest94}, {1ms, 10ms, 10ms, 10ms, 1ms}},
    // Colour-only path: arm 0x94/0x95, then per register 0x04-0x07: arm, a
    // 21-byte block as 12 + 9 bytes (the second report's tail keeps bytes
    // 0x89-0x8B of the first), then one-byte reads of 0x94 until done.
    {"WriteColour(255, 0, 0)", [](HidHeadset& h) { return h.WriteColour({255, 0, 0}); },
     {"01 00 94 01 50", "01 00 95 01 80",
      "01 00 94 01 50", "01 00 80 0C 52 04 00 FF 00 00 00 00 00 00 00 00",
      "01 00 8C 09 00 00 00 00 00 00 00 01 9A 00 00 00", "01 00 FE 01 00 94",
      "01 00 94 01 50", "01 00 80 0C 52 05 00 00 00 00 00 00 00 00 00 00",
      "01 00 8C 09 00 00 00 00 00 00 00 01 9A 00 00 00", "01 00 FE 01 00 94",
      "01 00 94 01 50", "01 00 80 0C 52 06 00 00 00 00 00 00 00 00 00 00",
      "01 00 8C 09 00 00 00 00 00 00 00 01 9A 00 00 00", "01 00 FE 01 00 94",
      "01 00 94 01 50", "01 00 80 0C 52 07 00 01 00 00 00 00 00 00 00 00",
      "01 00 8C 09 00 00 00 00 00 00 00 01 9A 00 00 00", "01 00 FE 01 00 94"},
     {10ms, 10ms, 10ms, 10ms}},
    {"WriteColour(229.6, 26.2, 256)", [](HidHeadset& h) { return h.WriteColour({229.6, 26.2, 256}); },
     {"01 00 94 01 50", "01 00 95 01 80",
      "01 00 94 01 50", "01 00 80 0C 52 04 00 E6 00 00 00 00 00 00 00 00",
      "01 00 8C 09 00 00 00 00 00 00 00 01 9A 00 00 00", "01 00 FE 01 00 94",
      "01 00 94 01 50", "01 00 80 0C 52 05 00 1A 00 00 00 00 00 00 00 00",
      "01 00 8C 09 00 00 00 00 00 00 00 01 9A 00 00 00", "01 00 FE 01 00 94",
      "01 00 94 01 50", "01 00 80 0C 52 06 00 FF 00 00 00 00 00 00 00 00",
      "01 00 8C 09 00 00 00 00 00 00 00 01 9A 00 00 00", "01 00 FE 01 00 94",
      "01 00 94 01 50", "01 00 80 0C 52 07 00 01 00 00 00 00 00 00 00 00",
      "01 00 8C 09 00 00 00 00 00 00 00 01 9A 00 00 00", "01 00 FE 01 00 94"},
     {10ms, 10ms, 10ms, 10ms}},
};
// clang-format on

TEST_P(HidHeadsetGolden, FrameReadAndColourOperations) {
    for (const auto& row : kOperationTable) {
        HeadsetRig rig(GetParam());
        EXPECT_TRUE(row.run(rig.headset)) << row.name;
        std::vector<ReportBytes> expected;
        for (const auto& r : row.reports) expected.push_back(Report(r));
        EXPECT_EQ(rig.Sent(), Hex(expected)) << row.name;
        EXPECT_EQ(rig.clock.Sleeps(), row.sleeps) << row.name;
    }
}

TEST_P(HidHeadsetGolden, LaterPiecesKeepThePreviousReportsTail) {
    HeadsetRig rig(GetParam());
    std::vector<std::uint8_t> data(22);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0xA0 + i);
    EXPECT_TRUE(rig.headset.WriteBridgeMemory(0x10, data));
    EXPECT_EQ(rig.Sent(), Hex(Reports({"01 00 10 0C A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB",
                                       "01 00 1C 0A AC AD AE AF B0 B1 B2 B3 B4 B5 AA AB"})));
}

INSTANTIATE_TEST_SUITE_P(Families, HidHeadsetGolden,
                         ::testing::Values(DeviceFamily::Gen2, DeviceFamily::Gen2Entry),
                         [](const auto& family) { return std::string(DeviceFamilyName(family.param)); });

}  // namespace
}  // namespace ovra
