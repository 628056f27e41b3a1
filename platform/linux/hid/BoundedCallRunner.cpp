#include "platform/linux/hid/BoundedCallRunner.h"

namespace ovra {

BoundedCallRunner::BoundedCallRunner() : thread_([this] { Loop(); }) {}

BoundedCallRunner::~BoundedCallRunner() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

BoundedCallRunner::Outcome BoundedCallRunner::Run(std::function<void()> call,
                                                  std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_until(lock, deadline, [this] { return !busy_; })) return Outcome::Busy;
    pending_ = std::move(call);
    busy_ = true;
    const std::uint64_t ticket = ++started_;
    changed_.notify_all();
    if (!changed_.wait_until(lock, deadline, [&] { return finished_ >= ticket; }))
        return Outcome::TimedOut;
    return Outcome::Done;
}

void BoundedCallRunner::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || pending_; });
        if (!pending_) return;  // stopping with nothing queued
        std::function<void()> call = std::move(pending_);
        pending_ = nullptr;
        lock.unlock();
        call();
        call = nullptr;  // release what the call owned before reporting it done
        lock.lock();
        ++finished_;
        busy_ = false;
        changed_.notify_all();
    }
}

}  // namespace ovra
