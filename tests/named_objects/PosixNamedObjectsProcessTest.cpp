// The named objects between real processes: what one process sets another
// sees, a dead owner's mutex is reported abandoned, and what a killed run
// leaves in /dev/shm never blocks a new start.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/linux/named_objects/PosixNamedObjects.h"

namespace ovra {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

// A child process running `body`; its exit code is body's result. One pipe
// tells the parent when the child reached a point of interest, another lets
// the parent tell the child to go on.
class Child {
public:
    explicit Child(std::function<int(int readyFd)> body) {
        if (pipe(fds_) != 0 || pipe(goFds_) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds_[0]);
            close(goFds_[1]);
            dup2(goFds_[0], STDIN_FILENO);
            _exit(body(fds_[1]));
        }
        close(fds_[1]);
        close(goFds_[0]);
    }
    void Go() {
        const char c = 'g';
        (void)!write(goFds_[1], &c, 1);
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            Wait();
        }
        close(fds_[0]);
        close(goFds_[1]);
    }
    bool AwaitReady() {
        char c;
        return read(fds_[0], &c, 1) == 1;
    }
    void Kill() { kill(pid_, SIGKILL); }
    // Exit code, or 128 + signal.
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    int fds_[2] = {-1, -1};
    int goFds_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool reaped_ = false;
};

void SignalReady(int fd) {
    const char c = 'r';
    (void)!write(fd, &c, 1);
}

// In the child: blocks until the parent calls Go().
bool AwaitGo() {
    char c;
    return read(STDIN_FILENO, &c, 1) == 1;
}

class NamedObjectsAcrossProcesses : public ::testing::Test {
protected:
    std::string Tag() const {
        return "t" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    bool ShmExists(std::string_view name) const {
        struct stat st;
        return stat(("/dev/shm" + objects_.BackingName(name)).c_str(), &st) == 0;
    }
    PosixNamedObjects objects_{Tag()};
};

TEST_F(NamedObjectsAcrossProcesses, SetResetAndWaitReachTheOtherProcess) {
    auto manual = objects_.CreateEvent("Global\\ledsettingdataevent", true, false, nullptr);
    auto autoReset = objects_.CreateEvent("Global\\auto", false, false, nullptr);
    ASSERT_TRUE(manual && autoReset);

    Child child([tag = Tag()](int ready) {
        PosixNamedObjects mine(tag);
        bool existed = false;
        auto m = mine.CreateEvent("Global\\ledsettingdataevent", false, true, &existed);
        auto a = mine.OpenEvent("Global\\auto");
        if (!m || !a || !existed) return 10;
        if (m->Wait(0ms) != WaitResult::Timeout) return 11;  // creator's state stands
        SignalReady(ready);
        if (m->Wait(10s) != WaitResult::Signaled) return 12;
        if (a->Wait(10s) != WaitResult::Signaled) return 13;
        if (a->Wait(100ms) != WaitResult::Timeout) return 14;  // consumed by the wait above
        if (m->Wait(0ms) != WaitResult::Signaled) return 15;   // manual reset stays set
        return 0;
    });
    ASSERT_TRUE(child.AwaitReady());
    std::this_thread::sleep_for(20ms);  // let the child block in its wait
    EXPECT_TRUE(manual->Set());
    EXPECT_TRUE(autoReset->Set());
    EXPECT_EQ(child.Wait(), 0);

    EXPECT_EQ(autoReset->Wait(0ms), WaitResult::Timeout) << "the child took the auto-reset set";
    EXPECT_EQ(manual->Wait(0ms), WaitResult::Signaled);
    EXPECT_TRUE(manual->Reset());
    EXPECT_EQ(manual->Wait(0ms), WaitResult::Timeout);
}

TEST_F(NamedObjectsAcrossProcesses, TimedWaitsEndAfterTheirTimeout) {
    auto event = objects_.CreateEvent("Global\\waitledfinishevent", true, false, nullptr);
    auto mutex = objects_.CreateMutex("busy", false, nullptr);
    ASSERT_TRUE(event && mutex);
    Child holder([tag = Tag()](int ready) {
        PosixNamedObjects mine(tag);
        auto m = mine.OpenMutex("busy");
        if (!m || m->Lock(0ms) != WaitResult::Signaled) return 10;
        SignalReady(ready);
        pause();
        return 0;
    });
    ASSERT_TRUE(holder.AwaitReady());
    for (auto timeout : {0ms, 60ms}) {
        auto start = Steady::now();
        EXPECT_EQ(event->Wait(timeout), WaitResult::Timeout);
        EXPECT_GE(Steady::now() - start, timeout);
        start = Steady::now();
        EXPECT_EQ(mutex->Lock(timeout), WaitResult::Timeout);
        EXPECT_GE(Steady::now() - start, timeout);
    }
}

TEST_F(NamedObjectsAcrossProcesses, MutexOfAKilledOwnerIsReportedAbandoned) {
    auto mutex = objects_.CreateMutex("Global\\bridge", false, nullptr);
    ASSERT_TRUE(mutex);
    Child owner([tag = Tag()](int ready) {
        PosixNamedObjects mine(tag);
        bool existed = false;
        auto m = mine.CreateMutex("Global\\bridge", true, &existed);
        if (!m || !existed) return 10;
        if (m->Lock(kWaitForever) != WaitResult::Signaled) return 11;  // not owned by Create
        SignalReady(ready);
        pause();
        return 0;
    });
    ASSERT_TRUE(owner.AwaitReady());
    owner.Kill();
    EXPECT_EQ(owner.Wait(), 128 + SIGKILL);

    EXPECT_EQ(mutex->Lock(5s), WaitResult::Abandoned);
    EXPECT_TRUE(mutex->Unlock());
    EXPECT_EQ(mutex->Lock(0ms), WaitResult::Signaled) << "usable again after the abandonment";
    EXPECT_TRUE(mutex->Unlock());
    EXPECT_FALSE(mutex->Unlock()) << "not owned any more";
}

TEST_F(NamedObjectsAcrossProcesses, ExclusionAndRecursionOfTheOwningThread) {
    auto mutex = objects_.CreateMutex("m", true, nullptr);
    ASSERT_TRUE(mutex);
    EXPECT_EQ(mutex->Lock(0ms), WaitResult::Signaled) << "the owner locks again";
    Child contender([tag = Tag()](int ready) {
        PosixNamedObjects mine(tag);
        auto m = mine.OpenMutex("m");
        if (!m) return 10;
        if (m->Lock(30ms) != WaitResult::Timeout) return 11;
        SignalReady(ready);
        return m->Lock(10s) == WaitResult::Signaled && m->Unlock() ? 0 : 12;
    });
    ASSERT_TRUE(contender.AwaitReady());
    EXPECT_TRUE(mutex->Unlock());
    EXPECT_TRUE(mutex->Unlock()) << "second unlock releases it";
    EXPECT_EQ(contender.Wait(), 0);
}

TEST_F(NamedObjectsAcrossProcesses, StaleObjectsOfAKilledRunDoNotBlockANewStart) {
    Child crashed([tag = Tag()](int ready) {
        PosixNamedObjects mine(tag);
        auto e = mine.CreateEvent("Global\\waitleddelayevent", true, true, nullptr);
        auto m = mine.CreateMutex("Global\\bridge", true, nullptr);
        if (!e || !m) return 10;
        SignalReady(ready);
        pause();
        return 0;
    });
    ASSERT_TRUE(crashed.AwaitReady());
    crashed.Kill();
    crashed.Wait();
    ASSERT_TRUE(ShmExists("Global\\waitleddelayevent")) << "the kill left the files behind";
    ASSERT_TRUE(ShmExists("Global\\bridge"));

    // Nobody holds them: opening finds nothing, creating starts afresh.
    EXPECT_EQ(objects_.OpenEvent("Global\\waitleddelayevent"), nullptr);
    bool existed = true;
    auto mutex = objects_.CreateMutex("Global\\bridge", false, &existed);
    ASSERT_TRUE(mutex);
    EXPECT_FALSE(existed);
    EXPECT_EQ(mutex->Lock(0ms), WaitResult::Signaled) << "fresh, neither held nor abandoned";
    existed = true;
    auto event = objects_.CreateEvent("Global\\waitleddelayevent", true, false, &existed);
    ASSERT_TRUE(event);
    EXPECT_FALSE(existed);
    EXPECT_EQ(event->Wait(0ms), WaitResult::Timeout) << "the dead run's set state is gone";
    mutex->Unlock();
}

TEST_F(NamedObjectsAcrossProcesses, LivesWhileAnyProcessHoldsItOwnerOnly) {
    Child creator([tag = Tag()](int ready) {
        PosixNamedObjects mine(tag);
        auto e = mine.CreateEvent("Global\\ledsettingdataevent", true, false, nullptr);
        if (!e) return 10;
        SignalReady(ready);
        // Stays until the parent opened the event, then sets it and exits.
        if (!AwaitGo()) return 11;
        e->Set();
        return 0;
    });
    ASSERT_TRUE(creator.AwaitReady());
    auto opened = objects_.OpenEvent("Global\\ledsettingdataevent");
    ASSERT_TRUE(opened);
    creator.Go();
    EXPECT_EQ(opened->Wait(10s), WaitResult::Signaled);
    EXPECT_EQ(creator.Wait(), 0);

    struct stat st;
    ASSERT_EQ(stat(("/dev/shm" + objects_.BackingName("Global\\ledsettingdataevent")).c_str(), &st),
              0)
        << "still held by us after the creator exited";
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(opened->Wait(0ms), WaitResult::Signaled);

    EXPECT_EQ(objects_.CreateMutex("Global\\ledsettingdataevent", false, nullptr), nullptr)
        << "an event's name is not a mutex";
    opened.reset();
    EXPECT_FALSE(ShmExists("Global\\ledsettingdataevent")) << "the last holder removes it";
    EXPECT_EQ(objects_.OpenEvent("Global\\ledsettingdataevent"), nullptr);
}

}  // namespace
}  // namespace ovra
