#pragma once
// Hosts HID device models (sim/hid/HidDeviceModel.h) behind umockdev, so that
// the real hidraw and libudev code runs unmodified against them.
//
// Each device appears as the sysfs chain the kernel builds for a USB HID
// device: pci -> usb root hub usb1 -> usb device 1-N (idVendor, idProduct,
// busnum, devnum) -> interface 1-N:1.3 -> hid 0003:VVVV:PPPP.000K (with its
// report_descriptor) -> hidraw/hidrawM, node /dev/hidrawM. The host answers the
// node's calls from the model:
//   write()                -> OnOutputReport, then the model's interrupt reports are queued
//   ioctl HIDIOCGINPUT     -> OnGetInputReport;  HIDIOCSOUTPUT -> OnOutputReport
//   ioctl HIDIOCGRAWINFO/GRDESCSIZE/GRDESC/GRAWNAME/GRAWPHYS -> from the model's ids and descriptor
//   read()                 -> the next queued interrupt-in report (truncated to the reader's
//                             buffer, as hidraw does), or EAGAIN when none is queued: poll first
// ModelAction: Accept completes the call; Reject fails it with EPIPE (a stalled
// endpoint); NoAnswer leaves it pending until Options::stalledTransferTimeout
// (then ETIMEDOUT, as the USB core does) or removal; Unplug removes the device
// during the call (the call fails ENODEV, the "remove" uevents follow).
// A removed device hangs up its node: poll() sees POLLHUP|POLLERR, writes and
// ioctls fail ENODEV, reads EIO, a new open ENOENT.
// Interrupt reports are one queue per device shared by its open handles (a
// real hidraw gives every handle its own copy; one reader per device is the
// case that matters here). poll() on the node says POLLIN while it is non-empty.
//
// The test process itself must run under the umockdev preload library (uevents
// and the testbed's paths depend on it). In CMake:
//
//   ovra_umockdev_test(NAME my_test LABELS integration SOURCES MyTest.cpp
//                      LIBS ovra_sim_umockdev ovra_platform_linux_hid)
//
// which is ovra_test(... WRAPPER umockdev-wrapper
//                    ENV ASAN_OPTIONS=verify_asan_link_order=0) (ASan wants to be
// first in the link order; the preload library comes before it). By hand:
//   ASAN_OPTIONS=verify_asan_link_order=0 umockdev-wrapper build/asan/tests/my_test
//
// In the test:
//
//   ovra::sim::UmockdevHidHost host;                      // fresh private testbed
//   auto model = std::make_shared<MyHeadsetModel>();
//   auto id = host.AddDevice(model);                       // "add" uevents, /dev/hidraw0
//   ovra::HidrawEnumerator enumerator(log);                // the real adapter
//   auto devices = enumerator.Enumerate();                 // sees 0b05:1855 at /dev/hidraw0
//   ...
//   host.RemoveDevice(id);                                 // "remove" uevents, hang-up
//   id = host.AddDevice(model);                            // plugged in again
//
// Child processes run inside the testbed with UMOCKDEV_DIR=host.RootDir() and
// the inherited LD_PRELOAD (see ChildEnvironment()).
//
// Limits of the testbed to keep in mind:
//  - one host per process at a time (the testbed sets UMOCKDEV_DIR process-wide);
//  - umockdev aborts the host when a libudev monitor leaves more than ten
//    uevents unread (a device adds or removes four): read monitors promptly;
//  - node numbers are never reused within one host (a re-plugged device gets
//    the next /dev/hidrawM), the USB port is.
//  - poll() on a node is level-triggered on the shared queue: POLLIN while
//    any interrupt report is queued for the device.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/hid/HidDeviceModel.h"

namespace ovra::sim {

class UmockdevHidHost {
public:
    struct Options {
        // When the USB core gives up on a transfer the device never answers.
        std::chrono::milliseconds stalledTransferTimeout{5000};
        // Ask every model for spontaneous interrupt reports this often (0: only
        // after output reports and on DeliverInterruptReports()).
        std::chrono::milliseconds interruptPollInterval{0};
    };
    using DeviceId = int;

    UmockdevHidHost();
    explicit UmockdevHidHost(Options options);
    ~UmockdevHidHost();
    UmockdevHidHost(const UmockdevHidHost&) = delete;
    UmockdevHidHost& operator=(const UmockdevHidHost&) = delete;

    // True when this process runs under the umockdev preload library.
    static bool InMockEnvironment();

    // The testbed root: UMOCKDEV_DIR for processes that should see the devices.
    const std::string& RootDir() const { return rootDir_; }
    // "UMOCKDEV_DIR=..." and "LD_PRELOAD=..." for a child process.
    std::vector<std::string> ChildEnvironment() const;

    // Plugs a device in: the next free USB port and hidraw number, then "add"
    // uevents from the USB device down to the hidraw node.
    DeviceId AddDevice(std::shared_ptr<HidDeviceModel> model);
    // Unplugs it: pending and later calls fail, the node hangs up, "remove"
    // uevents from the hidraw node up to the USB device. No-op when removed.
    void RemoveDevice(DeviceId id);
    bool IsPresent(DeviceId id) const;

    std::string Node(DeviceId id) const;        // "/dev/hidrawM"
    std::string SysPath(DeviceId id) const;     // of the hidraw device
    std::string UsbSysPath(DeviceId id) const;  // of the usb_device

    // Queues the model's pending interrupt reports (TakeInterruptReport) for
    // readers now, for reports the device sends on its own.
    void DeliverInterruptReports(DeviceId id);
    // Interrupt reports queued and not yet read.
    std::size_t QueuedInterruptReports(DeviceId id) const;

    struct Impl;

private:
    Options options_;
    std::string rootDir_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ovra::sim
