#pragma once
// The microphone library "ITECCTdll.dll" and its three exports. The binding is
// ready only when the library and all three exports were found (bound in the
// order ConnectDevice, TestInterruptINOUT, DisconnectDevice; the first missing
// one ends the binding). Exchanges of 32-byte reports go through Exchange();
// callers hold DeviceLock() for a whole operation so that the UI thread's and
// the frame-sync thread's operations never interleave.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/DebugLog.h"
#include "platform/ModuleLoader.h"

namespace ovra {

inline constexpr std::string_view kMicLibrary = "ITECCTdll.dll";

extern "C" {
// Results are boolean bytes: nonzero = done.
using MicConnectDeviceFn = unsigned char(int interfaceSelector, int answerTimeoutMs);
using MicTestInterruptInOutFn = unsigned char(int function, unsigned char* report, int length);
using MicDisconnectDeviceFn = unsigned char();
}

using MicReport = std::array<std::uint8_t, 32>;

class MicBinding {
public:
    static constexpr int kConnectSelector = 0xFF89;
    static constexpr int kConnectTimeoutMs = 100;
    static constexpr int kExchangeFunction = 0xCC;

    // Never null: a missing library gives a binding that is not ready. A file
    // that is there but cannot be loaded is reported with a log line.
    static std::unique_ptr<MicBinding> Load(ModuleLoader& loader, DebugLog& log);

    explicit MicBinding(std::unique_ptr<Module> module);
    MicBinding(const MicBinding&) = delete;
    MicBinding& operator=(const MicBinding&) = delete;

    bool Loaded() const { return module_ != nullptr; }
    bool Ready() const { return ready_; }
    const Module* LoadedModule() const { return module_.get(); }

    bool ConnectDevice();     // (0xFF89, 100): true = connected
    bool DisconnectDevice();  // true = released

    // One request/answer pair: the request in `report` is replaced by the
    // device's answer. False when the binding is not ready, the library says
    // the exchange failed, or the answer is not the answer to this request
    // (then `report` is restored to the request).
    bool Exchange(MicReport& report);

    std::mutex& DeviceLock() const { return deviceLock_; }

private:
    std::unique_ptr<Module> module_;
    MicConnectDeviceFn* connect_ = nullptr;
    MicTestInterruptInOutFn* exchange_ = nullptr;
    MicDisconnectDeviceFn* disconnect_ = nullptr;
    bool ready_ = false;
    mutable std::mutex deviceLock_;
};

}  // namespace ovra
