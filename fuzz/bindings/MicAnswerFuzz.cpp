// Arbitrary answers from the microphone: the session hands out only the
// answer that belongs to the request (32 bytes, echoed command byte and, for a
// register write, the register) and otherwise leaves the report untouched.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <vector>

#include "mic_library/MicSession.h"

namespace {

// A microphone whose interrupt-in reports are the fuzz input, cut into
// pieces: each piece starts with its length byte.
class ScriptedMic final : public ovra::HidDevice {
public:
    explicit ScriptedMic(std::deque<std::vector<std::uint8_t>> answers) : answers_(std::move(answers)) {}
    const ovra::HidDeviceInfo& Info() const override { return info_; }
    const ovra::HidCapabilities& Capabilities() const override { return caps_; }
    ovra::HidStatus WriteOutputReport(std::span<const std::uint8_t>, std::chrono::milliseconds) override {
        return ovra::HidStatus::Ok;
    }
    ovra::HidStatus GetInputReport(std::span<std::uint8_t>, std::size_t&) override {
        return ovra::HidStatus::IoError;
    }
    ovra::HidStatus ReadInputReport(std::span<std::uint8_t> buffer, std::size_t& length,
                                    std::chrono::milliseconds) override {
        if (answers_.empty()) return ovra::HidStatus::Timeout;
        const auto answer = std::move(answers_.front());
        answers_.pop_front();
        length = std::min(answer.size(), buffer.size());
        std::copy_n(answer.begin(), length, buffer.begin());
        return ovra::HidStatus::Ok;
    }
    void CancelReads() override {}

private:
    ovra::HidDeviceInfo info_{"fuzz", "fuzz", 0x0B05, 0x1842};
    ovra::HidCapabilities caps_{33, 33, 0, false};
    std::deque<std::vector<std::uint8_t>> answers_;
};

class OneMic final : public ovra::HidEnumerator {
public:
    explicit OneMic(std::deque<std::vector<std::uint8_t>> answers) : answers_(std::move(answers)) {}
    std::vector<ovra::HidDeviceInfo> Enumerate() override {
        return {{"fuzz", "fuzz", 0x0B05, 0x1842}};
    }
    std::unique_ptr<ovra::HidDevice> Open(const ovra::HidDeviceInfo&, ovra::HidStatus& status) override {
        status = ovra::HidStatus::Ok;
        return std::make_unique<ScriptedMic>(std::move(answers_));
    }

private:
    std::deque<std::vector<std::uint8_t>> answers_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // Byte 0 picks the request; the rest are the answers.
    ovra::MicSession::Report request{};
    request[0] = (data[0] & 1) ? 0x81 : 0x10;
    request[1] = static_cast<std::uint8_t>(data[0] >> 1);
    std::deque<std::vector<std::uint8_t>> answers;
    for (std::size_t at = 1; at < size;) {
        const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
        answers.emplace_back(data + at + 1, data + at + 1 + length);
        at += 1 + length;
    }
    OneMic mic(std::move(answers));
    ovra::MicSession session(mic);
    if (!session.Connect(std::chrono::milliseconds(10))) std::abort();
    ovra::MicSession::Report report = request;
    const auto result = session.Exchange(report);
    if (result == ovra::MicExchangeResult::Ok) {
        if (report[0] != request[0]) std::abort();
        if (request[0] == 0x10 && report[1] != request[1]) std::abort();
    } else if (report != request) {
        std::abort();
    }
    return 0;
}
