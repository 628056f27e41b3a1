// The extension-unit channel on its own: command blocks, data pieces, the
// cross-process lock and the error report.
#include "bridge_library/ExtUnitChannel.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/bridge_lib/ModelTestBed.h"

namespace ovra::brx::test {
namespace {

using namespace std::chrono_literals;

class ExtUnitChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        device = &bed.AddDevice(0x1858, {.vendorChannel = false});
        UsbDeviceLocation where;
        where.deviceAddress = device->address;
        ASSERT_TRUE(bed.requests.OpenDevice(where, 0, &location.context).ok);
        channel = std::make_unique<ExtUnitChannel>(bed.requests, location, 6, bed.named, log);
    }
    std::vector<ModelRequests::Sent> Sent() const { return bed.requests.journal; }

    ModelTestBed bed;
    ModelDevice* device = nullptr;
    CamLocation location;
    BrxLog log{bed.log};
    std::unique_ptr<ExtUnitChannel> channel;
};

TEST_F(ExtUnitChannelTest, QualifiesOnlyTheExactSignature) {
    EXPECT_TRUE(channel->DevQualify());
    ASSERT_EQ(Sent().size(), 2u);
    EXPECT_EQ(Sent()[0].out, (std::vector<std::uint8_t>{0x00, 0xD0, 0, 0, 8, 0, 0, 0}));
    const std::array<std::uint8_t, 8> other{'V', 'E', 'L', 'T', 'R', 'I', 'X', 1};
    device->model.SetStatusSignature(other);
    EXPECT_FALSE(channel->DevQualify());
    EXPECT_TRUE(bed.log.Contains("Not veltrix device\r\n"));
}

TEST_F(ExtUnitChannelTest, WritesPadTheLastPieceAndSplitLongTransfers) {
    std::vector<std::uint8_t> thirteen(13);
    for (std::size_t i = 0; i < thirteen.size(); ++i) thirteen[i] = static_cast<std::uint8_t>(i + 1);
    EXPECT_EQ(channel->WriteMem(0x1234, thirteen, nullptr, nullptr), 0u);
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].out, (std::vector<std::uint8_t>{0x00, 0x82, 0x34, 0x12, 13, 0, 0, 0}));
    EXPECT_EQ(sent[1].out, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(sent[2].out, (std::vector<std::uint8_t>{9, 10, 11, 12, 13, 0, 0, 0}));
    EXPECT_EQ(device->model.Memory(0x1234 + 12), 13);

    bed.requests.journal.clear();
    std::vector<std::uint8_t> big(0x10000);
    std::uint32_t progressBytes = 0;
    EXPECT_EQ(channel->ReadMem(0, big,
                               [](void* user, std::uint32_t n) { *static_cast<std::uint32_t*>(user) += n; },
                               &progressBytes),
              0u);
    EXPECT_EQ(progressBytes, 0x10000u);
    std::vector<std::vector<std::uint8_t>> blocks;
    for (const auto& s : Sent())
        if (!s.out.empty()) blocks.push_back(s.out);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], (std::vector<std::uint8_t>{0x00, 0xC2, 0x00, 0x00, 0x00, 0x80, 0, 0}));
    EXPECT_EQ(blocks[1], (std::vector<std::uint8_t>{0x00, 0xC2, 0x00, 0x80, 0x00, 0x80, 0, 0}));
    EXPECT_EQ(device->model.Interleaves(), 0u);
    EXPECT_EQ(channel->ReadMem(0, {}, nullptr, nullptr), 0u);  // nothing to move, nothing sent
    EXPECT_EQ(Sent().size(), 2u + 0x10000u / 8);
}

TEST_F(ExtUnitChannelTest, AFailedStepIsReportedWithTheDeviceStatus) {
    device->model.InjectFault(sim::TransferFault::Stall);
    const std::array<std::uint8_t, 16> packet{};
    const std::uint32_t code = channel->I2CSuperWrite(0xA4, 8, packet);
    EXPECT_EQ(code, HresultFromError(kErrorGenFailure));
    EXPECT_TRUE(bed.log.Contains("SetCmd failed 31\r\n"));
    EXPECT_TRUE(bed.log.Contains("I2CSuperWrite error 8007001f, VCMD_STS_CMD\r\n"));
    // The report clears the device's status with FF 00 ... 00.
    EXPECT_EQ(Sent().back().out, (std::vector<std::uint8_t>{0xFF, 0, 0, 0, 0, 0, 0, 0}));

    // A slave that does not answer fails the data phase; the line names the
    // slave plus the bytes moved, and the status the bridge reports.
    device->headset.SetNak(true);
    std::array<std::uint8_t, 20> read{};
    EXPECT_NE(channel->I2CSuperRead(0xA4, 4, read), 0u);
    EXPECT_TRUE(bed.log.Contains("I2CSuperRead GetData SlaveAddr=0xA4 error 8007001f, VCMD_STS_ERR_DIR\r\n"));
}

TEST_F(ExtUnitChannelTest, StatusNamesIncludeTheUndefinedOnes) {
    EXPECT_STREQ(ExtUnitStatusName(0x05), "VCMD_STS_ERR_LEN");
    EXPECT_STREQ(ExtUnitStatusName(0xFE), "VCMD_STS_RET_NO_ERR");
    EXPECT_STREQ(ExtUnitStatusName(0x0A), "Undefined ExtUnit error code\n");
}

TEST_F(ExtUnitChannelTest, ALockHeldElsewhereTimesTheOperationOut) {
    // The product waits 10 s; this channel waits 50 ms, same path.
    channel = std::make_unique<ExtUnitChannel>(bed.requests, location, 6, bed.named, log, 50ms);
    auto other = bed.named.CreateMutex(kOperateLockName, false, nullptr);
    std::thread holder([&] { ASSERT_EQ(other->Lock(0ms), WaitResult::Signaled); });
    holder.join();  // the lock now belongs to a thread that is gone but never released it
    const std::array<std::uint8_t, 16> packet{};
    EXPECT_EQ(channel->I2CSuperWrite(0xA4, 8, packet), 1u);
    EXPECT_TRUE(bed.log.Contains("CExtUnitBase::I2CSuperWrite wait time out\r\n"));
    EXPECT_TRUE(Sent().empty());
    EXPECT_FALSE(channel->DevQualify());
}

TEST_F(ExtUnitChannelTest, AnAbandonedLockStopsOneOperationOnly) {
    auto other = bed.named.CreateMutex(kOperateLockName, false, nullptr);
    ASSERT_EQ(other->Lock(0ms), WaitResult::Signaled);
    bed.named.AbandonMutex(kOperateLockName);
    const std::array<std::uint8_t, 16> packet{};
    EXPECT_EQ(channel->I2CSuperWrite(0xA4, 8, packet), 1u);
    EXPECT_TRUE(bed.log.Contains("CExtUnitBase::I2CSuperWrite : WAIT_ABANDONED\r\n"));
    EXPECT_EQ(channel->I2CSuperWrite(0xA4, 8, packet), 0u);
}

}  // namespace
}  // namespace ovra::brx::test
