#include "platform/linux/core/SteadyClock.h"

#include <thread>

namespace ovra {

Clock::TimePoint SteadyClock::Now() const {
    return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
}

void SteadyClock::SleepFor(Duration duration) {
    if (duration <= Duration::zero()) return;
    std::this_thread::sleep_until(std::chrono::steady_clock::now() + duration);
}

}  // namespace ovra
