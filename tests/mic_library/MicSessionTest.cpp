// The microphone library's request/answer pairs against the microphone model,
// hosted in-process (the hidraw run is MicLibraryHidrawTest).

#include <gtest/gtest.h>

#include <latch>
#include <thread>

#include "mic_library/MicSession.h"
#include "sim/hid/InProcessHidHost.h"
#include "sim/mic/MicrophoneModel.h"

namespace ovra {
namespace {

using namespace std::chrono_literals;
using Report = MicSession::Report;

constexpr HidCapabilities kMicCaps{33, 33, 0, false};

Report Request(std::uint8_t command, std::uint8_t reg, std::uint8_t value) {
    Report report{};
    report[0] = command;
    report[1] = reg;
    report[2] = value;
    return report;
}

class MicSessionTest : public ::testing::Test {
protected:
    void SetUp() override { node = host.Add(model, kMicCaps).node; }

    sim::InProcessHidHost host;
    std::shared_ptr<sim::MicrophoneModel> model = std::make_shared<sim::MicrophoneModel>();
    std::string node;
    MicSession session{host};
};

TEST_F(MicSessionTest, WriteAndDumpAnswerTheRequest) {
    ASSERT_TRUE(session.Connect(100ms));
    Report write = Request(0x10, 0x05, 0x7E);
    ASSERT_EQ(session.Exchange(write), MicExchangeResult::Ok);
    EXPECT_EQ(write, Request(0x10, 0x05, 0x7E));
    model->SetRegister(0x0B, 0x33);
    Report dump = Request(0x81, 0, 0);
    ASSERT_EQ(session.Exchange(dump), MicExchangeResult::Ok);
    EXPECT_EQ(dump[5], 0x7E);
    EXPECT_EQ(dump[11], 0x33);
    ASSERT_EQ(model->Requests().size(), 2u);
    EXPECT_EQ(model->Requests()[0], std::vector<std::uint8_t>(write.begin(), write.end()));
}

TEST(MicSessionConnect, NoMicrophoneNoConnection) {
    sim::InProcessHidHost host;
    MicSession session(host);
    EXPECT_FALSE(session.Connect(100ms));
    // A device with the right ids but another report size is not the lighting interface.
    host.Add(std::make_shared<sim::MicrophoneModel>(), {17, 17, 0, false});
    EXPECT_FALSE(session.Connect(100ms));
    Report report{};
    EXPECT_EQ(session.Exchange(report), MicExchangeResult::NotConnected);
    EXPECT_TRUE(session.Disconnect());
}

TEST_F(MicSessionTest, BadAnswersFailWithinTheBoundAndLeaveTheReport) {
    ASSERT_TRUE(session.Connect(40ms));
    for (auto fault : {sim::MicFault::Garbage, sim::MicFault::ShortAnswer, sim::MicFault::NoAnswer}) {
        SCOPED_TRACE(static_cast<int>(fault));
        model->SetFault(fault);
        Report report = Request(0x81, 0, 0);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(session.Exchange(report), MicExchangeResult::NoAnswer);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        EXPECT_EQ(report, Request(0x81, 0, 0));
    }
    model->SetFault(sim::MicFault::None);
    Report report = Request(0x81, 0, 0);
    EXPECT_EQ(session.Exchange(report), MicExchangeResult::Ok);
}

TEST_F(MicSessionTest, UnplugMidRequestFailsAndLetsTheDeviceGo) {
    ASSERT_TRUE(session.Connect(40ms));
    model->SetFault(sim::MicFault::UnplugOnRequest);
    Report report = Request(0x10, 0x07, 4);
    EXPECT_NE(session.Exchange(report), MicExchangeResult::Ok);
    EXPECT_EQ(session.Exchange(report), MicExchangeResult::DeviceGone);
    EXPECT_FALSE(session.Connected());
    EXPECT_EQ(session.Exchange(report), MicExchangeResult::NotConnected);
}

TEST_F(MicSessionTest, TwoThreadsNeverGetEachOthersAnswers) {
    ASSERT_TRUE(session.Connect(500ms));
    constexpr int kRounds = 400;
    std::latch start(2);
    std::thread writer([&] {
        start.arrive_and_wait();
        for (int i = 0; i < kRounds; ++i) {
            Report report = Request(0x10, 0x0C, static_cast<std::uint8_t>(i));
            ASSERT_EQ(session.Exchange(report), MicExchangeResult::Ok);
            ASSERT_EQ(report, Request(0x10, 0x0C, static_cast<std::uint8_t>(i)));
        }
    });
    std::thread reader([&] {
        start.arrive_and_wait();
        for (int i = 0; i < kRounds; ++i) {
            Report report = Request(0x81, 0, 0);
            ASSERT_EQ(session.Exchange(report), MicExchangeResult::Ok);
            ASSERT_EQ(report[0], 0x81);
        }
    });
    writer.join();
    reader.join();
}

}  // namespace
}  // namespace ovra
