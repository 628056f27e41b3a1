#pragma once
// HidDevice on a Linux /dev/hidrawN node.
//  - writes and on-demand input reports run through a BoundedCallRunner, so the
//    caller never waits longer than its timeout (500 ms for input reports);
//  - interrupt-in reports are read after poll() on the node and an eventfd, so
//    CancelReads() ends a waiting reader at once; a read never takes more bytes
//    than the caller's buffer holds;
//  - POLLHUP/POLLERR on the node, ENODEV on a write and EIO on a read mean the
//    device is gone.

#include <atomic>
#include <chrono>
#include <memory>

#include "platform/DebugLog.h"
#include "platform/HidDevice.h"
#include "platform/linux/hid/BoundedCallRunner.h"

namespace ovra {

class HidrawDevice final : public HidDevice {
public:
    // How long GetInputReport waits for the device (the port has no timeout
    // argument; a device answers a GET_REPORT within a few milliseconds).
    static constexpr std::chrono::milliseconds kInputReportTimeout{500};

    // Opens `info.node`, checks that it still is the enumerated device and
    // learns its report lengths. Null with `status` set when it cannot.
    static std::unique_ptr<HidrawDevice> Open(const HidDeviceInfo& info, DebugLog& log,
                                              HidStatus& status);
    ~HidrawDevice() override;
    HidrawDevice(const HidrawDevice&) = delete;
    HidrawDevice& operator=(const HidrawDevice&) = delete;

    const HidDeviceInfo& Info() const override { return info_; }
    const HidCapabilities& Capabilities() const override { return capabilities_; }
    HidStatus WriteOutputReport(std::span<const std::uint8_t> report,
                                std::chrono::milliseconds timeout) override;
    HidStatus GetInputReport(std::span<std::uint8_t> buffer, std::size_t& length) override;
    HidStatus ReadInputReport(std::span<std::uint8_t> buffer, std::size_t& length,
                              std::chrono::milliseconds timeout) override;
    void CancelReads() override;

private:
    HidrawDevice(HidDeviceInfo info, HidCapabilities capabilities, int fd, int cancelFd, DebugLog& log);
    bool HungUp() const;

    HidDeviceInfo info_;
    HidCapabilities capabilities_;
    const int fd_;
    const int cancelFd_;  // eventfd, readable once CancelReads() was called
    DebugLog& log_;
    std::unique_ptr<BoundedCallRunner> runner_;  // ended before fd_ is closed
};

}  // namespace ovra
