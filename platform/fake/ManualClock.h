#pragma once
// Test double: time moves only when told. SleepFor advances the clock by the
// requested duration at once (and records it), so protocol waits cost nothing
// in tests while their sum stays observable.

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/Clock.h"

namespace ovra {

class ManualClock final : public Clock {
public:
    TimePoint Now() const override { return TimePoint(Duration(now_.load())); }

    void SleepFor(Duration duration) override {
        {
            std::lock_guard lock(mutex_);
            sleeps_.push_back(duration);
        }
        if (duration > Duration::zero()) now_ += duration.count();
    }

    void Advance(Duration duration) { now_ += duration.count(); }

    std::vector<Duration> Sleeps() const {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }
    Duration TotalSlept() const {
        std::lock_guard lock(mutex_);
        Duration total{};
        for (auto d : sleeps_) total += d;
        return total;
    }
    void ClearSleeps() {
        std::lock_guard lock(mutex_);
        sleeps_.clear();
    }

private:
    std::atomic<Duration::rep> now_{0};
    mutable std::mutex mutex_;
    std::vector<Duration> sleeps_;
};

}  // namespace ovra
