#include "mic_library/MicSession.h"

#include <algorithm>

namespace ovra {
namespace {

constexpr std::uint8_t kWriteCommand = 0x10;
// Bounds for the caller's answer time-out: the device needs a few ms; more
// than a few seconds would freeze the callers' UI.
constexpr auto kMinAnswerTimeout = std::chrono::milliseconds(10);
constexpr auto kMaxAnswerTimeout = std::chrono::milliseconds(5000);
// The output report is the report id (0: the interface uses none) and the request.
constexpr std::size_t kOutputLength = MicSession::kReportSize + 1;

}  // namespace

bool MicSession::Connect(std::chrono::milliseconds answerTimeout) {
    std::lock_guard lock(mutex_);
    answerTimeout_ = std::clamp(answerTimeout, kMinAnswerTimeout, kMaxAnswerTimeout);
    if (device_) return true;
    for (const auto& info : enumerator_.Enumerate()) {
        if (info.vendorId != kVendorId || info.productId != kProductId) continue;
        HidStatus status = HidStatus::Ok;
        auto device = enumerator_.Open(info, status);
        if (!device) continue;
        // The lighting interface is the one that takes 32-byte reports.
        const auto& caps = device->Capabilities();
        if (caps.outputReportByteLength != kOutputLength ||
            caps.inputReportByteLength != kOutputLength)
            continue;
        device_ = std::move(device);
        return true;
    }
    return false;
}

bool MicSession::Disconnect() {
    std::lock_guard lock(mutex_);
    device_.reset();
    return true;
}

bool MicSession::Connected() const {
    std::lock_guard lock(mutex_);
    return device_ != nullptr;
}

bool MicSession::IsAnswerTo(const Report& request, const std::uint8_t* answer,
                            std::size_t length) const {
    if (length != kReportSize) return false;
    if (answer[0] != request[0]) return false;
    return request[0] != kWriteCommand || answer[1] == request[1];
}

void MicSession::DrainStaleAnswers() {
    // Answers to a request that timed out earlier may still arrive; they must
    // not be taken for the answer to the next request.
    std::array<std::uint8_t, 64> buffer{};
    for (int i = 0; i < 16; ++i) {
        std::size_t length = 0;
        if (device_->ReadInputReport(buffer, length, std::chrono::milliseconds(0)) != HidStatus::Ok)
            return;
    }
}

MicExchangeResult MicSession::Exchange(Report& report) {
    std::lock_guard lock(mutex_);
    if (!device_) return MicExchangeResult::NotConnected;
    DrainStaleAnswers();

    std::array<std::uint8_t, kOutputLength> output{};
    std::copy(report.begin(), report.end(), output.begin() + 1);
    const HidStatus written = device_->WriteOutputReport(output, answerTimeout_);
    if (written == HidStatus::Gone || written == HidStatus::NotFound) {
        device_.reset();
        return MicExchangeResult::DeviceGone;
    }
    if (written != HidStatus::Ok) return MicExchangeResult::WriteFailed;

    const auto deadline = std::chrono::steady_clock::now() + answerTimeout_;
    std::array<std::uint8_t, 64> buffer{};
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return MicExchangeResult::NoAnswer;
        std::size_t length = 0;
        const HidStatus read = device_->ReadInputReport(buffer, length, left);
        if (read == HidStatus::Gone || read == HidStatus::NotFound) {
            device_.reset();
            return MicExchangeResult::DeviceGone;
        }
        if (read == HidStatus::Timeout) return MicExchangeResult::NoAnswer;
        if (read != HidStatus::Ok) return MicExchangeResult::NoAnswer;
        // An answer read with its (zero) report id in front.
        const std::uint8_t* answer = buffer.data();
        if (length == kOutputLength && buffer[0] == 0 && !device_->Capabilities().usesReportIds) {
            ++answer;
            --length;
        }
        if (IsAnswerTo(report, answer, length)) {
            std::copy_n(answer, kReportSize, report.begin());
            return MicExchangeResult::Ok;
        }
        // Wrong length or not ours: keep waiting for the real answer.
    }
}

}  // namespace ovra
