// The microphone library's C exports, as the programs bind them by name:
//   ConnectDevice(0xFF89, 100)          find and open the microphone's lighting
//                                       interface (vendor usage page 0xFF89);
//                                       the second argument bounds every answer, in ms
//   TestInterruptINOUT(0xCC, report, 32) one request/answer pair; the answer
//                                       replaces the 32 bytes of `report`
//   DisconnectDevice()                  let the microphone go
// Results are boolean bytes. Every call may come from any thread; the
// session serialises the pairs.

#include <mutex>

#include "mic_library/MicSession.h"
#include "platform/linux/core/StderrDebugLog.h"
#include "platform/linux/hid/HidrawEnumerator.h"

#define OVRA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kLightingUsagePage = 0xFF89;
constexpr int kExchangeFunction = 0xCC;

struct Library {
    ovra::StderrDebugLog log;
    ovra::HidrawEnumerator enumerator{log};
    ovra::MicSession session{enumerator};
};

Library& TheLibrary() {
    static Library library;
    return library;
}

}  // namespace

OVRA_EXPORT unsigned char ConnectDevice(int usagePage, int answerTimeoutMs) {
    if (usagePage != kLightingUsagePage) return 0;
    return TheLibrary().session.Connect(std::chrono::milliseconds(answerTimeoutMs)) ? 1 : 0;
}

OVRA_EXPORT unsigned char TestInterruptINOUT(int function, unsigned char* report, int length) {
    if (function != kExchangeFunction || report == nullptr ||
        length != static_cast<int>(ovra::MicSession::kReportSize))
        return 0;
    ovra::MicSession::Report exchange{};
    std::copy(report, report + ovra::MicSession::kReportSize, exchange.begin());
    if (TheLibrary().session.Exchange(exchange) != ovra::MicExchangeResult::Ok) return 0;
    std::copy(exchange.begin(), exchange.end(), report);
    return 1;
}

OVRA_EXPORT unsigned char DisconnectDevice() { return TheLibrary().session.Disconnect() ? 1 : 0; }
