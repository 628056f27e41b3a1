#pragma once
// Hosts a BridgeChipModel behind umockdev as a usbfs device, so that an
// unmodified libusb (in this process or in a child that inherits the
// environment) opens /dev/bus/usb/BBB/DDD and runs control transfers on the
// model. The testbed holds a root hub and the device with its sysfs
// "descriptors" file and its two interfaces (audio control, streaming).
//
// usbfs as the model sees it: GET_CAPABILITIES, SUBMITURB + REAPURBNDELAY for
// each control transfer, DISCARDURB for a timed-out one, interface claims
// (a second client gets EBUSY; a class request to an interface claimed by
// another client fails EBUSY). The node is backed by a pty of the host's own:
// tcflow() raises POLLOUT on it exactly while a completed URB waits to be
// reaped, as real usbfs does, so an idle libusb costs nothing; unplugging
// hangs the pty up (POLLERR) and sends the removal uevent.
//
// The process that creates a host must run under the umockdev preload
// library (umockdev-wrapper).

#include <memory>
#include <string>

#include "sim/bridge_chip/BridgeChipModel.h"

namespace ovra::sim {

class UsbfsHost {
public:
    struct Options {
        int bus = 1;
        int address = 2;
    };

    UsbfsHost(BridgeChipModel& model, Options options);
    explicit UsbfsHost(BridgeChipModel& model) : UsbfsHost(model, Options{}) {}
    ~UsbfsHost();
    UsbfsHost(const UsbfsHost&) = delete;
    UsbfsHost& operator=(const UsbfsHost&) = delete;

    bool Ok() const;
    std::string RootDir() const;     // the testbed root (UMOCKDEV_DIR)
    std::string DeviceNode() const;  // "/dev/bus/usb/001/002"
    std::string SysPath() const;     // sysfs path of the device
    int Bus() const;
    int Address() const;

    // The device vanishes: pending and later requests fail with ENODEV, the
    // node hangs up, libudev monitors see "remove".
    void Unplug();

    // Requests that reached the host (SUBMITURB count), for idle checks.
    std::size_t SubmittedUrbs() const;
    std::size_t ReapCalls() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ovra::sim
