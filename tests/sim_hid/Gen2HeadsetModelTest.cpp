#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/fake/ManualClock.h"
#include "sim/hid/Gen2HeadsetModel.h"
#include "sim/hid/InProcessHidHost.h"

namespace ovra::sim {
namespace {

using Report = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

Report Out(std::initializer_list<std::uint8_t> head) {
    Report report(16, 0);
    std::copy(head.begin(), head.end(), report.begin());
    return report;
}

class Gen2HeadsetModelTest : public ::testing::Test {
protected:
    ModelAction Send(const Report& report) { return model.OnOutputReport(report).action; }
    Report Fetch() {
        Report buffer(16, 0);
        buffer[0] = 0x01;
        const auto reply = model.OnGetInputReport(buffer);
        EXPECT_EQ(reply.action, ModelAction::Accept);
        buffer.resize(reply.length);
        return buffer;
    }
    // Writes a register command block (0x80-0x95) as two reports.
    void Command(std::uint8_t device, std::uint8_t reg, std::vector<std::uint8_t> data) {
        std::array<std::uint8_t, 22> block{};
        block[0] = device;
        block[1] = reg;
        std::copy(data.begin(), data.end(), block.begin() + 3);
        block[19] = static_cast<std::uint8_t>(data.size());
        block[20] = 0x9A;
        block[21] = 0x80;
        Report first = Out({0x01, 0x00, 0x80, 12});
        std::copy_n(block.begin(), 12, first.begin() + 4);
        Report second = Out({0x01, 0x00, 0x8C, 10});
        std::copy_n(block.begin() + 12, 10, second.begin() + 4);
        ASSERT_EQ(Send(first), ModelAction::Accept);
        ASSERT_EQ(Send(second), ModelAction::Accept);
    }

    ManualClock clock;
    Gen2HeadsetModel model{Gen2Config(), clock};
};

TEST_F(Gen2HeadsetModelTest, RejectsWhatTheDeviceRefuses) {
    struct Case {
        const char* what;
        Report report;
    } const cases[] = {
        {"15 bytes", Report(15, 0x01)},
        {"17 bytes", Report(17, 0x01)},
        {"report id 2", Out({0x02, 0x00, 0x80, 0x01, 0x52})},
        {"address high byte", Out({0x01, 0x01, 0x00, 0x01, 0x52})},
        {"write past 0xFF", Out({0x01, 0x00, 0xF8, 0x09})},
        {"write count 0", Out({0x01, 0x00, 0x80, 0x00})},
        {"write count 13", Out({0x01, 0x00, 0x80, 13})},
        {"read count 11", Out({0x01, 0x00, 0xFE, 11, 0x00, 0x80})},
        {"read past 0xFF", Out({0x01, 0x00, 0xFE, 0x02, 0x00, 0xFF})},
    };
    for (const auto& c : cases) EXPECT_EQ(Send(c.report), ModelAction::Reject) << c.what;
    EXPECT_EQ(model.Memory(), (std::array<std::uint8_t, 256>{})) << "a refused report changes nothing";
}

TEST_F(Gen2HeadsetModelTest, WriteCommandSetsRegistersAndClearsBusyBit) {
    Command(0x52, 0x04, {0xE6, 0x1A, 0x00, 0x02});
    EXPECT_EQ(model.Shows(), (HeadsetShows{true, "breathing", 2, 0xE6, 0x1A, 0x00}));
    EXPECT_EQ(model.Memory()[0x94], 0x1A);
}

TEST_F(Gen2HeadsetModelTest, ReadCommandAnswersThroughReadRequest) {
    model.SetRegister(0x04, 0x11);
    model.SetRegister(0x05, 0x22);
    model.SetRegister(0x06, 0x33);
    model.SetRegister(0x07, 0x06);
    Command(0x53, 0x04, {0, 0, 0, 0});
    ASSERT_EQ(Send(Out({0x01, 0x00, 0xFE, 10, 0x00, 0x80})), ModelAction::Accept);
    EXPECT_EQ(Fetch(), (Report{0x01, 0x00, 0x00, 0x00, 0x80, 10, 0x53, 0x04, 0x00, 0x11, 0x22,
                               0x33, 0x06, 0x00, 0x00, 0x00}));
}

TEST_F(Gen2HeadsetModelTest, FrameCounterRunsWithTimeFromTheWrittenValue) {
    Command(0x52, 0x0C, {250});
    clock.Advance(7 * 20ms + 5ms);
    EXPECT_EQ(model.FrameCounter(), 1) << "250 + 7 wraps to 1";
    Command(0x53, 0x0B, {0});
    EXPECT_EQ(model.Memory()[0x83], 1);
}

TEST_F(Gen2HeadsetModelTest, BusyBitClearsAfterCommandLatency) {
    model.SetCommandLatency(15ms);
    Command(0x52, 0x07, {0x03});
    EXPECT_EQ(model.Memory()[0x94], 0x9A);
    clock.Advance(15ms);
    EXPECT_EQ(model.Memory()[0x94], 0x1A);
}

TEST_F(Gen2HeadsetModelTest, InjectedFaultsHitTheChosenRequestOnce) {
    model.InjectOutputFault(ModelAction::NoAnswer, 1);
    EXPECT_EQ(Send(Out({0x01, 0x00, 0x10, 0x01, 0xAA})), ModelAction::Accept);
    EXPECT_EQ(Send(Out({0x01, 0x00, 0x11, 0x01, 0xBB})), ModelAction::NoAnswer);
    EXPECT_EQ(Send(Out({0x01, 0x00, 0x12, 0x01, 0xCC})), ModelAction::Accept);
    EXPECT_EQ(model.Memory()[0x11], 0x00) << "a stalled report is not carried out";

    ASSERT_EQ(Send(Out({0x01, 0x00, 0xFE, 0x01, 0x00, 0x10})), ModelAction::Accept);
    model.InjectInputFault(InputFault::ShortAnswer);
    EXPECT_EQ(Fetch().size(), 5u);
    model.InjectInputFault(InputFault::StaleAnswer);
    EXPECT_NE(Fetch()[4], 0x10);
    EXPECT_EQ(Fetch()[4], 0x10);

    model.InjectOutputFault(ModelAction::Unplug);
    EXPECT_EQ(Send(Out({0x01, 0x00, 0x10, 0x01, 0xAA})), ModelAction::Unplug);
    EXPECT_TRUE(model.Unplugged());
    EXPECT_EQ(Send(Out({0x01, 0x00, 0x10, 0x01, 0xAA})), ModelAction::Unplug);
}

TEST_F(Gen2HeadsetModelTest, ReportsShowChanges) {
    std::vector<std::string> seen;
    model.OnShowsChanged([&](const HeadsetShows& shows) { seen.push_back(Describe(shows)); });
    Command(0x52, 0x04, {0xFF, 0x00, 0x00, 0x01});
    Command(0x52, 0x04, {0xFF, 0x00, 0x00, 0x01});  // same again: no change
    Command(0x52, 0x04, {0x00, 0x00, 0x00, 0x01});
    EXPECT_EQ(seen, (std::vector<std::string>{"on effect=static color=FF0000 mode=1",
                                              "off effect=static color=000000 mode=1"}));
}

TEST(InProcessHidHost, EnumeratesInOrderAndReportsRemovalAndStalls) {
    ManualClock clock;
    InProcessHidHost host(&clock);
    auto first = std::make_shared<Gen2HeadsetModel>(Gen2Config(), clock);
    auto second = std::make_shared<Gen2HeadsetModel>(Gen2EntryConfig(), clock);
    const auto a = host.Add(first);
    host.Add(second);
    const auto infos = host.Enumerate();
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].productId, 0x1855);
    EXPECT_EQ(infos[1].productId, 0x1859);

    HidStatus status;
    auto device = host.Open(a, status);
    ASSERT_TRUE(device);
    const Report report = Out({0x01, 0x00, 0x10, 0x01, 0xAA});
    EXPECT_EQ(device->WriteOutputReport(report, 500ms), HidStatus::Ok);
    first->InjectOutputFault(ModelAction::NoAnswer);
    EXPECT_EQ(device->WriteOutputReport(report, 500ms), HidStatus::Timeout);
    EXPECT_EQ(clock.TotalSlept(), 500ms);

    host.Remove(a.node);
    EXPECT_EQ(host.Enumerate().size(), 1u);
    EXPECT_EQ(device->WriteOutputReport(report, 500ms), HidStatus::Gone);
    std::size_t length = 0;
    Report buffer(16, 0);
    EXPECT_EQ(device->ReadInputReport(buffer, length, -1ms), HidStatus::Gone);
    EXPECT_FALSE(host.Open(a, status));
    EXPECT_EQ(status, HidStatus::NotFound);
}

}  // namespace
}  // namespace ovra::sim
