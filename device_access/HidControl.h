#pragma once
// One HID headset connection: finds the device by USB ids, holds two handles
// (one for output reports and on-demand input reports, one for a reader
// thread that drains interrupt-in reports), and bounds every output report to
// 500 ms.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

#include "platform/DebugLog.h"
#include "platform/HidEnumerator.h"

namespace ovra {

class HidControl {
public:
    // A write that has not completed by then is cancelled and fails.
    static constexpr std::chrono::milliseconds kWriteTimeout{500};
    // The reader thread's buffer; the device's input report length is bounded to it.
    static constexpr std::size_t kReadBufferSize = 1024;

    HidControl(HidEnumerator& enumerator, DebugLog& log);
    // Closes the device if the owner has not (the reader thread is stopped and joined).
    virtual ~HidControl();
    HidControl(const HidControl&) = delete;
    HidControl& operator=(const HidControl&) = delete;

    // Opens the first present HID device with these ids, in enumeration order
    // (a matching device that cannot be opened is skipped). An open device is
    // closed first.
    bool OpenDevice(std::uint16_t vendor, std::uint16_t product);

    // False when no device is open or the thread already runs.
    bool StartReadThread();

    // One output report (byte 0 = report id), serialised with other writes.
    bool WriteOutputReport(std::span<const std::uint8_t> report);

    // An on-demand input report on the write handle (buffer[0] = report id on
    // entry). Not serialised with writes.
    bool GetInputReport(std::span<std::uint8_t> buffer, std::size_t& length);

    // Stops the reader thread (cancel + join, never killed) and releases both
    // handles. The object can be opened again.
    bool CloseDevice();

    bool IsOpen() const;
    bool ReadThreadRunning() const;
    std::optional<HidDeviceInfo> DeviceInfo() const;
    HidCapabilities Capabilities() const;
    // Bytes the reader thread asks for per read: the input report length,
    // bounded to the buffer.
    std::size_t ReadSize() const;

    // Held for every report of one multi-report operation, so that operations
    // of different threads (UI, frame sync) never interleave on the device.
    std::mutex& OperationLock() { return operationMutex_; }

    // Interrupt-in reports the reader thread has taken (and discarded).
    std::size_t ReportsDrained() const { return reportsDrained_.load(); }

private:
    void ReadLoop(std::shared_ptr<HidDevice> handle, std::size_t readSize);

    HidEnumerator& enumerator_;
    DebugLog& log_;

    mutable std::mutex stateMutex_;  // guards the handles, the thread and the device facts
    std::shared_ptr<HidDevice> writeHandle_;
    std::shared_ptr<HidDevice> readHandle_;
    std::thread readThread_;
    std::optional<HidDeviceInfo> info_;
    HidCapabilities capabilities_;

    std::mutex writeMutex_;      // one output report at a time
    std::mutex operationMutex_;  // one whole operation at a time
    std::atomic<std::size_t> reportsDrained_{0};
};

}  // namespace ovra
