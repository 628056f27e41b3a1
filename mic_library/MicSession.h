#pragma once
// The inside of our microphone library: one connection to the MK470's
// lighting interface (USB 0B05:1842) and request/answer pairs over it. A
// request is one 32-byte output report; the device answers with one 32-byte
// interrupt-in report that echoes the request's command byte (and, for a
// register write, the register). The programs call in from two threads at
// once without a lock of their own, so each pair runs under the session's
// lock; an answer that does not belong to the request is never handed out.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/HidEnumerator.h"

namespace ovra {

enum class MicExchangeResult {
    Ok,
    NotConnected,
    WriteFailed,
    NoAnswer,       // no matching answer within the bound
    DeviceGone,     // unplugged; the session lets the device go
};

class MicSession {
public:
    static constexpr std::uint16_t kVendorId = 0x0B05;
    static constexpr std::uint16_t kProductId = 0x1842;
    static constexpr std::size_t kReportSize = 32;
    using Report = std::array<std::uint8_t, kReportSize>;

    explicit MicSession(HidEnumerator& enumerator) : enumerator_(enumerator) {}

    // Finds and opens the microphone; `answerTimeout` bounds every later
    // answer. True when connected (also when it already was).
    bool Connect(std::chrono::milliseconds answerTimeout);
    // Lets the device go. True: nothing is held any more.
    bool Disconnect();
    bool Connected() const;

    // Sends `report` and replaces it with the device's answer. On any failure
    // `report` is left as it was.
    MicExchangeResult Exchange(Report& report);

private:
    bool IsAnswerTo(const Report& request, const std::uint8_t* answer, std::size_t length) const;
    void DrainStaleAnswers();  // with mutex_ held

    HidEnumerator& enumerator_;
    mutable std::mutex mutex_;
    std::unique_ptr<HidDevice> device_;
    std::chrono::milliseconds answerTimeout_{100};
};

}  // namespace ovra
