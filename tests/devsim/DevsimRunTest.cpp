// devsim as a program: the command runs inside the virtual devices, its exit
// code comes back, and what the devices show is printed.

#include <gtest/gtest.h>

#include <string>

#include "RunDevsim.h"

namespace {

TEST(DevsimRun, CommandSeesTheVirtualHeadsetAndItsExitCodeComesBack) {
    const auto run = ovra::test::RunDevsim("--headset gen2entry -- /bin/sh -c 'cat /sys/bus/usb/devices/1-1/idProduct; exit 7'");
    EXPECT_EQ(run.exitCode, 7) << run.output;
    EXPECT_NE(run.output.find("[devsim] Gen2Entry headset 0b05:1859 at /dev/hidraw0"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("1859\n"), std::string::npos) << run.output;
}

TEST(DevsimRun, SignalsUnplugAndReplugTheHeadset) {
    // The command asks devsim (its parent) to unplug and re-plug the headset,
    // waiting each time until the node changed.
    const auto run = ovra::test::RunDevsim(
        "-- /bin/sh -c 'kill -USR1 $PPID;"
        " for i in $(seq 200); do test -e /dev/hidraw0 || break; sleep 0.05; done;"
        " test -e /dev/hidraw0 || echo node-gone;"
        " kill -USR1 $PPID;"
        " for i in $(seq 200); do test -e /dev/hidraw1 && break; sleep 0.05; done;"
        " test -e /dev/hidraw1 && echo node-back'");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("[devsim] headset unplugged\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("node-gone\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("[devsim] headset plugged in at /dev/hidraw1\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("node-back\n"), std::string::npos) << run.output;
}

TEST(DevsimRun, UsageErrorsExitWithTwo) {
    const auto run = ovra::test::RunDevsim("--headset gen3");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.output.find("devsim: unknown headset 'gen3'"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("usage: devsim"), std::string::npos);
}

}  // namespace
