// The device models enforce their devices' limits: malformed transfers are
// refused (NAK / rejected report) and change nothing.

#include <gtest/gtest.h>

#include <vector>

#include "sim/i2c_devices/BridgeHeadsetModels.h"
#include "sim/mic/MicrophoneModel.h"

namespace ovra::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(EneControllerModel, RefusesMalformedTransfersWithoutSideEffects) {
    const struct {
        const char* name;
        std::uint32_t sub;
        Bytes data;
    } cases[] = {
        {"pointer of one byte", 0x00, {0x80}},
        {"pointer of three bytes", 0x00, {0x80, 0x21, 0x00}},
        {"two data bytes", 0x01, {1, 2}},
        {"block count larger than the data", 0x03, {3, 1, 2}},
        {"block of 33 bytes", 0x03, Bytes(34, 33)},
        {"empty block", 0x03, {}},
        {"unknown sub-address", 0x02, {1}},
    };
    EneControllerModel ene;
    ASSERT_TRUE(ene.Write(0x00, Bytes{0x80, 0x21}));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(ene.Write(c.sub, c.data));
        EXPECT_EQ(ene.Pointer(), 0x8021);
        EXPECT_EQ(ene.Register(0x8021), 0);
    }
    std::uint8_t two[2] = {};
    EXPECT_FALSE(ene.Read(0x81, two));  // one byte at a time
    EXPECT_FALSE(ene.Read(0x01, std::span(two, 1)));
}

TEST(EneControllerModel, ApplyNeedsArmThenConfirm) {
    EneControllerModel ene;
    auto set = [&](std::uint16_t reg, std::uint8_t value) {
        const Bytes pointer{static_cast<std::uint8_t>(reg >> 8), static_cast<std::uint8_t>(reg)};
        ASSERT_TRUE(ene.Write(0x00, pointer));
        ASSERT_TRUE(ene.Write(0x01, Bytes{value}));
    };
    set(0x8021, 4);
    set(0x80A0, 0xAA);  // confirm without arming: nothing
    EXPECT_EQ(ene.ApplyCount(), 0);
    set(0x80A0, 0x55);
    set(0x80A0, 0xAA);
    EXPECT_EQ(ene.ApplyCount(), 1);
    EXPECT_EQ(ene.AppliedMode(), 4);
}

TEST(DspWindowModel, ReadsAndWritesThroughTheWindow) {
    DspWindowModel dsp;
    auto word = [&](std::uint32_t reg, std::uint16_t value) {
        return dsp.Write(reg, Bytes{static_cast<std::uint8_t>(value >> 8),
                                    static_cast<std::uint8_t>(value)});
    };
    // 32-bit write of 0xAABBCCDD at 0x12345678, then a 16-bit write of the low half.
    ASSERT_TRUE(word(1, 0x5678) && word(2, 0x1234) && word(3, 0xCCDD) && word(4, 0xAABB) &&
                word(0, 3));
    EXPECT_EQ(dsp.DspValue(0x12345678), 0xAABBCCDDu);
    ASSERT_TRUE(word(3, 0x0102) && word(0, 1));
    EXPECT_EQ(dsp.DspValue(0x12345678), 0xAABB0102u);
    ASSERT_TRUE(word(0, 2));
    std::uint8_t data[2] = {};
    ASSERT_TRUE(dsp.Read(4, data));
    EXPECT_EQ(data[0], 0xAA);
    EXPECT_FALSE(dsp.Write(5, Bytes{0, 1}));     // no such window register
    EXPECT_FALSE(dsp.Write(1, Bytes{0x56}));     // every register is one word
}

TEST(Gen2MidRegisterModel, RegistersRunOnAndStopAtTheEnd) {
    Gen2MidRegisterModel headset;
    ASSERT_TRUE(headset.Write(0x04, Bytes{1, 2, 3, 6}));
    EXPECT_EQ(headset.Register(0x07), 6);
    EXPECT_FALSE(headset.Write(0xFF, Bytes{1, 2}));
    ASSERT_TRUE(headset.Write(0x0C, Bytes{0x40}));
    headset.AdvanceFrame(3);
    std::uint8_t frame[1] = {};
    ASSERT_TRUE(headset.Read(0x0B, frame));
    EXPECT_EQ(frame[0], 0x43);
}

TEST(MicrophoneModel, TakesOnlyWholeReportsWithoutId) {
    MicrophoneModel mic;
    Bytes request(33, 0);
    request[1] = 0x10;
    request[2] = 0x07;
    request[3] = 0x02;
    Bytes withId = request;
    withId[0] = 1;
    EXPECT_EQ(mic.OnOutputReport(Bytes(32, 0)).action, ModelAction::Reject);
    EXPECT_EQ(mic.OnOutputReport(withId).action, ModelAction::Reject);
    EXPECT_FALSE(mic.TakeInterruptReport().has_value());
    EXPECT_EQ(mic.OnOutputReport(request).action, ModelAction::Accept);
    const auto answer = mic.TakeInterruptReport();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->size(), 32u);
    EXPECT_EQ((*answer)[0], 0x10);
    EXPECT_EQ((*answer)[2], 0x02);
    request[1] = 0x42;  // unknown command
    mic.OnOutputReport(request);
    EXPECT_EQ(mic.TakeInterruptReport()->at(1), 0xFF);
}

}  // namespace
}  // namespace ovra::sim
