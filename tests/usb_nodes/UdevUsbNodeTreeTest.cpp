// The udev USB node tree against a umockdev test bed: audio functions are
// listed, instance IDs carry VID/PID and the interface number in hex, the
// parents lead to a root hub named by its speed, and the device's location
// is what the proxy needs. Runs under umockdev-wrapper.

#include "platform/linux/usb_nodes/UdevUsbNodeTree.h"

#include <gtest/gtest.h>
#include <umockdev.h>

namespace ovra {
namespace {

// A SuperSpeed root hub with a composite device whose audio function starts
// at interface 0x0a (after a vendor interface), and a second device that is
// no audio device at all.
constexpr char kTree[] =
    "P: /devices/pci0000:00/0000:00:14.0\nE: SUBSYSTEM=pci\n\n"
    "P: /devices/pci0000:00/0000:00:14.0/usb2\nN: bus/usb/002/001\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
    "A: busnum=2\\n\nA: devnum=1\\n\nA: idVendor=1d6b\\n\nA: idProduct=0003\\n\nA: speed=5000\\n\n\n"
    "P: /devices/pci0000:00/0000:00:14.0/usb2/2-3\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
    "A: busnum=2\\n\nA: devnum=7\\n\nA: idVendor=0b05\\n\nA: idProduct=1876\\n\nA: product=Bridge Headset\\n\n"
    "A: speed=480\\n\n\n"
    "P: /devices/pci0000:00/0000:00:14.0/usb2/2-3/2-3:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n"
    "A: bInterfaceNumber=00\\n\nA: bInterfaceClass=ff\\n\nA: bInterfaceSubClass=00\\n\n\n"
    "P: /devices/pci0000:00/0000:00:14.0/usb2/2-3/2-3:1.10\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n"
    "A: bInterfaceNumber=0a\\n\nA: bInterfaceClass=01\\n\nA: bInterfaceSubClass=01\\n\n\n"
    "P: /devices/pci0000:00/0000:00:14.0/usb2/2-3/2-3:1.11\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n"
    "A: bInterfaceNumber=0b\\n\nA: bInterfaceClass=01\\n\nA: bInterfaceSubClass=02\\n\n\n"
    "P: /devices/pci0000:00/0000:00:14.0/usb2/2-4\nN: bus/usb/002/008\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
    "A: busnum=2\\n\nA: devnum=8\\n\nA: idVendor=046d\\n\nA: idProduct=c077\\n\nA: serial=XYZ\\n\n\n"
    "P: /devices/pci0000:00/0000:00:14.0/usb2/2-4/2-4:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n"
    "A: bInterfaceNumber=00\\n\nA: bInterfaceClass=03\\n\nA: bInterfaceSubClass=01\\n\n\n";

class UdevUsbNodeTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        testbed = umockdev_testbed_new();
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(testbed, kTree, &error)) << (error ? error->message : "");
    }
    void TearDown() override { g_object_unref(testbed); }
    UMockdevTestbed* testbed = nullptr;
};

TEST_F(UdevUsbNodeTreeTest, ListsAudioFunctionsAndWalksToTheRootHub) {
    UdevUsbNodeTree tree;
    const auto functions = tree.ListAudioFunctions();
    ASSERT_EQ(functions.size(), 1u);
    const UsbNode& audio = functions[0];
    EXPECT_NE(audio.instance, 0u);
    EXPECT_EQ(audio.deviceId, "USB\\VID_0B05&PID_1876&MI_0A\\2-3:1.10");
    EXPECT_EQ(audio.friendlyName, "Bridge Headset");
    EXPECT_EQ(audio.setupClass, "MEDIA");

    const auto device = tree.Parent(audio.instance);
    ASSERT_TRUE(device);
    EXPECT_EQ(tree.Node(*device)->deviceId, "USB\\VID_0B05&PID_1876\\2-3");
    const auto hub = tree.Parent(*device);
    ASSERT_TRUE(hub);
    EXPECT_EQ(tree.Node(*hub)->deviceId, "USB\\ROOT_HUB30\\usb2");
    const auto controller = tree.Parent(*hub);
    ASSERT_TRUE(controller);
    EXPECT_EQ(tree.Node(*controller)->setupClass, "PCI");
    // Handles are stable for the process.
    EXPECT_EQ(tree.ListAudioFunctions()[0].instance, audio.instance);
    EXPECT_FALSE(tree.Node(0));
    EXPECT_FALSE(tree.Node(0xFFFF));
}

TEST_F(UdevUsbNodeTreeTest, TellsWhereTheDeviceIsOnlyWhenItsNodeOpens) {
    UdevUsbNodeTree tree;
    const auto functions = tree.ListAudioFunctions();
    ASSERT_EQ(functions.size(), 1u);
    UsbDeviceLocation where;
    // The test bed has no node file for the device: it cannot be opened.
    EXPECT_EQ(tree.OpenDevice(functions[0].instance, &where), UsbNodeError::NotFound);
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(
        testbed,
        "P: /devices/pci0000:00/0000:00:14.0/usb2/2-5\nN: bus/usb/002/009\n"
        "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: busnum=2\\n\nA: devnum=9\\n\nA: idVendor=0b05\\n\n"
        "A: idProduct=1858\\n\n\n"
        "P: /devices/pci0000:00/0000:00:14.0/usb2/2-5/2-5:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n"
        "A: bInterfaceNumber=00\\n\nA: bInterfaceClass=01\\n\nA: bInterfaceSubClass=01\\n\n\n",
        &error))
        << (error ? error->message : "");
    const auto again = tree.ListAudioFunctions();
    ASSERT_EQ(again.size(), 2u);
    const auto& second = again[0].deviceId.find("PID_1858") != std::string::npos ? again[0] : again[1];
    ASSERT_EQ(tree.OpenDevice(second.instance, &where), UsbNodeError::None);
    EXPECT_EQ(where.busNumber, 2);
    EXPECT_EQ(where.deviceAddress, 9);
    EXPECT_EQ(where.devicePath, "/dev/bus/usb/002/009");
}

}  // namespace
}  // namespace ovra
