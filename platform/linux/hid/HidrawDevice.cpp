#include "platform/linux/hid/HidrawDevice.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/linux/hid/HidrawErrors.h"
#include "platform/linux/hid/ReportDescriptor.h"

namespace ovra {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The size field of an ioctl request has 14 bits.
constexpr std::size_t kMaxIoctlSize = (1u << 14) - 1;

const char* kUdevRuleHint =
    "install packaging/udev/70-ovra.rules into /etc/udev/rules.d/, then run "
    "'udevadm control --reload && udevadm trigger' or re-plug the device";

int IoctlRetrying(int fd, unsigned long request, void* arg) {
    int result;
    do {
        result = ::ioctl(fd, request, arg);
    } while (result < 0 && errno == EINTR);
    return result;
}

// Reads the descriptor and parses it; logs and fails on anything odd.
bool LearnCapabilities(int fd, const std::string& node, DebugLog& log, HidCapabilities& caps) {
    int size = 0;
    if (IoctlRetrying(fd, HIDIOCGRDESCSIZE, &size) < 0) {
        log.Printf("hidraw: cannot read the report descriptor size of %s: %s\n", node.c_str(),
                   std::strerror(errno));
        return false;
    }
    if (size <= 0 || static_cast<std::size_t>(size) > kMaxReportDescriptorSize) {
        log.Printf("hidraw: %s reports a report descriptor of %d bytes; refusing it\n", node.c_str(), size);
        return false;
    }
    auto descriptor = std::make_unique<hidraw_report_descriptor>();
    descriptor->size = static_cast<std::uint32_t>(size);
    if (IoctlRetrying(fd, HIDIOCGRDESC, descriptor.get()) < 0) {
        log.Printf("hidraw: cannot read the report descriptor of %s: %s\n", node.c_str(),
                   std::strerror(errno));
        return false;
    }
    const ReportDescriptorParse parse = ParseReportDescriptor(
        std::span<const std::uint8_t>(descriptor->value, std::min<std::size_t>(descriptor->size, sizeof descriptor->value)));
    if (!parse.ok) {
        log.Printf("hidraw: the report descriptor of %s is malformed at byte %zu: %s\n", node.c_str(),
                   parse.errorOffset, parse.error);
        return false;
    }
    caps = parse.capabilities;
    return true;
}

}  // namespace

std::unique_ptr<HidrawDevice> HidrawDevice::Open(const HidDeviceInfo& info, DebugLog& log,
                                                 HidStatus& status) {
    const int fd = ::open(info.node.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        status = StatusFromErrno(error, HidrawCall::Open);
        if (status == HidStatus::AccessDenied)
            log.Printf("hidraw: permission denied opening %s (%04x:%04x); %s\n", info.node.c_str(),
                       info.vendorId, info.productId, kUdevRuleHint);
        else
            log.Printf("hidraw: cannot open %s: %s\n", info.node.c_str(), std::strerror(error));
        return nullptr;
    }
    // The node may have been handed to another device since the enumeration.
    hidraw_devinfo raw{};
    if (IoctlRetrying(fd, HIDIOCGRAWINFO, &raw) < 0) {
        const int error = errno;
        status = StatusFromErrno(error, HidrawCall::Ioctl) == HidStatus::Gone ? HidStatus::NotFound
                                                                                : HidStatus::IoError;
        log.Printf("hidraw: cannot identify %s: %s\n", info.node.c_str(), std::strerror(error));
        ::close(fd);
        return nullptr;
    }
    if (static_cast<std::uint16_t>(raw.vendor) != info.vendorId ||
        static_cast<std::uint16_t>(raw.product) != info.productId) {
        log.Printf("hidraw: %s is now %04x:%04x, not the enumerated %04x:%04x\n", info.node.c_str(),
                   static_cast<std::uint16_t>(raw.vendor), static_cast<std::uint16_t>(raw.product),
                   info.vendorId, info.productId);
        status = HidStatus::NotFound;
        ::close(fd);
        return nullptr;
    }
    HidCapabilities caps;
    if (!LearnCapabilities(fd, info.node, log, caps)) {
        status = HidStatus::IoError;
        ::close(fd);
        return nullptr;
    }
    const int cancelFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (cancelFd < 0) {
        log.Printf("hidraw: cannot create an eventfd for %s: %s\n", info.node.c_str(), std::strerror(errno));
        status = HidStatus::IoError;
        ::close(fd);
        return nullptr;
    }
    status = HidStatus::Ok;
    return std::unique_ptr<HidrawDevice>(new HidrawDevice(info, caps, fd, cancelFd, log));
}

HidrawDevice::HidrawDevice(HidDeviceInfo info, HidCapabilities capabilities, int fd, int cancelFd,
                           DebugLog& log)
    : info_(std::move(info)),
      capabilities_(capabilities),
      fd_(fd),
      cancelFd_(cancelFd),
      log_(log),
      runner_(std::make_unique<BoundedCallRunner>()) {}

HidrawDevice::~HidrawDevice() {
    runner_.reset();  // waits for a transfer still in flight; it uses fd_
    ::close(cancelFd_);
    ::close(fd_);
}

bool HidrawDevice::HungUp() const {
    pollfd entry{fd_, POLLOUT, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

HidStatus HidrawDevice::WriteOutputReport(std::span<const std::uint8_t> report,
                                          std::chrono::milliseconds timeout) {
    if (report.empty() || report.size() > kMaxReportByteLength ||
        (capabilities_.outputReportByteLength != 0 && report.size() > capabilities_.outputReportByteLength)) {
        log_.Printf("hidraw: refusing a %zu-byte output report for %s (its reports have %u bytes)\n",
                    report.size(), info_.node.c_str(), capabilities_.outputReportByteLength);
        return HidStatus::InvalidArgument;
    }
    if (HungUp()) return HidStatus::Gone;

    struct Transfer {
        std::vector<std::uint8_t> bytes;
        ssize_t result = -1;
        int error = 0;
    };
    auto transfer = std::make_shared<Transfer>();
    transfer->bytes.assign(report.begin(), report.end());
    const int fd = fd_;
    const auto deadline = SteadyClock::now() + std::max(timeout, std::chrono::milliseconds(0));
    const auto outcome = runner_->Run(
        [transfer, fd] {
            do {
                transfer->result = ::write(fd, transfer->bytes.data(), transfer->bytes.size());
            } while (transfer->result < 0 && errno == EINTR);
            transfer->error = transfer->result < 0 ? errno : 0;
        },
        deadline);
    if (outcome == BoundedCallRunner::Outcome::Busy) {
        log_.Printf("hidraw: output report to %s not sent: an earlier transfer is still stuck after %lld ms\n",
                    info_.node.c_str(), static_cast<long long>(timeout.count()));
        return HungUp() ? HidStatus::Gone : HidStatus::Timeout;
    }
    if (outcome == BoundedCallRunner::Outcome::TimedOut) {
        log_.Printf("hidraw: output report to %s not completed within %lld ms; cancelled\n",
                    info_.node.c_str(), static_cast<long long>(timeout.count()));
        return HungUp() ? HidStatus::Gone : HidStatus::Timeout;
    }
    if (transfer->result < 0) {
        const HidStatus status = StatusFromErrno(transfer->error, HidrawCall::Write);
        log_.Printf("hidraw: output report to %s failed: %s\n", info_.node.c_str(),
                    std::strerror(transfer->error));
        return status;
    }
    if (static_cast<std::size_t>(transfer->result) != report.size()) {
        log_.Printf("hidraw: output report to %s sent %zd of %zu bytes\n", info_.node.c_str(),
                    transfer->result, report.size());
        return HidStatus::IoError;
    }
    return HidStatus::Ok;
}

HidStatus HidrawDevice::GetInputReport(std::span<std::uint8_t> buffer, std::size_t& length) {
    length = 0;
    if (buffer.empty()) return HidStatus::InvalidArgument;
    if (HungUp()) return HidStatus::Gone;
    const std::size_t size = std::min(buffer.size(), kMaxIoctlSize);

    struct Transfer {
        std::vector<std::uint8_t> bytes;
        int result = -1;
        int error = 0;
    };
    auto transfer = std::make_shared<Transfer>();
    transfer->bytes.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
    const int fd = fd_;
    const auto outcome = runner_->Run(
        [transfer, fd] {
            transfer->result = IoctlRetrying(fd, HIDIOCGINPUT(transfer->bytes.size()), transfer->bytes.data());
            transfer->error = transfer->result < 0 ? errno : 0;
        },
        SteadyClock::now() + kInputReportTimeout);
    if (outcome != BoundedCallRunner::Outcome::Done) {
        log_.Printf("hidraw: input report from %s not answered within %lld ms\n", info_.node.c_str(),
                    static_cast<long long>(kInputReportTimeout.count()));
        return HungUp() ? HidStatus::Gone : HidStatus::Timeout;
    }
    if (transfer->result < 0) {
        log_.Printf("hidraw: input report from %s failed: %s\n", info_.node.c_str(),
                    std::strerror(transfer->error));
        return StatusFromErrno(transfer->error, HidrawCall::Ioctl);
    }
    const auto answered = static_cast<std::size_t>(transfer->result);
    if (answered > size) {
        log_.Printf("hidraw: %s answered %zu bytes for a %zu-byte input report buffer\n",
                    info_.node.c_str(), answered, size);
        return HidStatus::IoError;
    }
    std::copy_n(transfer->bytes.begin(), answered, buffer.begin());
    length = answered;
    return HidStatus::Ok;
}

HidStatus HidrawDevice::ReadInputReport(std::span<std::uint8_t> buffer, std::size_t& length,
                                        std::chrono::milliseconds timeout) {
    length = 0;
    if (buffer.empty()) return HidStatus::InvalidArgument;
    const bool unlimited = timeout.count() < 0;
    const auto deadline = SteadyClock::now() + (unlimited ? std::chrono::milliseconds(0) : timeout);
    for (;;) {
        int waitMs = -1;
        if (!unlimited) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
            waitMs = static_cast<int>(std::max<long long>(0, std::min<long long>(left.count(), 1 << 30)));
        }
        pollfd entries[2] = {{fd_, POLLIN, 0}, {cancelFd_, POLLIN, 0}};
        const int ready = ::poll(entries, 2, waitMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            log_.Printf("hidraw: waiting for %s failed: %s\n", info_.node.c_str(), std::strerror(errno));
            return HidStatus::IoError;
        }
        if (entries[1].revents != 0) return HidStatus::Interrupted;
        if (entries[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return HidStatus::Gone;
        if (entries[0].revents & POLLIN) {
            const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
            if (got > 0) {
                length = static_cast<std::size_t>(got);
                return HidStatus::Ok;
            }
            if (got == 0) return HidStatus::Gone;  // end of file: the node was hung up
            if (errno != EAGAIN && errno != EINTR) {
                const int error = errno;
                const HidStatus status = StatusFromErrno(error, HidrawCall::Read);
                if (status != HidStatus::Gone)
                    log_.Printf("hidraw: reading %s failed: %s\n", info_.node.c_str(), std::strerror(error));
                return status;
            }
            // Another reader took the report, or a signal: wait again.
        }
        if (!unlimited && SteadyClock::now() >= deadline) return HidStatus::Timeout;
    }
}

void HidrawDevice::CancelReads() {
    const std::uint64_t one = 1;
    // A full counter still leaves the eventfd readable, so a failed write is harmless.
    [[maybe_unused]] const ssize_t written = ::write(cancelFd_, &one, sizeof one);
}

}  // namespace ovra
