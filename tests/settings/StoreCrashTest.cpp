// The store under a program killed mid-write, two programs at once, and
// several threads: it always opens afterwards, and every value is one that
// was written, never a torn one.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <random>
#include <thread>

#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/registry/SqliteRegistry.h"
#include "settings/SettingsStore.h"
#include "tests/settings/ChildProcess.h"
#include "tests/settings/TempStore.h"

namespace ovra {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::TempStore;

TEST(StoreCrash, KilledWhileWritingLeavesEachValueOldOrNew) {
    TempStore dir;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    std::mt19937 random(seed);
    // What the store holds before a round. The colour is written before the
    // effect, so the colour is never behind the effect.
    std::uint32_t colourBefore = 0, effectBefore = 0;
    {
        RecordingDebugLog log;
        SqliteRegistry registry(log, dir.Location());
        SettingsStore store(registry);
        store.SaveLEDColor(kHeadsetTarget, 0, 0, 0);
        store.SaveLEDServiceBehavior(kHeadsetTarget, 0);
    }
    std::uint32_t completedWrites = 0;
    constexpr int kRounds = 20;
    for (int round = 0; round < kRounds; ++round) {
        const std::uint32_t base = colourBefore;
        ChildProcess child([base, &dir](int report) {
            RecordingDebugLog log;
            SqliteRegistry registry(log, dir.Location());
            SettingsStore store(registry);
            testing::WriteAll(report, &base, sizeof base);  // started
            for (std::uint32_t n = base + 1;; ++n) {
                store.SaveLEDColor(kHeadsetTarget, n, n, n);
                store.SaveLEDServiceBehavior(kHeadsetTarget, n);
                if (!log.Texts().empty()) return 3;
                testing::WriteAll(report, &n, sizeof n);  // both writes returned
            }
        });
        ASSERT_TRUE(child.Started());
        std::uint32_t value;
        ASSERT_TRUE(child.Read(&value, sizeof value));
        // Every other round the kill lands after the first pair was written,
        // so that a slow disk still sees kills in the middle of later writes.
        std::uint32_t last = base;
        if (round % 2) {
            ASSERT_TRUE(child.Read(&value, sizeof value));
            last = value;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        child.Kill();
        const int status = child.Wait();
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own: " << status;
        while (child.Read(&value, sizeof value)) last = value;

        RecordingDebugLog log;  // a fresh process's view: opens and checks the file
        SqliteRegistry registry(log, dir.Location());
        SettingsStore store(registry);
        const Colour colour = store.LoadLEDColor(kHeadsetTarget);
        const std::uint32_t effect = store.LoadLEDServiceBehavior(kHeadsetTarget);
        EXPECT_TRUE(log.Texts().empty()) << log.Texts().front();
        // One transaction per accessor: never half a colour.
        ASSERT_EQ(colour.red, colour.green);
        ASSERT_EQ(colour.green, colour.blue);
        const auto colourNow = static_cast<std::uint32_t>(colour.red);
        SCOPED_TRACE(::testing::Message() << "before " << colourBefore << "/" << effectBefore
                                          << ", last reported " << last << ", now " << colourNow
                                          << "/" << effect);
        if (last == base) {
            // Killed before a pair completed: old values, or the first new ones.
            EXPECT_TRUE(colourNow == colourBefore || colourNow == base + 1);
            EXPECT_TRUE(effect == effectBefore || effect == base + 1);
        } else {
            ++completedWrites;
            EXPECT_TRUE(colourNow == last || colourNow == last + 1);
            EXPECT_TRUE(effect == last || effect == last + 1);
        }
        EXPECT_GE(colourNow, effect);
        colourBefore = colourNow;
        effectBefore = effect;
    }
    EXPECT_GT(completedWrites, 0u) << "no write ever completed before a kill";
}

// The two programs, each its own process: a UI-like writer storing two
// alternating choices and a service-like reader.
TEST(StoreCrash, TwoProgramsWritingAndReadingSeeOnlyWholeValues) {
    TempStore dir;
    struct Choice {
        std::uint32_t sync;
        LightingSetting setting;
    };
    const Choice choices[2] = {{1, {LightingEffect::Breathing, {10, 10, 10}, 1}},
                               {3, {LightingEffect::ColorCycle, {200, 200, 200}, 0}}};
    const auto writer = [&](SettingsTarget target) {
        return [&, target](int report) {
            RecordingDebugLog log;
            SqliteRegistry registry(log, dir.Location());
            SettingsStore store(registry);
            const auto until = std::chrono::steady_clock::now() + 700ms;
            std::uint32_t writes = 0;
            for (int i = 0; std::chrono::steady_clock::now() < until; ++i, ++writes) {
                const Choice& c = choices[i % 2];
                store.SaveSyncStatus(c.sync);
                StoreDeviceChoice(store, target, c.setting);
            }
            testing::WriteAll(report, &writes, sizeof writes);
            for (const auto& line : log.Texts()) std::fprintf(stderr, "writer: %s", line.c_str());
            return log.Texts().empty() ? 0 : 1;
        };
    };
    ChildProcess headsetWriter(writer(kHeadsetTarget));
    ChildProcess micWriter(writer(kMicTarget));
    ASSERT_TRUE(headsetWriter.Started() && micWriter.Started());

    RecordingDebugLog log;
    SqliteRegistry registry(log, dir.Location());
    SettingsStore store(registry);
    int reads = 0;
    const auto until = std::chrono::steady_clock::now() + 700ms;
    while (std::chrono::steady_clock::now() < until) {
        for (const SettingsTarget target : {kHeadsetTarget, kMicTarget}) {
            const Colour colour = store.LoadLEDColor(target);
            const std::uint32_t effect = store.LoadLEDServiceBehavior(target);
            const std::uint32_t lightSwitch = store.LoadLEDSwitch(target);
            ASSERT_EQ(colour.red, colour.green);
            ASSERT_EQ(colour.green, colour.blue);
            ASSERT_TRUE(colour.red == 10 || colour.red == 200 || colour.red == 256) << colour.red;
            ASSERT_TRUE(effect == 1 || effect == 3 || effect == 255) << effect;
            ASSERT_TRUE(lightSwitch == 1 || lightSwitch == 0 || lightSwitch == 255) << lightSwitch;
        }
        const std::uint32_t sync = store.LoadSyncStatus();
        ASSERT_TRUE(sync == 1 || sync == 3 || sync == 255) << sync;
        ++reads;
    }
    for (ChildProcess* child : {&headsetWriter, &micWriter}) {
        std::uint32_t writes = 0;
        EXPECT_TRUE(child->Read(&writes, sizeof writes));
        EXPECT_GT(writes, 0u);
        const int status = child->Wait();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer logged a store failure";
    }
    EXPECT_GT(reads, 0);
    EXPECT_TRUE(log.Texts().empty()) << log.Texts().front();
}

TEST(StoreCrash, ThreadsShareOneRegistry) {
    TempStore dir;
    RecordingDebugLog log;
    SqliteRegistry registry(log, dir.Location());
    constexpr int kThreads = 4;
    constexpr std::uint32_t kWrites = 15;
    std::atomic<int> torn{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            SettingsStore store(registry);
            // Two threads per key: each writes its own colour, all read.
            const SettingsTarget target = t % 2 ? kHeadsetTarget : kMicTarget;
            for (std::uint32_t i = 1; i <= kWrites; ++i) {
                const double c = t * 1000 + i;
                store.SaveLEDColor(target, c, c, c);
                const Colour read = store.LoadLEDColor(target);
                if (read.red != read.green || read.green != read.blue) ++torn;
                store.SaveLEDServiceBehavior(kGeneralTarget, i);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_TRUE(log.Texts().empty()) << log.Texts().front();
    SettingsStore store(registry);
    EXPECT_EQ(store.LoadLEDServiceBehavior(kGeneralTarget), kWrites);
    const double lastMic = store.LoadLEDColor(kMicTarget).red;
    EXPECT_TRUE(lastMic == 0 * 1000 + kWrites || lastMic == 2 * 1000 + kWrites) << lastMic;
}

}  // namespace
}  // namespace ovra
