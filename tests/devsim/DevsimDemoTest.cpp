// ./run.sh without hardware: devsim --demo drives ovractl against the virtual
// headset; the effects it sets are what the headset shows and what ovractl
// reads back.

#include <gtest/gtest.h>

#include <string>

#include "RunDevsim.h"

namespace {

class DevsimDemo : public ::testing::TestWithParam<const char*> {};

TEST_P(DevsimDemo, SetsAndReadsBackTwoEffects) {
    const std::string headset = GetParam();
    const auto run = ovra::test::RunDevsim("--demo --headset " + headset);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string ids = headset == "gen2entry" ? "0b05:1859" : "0b05:1855";
    for (const std::string& expected : {
             std::string(headset == "gen2entry" ? "Gen2Entry " : "Gen2 ") + ids + " /dev/hidraw0\n",
             std::string("[devsim] headset shows: on effect=breathing color=FF4000 mode=2\n"),
             std::string("effect=breathing color=FF4000 mode=2 frame="),
             std::string("[devsim] headset shows: on effect=static color=00A0FF mode=1\n"),
             std::string("effect=static color=00A0FF mode=1 frame="),
             std::string("[devsim] demo done\n"),
         })
        EXPECT_NE(run.output.find(expected), std::string::npos) << "missing: " << expected << "\n" << run.output;
}

INSTANTIATE_TEST_SUITE_P(Headsets, DevsimDemo, ::testing::Values("gen2", "gen2entry"));

}  // namespace
