// The bridge-attached headsets end to end: our bindings load the real
// B2Xlib.so / B2Xlib_ene.so from the build's bin folder, which start the
// proxy program, which reaches the bridge-chip model through libusb and usbfs
// under umockdev; the chip carries the headsets' I2C device models.
// Runs under umockdev-wrapper, one family per process (GTEST_FILTER).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "device_access/BridgeConnections.h"
#include "device_access/Gen2MidHeadset.h"
#include "device_access/Tv520Headset.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/module/DlModuleLoader.h"
#include "sim/bridge_chip/UsbfsHost.h"
#include "sim/i2c_devices/BridgeHeadsetModels.h"

namespace ovra {
namespace {

using ::testing::ElementsAre;

// The proxy, its private folder and the named objects stay private to this run.
class PrivateRun : public ::testing::Environment {
public:
    void SetUp() override {
        const std::string instance = "bindings-e2e-" + std::to_string(::getpid());
        ::setenv("OVRA_PROXY_INSTANCE", instance.c_str(), 1);
        ::setenv("OVRA_IPC_NAMESPACE", instance.c_str(), 1);
        char pattern[] = "/tmp/ovra-bindings-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ::setenv("OVRA_PRIVATE_DIR", pattern, 1);
    }
    void TearDown() override {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

private:
    std::string dir_;
};
const auto* const kPrivateRun = ::testing::AddGlobalTestEnvironment(new PrivateRun);

// One copy of the library, loaded from the build's bin folder and kept, as in
// the programs. Whatever happens in the test, the copy is given up at the end
// so that the proxy it started stops with the last user.
class Copy {
public:
    Copy(std::string_view name, bool ene)
        : loader_(std::getenv("OVRA_BIN_DIR") ? std::getenv("OVRA_BIN_DIR") : "."),
          binding_(BridgeBinding::Load(loader_, name, ene, log_)) {}
    ~Copy() {
        binding_->Close();
        binding_->UnInitialize();
        // Not unloaded: the library's state lives to the end of the process.
        static auto* kept = new std::vector<std::unique_ptr<BridgeBinding>>;
        kept->push_back(std::move(binding_));
    }
    BridgeBinding& operator*() { return *binding_; }
    BridgeBinding* operator->() { return binding_.get(); }

private:
    DlModuleLoader loader_;
    RecordingDebugLog log_;
    std::unique_ptr<BridgeBinding> binding_;
};

TEST(BridgeFamiliesEndToEnd, Tv520ThroughTheRealLibrary) {
    sim::Tv520HeadsetModel headset;
    sim::BridgeChipConfig config;
    config.productId = kTv520ProductId;
    sim::BridgeChipModel chip(config);
    chip.AttachI2c(0xCC, &headset.first);
    chip.AttachI2c(0xCE, &headset.second);
    sim::UsbfsHost host(chip);
    ASSERT_TRUE(host.Ok());

    Copy ene(kEneBridgeLibrary, true);
    ASSERT_TRUE(ene->Loaded());
    ASSERT_TRUE(ene->Initialised());
    Tv520Connection connection(*ene);
    ASSERT_TRUE(connection.OpenTV520());
    ManualClock clock;
    Tv520Headset tv520(*ene, clock);

    EXPECT_TRUE(tv520.SetLEDEffect(LightingEffect::Rainbow, {229.6, 26.2, 0.0}));
    for (auto* controller : {&headset.first, &headset.second}) {
        EXPECT_EQ(controller->AppliedMode(), 5);
        EXPECT_EQ(controller->LedColour(0x8160, 7), (sim::EneColour{0xE6, 0x1A, 0x00}));
    }
    EXPECT_TRUE(tv520.SetLEDFrame(0x44));
    EXPECT_EQ(tv520.GetLEDFrame(), 0x44);
    EXPECT_TRUE(tv520.SetLEDEffect(LightingEffect::Music, {1, 2, 3}));
    EXPECT_TRUE(tv520.WriteColour({10, 20, 30}));
    EXPECT_EQ(headset.second.LedColour(0x8100, 0), (sim::EneColour{10, 20, 30}));
    EXPECT_EQ(headset.first.Register(0x8020), 1);
    // Effect, frame write, frame read, then music: its bracket stays open.
    EXPECT_THAT(chip.CustomerControls(), ElementsAre(3, 2, 3, 2, 3, 2, 3));
    EXPECT_EQ(chip.Interleaves(), 0u);

    connection.ReleaseTV520();
    EXPECT_EQ(connection.Handle(), 0u);
}

TEST(BridgeFamiliesEndToEnd, Gen2MidThroughTheRealLibrary) {
    sim::Gen2MidHeadsetModel headset;
    sim::BridgeChipConfig config;
    config.productId = kGen2MidProductId;
    sim::BridgeChipModel chip(config);
    chip.AttachI2c(0x52, &headset.registers);
    chip.AttachI2c(0x5A, &headset.dsp);
    sim::UsbfsHost host(chip);
    ASSERT_TRUE(host.Ok());

    Copy plain(kPlainBridgeLibrary, false);
    ASSERT_TRUE(plain->Loaded());
    ASSERT_TRUE(plain->Initialised());
    ASSERT_NE(plain->OpenPid(kGen2MidProductId), 0u);
    ManualClock clock;
    Gen2MidHeadset gen2mid(*plain, clock);

    EXPECT_FALSE(gen2mid.BleStatusOn());
    EXPECT_TRUE(gen2mid.SetLEDEffect(LightingEffect::Rainbow, {1, 2, 3}));
    EXPECT_EQ(headset.registers.Register(0x07), 6);
    EXPECT_EQ(headset.registers.Register(0x06), 3);
    EXPECT_TRUE(gen2mid.SetLEDFrame(0x21));
    EXPECT_EQ(headset.registers.Frame(), 0x21);
    headset.dsp.SetBleStatus(true);
    EXPECT_TRUE(gen2mid.BleStatusOn());
}

}  // namespace
}  // namespace ovra
