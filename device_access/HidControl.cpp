#include "device_access/HidControl.h"

#include <algorithm>
#include <array>

namespace ovra {

HidControl::HidControl(HidEnumerator& enumerator, DebugLog& log)
    : enumerator_(enumerator), log_(log) {}

HidControl::~HidControl() { CloseDevice(); }

bool HidControl::OpenDevice(std::uint16_t vendor, std::uint16_t product) {
    if (IsOpen()) CloseDevice();
    for (const HidDeviceInfo& info : enumerator_.Enumerate()) {
        if (info.vendorId != vendor || info.productId != product) continue;
        HidStatus status = HidStatus::Ok;
        std::shared_ptr<HidDevice> writeHandle = enumerator_.Open(info, status);
        std::shared_ptr<HidDevice> readHandle;
        if (writeHandle) readHandle = enumerator_.Open(info, status);
        if (!readHandle) {
            if (status == HidStatus::AccessDenied) {
                log_.Printf("\nCannot open HID device %s (%04x:%04x): access denied. Install the "
                            "udev rule for this device and plug it in again.\n",
                            info.node.c_str(), vendor, product);
            } else {
                log_.Printf("\nCannot open HID device %s (%04x:%04x): %s\n", info.node.c_str(),
                            vendor, product, ToString(status));
            }
            continue;
        }
        std::lock_guard lock(stateMutex_);
        capabilities_ = writeHandle->Capabilities();
        info_ = info;
        writeHandle_ = std::move(writeHandle);
        readHandle_ = std::move(readHandle);
        return true;
    }
    return false;
}

std::size_t HidControl::ReadSize() const {
    std::lock_guard lock(stateMutex_);
    const std::size_t length = capabilities_.inputReportByteLength;
    return length == 0 ? kReadBufferSize : std::min(length, kReadBufferSize);
}

bool HidControl::StartReadThread() {
    const std::size_t readSize = ReadSize();
    std::lock_guard lock(stateMutex_);
    if (!readHandle_ || readThread_.joinable()) return false;
    readThread_ = std::thread(&HidControl::ReadLoop, this, readHandle_, readSize);
    return true;
}

void HidControl::ReadLoop(std::shared_ptr<HidDevice> handle, std::size_t readSize) {
    std::array<std::uint8_t, kReadBufferSize> buffer{};
    const std::span<std::uint8_t> target(buffer.data(), std::min(readSize, buffer.size()));
    for (;;) {
        std::size_t length = 0;
        const HidStatus status = handle->ReadInputReport(target, length, std::chrono::milliseconds(-1));
        if (status == HidStatus::Ok) {
            ++reportsDrained_;  // nothing reads interrupt reports: they are drained
            continue;
        }
        if (status == HidStatus::Timeout) continue;
        if (status != HidStatus::Interrupted)
            log_.Printf("\nHID read thread ends: %s\n", ToString(status));
        return;
    }
}

bool HidControl::WriteOutputReport(std::span<const std::uint8_t> report) {
    std::shared_ptr<HidDevice> handle;
    {
        std::lock_guard lock(stateMutex_);
        handle = writeHandle_;
    }
    if (!handle || report.empty()) return false;
    std::lock_guard writeLock(writeMutex_);
    return handle->WriteOutputReport(report, kWriteTimeout) == HidStatus::Ok;
}

bool HidControl::GetInputReport(std::span<std::uint8_t> buffer, std::size_t& length) {
    length = 0;
    std::shared_ptr<HidDevice> handle;
    {
        std::lock_guard lock(stateMutex_);
        handle = writeHandle_;
    }
    if (!handle || buffer.empty()) return false;
    return handle->GetInputReport(buffer, length) == HidStatus::Ok;
}

bool HidControl::CloseDevice() {
    std::shared_ptr<HidDevice> writeHandle;
    std::shared_ptr<HidDevice> readHandle;
    std::thread readThread;
    {
        std::lock_guard lock(stateMutex_);
        writeHandle = std::move(writeHandle_);
        readHandle = std::move(readHandle_);
        readThread = std::move(readThread_);
        info_.reset();
        capabilities_ = {};
    }
    // The reader waits without a time limit; cancelling its reads ends it
    // promptly, so the join is bounded and no thread is ever killed.
    if (readHandle) readHandle->CancelReads();
    if (readThread.joinable()) readThread.join();
    // A write still in flight on another thread keeps its handle alive until
    // it completes (at most kWriteTimeout).
    return true;
}

bool HidControl::IsOpen() const {
    std::lock_guard lock(stateMutex_);
    return writeHandle_ != nullptr;
}

bool HidControl::ReadThreadRunning() const {
    std::lock_guard lock(stateMutex_);
    return readThread_.joinable();
}

std::optional<HidDeviceInfo> HidControl::DeviceInfo() const {
    std::lock_guard lock(stateMutex_);
    return info_;
}

HidCapabilities HidControl::Capabilities() const {
    std::lock_guard lock(stateMutex_);
    return capabilities_;
}

}  // namespace ovra
