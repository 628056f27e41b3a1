#pragma once
// The USB device tree from libudev. Instance IDs are synthesised from sysfs:
// an audio function (audio-control interface) is
// "USB\VID_vvvv&PID_pppp&MI_ii\<sysname>" with ii its bInterfaceNumber in
// hex, a device "USB\VID_vvvv&PID_pppp\<serial or sysname>", a root hub
// "USB\ROOT_HUB30\..." (SuperSpeed), "USB\ROOT_HUB20\..." (high speed) or
// "USB\ROOT_HUB\...". Instance handles number the sysfs paths met, from 1.

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/UsbNodeTree.h"

struct udev;
struct udev_device;

namespace ovra {

class UdevUsbNodeTree final : public UsbNodeTree {
public:
    UdevUsbNodeTree();
    ~UdevUsbNodeTree() override;
    UdevUsbNodeTree(const UdevUsbNodeTree&) = delete;
    UdevUsbNodeTree& operator=(const UdevUsbNodeTree&) = delete;

    std::vector<UsbNode> ListAudioFunctions() override;
    std::optional<UsbNode> Node(std::uint32_t instance) override;
    std::optional<std::uint32_t> Parent(std::uint32_t instance) override;
    UsbNodeError OpenDevice(std::uint32_t instance, UsbDeviceLocation* location) override;

private:
    std::uint32_t InstanceOf(const std::string& syspath);  // caller holds mutex_
    udev_device* DeviceOf(std::uint32_t instance);         // caller holds mutex_; unref it
    UsbNode Describe(udev_device* device);                 // caller holds mutex_

    std::mutex mutex_;
    udev* udev_ = nullptr;
    std::unordered_map<std::string, std::uint32_t> instances_;
    std::vector<std::string> syspaths_;  // index = instance - 1
};

}  // namespace ovra
