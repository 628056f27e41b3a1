#pragma once
// Port: time. Every protocol wait (1 ms after a HID command, 10 ms before a
// bridge-memory answer, the handshake's 100 ms, ...) goes through SleepFor so
// that tests can run them on a manual clock.

#include <chrono>

namespace ovra {

class Clock {
public:
    using Duration = std::chrono::nanoseconds;
    using TimePoint = std::chrono::time_point<std::chrono::steady_clock, Duration>;

    virtual ~Clock() = default;
    virtual TimePoint Now() const = 0;
    virtual void SleepFor(Duration duration) = 0;
};

}  // namespace ovra
