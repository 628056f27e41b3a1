// The MK470 operations: the exact 32-byte reports per operation and effect,
// answers read back, failed exchanges, and the microphone binding's rules. The
// library is faked in-process here (its real counterpart is tested over
// hidraw in tests/mic_library).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <latch>
#include <thread>

#include "device_access/BridgeModeCodes.h"
#include "device_access/MicBinding.h"
#include "device_access/Mk470Microphone.h"
#include "platform/fake/FakeModuleLoader.h"
#include "platform/fake/RecordingDebugLog.h"
#include "sim/mic/MicrophoneModel.h"

namespace ovra {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Report = std::vector<std::uint8_t>;

// The fake library talks to one in-process model.
sim::MicrophoneModel* g_model = nullptr;
int g_connects = 0;

extern "C" unsigned char FakeConnect(int selector, int timeoutMs) {
    ++g_connects;
    return selector == 0xFF89 && timeoutMs == 100 && g_model != nullptr;
}
extern "C" unsigned char FakeExchange(int function, unsigned char* report, int length) {
    if (function != 0xCC || length != 32 || g_model == nullptr) return 0;
    std::vector<std::uint8_t> out(33, 0);
    std::copy(report, report + 32, out.begin() + 1);
    if (g_model->OnOutputReport(out).action != sim::ModelAction::Accept) return 0;
    // A round trip to the device takes a while; other threads run meanwhile.
    std::this_thread::sleep_for(std::chrono::microseconds(20));
    const auto answer = g_model->TakeInterruptReport();
    if (!answer) return 0;
    std::copy(answer->begin(), answer->begin() + std::min<std::size_t>(answer->size(), 32), report);
    return 1;
}
extern "C" unsigned char FakeDisconnect() { return 1; }

FakeModuleLoader::Exports AllExports() {
    return {{"ConnectDevice", reinterpret_cast<void*>(&FakeConnect)},
            {"TestInterruptINOUT", reinterpret_cast<void*>(&FakeExchange)},
            {"DisconnectDevice", reinterpret_cast<void*>(&FakeDisconnect)}};
}

Report Request(std::uint8_t command, std::uint8_t reg, std::uint8_t value) {
    Report report(32, 0);
    report[0] = command;
    report[1] = reg;
    report[2] = value;
    return report;
}
Report Write(std::uint8_t reg, std::uint8_t value) { return Request(0x10, reg, value); }
Report Dump() { return Request(0x81, 0, 0); }

class Mk470Golden : public ::testing::Test {
protected:
    void SetUp() override {
        g_model = &model;
        loader.Add("ITECCTdll.dll", AllExports());
        binding = MicBinding::Load(loader, log);
        ASSERT_TRUE(binding->Ready());
        ASSERT_TRUE(binding->ConnectDevice());
        device.emplace(*binding, log);
    }
    void TearDown() override { g_model = nullptr; }

    sim::MicrophoneModel model;
    FakeModuleLoader loader;
    RecordingDebugLog log;
    std::unique_ptr<MicBinding> binding;
    std::optional<Mk470Microphone> device;
    Mk470Microphone& mic() { return *device; }
};

TEST_F(Mk470Golden, EffectsWriteColourThenTheMicrophonesMode) {
    const struct {
        LightingEffect effect;
        std::uint8_t mode;
    } cases[] = {{LightingEffect::Static, 1},   {LightingEffect::Breathing, 2},
                 {LightingEffect::Strobing, 3}, {LightingEffect::ColorCycle, 3},
                 {LightingEffect::Music, 1},    {LightingEffect::Rainbow, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(LightingEffectName(c.effect));
        model.ClearRequests();
        EXPECT_TRUE(mic().SetLEDEffect(c.effect, {229.6, 26.2, 0.0}));
        EXPECT_THAT(model.Requests(), ElementsAre(Write(0x04, 0xE6), Write(0x05, 0x1A),
                                                  Write(0x06, 0x00), Write(0x07, c.mode)));
        EXPECT_EQ(model.Register(0x07), c.mode);
    }
}

TEST_F(Mk470Golden, OffFrameColourAndDumps) {
    model.SetRegister(0x0B, 0x5D);
    EXPECT_EQ(mic().SwitchOff(), 4);  // the answer's byte 2: the microphone's effect value
    EXPECT_TRUE(mic().SetLEDFrame(0x42));
    EXPECT_TRUE(mic().WriteColour({1, 2, 3}));
    const auto setting = mic().GetLEDSetting();
    const auto frame = mic().GetLEDFrame();
    EXPECT_THAT(model.Requests(),
                ElementsAre(Write(0x07, 0x04), Write(0x0C, 0x42), Write(0x04, 1), Write(0x05, 2),
                            Write(0x06, 3), Dump(), Dump()));
    ASSERT_TRUE(setting.has_value());
    EXPECT_EQ(setting->red, 1);
    EXPECT_EQ(setting->green, 2);
    EXPECT_EQ(setting->blue, 3);
    EXPECT_EQ(setting->mode, 4);
    EXPECT_EQ(frame, 0x42);
    EXPECT_THAT(log.Texts(), ElementsAre("66\n\n", "Mic: 1 2 3 4\n"));
}

TEST_F(Mk470Golden, FailedOrForeignAnswersAreReportedNotUsed) {
    model.SetRegister(0x0B, 0x11);
    const struct {
        sim::MicFault fault;
        const char* name;
    } cases[] = {{sim::MicFault::NoAnswer, "no answer"},
                 {sim::MicFault::Garbage, "garbage"},
                 {sim::MicFault::UnplugOnRequest, "unplugged"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        model.SetFault(c.fault);
        log.Clear();
        EXPECT_EQ(mic().GetLEDFrame(), std::nullopt);
        EXPECT_EQ(mic().GetLEDSetting(), std::nullopt);
        EXPECT_EQ(mic().SwitchOff(), std::nullopt);
        EXPECT_FALSE(mic().SetLEDFrame(9));
        EXPECT_THAT(log.Texts(), ElementsAre("\nSetLEDFrame to MK470 Failed!\n"));
    }
    model.SetFault(sim::MicFault::None);
    // The device took the frame write; only its answer was lost.
    EXPECT_EQ(mic().GetLEDFrame(), 9);
}

// The UI thread's apply and the frame-sync thread's read must not interleave
// their reports: every effect stays four writes in a row.
TEST_F(Mk470Golden, ConcurrentOperationsKeepTheirReportsTogether) {
    constexpr int kRounds = 300;
    std::latch start(2);
    std::thread apply([&] {
        start.arrive_and_wait();
        for (int i = 0; i < kRounds; ++i) mic().SetLEDEffect(LightingEffect::Breathing, {9, 8, 7});
    });
    std::thread sync([&] {
        start.arrive_and_wait();
        for (int i = 0; i < kRounds; ++i) EXPECT_TRUE(mic().GetLEDFrame().has_value());
    });
    apply.join();
    sync.join();
    const auto requests = model.Requests();
    ASSERT_EQ(requests.size(), kRounds * 5u);
    for (std::size_t i = 0; i < requests.size();) {
        if (requests[i] == Dump()) {
            ++i;
            continue;
        }
        ASSERT_EQ(requests[i], Write(0x04, 9)) << i;
        ASSERT_EQ(requests[i + 1], Write(0x05, 8)) << i;
        ASSERT_EQ(requests[i + 2], Write(0x06, 7)) << i;
        ASSERT_EQ(requests[i + 3], Write(0x07, 2)) << i;
        i += 4;
    }
}

TEST(MicBinding, ReadyOnlyWithTheLibraryAndAllThreeExports) {
    RecordingDebugLog log;
    {
        FakeModuleLoader loader;  // no library at all
        auto binding = MicBinding::Load(loader, log);
        EXPECT_FALSE(binding->Ready());
        EXPECT_FALSE(binding->ConnectDevice());
        MicReport report{};
        EXPECT_FALSE(binding->Exchange(report));
    }
    for (const char* missing : {"ConnectDevice", "TestInterruptINOUT", "DisconnectDevice"}) {
        SCOPED_TRACE(missing);
        FakeModuleLoader loader;
        auto exports = AllExports();
        exports.erase(missing);
        loader.Add("ITECCTdll.dll", exports);
        EXPECT_FALSE(MicBinding::Load(loader, log)->Ready());
    }
    EXPECT_TRUE(log.Texts().empty());
    FakeModuleLoader broken;
    broken.AddBroken("ITECCTdll.dll");
    EXPECT_FALSE(MicBinding::Load(broken, log)->Ready());
    EXPECT_THAT(log.Texts(), ElementsAre("\nLoad ITECCTdll.dll failed: invalid ELF header\n"));
}

TEST(MicModeCodes, ReadBackAndPollMappings) {
    const struct {
        std::uint8_t mode;
        std::optional<LightingEffect> readBack;  // with Breathing stored for the microphone
        std::uint32_t poll;
    } cases[] = {
        {1, LightingEffect::Static, 0},     {2, LightingEffect::Breathing, 1},
        {3, LightingEffect::ColorCycle, 3}, {4, LightingEffect::Breathing, 4},
        {0, std::nullopt, 0},               {5, std::nullopt, 0},
        {6, std::nullopt, 0},               {0xFF, std::nullopt, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        EXPECT_EQ(Mk470ReadBackEffect(c.mode, LightingEffect::Breathing), c.readBack);
        EXPECT_EQ(Mk470PollValue(c.mode), c.poll);
    }
}

TEST(BridgeModeCodes, EveryFamilysCodePerEffect) {
    const struct {
        LightingEffect effect;
        int gen2mid;
        std::optional<std::uint8_t> tv520;
        int mk470;
    } cases[] = {
        {LightingEffect::Static, 1, 1, 1},     {LightingEffect::Breathing, 2, 2, 2},
        {LightingEffect::Strobing, 3, 3, 3},   {LightingEffect::ColorCycle, 4, 4, 3},
        {LightingEffect::Music, 1, std::nullopt, 1}, {LightingEffect::Rainbow, 6, 5, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(LightingEffectName(c.effect));
        EXPECT_EQ(Gen2MidModeFor(c.effect), c.gen2mid);
        EXPECT_EQ(Tv520ModeFor(c.effect), c.tv520);
        EXPECT_EQ(Mk470ModeFor(c.effect), c.mk470);
    }
    EXPECT_EQ(kGen2MidModeOff, 0);
    EXPECT_EQ(kTv520ModeOff, 0);
    EXPECT_EQ(kMk470ModeOff, 4);
}

}  // namespace
}  // namespace ovra
