// The exports' behaviour against in-process bridge-chip models.
#include <gtest/gtest.h>

#include <array>

#include "tests/bridge_lib/ModelTestBed.h"

namespace ovra::brx::test {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kPlainPid = 0x1858;
constexpr unsigned kEnePid = 0x1876;
constexpr int kHeadset = 0xA4;

class BrxLibraryTest : public ::testing::Test {
protected:
    BrxLibrary& Lib() { return bed.Library(); }
    int InitAndOpen(unsigned pid) {
        EXPECT_EQ(Lib().Initialize(0, 0), 1);
        return Lib().OpenPid(pid);
    }
    std::vector<ModelRequests::Sent> SentSince(std::size_t from) const {
        return {bed.requests.journal.begin() + static_cast<std::ptrdiff_t>(from), bed.requests.journal.end()};
    }
    ModelTestBed bed;
};

TEST_F(BrxLibraryTest, OpenPidPicksTheDeviceByProductAndKeepsIt) {
    bed.AddDevice(kPlainPid);
    bed.AddDevice(kEnePid);
    const int handle = InitAndOpen(kEnePid);
    EXPECT_EQ(handle, static_cast<int>(bed.functions[1]));
    // The non-matching device was opened, qualified and closed again.
    EXPECT_EQ(bed.requests.OpenContexts(), 1u);

    // While a device is open, any open answers the same handle and touches nothing.
    const std::size_t before = bed.requests.journal.size();
    EXPECT_EQ(Lib().OpenPid(kPlainPid), handle);
    EXPECT_EQ(Lib().Open(0), handle);
    EXPECT_EQ(bed.requests.journal.size(), before);

    EXPECT_EQ(Lib().Close(), 1);
    EXPECT_EQ(bed.requests.OpenContexts(), 0u);
    EXPECT_EQ(Lib().Close(), 1);  // nothing open: still 1
    EXPECT_EQ(Lib().OpenPid(0x9999), 0);
    EXPECT_EQ(bed.requests.OpenContexts(), 0u);
}

TEST_F(BrxLibraryTest, OpenByIndexWithinTheList) {
    EXPECT_EQ(Lib().Initialize(0, 0), 1);
    EXPECT_EQ(Lib().Open(0), 0);  // empty list
    bed.AddDevice(kPlainPid);
    bed.AddDevice(kEnePid);
    EXPECT_EQ(Lib().Open(2), 0);  // index == count
    EXPECT_EQ(Lib().Open(1), static_cast<int>(bed.functions[1]));
}

TEST_F(BrxLibraryTest, DevicesThatDoNotQualifyAreClosedAgain) {
    struct Case {
        const char* name;
        int openMode;
        ModelTestBed::Options options;
        bool badSignature;
    };
    const Case cases[] = {
        {"open mode other than 0", 1, {}, false},
        {"no extension unit", 0, {.extensionUnit = false}, false},
        {"signature with a nonzero last byte", 0, {}, true},
    };
    for (const Case& c : cases) {
        ModelTestBed local;
        ModelDevice& device = local.AddDevice(kEnePid, c.options);
        if (c.badSignature) {
            const std::array<std::uint8_t, 8> text{'V', 'E', 'L', 'T', 'R', 'I', 'X', 'S'};
            device.model.SetStatusSignature(text);
        }
        ASSERT_EQ(local.Library().Initialize(0, c.openMode), 1);
        EXPECT_EQ(local.Library().OpenPid(kEnePid), 0) << c.name;
        EXPECT_EQ(local.requests.OpenContexts(), 0u) << c.name;
        EXPECT_FALSE(local.Library().HasOpenDevice()) << c.name;
    }
}

TEST_F(BrxLibraryTest, WithoutTheProxyChannelNothingOpens) {
    bed.AddDevice(kEnePid);
    bed.session.succeed = false;
    EXPECT_EQ(Lib().Initialize(0, 0), 0);
    bed.requests.channelOpen = false;
    EXPECT_EQ(Lib().OpenPid(kEnePid), 0);
    EXPECT_TRUE(bed.log.Contains("KvProxy_Open failed 3, device handle : " +
                                 [&] { char t[16]; std::snprintf(t, sizeof t, "%08X", bed.functions[0]); return std::string(t); }() +
                                 "\r\n"));
}

TEST_F(BrxLibraryTest, InitializeTwiceIsFine) {
    EXPECT_EQ(Lib().Initialize(0, 0), 1);
    EXPECT_EQ(Lib().Initialize(0, 0), 1);
    EXPECT_EQ(Lib().UnInitialize(), 1);
    EXPECT_FALSE(bed.session.open);
}

TEST_F(BrxLibraryTest, VendorChannelSuperWriteIsOneRequestInItsWireFormat) {
    ModelDevice& device = bed.AddDevice(kEnePid);
    ASSERT_NE(InitAndOpen(kEnePid), 0);
    const std::size_t from = bed.requests.journal.size();
    const std::array<std::uint8_t, 2> data{0x11, 0x22};
    EXPECT_EQ(Lib().WriteSuperRegister(kHeadset, 2, 1, 0x00, 2, data.data()), 1);
    const auto sent = SentSince(from);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].setup.bmRequestType, 0x40);
    EXPECT_EQ(sent[0].setup.bRequest, 0x3E);
    EXPECT_EQ(sent[0].setup.wValue, 0x0052);
    EXPECT_EQ(sent[0].setup.wIndex, 0x0200);
    EXPECT_EQ(sent[0].setup.wLength, 3);
    EXPECT_EQ(sent[0].out, (std::vector<std::uint8_t>{0x00, 0x11, 0x22}));
    ASSERT_EQ(device.headset.Writes().size(), 1u);
    EXPECT_EQ(device.headset.Writes()[0].data, (std::vector<std::uint8_t>{0x11, 0x22}));
}

TEST_F(BrxLibraryTest, VendorChannelSuperReadSendsAddressThenReads) {
    ModelDevice& device = bed.AddDevice(kEnePid);
    device.headset.Set(0x81, 0x5A);
    ASSERT_NE(InitAndOpen(kEnePid), 0);
    const std::size_t from = bed.requests.journal.size();
    std::array<std::uint8_t, 1> answer{0xEE};
    EXPECT_EQ(Lib().ReadSuperRegister(kHeadset, 2, 1, 0x81, 1, answer.data()), 1);
    EXPECT_EQ(answer[0], 0x5A);
    const auto sent = SentSince(from);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].setup.bmRequestType, 0x40);
    EXPECT_EQ(sent[0].out, (std::vector<std::uint8_t>{0x81, 0x00}));
    EXPECT_EQ(sent[1].setup.bmRequestType, 0xC0);
    for (const auto& s : sent) {
        EXPECT_EQ(s.setup.bRequest, 0x3D);
        EXPECT_EQ(s.setup.wValue, 0x0052);
        EXPECT_EQ(s.setup.wIndex, 0x0100);
        EXPECT_EQ(s.setup.wLength, 2);
    }
}

TEST_F(BrxLibraryTest, ExtensionUnitChannelCarriesTheWholePacket) {
    ModelDevice& device = bed.AddDevice(kPlainPid, {.vendorChannel = false});
    ASSERT_NE(InitAndOpen(kPlainPid), 0);
    const std::size_t from = bed.requests.journal.size();
    const std::array<std::uint8_t, 2> data{0x11, 0x22};
    EXPECT_EQ(Lib().WriteSuperRegister(kHeadset, 2, 1, 0x81, 2, data.data()), 1);
    const auto sent = SentSince(from);
    ASSERT_EQ(sent.size(), 3u);  // command block, two data pieces
    EXPECT_EQ(sent[0].setup.bmRequestType, 0x21);
    EXPECT_EQ(sent[0].setup.wValue, 10 << 8);
    EXPECT_EQ(sent[0].setup.wIndex, 6 << 8);
    EXPECT_EQ(sent[0].out, (std::vector<std::uint8_t>{0x00, 0xB2, 0xA4, 0x00, 0x0A, 0x00, 0x00, 0x00}));
    EXPECT_EQ(sent[1].setup.wValue, 11 << 8);
    EXPECT_EQ(sent[1].out, (std::vector<std::uint8_t>{0, 1, 0x81, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sent[2].out, (std::vector<std::uint8_t>{0x11, 0x22, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(device.headset.Get(0x81), 0x11);
    EXPECT_EQ(device.headset.Get(0x82), 0x22);

    // The read on this channel sends no address: it reads where the last write left off.
    std::array<std::uint8_t, 2> back{};
    EXPECT_EQ(Lib().ReadSuperRegister(kHeadset, 2, 1, 0x81, 2, back.data()), 1);
    EXPECT_EQ(back, data);
    EXPECT_EQ(device.model.Interleaves(), 0u);
    // Without the vendor channel there is no customer control.
    EXPECT_EQ(Lib().CustomerControl(3), 0);
}

TEST_F(BrxLibraryTest, ArgumentsAreCheckedBeforeAnythingIsSent) {
    bed.AddDevice(kEnePid);
    std::array<std::uint8_t, 64> buffer{};
    // No device open yet.
    EXPECT_EQ(Lib().WriteSuperRegister(kHeadset, 2, 1, 0, 1, buffer.data()), 0);
    EXPECT_EQ(Lib().ReadDspRegister(kHeadset, 0, nullptr, 2), 0);
    ASSERT_NE(InitAndOpen(kEnePid), 0);
    const std::size_t from = bed.requests.journal.size();
    EXPECT_EQ(Lib().WriteSuperRegister(kHeadset, 2, 1, 0, 61, buffer.data()), 0);
    EXPECT_EQ(Lib().ReadSuperRegister(kHeadset, 2, 1, 0, 61, buffer.data()), 0);
    EXPECT_EQ(Lib().WriteSuperRegister(kHeadset, 2, 0, 0, 1, buffer.data()), 0);
    EXPECT_EQ(Lib().WriteSuperRegister(kHeadset, 2, 5, 0, 1, buffer.data()), 0);
    EXPECT_EQ(Lib().ReadSuperRegister(kHeadset, 2, 5, 0, 1, buffer.data()), 0);
    EXPECT_EQ(Lib().WriteSuperRegister(kHeadset, 2, 1, 0, 4, nullptr), 0);
    EXPECT_EQ(Lib().ReadDspRegister(kHeadset, 0, nullptr, 2), 0);
    EXPECT_EQ(Lib().WriteDspRegister(kHeadset, 0, 0, 5), 0);
    EXPECT_EQ(bed.requests.journal.size(), from);
    // The limits themselves are accepted: 60 data bytes, and none at all.
    EXPECT_EQ(Lib().WriteSuperRegister(kHeadset, 2, 1, 0, 60, buffer.data()), 1);
    EXPECT_EQ(Lib().WriteSuperRegister(kHeadset, 2, 4, 0, 0, buffer.data()), 1);
}

}  // namespace
}  // namespace ovra::brx::test

namespace ovra::brx::test {
namespace {

using namespace std::chrono_literals;

class BrxLibraryFlows : public ::testing::Test {
protected:
    BrxLibrary& Lib() { return bed.Library(); }
    ModelTestBed bed;
};

TEST_F(BrxLibraryFlows, BusModeTwoLeavesTheBusAloneOthersPrepareIt) {
    ModelDevice& device = bed.AddDevice(0x1876);
    ASSERT_EQ(Lib().Initialize(0, 0), 1);
    ASSERT_NE(Lib().OpenPid(0x1876), 0);
    const std::array<std::uint8_t, 1> data{0x01};
    for (int busMode : {2, 0, 1, 0}) {
        const std::size_t from = bed.requests.journal.size();
        bed.clock.ClearSleeps();
        ASSERT_EQ(Lib().WriteSuperRegister(0xA4, busMode, 1, 0x01, 1, data.data()), 1);
        std::size_t memoryRequests = 0;
        for (std::size_t i = from; i < bed.requests.journal.size(); ++i) {
            const auto& s = bed.requests.journal[i].setup;
            if (s.bRequest == 0x24 || s.bRequest == 0x25) ++memoryRequests;
        }
        if (busMode == 2) {
            EXPECT_EQ(memoryRequests, 0u);
        } else {
            EXPECT_GE(memoryRequests, 6u) << busMode;
            EXPECT_EQ(device.model.Memory(0xFFAE), busMode == 0 ? 0x12 : 0x1E);
            EXPECT_EQ(device.model.Memory(0xFFAF), 0x0F);
            EXPECT_EQ(device.model.Memory(0xFE00), 0x01);
        }
    }
    // The first preparation programmed the bus (20 + 20 + 20 + 500 ms of waits);
    // the last one found it ready and only set the mode.
    EXPECT_EQ(bed.clock.TotalSlept(), 0ms);
}

TEST_F(BrxLibraryFlows, DspWindowWritesInOrder) {
    ModelDevice& device = bed.AddDevice(0x1876);
    ASSERT_EQ(Lib().Initialize(0, 0), 1);
    ASSERT_NE(Lib().OpenPid(0x1876), 0);
    EXPECT_EQ(Lib().WriteDspRegister(0xA4, 0x12345678, 0xAABBCCDD, 4), 1);
    const auto writes = device.headset.Writes();
    ASSERT_EQ(writes.size(), 5u);
    const std::pair<std::uint32_t, std::vector<std::uint8_t>> expected[] = {
        {1, {0x56, 0x78}}, {2, {0x12, 0x34}}, {3, {0xCC, 0xDD}}, {4, {0xAA, 0xBB}}, {0, {0x00, 0x03}}};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(writes[i].subAddress, expected[i].first);
        EXPECT_EQ(writes[i].data, expected[i].second);
    }
    EXPECT_EQ(Lib().WriteDspRegister(0xA4, 0x10, 0xAABBCCDD, 2), 1);
    EXPECT_EQ(device.headset.Writes().back().data, (std::vector<std::uint8_t>{0x00, 0x01}));
    EXPECT_EQ(device.headset.Writes()[8].data, (std::vector<std::uint8_t>{0xCC, 0xDD}));  // both data words low
}

TEST_F(BrxLibraryFlows, DspWindowReadsByWidth) {
    ModelDevice& device = bed.AddDevice(0x1876);
    ASSERT_EQ(Lib().Initialize(0, 0), 1);
    ASSERT_NE(Lib().OpenPid(0x1876), 0);
    // Window registers are 16 bits wide but the register file counts bytes:
    // a 2-byte read at 3 gives bytes 3 and 4, at 4 bytes 4 and 5; the write
    // of the address's high word (00 12 at 2) leaves 0x12 in byte 3.
    device.headset.Set(3, 0x12);
    device.headset.Set(4, 0x34);
    device.headset.Set(5, 0x56);
    struct Case {
        unsigned width;
        unsigned expected;
    };
    for (const Case c : {Case{2, 0x1234}, Case{4, 0x34561234}, Case{3, 0xDEADBEEF}, Case{0, 0xDEADBEEF}}) {
        unsigned value = 0xDEADBEEF;
        const std::size_t writesBefore = device.headset.Writes().size();
        EXPECT_EQ(Lib().ReadDspRegister(0xA4, 0x00120010, &value, c.width), 1);
        EXPECT_EQ(value, c.expected) << c.width;
        const auto writes = device.headset.Writes();
        ASSERT_EQ(writes.size(), writesBefore + 3);
        EXPECT_EQ(writes[writesBefore].data, (std::vector<std::uint8_t>{0x00, 0x10}));
        EXPECT_EQ(writes[writesBefore + 1].data, (std::vector<std::uint8_t>{0x00, 0x12}));
        EXPECT_EQ(writes[writesBefore + 2].data, (std::vector<std::uint8_t>{0x00, 0x02}));
    }
    device.headset.SetNak(true);
    unsigned value = 7;
    EXPECT_EQ(Lib().ReadDspRegister(0xA4, 0, &value, 2), 0);
    EXPECT_EQ(value, 7u);
}

TEST_F(BrxLibraryFlows, CustomerControlGoesOutAsVendorRequest) {
    ModelDevice& device = bed.AddDevice(0x1876);
    ASSERT_EQ(Lib().Initialize(0, 0), 1);
    EXPECT_EQ(Lib().CustomerControl(3), 0);  // no device
    ASSERT_NE(Lib().OpenPid(0x1876), 0);
    EXPECT_EQ(Lib().CustomerControl(3), 1);
    EXPECT_EQ(Lib().CustomerControl(0x102), 1);
    EXPECT_EQ(device.model.CustomerControls(), (std::vector<std::uint16_t>{3, 2}));
    const auto& last = bed.requests.journal.back().setup;
    EXPECT_EQ(last.bmRequestType, 0x40);
    EXPECT_EQ(last.bRequest, 0x6A);
    EXPECT_EQ(last.wIndex, 0);
    EXPECT_EQ(last.wLength, 0);
}

TEST_F(BrxLibraryFlows, WaitsForADeviceWakingUpButNotForEver) {
    ModelDevice& sleepy = bed.AddDevice(0x1876);
    sleepy.notReadyAnswers = 3;
    ASSERT_EQ(Lib().Initialize(0, 0), 1);
    ASSERT_NE(Lib().OpenPid(0x1876), 0);
    // The probe's record waited 200 ms and three retries of 200 ms.
    const auto sleeps = bed.clock.Sleeps();
    ASSERT_GE(sleeps.size(), 4u);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(sleeps[0] + sleeps[1] + sleeps[2] + sleeps[3]), 800ms);
    Lib().Close();

    sleepy.notReadyAnswers = 1000;
    bed.clock.ClearSleeps();
    EXPECT_EQ(Lib().OpenPid(0x1876), 0);
    EXPECT_EQ(bed.requests.OpenContexts(), 0u);
    EXPECT_EQ(bed.clock.TotalSlept(), (kMaxWakeRetries + 1) * 200ms);
}

TEST_F(BrxLibraryFlows, WalksPastAnExternalHubToTheRootHub) {
    bed.AddDevice(0x1876, {.behindHub = true, .rootHubId = "USB\\ROOT_HUB20\\usb1"});
    ASSERT_EQ(Lib().Initialize(0, 0), 1);
    ASSERT_NE(Lib().OpenPid(0x1876), 0);
    EXPECT_TRUE(bed.log.Contains("Search for device location completed, last device: USB\\ROOT_HUB20\\usb1\r\n"));
}

TEST_F(BrxLibraryFlows, NoRootHubNoDevice) {
    bed.AddDevice(0x1876, {.rootHubId = "USB\\VID_1234&PID_0001\\top"});
    ASSERT_EQ(Lib().Initialize(0, 0), 1);
    EXPECT_EQ(Lib().OpenPid(0x1876), 0);
    EXPECT_TRUE(bed.log.Contains("No matching device found\r\n"));
    EXPECT_EQ(bed.requests.OpenContexts(), 0u);
}

TEST_F(BrxLibraryFlows, GarbageDescriptorsNeverQualify) {
    ModelDevice& device = bed.AddDevice(0x1876);
    // A configuration whose audio-control interface is followed by a
    // zero-length descriptor.
    device.model.SetConfigurationOverride({9, 2, 22, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 0, 1, 1, 0, 0, 0, 0x24, 8, 6});
    ASSERT_EQ(Lib().Initialize(0, 0), 1);
    EXPECT_EQ(Lib().OpenPid(0x1876), 0);
    EXPECT_TRUE(bed.log.Contains("No KV extension unit found\r\n"));
    EXPECT_EQ(bed.requests.OpenContexts(), 0u);
}

TEST_F(BrxLibraryFlows, ADeviceThatVanishesMidTransferFails) {
    ModelDevice& device = bed.AddDevice(0x1876);
    ASSERT_EQ(Lib().Initialize(0, 0), 1);
    ASSERT_NE(Lib().OpenPid(0x1876), 0);
    const std::array<std::uint8_t, 2> data{1, 2};
    std::array<std::uint8_t, 4> answer{9, 9, 9, 9};
    // The address phase goes out whole; the answer comes short.
    device.model.InjectFault(sim::TransferFault::Short, 2);
    EXPECT_EQ(Lib().ReadSuperRegister(0xA4, 2, 1, 0, 4, answer.data()), 0);
    EXPECT_EQ(answer, (std::array<std::uint8_t, 4>{9, 9, 9, 9}));
    device.model.InjectFault(sim::TransferFault::Stall);
    EXPECT_EQ(Lib().WriteSuperRegister(0xA4, 2, 1, 0, 2, data.data()), 0);
    device.model.InjectFault(sim::TransferFault::Unplug);
    EXPECT_EQ(Lib().WriteSuperRegister(0xA4, 2, 1, 0, 2, data.data()), 0);
    EXPECT_EQ(Lib().WriteSuperRegister(0xA4, 2, 1, 0, 2, data.data()), 0);
    EXPECT_TRUE(bed.log.Contains("CVendorRequestV2 SendRequest failed: 8007048f\r\n"));
    EXPECT_EQ(Lib().Close(), 1);
}

}  // namespace
}  // namespace ovra::brx::test
