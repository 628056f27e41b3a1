#pragma once
// What the capture thread waits for between passes: the stop request of its
// owner or the wake of the stream when data arrived. Both are sticky until
// the thread consumes them, so a wake or stop that comes before the wait is
// never lost; a stop wins over a wake.

#include <condition_variable>
#include <mutex>

namespace ovra::music {

class CaptureSignal {
public:
    enum class Event { Stop, Wake };

    void Reset() {
        std::lock_guard lock(mutex_);
        stop_ = wake_ = false;
    }
    void Stop() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_one();
    }
    // Called on the loopback's thread for every arrival; never blocks for
    // longer than the waiter holds the lock to read two booleans.
    void Wake() {
        {
            std::lock_guard lock(mutex_);
            wake_ = true;
        }
        changed_.notify_one();
    }
    Event Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return stop_ || wake_; });
        wake_ = false;
        if (stop_) {
            stop_ = false;
            return Event::Stop;
        }
        return Event::Wake;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    bool wake_ = false;
};

}  // namespace ovra::music
