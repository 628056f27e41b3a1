// The real hidraw + libudev adapter against device models hosted by umockdev.

#include <gtest/gtest.h>

#include <limits.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <future>
#include <thread>

#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/hid/HidrawEnumerator.h"
#include "sim/umockdev/UmockdevHidHost.h"
#include "tests/hid/ScriptedHidModel.h"

namespace ovra {
namespace {

using namespace std::chrono_literals;
using sim::ModelAction;
using test::ScriptedHidModel;
using Bytes = std::vector<std::uint8_t>;

Bytes Report(std::uint8_t tag) {
    Bytes report(16, 0);
    report[0] = 0x01;
    report[1] = tag;
    report[15] = static_cast<std::uint8_t>(0xF0 | tag);
    return report;
}

bool LogMentions(const RecordingDebugLog& log, const std::string& needle) {
    for (const auto& line : log.Texts())
        if (line.find(needle) != std::string::npos) return true;
    return false;
}

class HidrawAdapterTest : public ::testing::Test {
protected:
    static sim::UmockdevHidHost::Options HostOptions() {
        sim::UmockdevHidHost::Options options;
        options.stalledTransferTimeout = 2000ms;  // the USB core's give-up, shortened
        return options;
    }

    std::unique_ptr<HidDevice> OpenFirst(std::uint16_t vendor, std::uint16_t product, HidStatus& status) {
        for (const auto& info : enumerator.Enumerate())
            if (info.vendorId == vendor && info.productId == product) return enumerator.Open(info, status);
        status = HidStatus::NotFound;
        return nullptr;
    }

    RecordingDebugLog log;
    sim::UmockdevHidHost host{HostOptions()};
    HidrawEnumerator enumerator{log};
};

TEST_F(HidrawAdapterTest, EnumeratesOpensWritesAndReadsReports) {
    auto model = std::make_shared<ScriptedHidModel>(0x0B05, 0x1855);
    const auto id = host.AddDevice(model);

    const auto devices = enumerator.Enumerate();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].node, host.Node(id));
    EXPECT_EQ(devices[0].sysPath, host.SysPath(id));
    EXPECT_EQ(devices[0].vendorId, 0x0B05);
    EXPECT_EQ(devices[0].productId, 0x1855);

    HidStatus status{};
    auto device = enumerator.Open(devices[0], status);
    ASSERT_EQ(status, HidStatus::Ok);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->Capabilities().inputReportByteLength, 16);
    EXPECT_EQ(device->Capabilities().outputReportByteLength, 16);
    EXPECT_EQ(device->Capabilities().featureReportByteLength, 0);
    EXPECT_TRUE(device->Capabilities().usesReportIds);

    ASSERT_EQ(device->WriteOutputReport(Report(7), 500ms), HidStatus::Ok);
    EXPECT_EQ(model->Outputs(), std::vector<Bytes>{Report(7)});

    // On-demand input report: the requested id goes in, the model's bytes come out.
    Bytes answer = Report(9);
    model->SetInputAnswer(answer);
    Bytes buffer(16, 0);
    buffer[0] = 0x01;
    std::size_t length = 0;
    ASSERT_EQ(device->GetInputReport(buffer, length), HidStatus::Ok);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(buffer, answer);

    // The write was echoed as an interrupt-in report; a second handle reads it.
    auto reader = enumerator.Open(devices[0], status);
    ASSERT_TRUE(reader);
    Bytes in(64, 0xEE);
    ASSERT_EQ(reader->ReadInputReport(in, length, 2000ms), HidStatus::Ok);
    ASSERT_EQ(length, 16u);
    EXPECT_EQ(Bytes(in.begin(), in.begin() + 16), Report(7));
    EXPECT_EQ(in[16], 0xEE);
    // Nothing more queued: the wait ends by its timeout.
    EXPECT_EQ(reader->ReadInputReport(in, length, 50ms), HidStatus::Timeout);
}

TEST_F(HidrawAdapterTest, TwoDevicesWithTheSameIdsFirstInEnumerationOrderWins) {
    auto first = std::make_shared<ScriptedHidModel>(0x0B05, 0x1855);
    auto other = std::make_shared<ScriptedHidModel>(0x0B05, 0x1859);
    auto second = std::make_shared<ScriptedHidModel>(0x0B05, 0x1855);
    host.AddDevice(first);
    host.AddDevice(other);
    host.AddDevice(second);

    const auto devices = enumerator.Enumerate();
    ASSERT_EQ(devices.size(), 3u);
    HidStatus status{};
    auto device = OpenFirst(0x0B05, 0x1855, status);
    ASSERT_TRUE(device);
    ASSERT_EQ(device->WriteOutputReport(Report(1), 500ms), HidStatus::Ok);
    EXPECT_EQ(first->Outputs().size(), 1u);
    EXPECT_TRUE(second->Outputs().empty());
    EXPECT_TRUE(other->Outputs().empty());
}

TEST_F(HidrawAdapterTest, OpenCloseOpenGivesAWorkingHandleAndReaderAgain) {
    auto model = std::make_shared<ScriptedHidModel>(0x0B05, 0x1859);
    host.AddDevice(model);
    HidStatus status{};
    for (std::uint8_t round = 1; round <= 2; ++round) {
        auto writer = OpenFirst(0x0B05, 0x1859, status);
        auto reader = OpenFirst(0x0B05, 0x1859, status);
        ASSERT_TRUE(writer && reader) << "round " << int(round);
        std::promise<Bytes> received;
        std::thread readThread([&] {
            Bytes in(16);
            std::size_t length = 0;
            HidStatus s;
            while ((s = reader->ReadInputReport(in, length, -1ms)) == HidStatus::Ok)
                if (in[1] == round) received.set_value(in);
            EXPECT_EQ(s, HidStatus::Interrupted);
        });
        ASSERT_EQ(writer->WriteOutputReport(Report(round), 500ms), HidStatus::Ok);
        auto future = received.get_future();
        ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(future.get(), Report(round));
        reader->CancelReads();  // ends the unlimited wait; nothing is killed
        readThread.join();
    }
    EXPECT_EQ(model->Outputs().size(), 2u);
}

TEST_F(HidrawAdapterTest, UnplugDuringAWriteFailsBoundedAndWakesTheReader) {
    auto model = std::make_shared<ScriptedHidModel>(0x0B05, 0x1855);
    const auto id = host.AddDevice(model);
    HidStatus status{};
    auto writer = OpenFirst(0x0B05, 0x1855, status);
    auto reader = OpenFirst(0x0B05, 0x1855, status);
    ASSERT_TRUE(writer && reader);
    const HidDeviceInfo info = writer->Info();

    std::promise<HidStatus> readerEnd;
    std::thread readThread([&] {
        Bytes in(16);
        std::size_t length = 0;
        readerEnd.set_value(reader->ReadInputReport(in, length, -1ms));
    });
    model->ScriptOutputs({ModelAction::Unplug});
    EXPECT_EQ(writer->WriteOutputReport(Report(1), 500ms), HidStatus::Gone);
    auto readerStatus = readerEnd.get_future();
    ASSERT_EQ(readerStatus.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(readerStatus.get(), HidStatus::Gone);
    readThread.join();

    // Every later call fails at once; the node is no longer listed or openable.
    EXPECT_EQ(writer->WriteOutputReport(Report(2), 500ms), HidStatus::Gone);
    Bytes buffer(16, 0);
    std::size_t length = 0;
    EXPECT_EQ(writer->GetInputReport(buffer, length), HidStatus::Gone);
    for (int i = 0; i < 100 && host.IsPresent(id); ++i) std::this_thread::sleep_for(10ms);
    for (int i = 0; i < 100 && !enumerator.Enumerate().empty(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(enumerator.Enumerate().empty());
    EXPECT_EQ(enumerator.Open(info, status), nullptr);
    EXPECT_EQ(status, HidStatus::NotFound);
}

TEST_F(HidrawAdapterTest, StallPastTheTimeoutIsReportedAsTimeoutAndTheDeviceRecovers) {
    auto model = std::make_shared<ScriptedHidModel>(0x0B05, 0x1855);
    host.AddDevice(model);
    HidStatus status{};
    auto device = OpenFirst(0x0B05, 0x1855, status);
    ASSERT_TRUE(device);

    model->ScriptOutputs({ModelAction::NoAnswer});
    EXPECT_EQ(device->WriteOutputReport(Report(1), 500ms), HidStatus::Timeout);
    EXPECT_TRUE(LogMentions(log, "not completed within 500 ms"));
    // The stalled transfer still occupies the device: the next write gives up
    // after its own timeout instead of queueing behind it without bound.
    EXPECT_EQ(device->WriteOutputReport(Report(2), 100ms), HidStatus::Timeout);
    EXPECT_TRUE(LogMentions(log, "not sent: an earlier transfer is still stuck"));
    // Once the USB core has given up on the stalled transfer, writes work again.
    HidStatus after = HidStatus::Timeout;
    for (int i = 0; i < 10 && after == HidStatus::Timeout; ++i) after = device->WriteOutputReport(Report(3), 500ms);
    EXPECT_EQ(after, HidStatus::Ok);

    model->ScriptInputs({ModelAction::NoAnswer});
    Bytes buffer(16, 0);
    buffer[0] = 1;
    std::size_t length = 0;
    EXPECT_EQ(device->GetInputReport(buffer, length), HidStatus::Timeout);
}

TEST_F(HidrawAdapterTest, RejectedAndShortAnswersAreErrorsNotSuccess) {
    auto model = std::make_shared<ScriptedHidModel>(0x0B05, 0x1855);
    host.AddDevice(model);
    HidStatus status{};
    auto device = OpenFirst(0x0B05, 0x1855, status);
    ASSERT_TRUE(device);

    model->ScriptOutputs({ModelAction::Reject});
    EXPECT_EQ(device->WriteOutputReport(Report(1), 500ms), HidStatus::IoError);
    model->ScriptInputs({ModelAction::Reject});
    Bytes buffer(16, 0);
    buffer[0] = 1;
    std::size_t length = 99;
    EXPECT_EQ(device->GetInputReport(buffer, length), HidStatus::IoError);
    EXPECT_EQ(length, 0u);

    // A short answer is passed on with its true length.
    model->SetInputAnswer({0x01, 0x02, 0x03});
    ASSERT_EQ(device->GetInputReport(buffer, length), HidStatus::Ok);
    EXPECT_EQ(length, 3u);

    // Reports longer than the device's output reports never reach it.
    EXPECT_EQ(device->WriteOutputReport(Bytes(17, 1), 500ms), HidStatus::InvalidArgument);
    EXPECT_EQ(device->WriteOutputReport({}, 500ms), HidStatus::InvalidArgument);
    EXPECT_EQ(model->Outputs().size(), 1u);
}

TEST_F(HidrawAdapterTest, ReadsAreBoundedByTheCallersBuffer) {
    auto model = std::make_shared<ScriptedHidModel>(0x0B05, 0x1842);
    const auto id = host.AddDevice(model);
    HidStatus status{};
    auto device = OpenFirst(0x0B05, 0x1842, status);
    ASSERT_TRUE(device);

    Bytes big(32);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i + 1);
    model->SendInterrupt(big);
    host.DeliverInterruptReports(id);
    Bytes small(8, 0);
    std::size_t length = 0;
    ASSERT_EQ(device->ReadInputReport(std::span(small).first(5), length, 2000ms), HidStatus::Ok);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(small, (Bytes{1, 2, 3, 4, 5, 0, 0, 0}));
}

TEST_F(HidrawAdapterTest, MalformedReportDescriptorIsRefusedWithALogLine) {
    // Collection opened and the input item cut off after its prefix.
    auto model = std::make_shared<ScriptedHidModel>(0x0B05, 0x1855, Bytes{0x06, 0x00, 0xFF, 0xA1, 0x01, 0x75, 0x08, 0x82});
    host.AddDevice(model);
    HidStatus status{};
    auto device = OpenFirst(0x0B05, 0x1855, status);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(status, HidStatus::IoError);
    EXPECT_TRUE(LogMentions(log, "report descriptor of /dev/hidraw0 is malformed at byte 7: truncated item"));
}

TEST_F(HidrawAdapterTest, PermissionDeniedNamesTheNodeAndTheUdevRule) {
    auto model = std::make_shared<ScriptedHidModel>(0x0B05, 0x1859);
    const auto id = host.AddDevice(model);
    const auto devices = enumerator.Enumerate();
    ASSERT_EQ(devices.size(), 1u);

    // The node as a system without our udev rule has it: nobody but root may
    // open it. As root, this thread drops its file-system identity (which also
    // drops the capability to override permissions) for the open.
    char pty[PATH_MAX] = {};
    ASSERT_NE(realpath((host.RootDir() + host.Node(id)).c_str(), pty), nullptr);
    ASSERT_EQ(chmod(pty, 0), 0);
    // The testbed itself must stay reachable for the preload library.
    ASSERT_EQ(chmod(host.RootDir().c_str(), 0755), 0);
    ASSERT_EQ(chmod((host.RootDir() + "/ioctl" + host.Node(id)).c_str(), 0666), 0);
    const bool root = geteuid() == 0;
    if (root) setfsuid(65534);
    HidStatus status{};
    auto device = enumerator.Open(devices[0], status);
    if (root) setfsuid(0);

    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(status, HidStatus::AccessDenied);
    EXPECT_TRUE(LogMentions(log, "permission denied opening /dev/hidraw0 (0b05:1859)"));
    EXPECT_TRUE(LogMentions(log, "packaging/udev/70-ovra.rules"));
}

}  // namespace
}  // namespace ovra
