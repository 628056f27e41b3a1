// The libudev adapter over a umockdev testbed: the nodes it lists and the
// change notices of plug and unplug.
#include <gtest/gtest.h>

#include <poll.h>

#include <algorithm>

#include "platform/linux/device_tree/UdevDeviceTree.h"
#include "tests/support_usb_testbed/UsbTestbed.h"

namespace ovra {
namespace {

using test::UsbTestbed;

const DeviceNode* FindPrefix(const std::vector<DeviceNode>& nodes, std::string_view prefix) {
    for (const auto& node : nodes)
        if (node.instanceId && node.instanceId->starts_with(prefix)) return &node;
    return nullptr;
}

std::vector<DeviceChange> AwaitChanges(DeviceChangeSource& source, std::size_t atLeast) {
    std::vector<DeviceChange> all;
    for (int round = 0; round < 50 && all.size() < atLeast; ++round) {
        pollfd fd{source.PollFd(), POLLIN, 0};
        poll(&fd, 1, 100);
        for (auto& change : source.TakeChanges()) all.push_back(change);
    }
    return all;
}

class UdevDeviceTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!UsbTestbed::Preloaded()) GTEST_SKIP() << "needs umockdev-wrapper";
    }
};

TEST_F(UdevDeviceTreeTest, ListsDevicesAndInterfacesOfCompositeDevicesWithParents) {
    UsbTestbed testbed;
    testbed.Add({"1-1", 0x0b05, 0x1855, 4, ""});
    testbed.Add({"1-2", 0x0b05, 0x1842, 1, "MK0042"});
    testbed.AddUnreadable("1-3");
    UdevDeviceTree tree;
    std::vector<DeviceNode> nodes;
    ASSERT_TRUE(tree.ListPresentDevices(nodes));

    const DeviceNode* hub = FindPrefix(nodes, "USB\\ROOT_HUB20\\4&");
    const DeviceNode* headset = FindPrefix(nodes, "USB\\VID_0B05&PID_1855\\5&");
    const DeviceNode* mic = FindPrefix(nodes, "USB\\VID_0B05&PID_1842\\MK0042");
    ASSERT_TRUE(hub && headset && mic);
    EXPECT_EQ(headset->parentId, *hub->instanceId);
    EXPECT_EQ(mic->parentId, *hub->instanceId);
    for (int i = 0; i < 4; ++i) {
        const std::string prefix = "USB\\VID_0B05&PID_1855&MI_0" + std::to_string(i) + "\\6&";
        const DeviceNode* interface = FindPrefix(nodes, prefix);
        ASSERT_TRUE(interface) << prefix;
        EXPECT_EQ(interface->parentId, *headset->instanceId);
        EXPECT_GT(interface - nodes.data(), headset - nodes.data()) << "parents come first";
    }
    EXPECT_EQ(FindPrefix(nodes, "USB\\VID_0B05&PID_1842&MI_"), nullptr)
        << "a single-interface device has no interface nodes";
    EXPECT_EQ(std::count_if(nodes.begin(), nodes.end(),
                            [](const DeviceNode& n) { return !n.instanceId; }),
              1)
        << "the unreadable node is listed without an ID";
}

TEST_F(UdevDeviceTreeTest, PlugAndUnplugReachTheWatcher) {
    UsbTestbed testbed;
    UdevDeviceTree tree;
    auto source = tree.WatchChanges();
    ASSERT_TRUE(source);
    ASSERT_GE(source->PollFd(), 0);

    const std::string path = testbed.Plug({"1-4", 0x0d8c, 0x01ac, 2, ""});
    auto changes = AwaitChanges(*source, 4);
    ASSERT_GE(changes.size(), 4u);
    EXPECT_EQ(changes[0].code, DeviceChangeCode::Arrival);
    EXPECT_TRUE(changes[0].instanceId.starts_with("USB\\VID_0D8C&PID_01AC\\5&"))
        << changes[0].instanceId;
    EXPECT_EQ(std::count_if(changes.begin(), changes.end(),
                            [](auto& c) { return c.code == DeviceChangeCode::TreeChanged; }),
              3)
        << "the device and its two interfaces";

    std::vector<DeviceNode> nodes;
    ASSERT_TRUE(tree.ListPresentDevices(nodes));
    EXPECT_TRUE(FindPrefix(nodes, "USB\\VID_0D8C&PID_01AC\\"));

    testbed.Unplug(path);
    changes = AwaitChanges(*source, 4);
    EXPECT_EQ(std::count_if(changes.begin(), changes.end(),
                            [](auto& c) { return c.code == DeviceChangeCode::TreeChanged; }),
              3);
    EXPECT_TRUE(std::any_of(changes.begin(), changes.end(), [](auto& c) {
        return c.code == DeviceChangeCode::RemoveComplete &&
               c.instanceId == "USB\\VID_0D8C&PID_01AC";
    }));
    ASSERT_TRUE(tree.ListPresentDevices(nodes));
    EXPECT_FALSE(FindPrefix(nodes, "USB\\VID_0D8C&PID_01AC\\"));
}

}  // namespace
}  // namespace ovra
