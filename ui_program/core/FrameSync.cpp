#include "ui_program/core/FrameSync.h"

#include <algorithm>

namespace ovra {
namespace {

// The sleep between passes is cut into slices so that a stop request ends it
// promptly; the slices add up to the same pause.
constexpr std::chrono::milliseconds kSleepSlice{100};

}  // namespace

std::optional<FrameSyncLimits> FrameSyncLimitsFor(LightingEffect effect) {
    switch (effect) {
        case LightingEffect::Breathing: return FrameSyncLimits{3, 0xB8, 3};
        case LightingEffect::Strobing: return FrameSyncLimits{1, 0x2F, 2};
        case LightingEffect::ColorCycle: return FrameSyncLimits{1, 0xFD, 1};
        default: return std::nullopt;
    }
}

FrameSync::FrameSync(FrameSyncDevices& devices, NamedObjects& objects, Clock& clock,
                     DebugLog& log)
    : devices_(devices), objects_(objects), clock_(clock), log_(log) {}

FrameSync::~FrameSync() {
    if (Stop(std::chrono::milliseconds(5000))) return;
    // It still uses this object: never let it run on after us. Every device
    // operation it can be in is bounded, so this ends.
    std::thread last;
    {
        std::lock_guard lock(mutex_);
        last = std::move(thread_);
    }
    if (last.joinable()) last.join();
}

void FrameSync::RunPass() {
    passes_.fetch_add(1);
    if (devices_.Gen2MidConnected()) {
        // This headset's counter cannot be read: the microphone leads.
        const auto frame = devices_.ReadMicFrame();
        if (!frame) return;
        devices_.WriteMicFrame(*frame);
        devices_.WriteHeadsetFrame(*frame);
        return;
    }
    const auto limits = FrameSyncLimitsFor(devices_.CurrentEffect());
    if (!limits) return;  // nothing animates

    unsigned maxFrame = 0, minFrame = 999;
    const auto headset = devices_.ReadHeadsetFrame();
    const auto mic = devices_.ReadMicFrame();
    for (const auto& frame : {headset, mic}) {
        if (!frame) continue;
        maxFrame = std::max<unsigned>(maxFrame, *frame);
        minFrame = std::min<unsigned>(minFrame, *frame);
    }
    log_.Printf("OVRA UI -- DoSyncLEDFrame: uMaxFrame = %d\n", static_cast<int>(maxFrame));
    log_.Printf("OVRA UI -- DoSyncLEDFrame: uMinFrame = %d\n", static_cast<int>(minFrame));
    log_.Printf("OVRA UI -- DoSyncLEDFrame: uFrameDiffVar = %d\n\n",
                static_cast<int>(limits->frameDiffVar));
    // Only two real readings can be compared; one missing reading would
    // otherwise look like a huge difference and drag both to a wrong frame.
    if (!headset || !mic) return;
    if (maxFrame >= limits->wrapMaxAtLeast && minFrame <= limits->wrapMinAtMost) return;
    if (maxFrame - minFrame > limits->frameDiffVar) {
        devices_.WriteHeadsetFrame(static_cast<std::uint8_t>(maxFrame));
        devices_.WriteMicFrame(static_cast<std::uint8_t>(maxFrame));
    }
}

void FrameSync::Start() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable() || stop_.load()) return;
    done_ = false;
    thread_ = std::thread([this] { ThreadMain(); });
}

bool FrameSync::Running() const {
    auto& self = const_cast<FrameSync&>(*this);
    std::lock_guard lock(self.mutex_);
    return thread_.joinable() && !done_;
}

bool FrameSync::Signal() {
    std::shared_ptr<NamedEvent> event;
    {
        std::lock_guard lock(mutex_);
        event = event_;
    }
    return event && event->Set();
}

void FrameSync::SleepUnlessStopping(std::chrono::milliseconds duration) {
    for (auto left = duration; left.count() > 0 && !stop_.load(); left -= kSleepSlice)
        clock_.SleepFor(std::min(left, kSleepSlice));
}

void FrameSync::ThreadMain() {
    log_.Write("\nCreateEvent - m_hWaitSyncEvent!!\n");
    std::shared_ptr<NamedEvent> event(objects_.CreateEvent(kEventName, true, false, nullptr));
    {
        std::lock_guard lock(mutex_);
        event_ = event;
    }
    if (stop_.load()) event.reset();  // stopped before it could start
    std::chrono::milliseconds wait = kRunningWait;
    while (event && !stop_.load()) {
        RunPass();
        SleepUnlessStopping(kSleepBetweenPasses);
        if (!paused_.load()) wait = kRunningWait;
        event->Wait(stop_.load() ? std::chrono::milliseconds(0) : wait);
        event->Reset();
        if (paused_.load()) wait = kWaitForever;
    }
    {
        std::lock_guard lock(mutex_);
        event_.reset();
        done_ = true;
    }
    changed_.notify_all();
}

bool FrameSync::Stop(std::chrono::milliseconds bound) {
    stop_.store(true);
    Signal();
    std::unique_lock lock(mutex_);
    if (!thread_.joinable()) return true;
    if (!changed_.wait_for(lock, bound, [&] { return done_; })) {
        log_.Write("\nFrame sync thread did not stop in time!\n");
        return false;
    }
    std::thread finished = std::move(thread_);
    lock.unlock();
    finished.join();
    return true;
}

}  // namespace ovra
