#pragma once
// Runs blocking device calls (hidraw write, HIDIOCGINPUT) on a thread of its
// own so that the caller's wait can be bounded. The kernel offers no way to
// cancel such a call once it sits in the USB core, so a call that outlives its
// caller's deadline finishes here on its own and its result is dropped; the
// caller has already been told Timeout. The thread is never killed: the
// destructor waits for the call in flight (the kernel ends every USB transfer
// after its own timeout, and at once when the device is removed).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace ovra {

class BoundedCallRunner {
public:
    BoundedCallRunner();
    ~BoundedCallRunner();
    BoundedCallRunner(const BoundedCallRunner&) = delete;
    BoundedCallRunner& operator=(const BoundedCallRunner&) = delete;

    enum class Outcome { Done, TimedOut, Busy };

    // Runs `call` and waits until it returned or `deadline` passed. Busy: an
    // earlier call that timed out is still in flight and did not end before
    // the deadline, so `call` was not started. `call` must own everything it
    // touches (it may run after Run() returned).
    Outcome Run(std::function<void()> call, std::chrono::steady_clock::time_point deadline);

private:
    void Loop();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> pending_;
    bool busy_ = false;      // a call is queued or running
    bool stopping_ = false;
    std::uint64_t started_ = 0;   // calls handed over
    std::uint64_t finished_ = 0;  // calls returned
    std::thread thread_;
};

}  // namespace ovra
