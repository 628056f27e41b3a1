// ITECCTdll.so as the programs use it, against the microphone model behind
// umockdev: the real hidraw adapter, real file descriptors, real poll().

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <latch>
#include <thread>

#include "device_access/MicBinding.h"
#include "device_access/Mk470Microphone.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/module/DlModuleLoader.h"
#include "sim/mic/MicrophoneModel.h"
#include "sim/umockdev/UmockdevHidHost.h"

namespace ovra {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string BinFolder() {
    const char* folder = std::getenv("OVRA_BIN_DIR");
    return folder != nullptr ? folder : DlModuleLoader::ProgramFolder() + "/../bin";
}

class MicLibraryHidraw : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim::UmockdevHidHost::InMockEnvironment()) << "run under umockdev-wrapper";
        binding = MicBinding::Load(loader, log);
        ASSERT_TRUE(binding->Ready()) << "ITECCTdll.so not found in " << loader.Folder();
        auto* exchange = BindExport<MicTestInterruptInOutFn>(binding->LoadedModule(),
                                                             "TestInterruptINOUT");
        rawExchange = exchange;
    }
    void TearDown() override {
        if (binding) binding->DisconnectDevice();
    }
    void PlugIn() { id = host.AddDevice(model); }

    sim::UmockdevHidHost host;
    std::shared_ptr<sim::MicrophoneModel> model = std::make_shared<sim::MicrophoneModel>();
    sim::UmockdevHidHost::DeviceId id = -1;
    DlModuleLoader loader{BinFolder()};
    RecordingDebugLog log;
    std::unique_ptr<MicBinding> binding;
    MicTestInterruptInOutFn* rawExchange = nullptr;
};

TEST_F(MicLibraryHidraw, AbsentMicrophoneDoesNotConnect) {
    EXPECT_FALSE(binding->ConnectDevice());
    MicReport report{};
    report[0] = 0x81;
    EXPECT_FALSE(binding->Exchange(report));
    EXPECT_TRUE(binding->DisconnectDevice());
}

TEST_F(MicLibraryHidraw, ConnectWriteAndDumpThroughHidraw) {
    PlugIn();
    ASSERT_TRUE(binding->ConnectDevice());
    Mk470Microphone mic(*binding, log);
    ASSERT_TRUE(mic.SetLEDEffect(LightingEffect::Strobing, {229.6, 26.2, 0.0}));
    EXPECT_EQ(model->Register(0x04), 0xE6);
    EXPECT_EQ(model->Register(0x05), 0x1A);
    EXPECT_EQ(model->Register(0x07), 3);
    ASSERT_TRUE(mic.SetLEDFrame(0x2A));
    EXPECT_EQ(mic.GetLEDFrame(), 0x2A);
    const auto setting = mic.GetLEDSetting();
    ASSERT_TRUE(setting.has_value());
    EXPECT_EQ(setting->red, 0xE6);
    EXPECT_EQ(setting->mode, 3);
    EXPECT_EQ(mic.SwitchOff(), 4);
    EXPECT_THAT(log.Texts(), ::testing::ElementsAre("42\n\n", "Mic: 230 26 0 3\n"));
    EXPECT_EQ(model->Requests().size(), 8u);
}

// The UI thread and the frame-sync thread call the library at once, without
// a lock of their own: each must get the answer to its own request.
TEST_F(MicLibraryHidraw, ConcurrentCallersNeverGetSwappedAnswers) {
    PlugIn();
    ASSERT_TRUE(binding->ConnectDevice());
    constexpr int kRounds = 60;
    std::latch start(2);
    std::thread writer([&] {
        start.arrive_and_wait();
        for (int i = 0; i < kRounds; ++i) {
            unsigned char report[32] = {0x10, 0x0C, static_cast<unsigned char>(i)};
            ASSERT_EQ(rawExchange(0xCC, report, 32), 1);
            ASSERT_EQ(report[0], 0x10);
            ASSERT_EQ(report[1], 0x0C);
            ASSERT_EQ(report[2], i);
        }
    });
    std::thread reader([&] {
        start.arrive_and_wait();
        for (int i = 0; i < kRounds; ++i) {
            unsigned char report[32] = {0x81};
            ASSERT_EQ(rawExchange(0xCC, report, 32), 1);
            ASSERT_EQ(report[0], 0x81);
        }
    });
    writer.join();
    reader.join();
    EXPECT_EQ(model->Requests().size(), 2u * kRounds);
}

TEST_F(MicLibraryHidraw, UnplugMidRequestFailsPromptlyAndReconnects) {
    PlugIn();
    ASSERT_TRUE(binding->ConnectDevice());
    model->SetFault(sim::MicFault::UnplugOnRequest);
    unsigned char report[32] = {0x81};
    const auto start = Clock::now();
    EXPECT_EQ(rawExchange(0xCC, report, 32), 0);
    EXPECT_EQ(rawExchange(0xCC, report, 32), 0);
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_EQ(report[0], 0x81);  // untouched
    EXPECT_FALSE(binding->ConnectDevice());

    model->SetFault(sim::MicFault::None);
    PlugIn();
    ASSERT_TRUE(binding->ConnectDevice());
    EXPECT_EQ(rawExchange(0xCC, report, 32), 1);
}

TEST_F(MicLibraryHidraw, WrongLengthOrGarbageAnswersAndBadArgumentsFail) {
    PlugIn();
    ASSERT_TRUE(binding->ConnectDevice());
    for (auto fault : {sim::MicFault::ShortAnswer, sim::MicFault::Garbage, sim::MicFault::NoAnswer}) {
        SCOPED_TRACE(static_cast<int>(fault));
        model->SetFault(fault);
        unsigned char report[32] = {0x10, 0x04, 0x99};
        const auto start = Clock::now();
        EXPECT_EQ(rawExchange(0xCC, report, 32), 0);
        EXPECT_LT(Clock::now() - start, 2s);  // bounded by ConnectDevice's 100 ms
        EXPECT_EQ(report[2], 0x99);
    }
    model->SetFault(sim::MicFault::None);
    unsigned char report[64] = {0x81};
    EXPECT_EQ(rawExchange(0xCC, report, 31), 0);
    EXPECT_EQ(rawExchange(0xCC, report, 64), 0);
    EXPECT_EQ(rawExchange(0x01, report, 32), 0);
    EXPECT_EQ(rawExchange(0xCC, nullptr, 32), 0);
    EXPECT_EQ(rawExchange(0xCC, report, 32), 1);
}

}  // namespace
}  // namespace ovra
