// devsim as a program: the command runs inside the virtual devices, its exit
// code comes back, and what the devices show is printed.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct ProgramRun {
    std::string output;
    int exitCode = -1;
};

ProgramRun Devsim(const std::string& arguments) {
    const char* bin = std::getenv("OVRA_BIN_DIR");
    const std::string command = std::string(bin ? bin : ".") + "/devsim " + arguments + " 2>&1";
    ProgramRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char chunk[512];
    std::size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, got);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(DevsimRun, CommandSeesTheVirtualHeadsetAndItsExitCodeComesBack) {
    const ProgramRun run = Devsim("--headset gen2entry -- /bin/sh -c 'cat /sys/bus/usb/devices/1-1/idProduct; exit 7'");
    EXPECT_EQ(run.exitCode, 7) << run.output;
    EXPECT_NE(run.output.find("[devsim] Gen2Entry headset 0b05:1859 at /dev/hidraw0"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("1859\n"), std::string::npos) << run.output;
}

TEST(DevsimRun, SignalsUnplugAndReplugTheHeadset) {
    // The command asks devsim (its parent) to unplug and re-plug the headset,
    // waiting each time until the node changed.
    const ProgramRun run = Devsim(
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
    const ProgramRun run = Devsim("--headset gen3");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.output.find("devsim: unknown headset 'gen3'"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("usage: devsim"), std::string::npos);
}

}  // namespace
