// The in-process double must behave like the real objects, or tests built on
// it prove nothing.
#include <gtest/gtest.h>

#include <thread>

#include "platform/fake/FakeNamedObjects.h"
#include "platform/fake/ManualClock.h"

namespace ovra {
namespace {

using namespace std::chrono_literals;

TEST(FakeNamedObjects, EventsResetModesExistenceAndLifetime) {
    FakeNamedObjects objects;
    bool existed = true;
    auto manual = objects.CreateEvent("m", true, false, &existed);
    EXPECT_FALSE(existed);
    auto again = objects.CreateEvent("m", false, true, &existed);
    EXPECT_TRUE(existed);
    EXPECT_EQ(again->Wait(0ms), WaitResult::Timeout) << "reset mode and state of the creator stand";
    manual->Set();
    EXPECT_EQ(again->Wait(0ms), WaitResult::Signaled);
    EXPECT_EQ(manual->Wait(0ms), WaitResult::Signaled) << "manual reset stays set";

    auto autoReset = objects.CreateEvent("a", false, true, nullptr);
    EXPECT_EQ(autoReset->Wait(0ms), WaitResult::Signaled);
    EXPECT_EQ(autoReset->Wait(0ms), WaitResult::Timeout) << "auto reset consumed";

    EXPECT_EQ(objects.CreateMutex("m", false, nullptr), nullptr) << "name taken by an event";
    manual.reset();
    again.reset();
    EXPECT_FALSE(objects.Exists("m"));
    EXPECT_EQ(objects.OpenEvent("m"), nullptr);
}

TEST(FakeNamedObjects, InstantTimeoutsAdvanceTheManualClock) {
    ManualClock clock;
    FakeNamedObjects objects(&clock);
    objects.InstantTimeouts(&clock);
    auto event = objects.CreateEvent("e", true, false, nullptr);
    EXPECT_EQ(event->Wait(3000ms), WaitResult::Timeout);
    EXPECT_EQ(clock.Now().time_since_epoch(), 3000ms);
    ASSERT_EQ(objects.JournalOf("e").back().op, FakeNamedObjects::Op::WaitTimeout);
}

TEST(FakeNamedObjects, MutexIsRecursiveThreadOwnedAndReportsAbandonment) {
    FakeNamedObjects objects;
    auto mutex = objects.CreateMutex("x", true, nullptr);
    EXPECT_EQ(mutex->Lock(0ms), WaitResult::Signaled) << "owner may lock again";
    std::thread other([&] { EXPECT_EQ(mutex->Lock(10ms), WaitResult::Timeout); });
    other.join();
    EXPECT_FALSE([&] {
        bool result = true;
        std::thread t([&] { result = mutex->Unlock(); });
        t.join();
        return result;
    }()) << "only the owner unlocks";
    objects.AbandonMutex("x");
    std::thread heir([&] {
        EXPECT_EQ(mutex->Lock(0ms), WaitResult::Abandoned);
        EXPECT_TRUE(mutex->Unlock());
    });
    heir.join();
}

}  // namespace
}  // namespace ovra
