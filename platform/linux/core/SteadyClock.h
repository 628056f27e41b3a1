#pragma once
// The real clock: std::chrono::steady_clock and a sleep that resumes after
// signals until the whole duration has passed.

#include "platform/Clock.h"

namespace ovra {

class SteadyClock final : public Clock {
public:
    TimePoint Now() const override;
    void SleepFor(Duration duration) override;
};

}  // namespace ovra
