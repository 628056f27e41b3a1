#include <gtest/gtest.h>

#include "platform/linux/device_tree/InstanceIds.h"

namespace ovra {
namespace {

TEST(InstanceIds, DevicesInterfacesAndRootHubs) {
    UsbDeviceFacts headset{0x0b05, 0x1855, "", "/sys/devices/pci0000:00/usb1", 3, false, false};
    const std::string id = UsbDeviceInstanceId(headset);
    EXPECT_EQ(id.substr(0, 22), "USB\\VID_0B05&PID_1855\\");
    EXPECT_EQ(id.substr(22, 2), "5&");
    EXPECT_EQ(id.substr(id.size() - 4), "&0&3");
    EXPECT_EQ(id, UsbDeviceInstanceId(headset)) << "stable";
    headset.port = 4;
    EXPECT_NE(id, UsbDeviceInstanceId(headset)) << "another port is another node";

    UsbDeviceFacts mic{0x0b05, 0x1842, "SN0042", "/sys/x", 2, false, false};
    EXPECT_EQ(UsbDeviceInstanceId(mic), "USB\\VID_0B05&PID_1842\\SN0042");
    mic.serial = "bad serial";  // a space: not usable as an instance suffix
    EXPECT_EQ(UsbDeviceInstanceId(mic).substr(0, 24), "USB\\VID_0B05&PID_1842\\5&");

    const std::string interface = UsbInterfaceInstanceId(0x0d8c, 0x01ac, 3, "/sys/y");
    EXPECT_EQ(interface.substr(0, 29), "USB\\VID_0D8C&PID_01AC&MI_03\\6");
    EXPECT_EQ(interface.substr(interface.size() - 7), "&0&0003");

    UsbDeviceFacts hub{0x1d6b, 0x0003, "", "/sys/devices/pci0000:00/0000:00:14.0", 0, true, true};
    EXPECT_EQ(UsbDeviceInstanceId(hub).substr(0, 17), "USB\\ROOT_HUB30\\4&");
}

TEST(InstanceIds, SerialSuffixRules) {
    EXPECT_TRUE(SerialUsableAsInstanceSuffix("ABC-123_x"));
    for (const char* bad : {"", "a b", "a,b", "a\\b", "\x7f", "tab\t"})
        EXPECT_FALSE(SerialUsableAsInstanceSuffix(bad)) << bad;
    EXPECT_FALSE(SerialUsableAsInstanceSuffix(std::string(127, 'a')));
}

}  // namespace
}  // namespace ovra
