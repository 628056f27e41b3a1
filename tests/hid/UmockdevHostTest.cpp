// The umockdev host itself: the sysfs chain it builds, hot-plug uevents that
// a libudev monitor sees, several devices at once, re-plugging.

#include <gtest/gtest.h>
#include <libudev.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include "sim/umockdev/UmockdevHidHost.h"
#include "tests/hid/ScriptedHidModel.h"

namespace ovra {
namespace {

using test::ScriptedHidModel;

struct Uevent {
    std::string action, subsystem, node, sysPath;
};

// A libudev monitor as a hot-plug listener in the product sets one up.
class Monitor {
public:
    Monitor() : udev_(udev_new()), monitor_(udev_monitor_new_from_netlink(udev_, "udev")) {
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr);
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", "usb_device");
        udev_monitor_enable_receiving(monitor_);
    }
    ~Monitor() {
        udev_monitor_unref(monitor_);
        udev_unref(udev_);
    }
    std::optional<Uevent> Next(int timeoutMs = 5000) {
        pollfd entry{udev_monitor_get_fd(monitor_), POLLIN, 0};
        if (poll(&entry, 1, timeoutMs) <= 0) return std::nullopt;
        udev_device* device = udev_monitor_receive_device(monitor_);
        if (!device) return std::nullopt;
        auto text = [](const char* s) { return std::string(s ? s : ""); };
        Uevent event{text(udev_device_get_action(device)), text(udev_device_get_subsystem(device)),
                     text(udev_device_get_devnode(device)), text(udev_device_get_syspath(device))};
        udev_device_unref(device);
        return event;
    }

private:
    udev* udev_;
    udev_monitor* monitor_;
};

// Through open/read, which the preload library redirects into the testbed.
std::string ReadFile(const std::string& path) {
    std::string content;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "(missing)";
    char chunk[4096];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0) content.append(chunk, static_cast<std::size_t>(got));
    close(fd);
    return content;
}

TEST(UmockdevHidHost, BuildsTheUsbHidSysfsChain) {
    sim::UmockdevHidHost host;
    auto model = std::make_shared<ScriptedHidModel>(0x0D8C, 0x01AC);
    const auto id = host.AddDevice(model);
    EXPECT_EQ(host.Node(id), "/dev/hidraw0");
    const std::string usb = host.UsbSysPath(id);
    EXPECT_EQ(usb, "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1");
    EXPECT_EQ(ReadFile(usb + "/idVendor"), "0d8c\n");
    EXPECT_EQ(ReadFile(usb + "/idProduct"), "01ac\n");
    EXPECT_EQ(ReadFile(usb + "/busnum"), "1\n");
    const auto descriptor = model->ReportDescriptor();
    EXPECT_EQ(ReadFile(usb + "/1-1:1.3/0003:0D8C:01AC.0001/report_descriptor"),
              std::string(descriptor.begin(), descriptor.end()));
    EXPECT_EQ(host.SysPath(id), usb + "/1-1:1.3/0003:0D8C:01AC.0001/hidraw/hidraw0");
}

TEST(UmockdevHidHost, HotPlugUeventsReachALibudevMonitor) {
    sim::UmockdevHidHost host;
    Monitor monitor;
    auto first = std::make_shared<ScriptedHidModel>(0x0B05, 0x1855);
    auto second = std::make_shared<ScriptedHidModel>(0x0B05, 0x1842);

    auto expect = [&](const char* action, const char* subsystem, const std::string& node) {
        auto event = monitor.Next();
        ASSERT_TRUE(event) << "no " << action << " uevent for " << subsystem;
        EXPECT_EQ(event->action, action);
        EXPECT_EQ(event->subsystem, subsystem);
        if (!node.empty()) {
            EXPECT_EQ(event->node, node);
        }
    };
    // USB device first, hidraw node last: parents are announced first. (The
    // monitor is read after each step: umockdev aborts when more than ten
    // uevents wait unread.)
    const auto a = host.AddDevice(first);
    expect("add", "usb", "");
    expect("add", "hidraw", "/dev/hidraw0");
    const auto b = host.AddDevice(second);
    expect("add", "usb", "");
    expect("add", "hidraw", "/dev/hidraw1");
    EXPECT_NE(host.UsbSysPath(a), host.UsbSysPath(b));

    host.RemoveDevice(a);
    EXPECT_FALSE(host.IsPresent(a));
    EXPECT_TRUE(host.IsPresent(b));
    expect("remove", "hidraw", "/dev/hidraw0");
    expect("remove", "usb", "");

    // Plugged in again: the free port, a new node (the old one's handles are dead).
    const auto again = host.AddDevice(first);
    EXPECT_EQ(host.UsbSysPath(again), host.UsbSysPath(a));
    expect("add", "usb", "");
    expect("add", "hidraw", "/dev/hidraw2");
}

TEST(UmockdevHidHost, AModelThatUnplugsDuringARequestIsRemovedWithUevents) {
    sim::UmockdevHidHost host;
    Monitor monitor;
    auto model = std::make_shared<ScriptedHidModel>(0x0B05, 0x1855);
    const auto id = host.AddDevice(model);
    ASSERT_TRUE(monitor.Next() && monitor.Next());  // the two "add" events

    model->ScriptOutputs({sim::ModelAction::Unplug});
    const int fd = open("/dev/hidraw0", O_RDWR);
    ASSERT_GE(fd, 0);
    const std::uint8_t report[16] = {1};
    errno = 0;
    EXPECT_EQ(write(fd, report, sizeof report), -1);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_FALSE(host.IsPresent(id));
    auto removed = monitor.Next();
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->action, "remove");
    EXPECT_EQ(removed->node, "/dev/hidraw0");
    pollfd entry{fd, POLLIN, 0};
    ASSERT_EQ(poll(&entry, 1, 5000), 1);
    EXPECT_TRUE(entry.revents & POLLHUP);
    close(fd);
    EXPECT_EQ(open("/dev/hidraw0", O_RDWR), -1);
}

}  // namespace
}  // namespace ovra
