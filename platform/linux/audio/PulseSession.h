#pragma once
// One connection to the sound server (with its own threaded main loop), the
// default-sink watch and the sink found. Internal to the loopback adapter.

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/AudioLoopback.h"

namespace ovra::pulse {

// Holds the main loop's lock for a scope.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

class PulseSession final : public LoopbackSession {
public:
    PulseSession(std::chrono::milliseconds serverTimeout, std::chrono::milliseconds fragment);
    ~PulseSession() override;
    PulseSession(const PulseSession&) = delete;
    PulseSession& operator=(const PulseSession&) = delete;

    LoopbackStatus Connect();

    LoopbackStatus WatchDefaultDevice(std::function<void()> onDefaultChanged) override;
    LoopbackStatus FindDefaultDevice() override;
    std::string DeviceName() const override;
    LoopbackStatus Activate(std::function<void()> wake, std::unique_ptr<LoopbackStream>* stream) override;

    // For the stream (lock held by the caller).
    pa_threaded_mainloop* Loop() const { return loop_; }
    pa_context* Context() const { return context_; }
    // Waits (lock held) until `done()` holds, the connection broke or the
    // server timeout passed. Ok when done.
    LoopbackStatus WaitLocked(const std::function<bool()>& done);
    // Waits for an operation (lock held), cancels it when it does not finish.
    LoopbackStatus WaitForOperation(pa_operation* operation);
    // The status for the connection's last error.
    LoopbackStatus LastError(LoopbackStatus fallback) const;

private:
    static void OnContextState(pa_context* context, void* self);
    static void OnServerEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index, void* self);
    static void OnServerInfoForWatch(pa_context* context, const pa_server_info* info, void* self);

    std::chrono::milliseconds serverTimeout_;
    std::chrono::milliseconds fragment_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool loopRunning_ = false;

    // Guarded by the main loop's lock.
    std::function<void()> onDefaultChanged_;
    std::string sinkName_;
    std::string monitorName_;
    pa_sample_spec sinkSpec_{};
    pa_channel_map sinkMap_{};
    bool found_ = false;
};

}  // namespace ovra::pulse
