#include <gtest/gtest.h>

#include "tools/devsim/DevsimOptions.h"

namespace ovra::devsim {
namespace {

TEST(DevsimOptions, ParsesDevicesModeAndCommand) {
    std::string error;
    auto options = ParseOptions({"--headset", "gen2entry", "--mic", "--", "ovractl", "--", "get"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->headset, HeadsetChoice::Gen2Entry);
    EXPECT_TRUE(options->microphone);
    EXPECT_FALSE(options->demo);
    EXPECT_EQ(options->command, (std::vector<std::string>{"ovractl", "--", "get"}));

    options = ParseOptions({}, error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->headset, HeadsetChoice::Gen2);
    EXPECT_TRUE(options->command.empty());
}

TEST(DevsimOptions, RefusesWhatItCannotDo) {
    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    for (const auto& c : std::vector<Case>{
             {{"--headset"}, "--headset needs a value"},
             {{"--headset", "gen3"}, "unknown headset 'gen3'"},
             {{"--frobnicate"}, "unknown argument '--frobnicate'"},
             {{"--"}, "'--' needs a command after it"},
             {{"--demo", "--", "true"}, "--demo and a command exclude each other"},
             {{"--demo", "--headset", "none"}, "--demo needs a headset"},
         }) {
        std::string error;
        EXPECT_FALSE(ParseOptions(c.args, error));
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace
}  // namespace ovra::devsim
