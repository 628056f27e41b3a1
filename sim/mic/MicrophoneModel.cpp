#include "sim/mic/MicrophoneModel.h"

namespace ovra::sim {

std::vector<std::uint8_t> MicrophoneModel::ReportDescriptor() const {
    // Vendor page 0xFF89: one 32-byte input and one 32-byte output report,
    // no report ids.
    return {0x06, 0x89, 0xFF,  // Usage Page (vendor 0xFF89)
            0x09, 0x01,        // Usage (1)
            0xA1, 0x01,        // Collection (Application)
            0x15, 0x00,        //   Logical Minimum (0)
            0x26, 0xFF, 0x00,  //   Logical Maximum (255)
            0x75, 0x08,        //   Report Size (8)
            0x95, 0x20,        //   Report Count (32)
            0x09, 0x02,        //   Usage (2)
            0x81, 0x02,        //   Input (Data, Variable, Absolute)
            0x95, 0x20,        //   Report Count (32)
            0x09, 0x03,        //   Usage (3)
            0x91, 0x02,        //   Output (Data, Variable, Absolute)
            0xC0};             // End Collection
}

ModelReply MicrophoneModel::OnOutputReport(std::span<const std::uint8_t> report) {
    std::lock_guard lock(mutex_);
    // Written as report id 0 followed by the 32 report bytes.
    if (report.size() != kReportSize + 1 || report[0] != 0) return {ModelAction::Reject, 0};
    const auto request = report.subspan(1);
    if (fault_ == MicFault::UnplugOnRequest) return {ModelAction::Unplug, 0};
    requests_.emplace_back(request.begin(), request.end());
    auto answer = Answer(request);
    switch (fault_) {
        case MicFault::NoAnswer:
            return {ModelAction::Accept, 0};
        case MicFault::Garbage:
            for (auto& byte : answer) {
                garbageSeed_ = static_cast<std::uint8_t>(garbageSeed_ * 73 + 41);
                byte = garbageSeed_;
            }
            answer[0] = 0xEE;  // never a command byte
            break;
        case MicFault::ShortAnswer:
            answer.resize(7);
            break;
        default:
            break;
    }
    answers_.push_back(std::move(answer));
    return {ModelAction::Accept, 0};
}

std::vector<std::uint8_t> MicrophoneModel::Answer(std::span<const std::uint8_t> request) {
    std::vector<std::uint8_t> answer(kReportSize, 0);
    answer[0] = request[0];
    if (request[0] == kWriteCommand) {
        const std::uint8_t reg = request[1];
        registers_[reg] = request[2];
        if (reg == kFrameWrite) registers_[kFrameRead] = request[2];
        answer[1] = reg;
        answer[2] = registers_[reg];
    } else if (request[0] == kDumpCommand) {
        // Byte n of the dump is register n, from the colour on: 4-7 colour and
        // mode, 11 the frame counter.
        for (std::size_t reg = kRed; reg < 16; ++reg) answer[reg] = registers_[reg];
    } else {
        answer[1] = 0xFF;  // unknown command: the device says so in byte 1
    }
    return answer;
}

ModelReply MicrophoneModel::OnGetInputReport(std::span<std::uint8_t> buffer) {
    // The interface answers only on its interrupt-in pipe.
    (void)buffer;
    return {ModelAction::Reject, 0};
}

std::optional<std::vector<std::uint8_t>> MicrophoneModel::TakeInterruptReport() {
    std::lock_guard lock(mutex_);
    if (answers_.empty()) return std::nullopt;
    auto answer = std::move(answers_.front());
    answers_.pop_front();
    return answer;
}

std::uint8_t MicrophoneModel::Register(std::uint8_t reg) const {
    std::lock_guard lock(mutex_);
    return registers_[reg];
}

void MicrophoneModel::SetRegister(std::uint8_t reg, std::uint8_t value) {
    std::lock_guard lock(mutex_);
    registers_[reg] = value;
}

void MicrophoneModel::AdvanceFrame(std::uint8_t steps) {
    std::lock_guard lock(mutex_);
    registers_[kFrameRead] = static_cast<std::uint8_t>(registers_[kFrameRead] + steps);
}

void MicrophoneModel::SetFault(MicFault fault) {
    std::lock_guard lock(mutex_);
    fault_ = fault;
}

std::vector<std::vector<std::uint8_t>> MicrophoneModel::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void MicrophoneModel::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

}  // namespace ovra::sim
