#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "device_access/HexCommandCodec.h"

namespace ovra {
namespace {

TEST(DecodeHexCommand, DecodesTokens) {
    struct Case {
        std::string text;
        std::vector<std::uint8_t> bytes;
    } const cases[] = {
        {"52 04 00 e6 1a 0 03", {0x52, 0x04, 0x00, 0xE6, 0x1A, 0x00, 0x03}},
        {"  52  0C 00  ", {0x52, 0x0C, 0x00}},
        {"1F4", {0xF4}},
        {"ZZ", {0x00}},
        {"", {}},
        {"   ", {}},
        {"\t\r\n 9a \v\f", {0x9A}},
        {"1\t2 3", {0x12, 0x03}},  // only the blank separates
        {"g1 x-f", {0x01, 0x0F}},  // other characters are skipped, never shift
        {"0x1F", {0x1F}},
        {"AbCdEf", {0xEF}},
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, 22> out{};
        const auto count = DecodeHexCommand(c.text, out);
        ASSERT_TRUE(count) << c.text;
        EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + *count), c.bytes) << c.text;
    }
}

TEST(DecodeHexCommand, TemplateOf22TokensAlwaysGives22Bytes) {
    std::array<std::uint8_t, 22> out{};
    EXPECT_EQ(DecodeHexCommand("52 0C 00 7F 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 9A 80",
                               out),
              22u);
    EXPECT_EQ(out[3], 0x7F);
    EXPECT_EQ(out[21], 0x80);
}

TEST(DecodeHexCommand, MoreTokensThanCapacityWritesNothing) {
    std::array<std::uint8_t, 4> out{0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_FALSE(DecodeHexCommand("01 02 03 04 05", out));
    EXPECT_EQ(out, (std::array<std::uint8_t, 4>{0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_EQ(DecodeHexCommand("01 02 03 04", out), 4u);
    EXPECT_FALSE(DecodeHexCommand("1", std::span<std::uint8_t>()));
    EXPECT_EQ(DecodeHexCommand("  ", std::span<std::uint8_t>()), 0u);
}

TEST(ParseHexNumber, ReadsPositionally) {
    struct Case {
        std::string text;
        std::uint32_t value;
    } const cases[] = {
        {"0d8c", 0x0D8C},       {"01AC", 0x01AC},     {"1G", 0x10},    {"123456789", 0x12345678},
        {"", 0},                {"0b05", 0x0B05},     {"FFFFFFFF", 0xFFFFFFFF},
        {" 1", 0x01},           {"1 ", 0x10},         {"\xC3\xA9" "1", 0x01},  // one character, two bytes
    };
    for (const auto& c : cases) EXPECT_EQ(ParseHexNumber(c.text), c.value) << c.text;
    EXPECT_EQ(ParseHexNumber(std::string(300, 'F')), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace ovra
