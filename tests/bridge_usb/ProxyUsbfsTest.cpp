// The proxy program running the library's URBs with its real libusb on the
// bridge-chip model behind umockdev: library request client -> socket ->
// KvsUpx -> libusb -> usbfs (umockdev) -> model -> I2C device.

#include <gtest/gtest.h>

#include <libusb.h>

#include <array>
#include <cstring>
#include <memory>

#include "bridge_library/install/ProxyClient.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/proxy/SocketProxyChannel.h"
#include "sim/bridge_chip/RegisterFileI2cDevice.h"
#include "sim/bridge_chip/UsbfsHost.h"
#include "tests/bridge_usb/ProxyProcess.h"

namespace ovra {
namespace {

using proxy::MakeInterfaceHandle;

class ProxyUsbfsTest : public ::testing::Test {
protected:
    void SetUp() override {
        model.AttachI2c(0xA4, &headset);
        ASSERT_TRUE(host.Ok());
        proxyProcess = std::make_unique<test::ProxyProcess>(
            instance, std::vector<std::string>{"OVRA_PROXY_URB_TIMEOUT_MS=400"});
        ASSERT_TRUE(proxyProcess->Ready());
        proxy::SocketProxyChannelOpener opener(instance);
        ProxyError e;
        client.Attach(opener.Open(proxy::kControlChannelName, e));
        ASSERT_TRUE(client.IsOpen()) << ToString(e);
        ASSERT_TRUE(client.Open(MakeInterfaceHandle(1, 2, 0), &context)) << client.LastError();
    }

    sim::BridgeChipModel model;
    sim::RegisterFileI2cDevice headset;
    sim::UsbfsHost host{model};
    std::string instance = test::UniqueInstance("usbfs");
    std::unique_ptr<test::ProxyProcess> proxyProcess;
    RecordingDebugLog log;
    brx::ProxyClient client{log};
    std::uint64_t context = 0;
};

TEST_F(ProxyUsbfsTest, DescriptorsStatusBlockAndQualifyComeFromTheModel) {
    std::array<std::uint8_t, 18> device{};
    ASSERT_TRUE(client.GetDeviceDescriptor(context, device));
    EXPECT_EQ(device[8] | device[9] << 8, 0x0B05);
    EXPECT_EQ(device[10] | device[11] << 8, 0x1876);

    std::vector<std::uint8_t> head(9);
    ASSERT_TRUE(client.GetConfigureDescriptor(context, head));
    std::vector<std::uint8_t> whole(head[2] | head[3] << 8);
    ASSERT_TRUE(client.GetConfigureDescriptor(context, whole));
    EXPECT_EQ(whole, model.ConfigurationDescriptor());

    std::array<std::uint8_t, 8> piece{};
    std::uint32_t moved = 0;
    ASSERT_TRUE(client.UsbVendorRequest(context, 0xC0, 0x07, 3, 0, piece, true, &moved));
    EXPECT_EQ(moved, 8u);
    EXPECT_EQ(std::memcmp(piece.data(), "VELTRIX\0", 8), 0);

    // qualify over the extension unit: command block, then one data piece
    std::array<std::uint8_t, 8> block{0x00, 0xD0, 0, 0, 8, 0, 0, 0};
    ASSERT_TRUE(client.UvcControlRequest(context, 0x21, 0x01, 10, 6, 0, block, false, nullptr));
    std::array<std::uint8_t, 8> answer{};
    ASSERT_TRUE(client.UvcControlRequest(context, 0xA1, 0x81, 11, 6, 0, answer, true, &moved));
    EXPECT_EQ(std::memcmp(answer.data(), "VELTRIX\0", 8), 0);
}

TEST_F(ProxyUsbfsTest, SuperRegisterWriteReachesTheI2cDevice) {
    std::array<std::uint8_t, 3> data{0x00, 0x12, 0x34};
    ASSERT_TRUE(client.UsbVendorRequest(context, 0x40, 0x3E, 0x0052, 0x0200, data, false, nullptr));
    EXPECT_EQ(headset.Get(0x00), 0x12);
    EXPECT_EQ(headset.Get(0x01), 0x34);
}

struct FaultCase {
    sim::TransferFault fault;
    ProxyError error;
    std::uint32_t urbStatus;
};

TEST_F(ProxyUsbfsTest, DeviceFaultsBecomeFailuresWithTheirStatus) {
    for (const FaultCase& c : {FaultCase{sim::TransferFault::Stall, ProxyError::GenFailure, proxy::kUsbdStatusStallPid},
                               FaultCase{sim::TransferFault::Timeout, ProxyError::SemTimeout, proxy::kUsbdStatusTimeout}}) {
        model.InjectFault(c.fault);
        std::array<std::uint8_t, 8> piece{};
        EXPECT_FALSE(client.UsbVendorRequest(context, 0xC0, 0x07, 0, 0, piece, true, nullptr));
        EXPECT_EQ(client.LastError(), static_cast<std::uint32_t>(c.error));
        char line[80];
        std::snprintf(line, sizeof line, "UsbVendorRequest failed, UrbStatus %08X\n", c.urbStatus);
        EXPECT_TRUE(log.Contains(line)) << line;
    }
    // a short answer succeeds with the shorter length (the caller judges it)
    model.InjectFault(sim::TransferFault::Short);
    std::array<std::uint8_t, 8> piece{};
    std::uint32_t moved = 0;
    EXPECT_TRUE(client.UsbVendorRequest(context, 0xC0, 0x07, 0, 0, piece, true, &moved));
    EXPECT_EQ(moved, 4u);
    // and the device still works afterwards
    EXPECT_TRUE(client.UsbVendorRequest(context, 0xC0, 0x07, 0, 0, piece, true, &moved));
    EXPECT_EQ(moved, 8u);
}

TEST_F(ProxyUsbfsTest, UnplugMidTransferFailsAsNotConnected) {
    model.InjectFault(sim::TransferFault::Unplug);
    std::array<std::uint8_t, 8> piece{};
    EXPECT_FALSE(client.UsbVendorRequest(context, 0xC0, 0x07, 0, 0, piece, true, nullptr));
    EXPECT_EQ(client.LastError(), static_cast<std::uint32_t>(ProxyError::DeviceNotConnected));
    EXPECT_FALSE(client.UsbVendorRequest(context, 0xC0, 0x07, 0, 0, piece, true, nullptr));
    EXPECT_TRUE(client.Close(context));
}

TEST_F(ProxyUsbfsTest, MalformedDescriptorsArriveAsTheDeviceSentThem) {
    // A header that claims 256 bytes, then an entry with bLength 0: the
    // proxy passes the bytes on untouched and the short answer shows.
    const std::vector<std::uint8_t> garbage{9, 0x02, 0x00, 0x01, 1, 1, 0, 0x80, 50, 0, 0x04, 0, 0};
    model.SetConfigurationOverride(garbage);
    std::vector<std::uint8_t> head(9);
    ASSERT_TRUE(client.GetConfigureDescriptor(context, head));
    EXPECT_EQ(head, std::vector<std::uint8_t>(garbage.begin(), garbage.begin() + 9));
    std::vector<std::uint8_t> whole(0x100);
    EXPECT_FALSE(client.GetConfigureDescriptor(context, whole));
    EXPECT_TRUE(log.Contains("GetConfigureDescriptor failed, UrbStatus 00000000\n")) << ::testing::PrintToString(log.Texts());
}

TEST_F(ProxyUsbfsTest, ADataStageAboveWhatUsbfsTakesIsRefused) {
    // usbfs moves at most 4096 data bytes in one control transfer.
    std::vector<std::uint8_t> fits(4096), tooLong(4097);
    EXPECT_TRUE(client.UsbVendorRequest(context, 0xC0, 0x25, 0x0000, 0x0000, fits, true, nullptr));
    EXPECT_FALSE(client.UsbVendorRequest(context, 0xC0, 0x25, 0x0000, 0x0000, tooLong, true, nullptr));
    EXPECT_EQ(client.LastError(), static_cast<std::uint32_t>(ProxyError::InvalidParameter));
}

TEST_F(ProxyUsbfsTest, AnIdleProxyDoesNotPollTheDevice) {
    const std::size_t before = host.ReapCalls();
    ::usleep(300 * 1000);
    EXPECT_LE(host.ReapCalls() - before, 2u);
}

TEST_F(ProxyUsbfsTest, DirectLibusbSeesTheSameModel) {
    libusb_context* usb = nullptr;
    ASSERT_EQ(libusb_init(&usb), 0);
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(usb, &list);
    libusb_device_handle* handle = nullptr;
    for (ssize_t i = 0; i < n; ++i)
        if (libusb_get_bus_number(list[i]) == 1 && libusb_get_device_address(list[i]) == 2) {
            ASSERT_EQ(libusb_open(list[i], &handle), 0);
        }
    libusb_free_device_list(list, 1);
    ASSERT_NE(handle, nullptr);
    std::array<std::uint8_t, 8> piece{};
    EXPECT_EQ(libusb_control_transfer(handle, 0xC0, 0x07, 3, 0, piece.data(), 8, 1000), 8);
    EXPECT_EQ(std::memcmp(piece.data(), "VELTRIX\0", 8), 0);
    libusb_close(handle);
    libusb_exit(usb);
}

}  // namespace
}  // namespace ovra
