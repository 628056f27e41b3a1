#pragma once
// Test double: named events and mutexes inside one process. Same semantics as
// the real adapter (manual/auto reset, recursive thread-owned mutexes,
// abandonment, lifetime while a handle exists) plus a journal of every
// Set/Reset/Wait with the time of the given clock, so tests can check the
// order and spacing of a handshake.
//
// Waits block for real by default (a test thread can play the other
// program). With InstantTimeouts(clock) a wait that would block returns
// Timeout at once and moves the (manual) clock by the timeout instead.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/NamedObjects.h"

namespace ovra {

class FakeNamedObjects final : public NamedObjects {
public:
    enum class Op { Create, Open, Set, Reset, WaitSignaled, WaitTimeout, Lock, Unlock };
    struct Record {
        std::string name;
        Op op;
        Clock::TimePoint at;
    };

    explicit FakeNamedObjects(Clock* clock = nullptr) : clock_(clock) {}

    void InstantTimeouts(Clock* clock) {
        std::lock_guard lock(registry_->mutex);
        registry_->instantTimeoutClock = clock;
    }

    std::unique_ptr<NamedEvent> CreateEvent(std::string_view name, bool manualReset,
                                            bool initiallySet, bool* alreadyExisted) override {
        auto state = Find(name, true, Kind::Event, alreadyExisted, [&](State& fresh) {
            fresh.manualReset = manualReset;
            fresh.signaled = initiallySet;
        });
        if (!state) return nullptr;
        Journal(name, Op::Create);
        return std::make_unique<Event>(this, std::move(state), std::string(name));
    }

    std::unique_ptr<NamedEvent> OpenEvent(std::string_view name) override {
        auto state = Find(name, false, Kind::Event, nullptr);
        if (!state) return nullptr;
        Journal(name, Op::Open);
        return std::make_unique<Event>(this, std::move(state), std::string(name));
    }

    std::unique_ptr<NamedMutex> CreateMutex(std::string_view name, bool initiallyOwned,
                                            bool* alreadyExisted) override {
        bool existed = false;
        auto state = Find(name, true, Kind::Mutex, &existed);
        if (alreadyExisted) *alreadyExisted = existed;
        if (!state) return nullptr;
        Journal(name, Op::Create);
        auto mutex = std::make_unique<Mutex>(this, std::move(state), std::string(name));
        if (initiallyOwned && !existed) mutex->Lock(kWaitForever);
        return mutex;
    }

    std::unique_ptr<NamedMutex> OpenMutex(std::string_view name) override {
        auto state = Find(name, false, Kind::Mutex, nullptr);
        if (!state) return nullptr;
        Journal(name, Op::Open);
        return std::make_unique<Mutex>(this, std::move(state), std::string(name));
    }

    // Simulates the death of the mutex's owning thread: the next Lock
    // reports Abandoned.
    void AbandonMutex(std::string_view name) {
        auto state = Find(name, false, Kind::Mutex, nullptr);
        if (!state) return;
        std::lock_guard lock(state->mutex);
        if (state->count == 0) return;
        state->count = 0;
        state->owner = {};
        state->abandoned = true;
        state->changed.notify_all();
    }

    bool Exists(std::string_view name) const {
        std::lock_guard lock(registry_->mutex);
        auto it = registry_->objects.find(std::string(name));
        return it != registry_->objects.end() && !it->second.expired();
    }

    // Current state of an event without consuming it (false when absent).
    bool IsSet(std::string_view name) const {
        std::shared_ptr<State> state;
        {
            std::lock_guard lock(registry_->mutex);
            auto it = registry_->objects.find(std::string(name));
            if (it != registry_->objects.end()) state = it->second.lock();
        }
        if (!state) return false;
        std::lock_guard lock(state->mutex);
        return state->signaled;
    }

    std::vector<Record> JournalRecords() const {
        std::lock_guard lock(registry_->mutex);
        return registry_->journal;
    }
    std::vector<Record> JournalOf(std::string_view name) const {
        std::vector<Record> out;
        for (auto& r : JournalRecords())
            if (r.name == name) out.push_back(r);
        return out;
    }
    void ClearJournal() {
        std::lock_guard lock(registry_->mutex);
        registry_->journal.clear();
    }

private:
    enum class Kind { Event, Mutex };

    struct State {
        Kind kind;
        std::mutex mutex;
        std::condition_variable changed;
        bool manualReset = true;
        bool signaled = false;
        std::thread::id owner;
        int count = 0;
        bool abandoned = false;
    };

    struct Registry {
        mutable std::mutex mutex;
        std::map<std::string, std::weak_ptr<State>> objects;
        std::vector<Record> journal;
        Clock* instantTimeoutClock = nullptr;
    };

    template <typename Init = void (*)(State&)>
    std::shared_ptr<State> Find(std::string_view name, bool create, Kind kind, bool* existed,
                                Init init = [](State&) {}) {
        std::lock_guard lock(registry_->mutex);
        auto& slot = registry_->objects[std::string(name)];
        auto state = slot.lock();
        if (existed) *existed = state != nullptr;
        if (state) return state->kind == kind ? state : nullptr;
        if (!create) {
            registry_->objects.erase(std::string(name));
            return nullptr;
        }
        state = std::make_shared<State>();
        state->kind = kind;
        init(*state);
        slot = state;
        return state;
    }

    void Journal(std::string_view name, Op op) {
        const auto at = clock_ ? clock_->Now() : Clock::TimePoint{};
        std::lock_guard lock(registry_->mutex);
        registry_->journal.push_back({std::string(name), op, at});
    }

    Clock* InstantTimeoutClock() const {
        std::lock_guard lock(registry_->mutex);
        return registry_->instantTimeoutClock;
    }

    class Event final : public NamedEvent {
    public:
        Event(FakeNamedObjects* owner, std::shared_ptr<State> state, std::string name)
            : owner_(owner), state_(std::move(state)), name_(std::move(name)) {}
        bool Set() override {
            {
                std::lock_guard lock(state_->mutex);
                state_->signaled = true;
            }
            state_->changed.notify_all();
            owner_->Journal(name_, Op::Set);
            return true;
        }
        bool Reset() override {
            {
                std::lock_guard lock(state_->mutex);
                state_->signaled = false;
            }
            owner_->Journal(name_, Op::Reset);
            return true;
        }
        WaitResult Wait(std::chrono::milliseconds timeout) override {
            Clock* instant = owner_->InstantTimeoutClock();
            std::unique_lock lock(state_->mutex);
            auto ready = [&] { return state_->signaled; };
            bool got;
            if (ready()) {
                got = true;
            } else if (instant && timeout.count() >= 0) {
                got = false;
            } else if (timeout.count() < 0) {
                state_->changed.wait(lock, ready);
                got = true;
            } else {
                got = state_->changed.wait_for(lock, timeout, ready);
            }
            if (got && !state_->manualReset) state_->signaled = false;
            lock.unlock();
            if (!got && instant) instant->SleepFor(timeout);
            owner_->Journal(name_, got ? Op::WaitSignaled : Op::WaitTimeout);
            return got ? WaitResult::Signaled : WaitResult::Timeout;
        }

    private:
        FakeNamedObjects* owner_;
        std::shared_ptr<State> state_;
        std::string name_;
    };

    class Mutex final : public NamedMutex {
    public:
        Mutex(FakeNamedObjects* owner, std::shared_ptr<State> state, std::string name)
            : owner_(owner), state_(std::move(state)), name_(std::move(name)) {}
        WaitResult Lock(std::chrono::milliseconds timeout) override {
            const auto self = std::this_thread::get_id();
            std::unique_lock lock(state_->mutex);
            auto free = [&] { return state_->count == 0 || state_->owner == self; };
            bool got;
            if (timeout.count() < 0) {
                state_->changed.wait(lock, free);
                got = true;
            } else {
                got = state_->changed.wait_for(lock, timeout, free);
            }
            if (!got) return WaitResult::Timeout;
            state_->owner = self;
            ++state_->count;
            const bool abandoned = std::exchange(state_->abandoned, false);
            lock.unlock();
            owner_->Journal(name_, Op::Lock);
            return abandoned ? WaitResult::Abandoned : WaitResult::Signaled;
        }
        bool Unlock() override {
            {
                std::lock_guard lock(state_->mutex);
                if (state_->count == 0 || state_->owner != std::this_thread::get_id())
                    return false;
                if (--state_->count == 0) state_->owner = {};
            }
            state_->changed.notify_all();
            owner_->Journal(name_, Op::Unlock);
            return true;
        }

    private:
        FakeNamedObjects* owner_;
        std::shared_ptr<State> state_;
        std::string name_;
    };

    Clock* clock_;
    std::shared_ptr<Registry> registry_ = std::make_shared<Registry>();
};

}  // namespace ovra
