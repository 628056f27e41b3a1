// ovractl's command line against the headset model (through the HID family
// provider) and a scripted microphone provider.

#include <gtest/gtest.h>

#include <sstream>

#include "platform/fake/ManualClock.h"
#include "platform/fake/RecordingDebugLog.h"
#include "sim/hid/Gen2HeadsetModel.h"
#include "sim/hid/InProcessHidHost.h"
#include "tools/ovractl/HidFamilyProvider.h"
#include "tools/ovractl/Ovractl.h"

namespace ovra::ovractl {
namespace {

// A microphone that remembers what it was told.
class ScriptedMicrophone final : public FamilyProvider {
public:
    class Device final : public LightingDevice {
    public:
        explicit Device(std::string& journal) : journal_(journal) {}
        DeviceFamily Family() const override { return DeviceFamily::MK470; }
        bool SetLEDEffect(LightingEffect effect, const Colour& c) override {
            journal_ += "effect " + std::string(LightingEffectName(effect)) + " " +
                        std::to_string(int(c.red)) + "," + std::to_string(int(c.green)) + "," +
                        std::to_string(int(c.blue)) + ";";
            return true;
        }
        bool SetLEDOff() override { return journal_ += "off;", true; }
        bool SetLEDFrame(std::uint8_t f) override { return journal_ += "frame " + std::to_string(f) + ";", true; }
        std::optional<std::uint8_t> GetLEDFrame() override { return std::nullopt; }
        std::optional<DeviceLightingState> GetLEDSetting() override { return DeviceLightingState{1, 2, 3, 2}; }
        bool WriteColour(const Colour&) override { return true; }

    private:
        std::string& journal_;
    };

    std::vector<FoundDevice> Find() override {
        if (!present) return {};
        return {{DeviceFamily::MK470, {0x0B05, 0x1842}, "usb-1-2", DeviceKind::Microphone}};
    }
    std::unique_ptr<LightingDevice> Open(const FoundDevice&) override {
        return std::make_unique<Device>(journal);
    }
    ReadableFields Reads(DeviceFamily) const override { return {true, false}; }
    std::optional<LightingEffect> EffectFromMode(DeviceFamily, std::uint8_t mode) const override {
        return mode == 2 ? std::optional(LightingEffect::Breathing) : std::nullopt;
    }

    bool present = true;
    std::string journal;
};

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

class OvractlTest : public ::testing::Test {
protected:
    std::shared_ptr<sim::Gen2HeadsetModel> AddHeadset(sim::Gen2HeadsetConfig config) {
        auto model = std::make_shared<sim::Gen2HeadsetModel>(std::move(config), clock);
        host.Add(model);
        return model;
    }
    Outcome Call(std::vector<std::string> args) {
        std::ostringstream out, err;
        FamilyProvider* providers[] = {&hidProvider, &microphone};
        const int code = ovractl::Run(args, providers, out, err);
        return {code, out.str(), err.str()};
    }

    ManualClock clock;
    sim::InProcessHidHost host{&clock};
    RecordingDebugLog log;
    HidFamilyProvider hidProvider{host, clock, log};
    ScriptedMicrophone microphone;
};

TEST_F(OvractlTest, UsageErrorsExitTwoWithUsageOnStderr) {
    auto model = AddHeadset(sim::Gen2Config());
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"blink"},
        {"set", "static"},
        {"set", "sparkle", "FF0000"},
        {"set", "static", "FF00"},
        {"set", "static", "GG0000"},
        {"set", "static", "FF00001"},
        {"frame", "256"},
        {"frame", "-1"},
        {"frame", "0x10"},
        {"frame"},
        {"off", "now"},
        {"--device", "keyboard", "off"},
        {"--device"},
        {"--colour", "off"},
    };
    for (const auto& args : bad) {
        const Outcome o = Call(args);
        EXPECT_EQ(o.code, kExitUsage) << ::testing::PrintToString(args);
        EXPECT_NE(o.err.find("usage: ovractl"), std::string::npos);
        EXPECT_EQ(o.out, "");
    }
    EXPECT_TRUE(model->OutputReports().empty()) << "nothing reaches a device on a usage error";
}

TEST_F(OvractlTest, ListsEverySupportedDevice) {
    AddHeadset(sim::Gen2SecondIdConfig());
    host.Add(std::make_shared<sim::Gen2HeadsetModel>(sim::Gen2HeadsetConfigFor(0x1234, 0x5678), clock));
    AddHeadset(sim::Gen2EntryConfig());
    EXPECT_EQ(Call({"list"}).out,
              "Gen2 0d8c:01ac sim-hidraw0\nGen2Entry 0b05:1859 sim-hidraw2\nMK470 0b05:1842 usb-1-2\n");
    EXPECT_EQ(Call({"list", "--device", "mic"}).out, "MK470 0b05:1842 usb-1-2\n");
}

TEST_F(OvractlTest, SetsAndReadsBackTheHeadset) {
    auto config = sim::Gen2Config();
    config.framePeriod = std::chrono::seconds(10);  // the frame stays put during the calls
    auto model = AddHeadset(config);
    EXPECT_EQ(Call({"set", "breathing", "e61a00"}).code, kExitDone);
    EXPECT_EQ(model->Shows(), (sim::HeadsetShows{true, "breathing", 2, 0xE6, 0x1A, 0x00}));
    EXPECT_EQ(Call({"frame", "7"}).code, kExitDone);
    EXPECT_EQ(Call({"get"}).out, "effect=breathing color=E61A00 mode=2 frame=7\n");
    EXPECT_EQ(Call({"--device=headset", "off"}).code, kExitDone);
    EXPECT_FALSE(model->Shows().on);
    EXPECT_EQ(microphone.journal, "") << "the headset is the default";
    EXPECT_EQ(host.OpenHandles(), 0u) << "every call closes what it opened";
}

TEST_F(OvractlTest, FallsBackToTheMicrophoneAndOmitsWhatItCannotRead) {
    EXPECT_EQ(Call({"set", "rainbow", "010203"}).code, kExitDone);
    EXPECT_EQ(Call({"frame", "255"}).code, kExitDone);
    EXPECT_EQ(microphone.journal, "effect rainbow 1,2,3;frame 255;");
    EXPECT_EQ(Call({"get"}).out, "effect=breathing color=010203 mode=2\n");
}

TEST_F(OvractlTest, MissingDeviceExitsThreeAndFailedTransferOne) {
    microphone.present = false;
    for (const auto& args : std::vector<std::vector<std::string>>{{"list"}, {"off"}, {"get"}}) {
        const Outcome o = Call(args);
        EXPECT_EQ(o.code, kExitNoDevice);
        EXPECT_NE(o.err.find("no supported"), std::string::npos);
    }
    microphone.present = true;
    EXPECT_EQ(Call({"--device", "headset", "off"}).code, kExitNoDevice);

    auto model = AddHeadset(sim::Gen2Config());
    model->InjectOutputFault(sim::ModelAction::Reject, 1);
    Outcome o = Call({"set", "static", "FF0000"});
    EXPECT_EQ(o.code, kExitDeviceFailure);
    EXPECT_NE(o.err.find("Gen2 0b05:1855 sim-hidraw0"), std::string::npos);
    model->InjectInputFault(sim::InputFault::StaleAnswer);
    o = Call({"get"});
    EXPECT_EQ(o.code, kExitDeviceFailure);
    EXPECT_EQ(o.out, "");
    host.DenyAccess("sim-hidraw0");
    EXPECT_EQ(Call({"off"}).code, kExitDeviceFailure);
}

}  // namespace
}  // namespace ovra::ovractl
