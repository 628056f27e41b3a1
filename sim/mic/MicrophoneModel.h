#pragma once
// The MK470 microphone's lighting interface as seen from the device: a HID
// interface without report ids that takes 32-byte output reports and answers
// each with one 32-byte interrupt-in report.
//   request 10 rr vv ...  write register rr := vv; answer 10 rr vv' with vv' the
//                         register's value after the write
//   request 81 00 00 ...  register dump; answer 81 00 00 00 R G B M 00 00 00 F,
//                         bytes 4-7 = registers 0x04-0x07, byte 11 = frame (0x0B)
// Registers: 0x04-0x06 colour, 0x07 mode (1 static, 2 breathing, 3 colour
// cycle, 4 off, 6 rainbow), 0x0B frame counter (read), 0x0C frame (written).
// Faults can be injected to test the host side.

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "sim/hid/HidDeviceModel.h"

namespace ovra::sim {

enum class MicFault {
    None,
    NoAnswer,       // requests are taken but never answered
    Garbage,        // answers carry bytes that belong to no request
    ShortAnswer,    // answers are cut to 7 bytes
    UnplugOnRequest,  // the device disappears at the next request
};

class MicrophoneModel final : public HidDeviceModel {
public:
    static constexpr std::uint16_t kVendorId = 0x0B05;
    static constexpr std::uint16_t kProductId = 0x1842;
    static constexpr std::size_t kReportSize = 32;
    static constexpr std::uint8_t kWriteCommand = 0x10, kDumpCommand = 0x81;
    static constexpr std::uint8_t kRed = 0x04, kGreen = 0x05, kBlue = 0x06, kMode = 0x07;
    static constexpr std::uint8_t kFrameRead = 0x0B, kFrameWrite = 0x0C;

    std::uint16_t VendorId() const override { return kVendorId; }
    std::uint16_t ProductId() const override { return kProductId; }
    std::string ProductName() const override { return "MK470 Microphone"; }
    std::vector<std::uint8_t> ReportDescriptor() const override;

    ModelReply OnOutputReport(std::span<const std::uint8_t> report) override;
    ModelReply OnGetInputReport(std::span<std::uint8_t> buffer) override;
    std::optional<std::vector<std::uint8_t>> TakeInterruptReport() override;

    std::uint8_t Register(std::uint8_t reg) const;
    void SetRegister(std::uint8_t reg, std::uint8_t value);
    void AdvanceFrame(std::uint8_t steps);
    void SetFault(MicFault fault);

    // Requests taken (32 data bytes each, without the report id), in order.
    std::vector<std::vector<std::uint8_t>> Requests() const;
    void ClearRequests();

private:
    std::vector<std::uint8_t> Answer(std::span<const std::uint8_t> request);  // mutex_ held

    mutable std::mutex mutex_;
    std::uint8_t registers_[256] = {};
    std::deque<std::vector<std::uint8_t>> answers_;
    std::vector<std::vector<std::uint8_t>> requests_;
    MicFault fault_ = MicFault::None;
    std::uint8_t garbageSeed_ = 0x5A;
};

}  // namespace ovra::sim
