// ovractl driving the bridge-attached headsets through the bridge library
// double and the headset models.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "tests/bindings/BridgeFixture.h"
#include "tools/ovractl/BridgeFamilyProvider.h"
#include "tools/ovractl/Ovractl.h"

namespace ovra::testing {
namespace {

struct Result {
    int code;
    std::string out, err;
};

class BridgeFamiliesCommand : public ::testing::Test {
protected:
    Result Run(std::vector<std::string> args) {
        std::ostringstream out, err;
        ovractl::FamilyProvider* providers[] = {&provider};
        const int code = ovractl::Run(args, providers, out, err);
        return {code, out.str(), err.str()};
    }

    // The provider loads the same two files, so it meets the copies the
    // fixture attached to the models.
    BridgeFixture fx;
    ovractl::BridgeFamilyProvider provider{fx.loader, fx.clock, fx.log};
};

TEST_F(BridgeFamiliesCommand, ListsBothHeadsetsAndDrivesTheFirst) {
    const auto list = Run({"list"});
    EXPECT_EQ(list.code, 0);
    EXPECT_EQ(list.out, "Gen2Mid 0b05:1858 B2Xlib.so:2000\nTV520 0b05:1876 B2Xlib_ene.so:2001\n");

    EXPECT_EQ(Run({"set", "rainbow", "FF8000"}).code, 0);
    EXPECT_EQ(fx.gen2mid.registers.Register(0x07), 6);
    EXPECT_EQ(fx.gen2mid.registers.Register(0x05), 0x80);
    EXPECT_EQ(Run({"off"}).code, 0);
    EXPECT_EQ(fx.gen2mid.registers.Register(0x07), 0);
    const auto get = Run({"get"});  // nothing to read back from a Gen2Mid
    EXPECT_EQ(get.code, 0);
    EXPECT_EQ(get.out, "\n");
}

TEST_F(BridgeFamiliesCommand, Tv520TakesEffectsAndReportsItsFrame) {
    fx.plainHost.devices = {&fx.tv520};  // no Gen2Mid attached
    EXPECT_EQ(Run({"--device", "headset", "set", "rainbow", "0000FF"}).code, 0);
    EXPECT_EQ(fx.tv520.first.AppliedMode(), 5);
    EXPECT_EQ(fx.tv520.second.LedColour(0x8160, 3), (sim::EneColour{0, 0, 0xFF}));
    EXPECT_EQ(Run({"frame", "77"}).code, 0);
    const auto get = Run({"get"});
    EXPECT_EQ(get.code, 0);
    EXPECT_EQ(get.out, "frame=77\n");

    fx.tv520.first.SetNak(true);
    const auto failed = Run({"get"});
    EXPECT_EQ(failed.code, 1);
    EXPECT_THAT(failed.err, ::testing::HasSubstr("cannot read the frame counter of TV520"));
}

TEST_F(BridgeFamiliesCommand, Gen2MidWithBluetoothOnIsLeftAlone) {
    fx.gen2mid.dsp.SetBleStatus(true);
    const auto set = Run({"set", "static", "FFFFFF"});
    EXPECT_EQ(set.code, 1);
    EXPECT_TRUE(fx.log.Contains("BLE Status is ON. Unable to operate.\n"));
    EXPECT_EQ(fx.gen2mid.registers.Register(0x04), 0);
}

TEST_F(BridgeFamiliesCommand, NoHeadsetAttached) {
    fx.plainHost.devices.clear();
    fx.eneHost.devices.clear();
    const auto list = Run({"list"});
    EXPECT_EQ(list.code, 3);
    EXPECT_EQ(Run({"off"}).code, 3);
}

// Each loaded copy was initialised and counts as a user of the bridge proxy:
// when ovractl ends, both are given up even when neither found its headset.
TEST_F(BridgeFamiliesCommand, EndingGivesUpBothCopiesWithOrWithoutAHeadset) {
    for (bool attached : {false, true}) {
        if (!attached) {
            fx.plainHost.devices.clear();
            fx.eneHost.devices.clear();
        } else {
            fx.plainHost.devices = {&fx.gen2mid};
            fx.eneHost.devices = {&fx.tv520};
        }
        fx.plainHost.ClearCalls();
        fx.eneHost.ClearCalls();
        {
            ovractl::BridgeFamilyProvider ending{fx.loader, fx.clock, fx.log};
            std::ostringstream out, err;
            ovractl::FamilyProvider* providers[] = {&ending};
            const std::vector<std::string> args{"list"};
            EXPECT_EQ(ovractl::Run(args, providers, out, err), attached ? 0 : 3);
        }
        for (auto* host : {&fx.plainHost, &fx.eneHost}) {
            const auto calls = host->Calls();
            ASSERT_FALSE(calls.empty()) << attached;
            EXPECT_EQ(calls.back(), "BrxLib_UnInitialize()") << attached;
        }
    }
}

}  // namespace
}  // namespace ovra::testing
