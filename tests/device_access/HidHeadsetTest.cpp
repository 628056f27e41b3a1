// Read-back, failure paths and serialisation of the HID headset command set,
// against the device model.

#include <thread>

#include "tests/device_access/HidHeadsetFixture.h"

namespace ovra {
namespace {

using namespace std::chrono_literals;
using sim::InputFault;
using sim::ModelAction;

TEST(HidHeadset, ReadsBackWhatWasSet) {
    HeadsetRig rig(DeviceFamily::Gen2);
    ASSERT_TRUE(rig.headset.SetLEDEffect(LightingEffect::Rainbow, {229.6, 26.2, 0.0}));
    const auto state = rig.headset.GetLEDSetting();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->red, 0xE6);
    EXPECT_EQ(state->green, 0x1A);
    EXPECT_EQ(state->blue, 0x00);
    EXPECT_EQ(state->mode, 6);
    EXPECT_EQ(HidHeadsetEffectFromMode(state->mode), LightingEffect::Rainbow);
    EXPECT_EQ(rig.log.Texts(), std::vector<std::string>{"HS: 230 26 0 6\n"});

    ASSERT_TRUE(rig.headset.SetLEDFrame(200));
    rig.clock.Advance(20ms * 60);  // the counter runs on (20 ms per frame) and wraps
    const auto frame = rig.headset.GetLEDFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(*frame, (200 + 60) % 256) << "the frame when the read command ran";
}

TEST(HidHeadset, ColourOnlyPathStoresRegisters) {
    HeadsetRig rig(DeviceFamily::Gen2Entry);
    ASSERT_TRUE(rig.headset.SetLEDEffect(LightingEffect::Breathing, {1, 2, 3}));
    ASSERT_TRUE(rig.headset.WriteColour({255, 0, 0}));
    EXPECT_EQ(rig.model->Shows(), (sim::HeadsetShows{true, "static", 1, 0xFF, 0, 0}));
}

// The device is slow to carry out a command: the colour-only path polls 0x94
// with 10 ms pauses, at most 4 times.
TEST(HidHeadset, ColourOnlyPathWaitsForCompletion) {
    struct Case {
        std::chrono::milliseconds latency;
        bool done;
        std::vector<Clock::Duration> firstRegisterSleeps;
    } const cases[] = {
        {15ms, true, {10ms, 10ms}},               // busy at the first poll, done at the second
        {35ms, true, {10ms, 10ms, 10ms, 10ms}},   // done at the fourth
        {45ms, false, {10ms, 10ms, 10ms, 10ms, 10ms}},  // never within 4 polls
    };
    for (const auto& c : cases) {
        HeadsetRig rig(DeviceFamily::Gen2);
        rig.model->SetCommandLatency(c.latency);
        EXPECT_EQ(rig.headset.WriteColour({1, 2, 3}), c.done) << c.latency.count();
        const auto sleeps = rig.clock.Sleeps();
        ASSERT_GE(sleeps.size(), c.firstRegisterSleeps.size());
        EXPECT_EQ(std::vector<Clock::Duration>(sleeps.begin(),
                                               sleeps.begin() + c.firstRegisterSleeps.size()),
                  c.firstRegisterSleeps);
        EXPECT_EQ(rig.log.Contains("\nWrite EEPROM Fail!!\n"), !c.done);
    }
}

// Fault at output report N (0 = prepare) or input report N of one operation.
struct FaultRow {
    const char* what;
    std::optional<std::pair<std::size_t, ModelAction>> outputFault;
    std::optional<std::pair<std::size_t, InputFault>> inputFault;
    std::size_t reportsSent;  // reports the device saw, the failing one included
    std::vector<std::string> log;
};

TEST(HidHeadset, WriteOperationFailsUnlessEveryReportWent) {
    // clang-format off
    const FaultRow rows[] = {
        {"prepare refused", {{0, ModelAction::Reject}}, {}, 1, {}},
        {"prepare stalls", {{0, ModelAction::NoAnswer}}, {}, 1, {}},
        {"first piece refused", {{1, ModelAction::Reject}}, {}, 2, {"\nSetLEDEffect to Headset Failed!\n"}},
        {"second piece stalls", {{2, ModelAction::NoAnswer}}, {}, 3, {"\nSetLEDEffect to Headset Failed!\n"}},
        {"unplugged in the first piece", {{1, ModelAction::Unplug}}, {}, 2, {"\nSetLEDEffect to Headset Failed!\n"}},
    };
    // clang-format on
    for (const auto& row : rows) {
        HeadsetRig rig(DeviceFamily::Gen2);
        rig.model->InjectOutputFault(row.outputFault->second, row.outputFault->first);
        EXPECT_FALSE(rig.headset.SetLEDEffect(LightingEffect::Static, {255, 0, 0})) << row.what;
        EXPECT_EQ(rig.model->OutputReports().size(), row.reportsSent) << row.what;
        EXPECT_EQ(rig.log.Texts(), row.log) << row.what;
        EXPECT_FALSE(rig.model->Shows().on) << row.what << ": no command was carried out";
    }
}

TEST(HidHeadset, ReadOperationFailsOnAnyBadPieceAndKeepsNoStaleValue) {
    // clang-format off
    const FaultRow rows[] = {
        {"prepare refused", {{0, ModelAction::Reject}}, {}, 1, {}},
        {"command write fails: no read follows", {{2, ModelAction::Reject}}, {}, 3,
         {"GetLEDSetting(W) From Headset Failed!!\n"}},
        {"read request refused", {{4, ModelAction::Reject}}, {}, 5, {"GetLEDSetting(R) From Headset Failed!!\n"}},
        {"no answer", {}, {{0, InputFault::NoAnswer}}, 4, {"GetLEDSetting(R) From Headset Failed!!\n"}},
        {"short answer", {}, {{1, InputFault::ShortAnswer}}, 5, {"GetLEDSetting(R) From Headset Failed!!\n"}},
        {"stale answer on the last piece", {}, {{2, InputFault::StaleAnswer}}, 6,
         {"GetLEDSetting(R) From Headset Failed!!\n"}},
        {"answer refused", {}, {{0, InputFault::Reject}}, 4, {"GetLEDSetting(R) From Headset Failed!!\n"}},
    };
    // clang-format on
    for (const auto& row : rows) {
        HeadsetRig rig(DeviceFamily::Gen2);
        rig.model->SetRegister(0x04, 0x11);
        rig.model->ClearTraffic();
        if (row.outputFault) rig.model->InjectOutputFault(row.outputFault->second, row.outputFault->first);
        if (row.inputFault) rig.model->InjectInputFault(row.inputFault->second, row.inputFault->first);
        EXPECT_FALSE(rig.headset.GetLEDSetting()) << row.what;
        EXPECT_EQ(rig.model->OutputReports().size(), row.reportsSent) << row.what;
        EXPECT_EQ(rig.log.Texts(), row.log) << row.what;
    }
}

TEST(HidHeadset, ReadOfACommandNotYetCarriedOutFails) {
    HeadsetRig rig(DeviceFamily::Gen2);
    rig.model->SetCommandLatency(500ms);
    EXPECT_FALSE(rig.headset.GetLEDFrame());
    EXPECT_EQ(rig.log.Texts(), std::vector<std::string>{"GetLEDFrame(R) From Headset Failed!!\n"});
}

TEST(HidHeadset, BridgeMemoryRefusesTransfersPastTheEnd) {
    HeadsetRig rig(DeviceFamily::Gen2);
    std::vector<std::uint8_t> data(22, 0x5A);
    EXPECT_FALSE(rig.headset.WriteBridgeMemory(0xF0, data));
    EXPECT_FALSE(rig.headset.WriteBridgeMemory(0x80, {}));
    EXPECT_FALSE(rig.headset.ReadBridgeMemory(0xF0, data));
    EXPECT_EQ(rig.model->OutputReports().size(), 0u);
    EXPECT_TRUE(rig.headset.WriteBridgeMemory(0xEA, data));
    EXPECT_EQ(rig.model->Memory()[0xFF], 0x5A);
    std::vector<std::uint8_t> back(22, 0);
    EXPECT_TRUE(rig.headset.ReadBridgeMemory(0xEA, back));
    EXPECT_EQ(back, data);
}

TEST(HidHeadset, ColourOnlyPathStopsAtTheFirstFailure) {
    // clang-format off
    const FaultRow rows[] = {
        {"arm refused", {{0, ModelAction::Reject}}, {}, 1, {"\nWrite EEPROM Fail!!\n"}},
        {"0x95 refused", {{1, ModelAction::Reject}}, {}, 2, {"\nWrite EEPROM Fail!!\n"}},
        // A failed block is noticed after its completion poll.
        {"first block piece refused", {{3, ModelAction::Reject}}, {}, 5, {"\nWrite EEPROM Fail!!\n"}},
        {"poll never answers", {}, {{0, InputFault::NoAnswer}}, 6, {}},
    };
    // clang-format on
    for (const auto& row : rows) {
        HeadsetRig rig(DeviceFamily::Gen2);
        if (row.outputFault) rig.model->InjectOutputFault(row.outputFault->second, row.outputFault->first);
        if (row.inputFault) {
            // Every poll of the first register goes unanswered.
            for (std::size_t i = 0; i < 4; ++i) rig.model->InjectInputFault(row.inputFault->second, i);
        }
        EXPECT_FALSE(rig.headset.WriteColour({255, 0, 0})) << row.what;
        EXPECT_EQ(rig.model->OutputReports().size(), row.reportsSent) << row.what;
        EXPECT_TRUE(rig.log.Contains("\nWrite EEPROM Fail!!\n")) << row.what;
    }
}

// The UI thread applies while the frame-sync thread reads the frame: every
// operation's reports must reach the device as one unbroken sequence.
TEST(HidHeadset, OperationsOfTwoThreadsNeverInterleave) {
    HeadsetRig rig(DeviceFamily::Gen2);
    constexpr int kRounds = 200;
    std::atomic<int> failures{0};
    std::thread apply([&] {
        for (int i = 0; i < kRounds; ++i)
            if (!rig.headset.SetLEDEffect(LightingEffect::Breathing, {double(i % 256), 0, 0})) ++failures;
    });
    std::thread frameSync([&] {
        for (int i = 0; i < kRounds; ++i)
            if (!rig.headset.GetLEDFrame()) ++failures;
    });
    apply.join();
    frameSync.join();
    EXPECT_EQ(failures, 0);

    const auto reports = rig.model->OutputReports();
    const auto prepare = Report("01 00 94 02 50 80");
    std::size_t i = 0;
    int writes = 0, reads = 0;
    while (i < reports.size()) {
        ASSERT_EQ(reports[i], prepare) << "report " << i;
        ASSERT_LT(i + 2, reports.size());
        EXPECT_EQ(reports[i + 1][2], 0x80);
        EXPECT_EQ(reports[i + 2][2], 0x8C);
        if (reports[i + 1][4] == 0x52) {
            ++writes;
            i += 3;
        } else {
            ++reads;
            ASSERT_LT(i + 5, reports.size());
            EXPECT_EQ(reports[i + 3], Report("01 00 FE 0A 00 80"));
            EXPECT_EQ(reports[i + 4], Report("01 00 FE 0A 00 8A"));
            EXPECT_EQ(reports[i + 5], Report("01 00 FE 02 00 94"));
            i += 6;
        }
    }
    EXPECT_EQ(writes, kRounds);
    EXPECT_EQ(reads, kRounds);
}

}  // namespace
}  // namespace ovra
