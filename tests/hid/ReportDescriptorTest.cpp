// Our report-descriptor parser: lengths of well-formed descriptors, and a clear
// refusal (with the offending offset) of malformed ones.

#include <gtest/gtest.h>

#include "platform/linux/hid/ReportDescriptor.h"
#include "tests/hid/ScriptedHidModel.h"

namespace ovra {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct LengthCase {
    const char* name;
    Bytes descriptor;
    std::uint16_t input, output, feature;
    bool usesReportIds;
};

class WellFormed : public ::testing::TestWithParam<LengthCase> {};

TEST_P(WellFormed, GivesTheLongestReportOfEachKindWithItsIdByte) {
    const auto& c = GetParam();
    const auto parse = ParseReportDescriptor(c.descriptor);
    ASSERT_TRUE(parse.ok) << parse.error << " at " << parse.errorOffset;
    EXPECT_EQ(parse.capabilities.inputReportByteLength, c.input);
    EXPECT_EQ(parse.capabilities.outputReportByteLength, c.output);
    EXPECT_EQ(parse.capabilities.featureReportByteLength, c.feature);
    EXPECT_EQ(parse.capabilities.usesReportIds, c.usesReportIds);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, WellFormed,
    ::testing::Values(
        LengthCase{"headset_16_byte_reports", test::SixteenByteDescriptor(), 16, 16, 0, true},
        // No report ids: the lengths still count the (zero) id byte.
        LengthCase{"no_report_ids_32_in",
                   {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x20, 0x81, 0x02, 0xC0},
                   33, 0, 0, false},
        // Two ids: the longer report sets the length; fields add up per id;
        // bits round up to whole bytes.
        LengthCase{"two_ids_longest_wins",
                   {0xA1, 0x01,
                    0x85, 0x01, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02,  // id 1: 4 bytes in
                    0x85, 0x02, 0x75, 0x08, 0x95, 0x08, 0x81, 0x02,  // id 2: 8 bytes in
                    0x75, 0x01, 0x95, 0x03, 0x81, 0x02,              //       + 3 bits
                    0x85, 0x03, 0x75, 0x08, 0x95, 0x02, 0xB1, 0x02,  // id 3: 2 bytes feature
                    0xC0},
                   10, 0, 3, true},
        // Push/pop restore the size and count; a long item is skipped.
        LengthCase{"push_pop_and_long_item",
                   {0x75, 0x08, 0x95, 0x02, 0xA4, 0x95, 0x10, 0x91, 0x02, 0xB4, 0x91, 0x02,
                    0xFE, 0x02, 0x10, 0xAA, 0xBB},
                   0, 19, 0, false},
        // A four-byte data item (size code 3) and local items before mains.
        LengthCase{"four_byte_items",
                   {0x77, 0x08, 0x00, 0x00, 0x00, 0x97, 0x05, 0x00, 0x00, 0x00, 0x09, 0x01, 0x81, 0x02},
                   6, 0, 0, false}),
    [](const auto& param) { return std::string(param.param.name); });

struct MalformedCase {
    const char* name;
    Bytes descriptor;
    std::size_t offset;
    const char* error;
};

class Malformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(Malformed, IsRefusedWithTheOffendingOffset) {
    const auto& c = GetParam();
    const auto parse = ParseReportDescriptor(c.descriptor);
    EXPECT_FALSE(parse.ok);
    EXPECT_EQ(parse.errorOffset, c.offset);
    EXPECT_STREQ(parse.error, c.error);
}

Bytes Repeated(std::size_t count, Bytes unit, Bytes tail = {}) {
    Bytes out;
    for (std::size_t i = 0; i < count; ++i) out.insert(out.end(), unit.begin(), unit.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, Malformed,
    ::testing::Values(
        MalformedCase{"empty", {}, 0, "empty report descriptor"},
        MalformedCase{"too_long", Bytes(4097, 0x00), 0, "report descriptor longer than 4096 bytes"},
        MalformedCase{"truncated_short_item", {0x75, 0x08, 0x96, 0x10}, 2, "truncated item"},
        MalformedCase{"truncated_long_item_header", {0x09, 0x01, 0xFE, 0x05}, 2, "truncated long item"},
        MalformedCase{"truncated_long_item_data", {0xFE, 0x05, 0x00, 0x01, 0x02}, 0, "truncated long item data"},
        MalformedCase{"report_id_zero", {0x85, 0x00}, 0, "report id out of range 1-255"},
        MalformedCase{"report_id_too_big", {0x86, 0x00, 0x01}, 0, "report id out of range 1-255"},
        MalformedCase{"pop_without_push", {0x75, 0x08, 0xB4}, 2, "pop without push"},
        MalformedCase{"push_too_deep", Repeated(17, {0xA4}), 16, "push nested too deep"},
        MalformedCase{"end_without_collection", {0xC0}, 0, "end collection without collection"},
        MalformedCase{"collection_not_closed", {0xA1, 0x01, 0x09, 0x01}, 4, "collection not closed"},
        MalformedCase{"collections_too_deep", Repeated(65, {0xA1, 0x00}), 128, "collections nested too deep"},
        // 0xFFFFFFFF x 0xFFFFFFFF bits: no overflow, a refusal.
        MalformedCase{"absurd_field",
                      {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02},
                      10, "report field longer than 16384 bytes"},
        // Many fields that each fit but together exceed the largest report.
        MalformedCase{"report_adds_up_too_long",
                      Repeated(9, {0x75, 0x08, 0x96, 0x00, 0x08, 0x81, 0x02}),
                      61, "report longer than 16384 bytes"},
        MalformedCase{"data_before_first_report_id",
                      {0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0x85, 0x01, 0x81, 0x02},
                      4, "report data declared before the first report id"}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace ovra
