#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "device_access/HidControl.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/RecordingDebugLog.h"
#include "sim/hid/Gen2HeadsetModel.h"
#include "sim/hid/InProcessHidHost.h"

namespace ovra {
namespace {

using namespace std::chrono_literals;

class HidControlTest : public ::testing::Test {
protected:
    std::shared_ptr<sim::Gen2HeadsetModel> AddHeadset(sim::Gen2HeadsetConfig config) {
        auto model = std::make_shared<sim::Gen2HeadsetModel>(std::move(config), clock);
        host.Add(model);
        return model;
    }
    static std::vector<std::uint8_t> Report(std::uint8_t value) {
        return {0x01, 0x00, 0x10, 0x01, value, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    }

    ManualClock clock;
    sim::InProcessHidHost host{&clock};
    RecordingDebugLog log;
    HidControl hid{host, log};
};

TEST_F(HidControlTest, OpensFirstMatchWithTwoHandles) {
    AddHeadset(sim::Gen2EntryConfig());
    auto first = AddHeadset(sim::Gen2Config());
    auto second = AddHeadset(sim::Gen2Config());
    ASSERT_TRUE(hid.OpenDevice(0x0B05, 0x1855));
    EXPECT_EQ(hid.DeviceInfo()->node, "sim-hidraw1");
    EXPECT_EQ(host.OpenHandles(), 2u);
    EXPECT_TRUE(hid.WriteOutputReport(Report(0xAB)));
    EXPECT_EQ(first->Memory()[0x10], 0xAB);
    EXPECT_EQ(second->Memory()[0x10], 0x00);
    EXPECT_FALSE(hid.OpenDevice(0x0B05, 0x1858)) << "no such device";
    EXPECT_EQ(host.OpenHandles(), 0u) << "a failed open leaves nothing open";
}

TEST_F(HidControlTest, SkipsANodeItMayNotOpenAndSaysWhy) {
    AddHeadset(sim::Gen2Config());
    AddHeadset(sim::Gen2Config());
    host.DenyAccess("sim-hidraw0");
    ASSERT_TRUE(hid.OpenDevice(0x0B05, 0x1855));
    EXPECT_EQ(hid.DeviceInfo()->node, "sim-hidraw1");
    ASSERT_EQ(log.Texts().size(), 1u);
    EXPECT_NE(log.Texts()[0].find("sim-hidraw0"), std::string::npos);
    EXPECT_NE(log.Texts()[0].find("udev rule"), std::string::npos);
}

TEST_F(HidControlTest, OpenCloseOpenRestartsTheReadThread) {
    AddHeadset(sim::Gen2Config());
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(hid.OpenDevice(0x0B05, 0x1855));
        EXPECT_TRUE(hid.StartReadThread());
        EXPECT_FALSE(hid.StartReadThread()) << "one reader per open device";
        EXPECT_TRUE(hid.WriteOutputReport(Report(0x01)));
        EXPECT_TRUE(hid.CloseDevice());  // joins the reader: it must end promptly
        EXPECT_FALSE(hid.ReadThreadRunning());
        EXPECT_EQ(host.OpenHandles(), 0u);
        EXPECT_FALSE(hid.WriteOutputReport(Report(0x01)));
    }
}

TEST_F(HidControlTest, StalledOrUnpluggedWriteFailsWithinTheBound) {
    auto model = AddHeadset(sim::Gen2Config());
    ASSERT_TRUE(hid.OpenDevice(0x0B05, 0x1855));
    ASSERT_TRUE(hid.StartReadThread());
    model->InjectOutputFault(sim::ModelAction::NoAnswer);
    EXPECT_FALSE(hid.WriteOutputReport(Report(0x01)));
    EXPECT_EQ(clock.TotalSlept(), 500ms);
    model->InjectOutputFault(sim::ModelAction::Unplug);
    EXPECT_FALSE(hid.WriteOutputReport(Report(0x01)));
    EXPECT_EQ(clock.TotalSlept(), 1000ms);
    EXPECT_FALSE(hid.WriteOutputReport(Report(0x01)));
    EXPECT_EQ(clock.TotalSlept(), 1000ms) << "a gone device fails at once";
    EXPECT_TRUE(hid.CloseDevice());
}

// A device whose descriptor declares a huge input report: the reader must
// never ask for more than its buffer holds.
class HugeReportDevice final : public HidDevice {
public:
    const HidDeviceInfo& Info() const override { return info_; }
    const HidCapabilities& Capabilities() const override { return caps_; }
    HidStatus WriteOutputReport(std::span<const std::uint8_t>, std::chrono::milliseconds) override {
        return HidStatus::Ok;
    }
    HidStatus GetInputReport(std::span<std::uint8_t>, std::size_t&) override { return HidStatus::Ok; }
    HidStatus ReadInputReport(std::span<std::uint8_t> buffer, std::size_t& length,
                              std::chrono::milliseconds) override {
        std::unique_lock lock(mutex_);
        largestRead = std::max(largestRead.load(), buffer.size());
        // Fill as much as asked: an unbounded request would overrun.
        std::fill(buffer.begin(), buffer.end(), 0xEE);
        length = buffer.size();
        ++reads;
        wake_.wait(lock, [&] { return cancelled_ || reads < 3; });
        return cancelled_ ? HidStatus::Interrupted : HidStatus::Ok;
    }
    void CancelReads() override {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        wake_.notify_all();
    }
    static inline std::atomic<std::size_t> largestRead{0};
    static inline std::atomic<int> reads{0};

private:
    HidDeviceInfo info_{"fake0", "fake", 0x0B05, 0x1855};
    HidCapabilities caps_{4096, 16, 0, true};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool cancelled_ = false;
};

class HugeReportEnumerator final : public HidEnumerator {
public:
    std::vector<HidDeviceInfo> Enumerate() override { return {{"fake0", "fake", 0x0B05, 0x1855}}; }
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo&, HidStatus& status) override {
        status = HidStatus::Ok;
        return std::make_unique<HugeReportDevice>();
    }
};

TEST(HidControlReadThread, ReadSizeIsBoundedToTheBuffer) {
    HugeReportEnumerator enumerator;
    RecordingDebugLog log;
    HidControl hid(enumerator, log);
    ASSERT_TRUE(hid.OpenDevice(0x0B05, 0x1855));
    EXPECT_EQ(hid.Capabilities().inputReportByteLength, 4096);
    EXPECT_EQ(hid.ReadSize(), HidControl::kReadBufferSize);
    ASSERT_TRUE(hid.StartReadThread());
    while (HugeReportDevice::reads < 3) std::this_thread::yield();
    EXPECT_TRUE(hid.CloseDevice());
    EXPECT_EQ(HugeReportDevice::largestRead, HidControl::kReadBufferSize);
    EXPECT_EQ(hid.ReportsDrained(), 2u);
}

}  // namespace
}  // namespace ovra
