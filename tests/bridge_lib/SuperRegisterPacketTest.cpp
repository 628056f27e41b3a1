#include "bridge_library/SuperRegisterPacket.h"

#include <gtest/gtest.h>

#include <vector>

namespace ovra::brx {
namespace {

struct HeaderCase {
    int width;
    std::uint32_t address;
    std::vector<std::uint8_t> header;  // bytes 0..7 of a write packet
};

class SuperPacketHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(SuperPacketHeader, AddressMostSignificantByteFirstThenZero) {
    const HeaderCase& c = GetParam();
    const std::vector<std::uint8_t> data{0xAA, 0xBB};
    auto packet = BuildSuperWritePacket(c.width, c.address, data);
    ASSERT_TRUE(packet);
    EXPECT_EQ(std::vector<std::uint8_t>(packet->bytes.begin(), packet->bytes.begin() + 8), c.header);
    EXPECT_EQ(packet->bytes[8], 0xAA);
    EXPECT_EQ(packet->bytes[9], 0xBB);
    EXPECT_EQ(packet->bytes[10], 0x00);
    EXPECT_EQ(packet->channelLength, 10u);

    auto read = BuildSuperReadPacket(c.width, c.address, 7);
    ASSERT_TRUE(read);
    std::vector<std::uint8_t> readHeader = c.header;
    readHeader[0] = 1;
    EXPECT_EQ(std::vector<std::uint8_t>(read->bytes.begin(), read->bytes.begin() + 8), readHeader);
    EXPECT_EQ(read->channelLength, 7u);
}

INSTANTIATE_TEST_SUITE_P(
    Widths, SuperPacketHeader,
    ::testing::Values(HeaderCase{1, 0x81, {0, 1, 0x81, 0, 0, 0, 0, 0}},
                      HeaderCase{2, 0x1234, {0, 2, 0x12, 0x34, 0, 0, 0, 0}},
                      HeaderCase{3, 0xABCDEF, {0, 3, 0xAB, 0xCD, 0xEF, 0, 0, 0}},
                      HeaderCase{4, 0x12345678, {0, 4, 0x12, 0x34, 0x56, 0x78, 0, 0}},
                      // Address bits above the width are not sent.
                      HeaderCase{1, 0xFFFF01, {0, 1, 0x01, 0, 0, 0, 0, 0}}));

TEST(SuperPacket, RefusesBadWidthsAndOverlongData) {
    const std::vector<std::uint8_t> sixty(60, 1), sixtyOne(61, 1);
    EXPECT_FALSE(BuildSuperWritePacket(0, 0, sixty));
    EXPECT_FALSE(BuildSuperWritePacket(5, 0, sixty));
    EXPECT_FALSE(BuildSuperWritePacket(-1, 0, sixty));
    EXPECT_FALSE(BuildSuperWritePacket(1, 0, sixtyOne));
    EXPECT_FALSE(BuildSuperReadPacket(1, 0, 61));
    EXPECT_FALSE(BuildSuperReadPacket(5, 0, 1));
    ASSERT_TRUE(BuildSuperWritePacket(1, 0, sixty));
    EXPECT_EQ(BuildSuperWritePacket(1, 0, sixty)->channelLength, 68u);
    // Zero data bytes: the 8-byte header alone.
    EXPECT_EQ(BuildSuperWritePacket(1, 0, {})->channelLength, 8u);
}

}  // namespace
}  // namespace ovra::brx
