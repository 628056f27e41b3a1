#pragma once
// Keeps the animation frame counters of the headset and the microphone in
// step while an animated effect runs on both. A thread of its own runs one
// pass at start and after every wake-up: it reads both counters and, when
// they differ by more than the effect's tolerance (and do not straddle the
// counter's wrap-around), sets both to the larger one. Between passes it
// sleeps 2000 ms and then waits for "waitsyncevent_main": at most 2000 ms
// while running, without limit while paused.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "device_access/LightingTypes.h"
#include "platform/Clock.h"
#include "platform/DebugLog.h"
#include "platform/NamedObjects.h"

namespace ovra {

// What a pass needs from the connected devices. Reads and writes go to the
// device only while it is connected; a device that is not gives no frame.
class FrameSyncDevices {
public:
    virtual ~FrameSyncDevices() = default;
    virtual bool Gen2MidConnected() const = 0;
    virtual LightingEffect CurrentEffect() const = 0;
    virtual std::optional<std::uint8_t> ReadHeadsetFrame() = 0;
    virtual void WriteHeadsetFrame(std::uint8_t frame) = 0;
    virtual std::optional<std::uint8_t> ReadMicFrame() = 0;
    virtual void WriteMicFrame(std::uint8_t frame) = 0;
};

// Tolerance and wrap-around window of an animated effect.
struct FrameSyncLimits {
    unsigned frameDiffVar;  // the largest difference left alone
    unsigned wrapMaxAtLeast;  // skip when max >= this ...
    unsigned wrapMinAtMost;   // ... and min <= this
};
std::optional<FrameSyncLimits> FrameSyncLimitsFor(LightingEffect effect);

class FrameSync {
public:
    static constexpr std::chrono::milliseconds kSleepBetweenPasses{2000};
    static constexpr std::chrono::milliseconds kRunningWait{2000};
    static constexpr const char* kEventName = "waitsyncevent_main";

    FrameSync(FrameSyncDevices& devices, NamedObjects& objects, Clock& clock, DebugLog& log);
    ~FrameSync();  // stops the thread and always joins it
    FrameSync(const FrameSync&) = delete;
    FrameSync& operator=(const FrameSync&) = delete;

    // One pass on the calling thread.
    void RunPass();

    void Start();
    bool Running() const;

    void SetPaused(bool paused) { paused_.store(paused); }
    bool Paused() const { return paused_.load(); }
    // Wakes the thread early (sets "waitsyncevent_main"). False while the
    // thread has not created its event (yet or any more): nothing to wake.
    bool Signal();

    // Sets the stop flag and wakes the thread out of its sleep and wait; then
    // waits for it to end, at most `bound`. True when it ended (joined);
    // false leaves it running (the caller must not release what it uses).
    bool Stop(std::chrono::milliseconds bound);

    std::uint64_t PassCount() const { return passes_.load(); }

private:
    void ThreadMain();
    // The 2000 ms pause between passes; returns early when stopping.
    void SleepUnlessStopping(std::chrono::milliseconds duration);

    FrameSyncDevices& devices_;
    NamedObjects& objects_;
    Clock& clock_;
    DebugLog& log_;

    std::atomic<bool> paused_{false};
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> passes_{0};

    std::mutex mutex_;  // guards event_ and the done/joined state
    std::condition_variable changed_;
    std::shared_ptr<NamedEvent> event_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace ovra
