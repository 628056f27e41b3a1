// Cost of the settings store, as ratios to baselines measured in the same run:
//   one accessor call (open key, access, close) vs a bare prepared-statement
//   read or write of one row in a database set up the same way (WAL,
//   synchronous=FULL); and a full apply's stores vs one bare durable write of
//   a file block (write + fdatasync), the floor of any synchronous commit.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/registry/SqliteRegistry.h"
#include "settings/SettingsStore.h"

namespace {

using namespace ovra;

// A private folder for the run's databases (under TMPDIR), removed at exit.
// Kept in a string that is never destroyed, so that the exit handler can
// still read it.
const std::string& BenchFolder() {
    static const std::string* folder = [] {
        const char* base = std::getenv("TMPDIR");
        auto* path = new std::string(std::string(base && *base ? base : "/tmp") + "/ovra-bench-XXXXXX");
        if (!::mkdtemp(path->data())) std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(BenchFolder(), ignored);
        });
        return path;
    }();
    return *folder;
}

struct Store {
    RecordingDebugLog log;
    SqliteRegistry registry{log, {BenchFolder() + "/ovra", BenchFolder() + "/ovra/settings.db"}};
    SettingsStore settings{registry};
    Store() {
        settings.SaveSyncStatus(3);
        StoreDeviceChoice(settings, kHeadsetTarget, {LightingEffect::Breathing, {229, 26, 0}, 1});
        StoreDeviceChoice(settings, kMicTarget, {LightingEffect::Breathing, {229, 26, 0}, 1});
    }
};

Store& SharedStore() {
    static Store store;
    return store;
}

// One table, one row, set up like the store: WAL, synchronous=FULL.
struct BareDatabase {
    sqlite3* db = nullptr;
    sqlite3_stmt* read = nullptr;
    sqlite3_stmt* write = nullptr;
    BareDatabase() {
        sqlite3_open((BenchFolder() + "/bare.db").c_str(), &db);
        sqlite3_exec(db,
                     "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                     "CREATE TABLE IF NOT EXISTS kv(k TEXT PRIMARY KEY, v INTEGER);"
                     "INSERT OR REPLACE INTO kv VALUES ('LED Switch', 1);",
                     nullptr, nullptr, nullptr);
        sqlite3_prepare_v2(db, "SELECT v FROM kv WHERE k = 'LED Switch'", -1, &read, nullptr);
        sqlite3_prepare_v2(db, "UPDATE kv SET v = ?1 WHERE k = 'LED Switch'", -1, &write, nullptr);
    }
};

BareDatabase& Bare() {
    static BareDatabase bare;
    return bare;
}

void BareRead(benchmark::State& state) {
    auto& bare = Bare();
    for (auto _ : state) {
        sqlite3_step(bare.read);
        benchmark::DoNotOptimize(sqlite3_column_int(bare.read, 0));
        sqlite3_reset(bare.read);
    }
}
BENCHMARK(BareRead);

void AccessorRead(benchmark::State& state) {
    auto& store = SharedStore();
    for (auto _ : state) benchmark::DoNotOptimize(store.settings.LoadLEDSwitch(kHeadsetTarget));
    if (!store.log.Texts().empty()) state.SkipWithError("the store logged a failure");
}
BENCHMARK(AccessorRead);

void AccessorReadColour(benchmark::State& state) {
    auto& store = SharedStore();
    for (auto _ : state) benchmark::DoNotOptimize(store.settings.LoadLEDColor(kHeadsetTarget));
}
BENCHMARK(AccessorReadColour);

void BareWrite(benchmark::State& state) {
    auto& bare = Bare();
    int value = 0;
    for (auto _ : state) {
        sqlite3_bind_int(bare.write, 1, ++value & 1);
        sqlite3_step(bare.write);
        sqlite3_reset(bare.write);
    }
}
BENCHMARK(BareWrite)->UseRealTime();

void AccessorWrite(benchmark::State& state) {
    auto& store = SharedStore();
    std::uint32_t value = 0;
    for (auto _ : state) store.settings.SaveLEDSwitch(kHeadsetTarget, ++value & 1);
    if (!store.log.Texts().empty()) state.SkipWithError("the store logged a failure");
}
BENCHMARK(AccessorWrite)->UseRealTime();

// The floor of one synchronous commit on this disk.
void BareDurableBlockWrite(benchmark::State& state) {
    const std::string path = BenchFolder() + "/block";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    char block[4096] = {};
    for (auto _ : state) {
        block[0]++;
        if (::pwrite(fd, block, sizeof block, 0) != sizeof block || ::fdatasync(fd) != 0)
            state.SkipWithError("write failed");
    }
    ::close(fd);
}
BENCHMARK(BareDurableBlockWrite)->UseRealTime();

// What one apply with "Sync to other device" stores: SyncStatus, then each
// device's colour, effect and switch (one transaction per device).
void FullApplyStores(benchmark::State& state) {
    auto& store = SharedStore();
    int i = 0;
    for (auto _ : state) {
        const double c = ++i % 256;
        store.settings.SaveSyncStatus(3);
        StoreDeviceChoice(store.settings, kHeadsetTarget, {LightingEffect::Static, {c, c, c}, 1});
        StoreDeviceChoice(store.settings, kMicTarget, {LightingEffect::Static, {c, c, c}, 1});
    }
}
BENCHMARK(FullApplyStores)->UseRealTime();

// The same values through the single accessors, one commit each (7 commits).
void FullApplyStoresValueByValue(benchmark::State& state) {
    auto& store = SharedStore();
    int i = 0;
    for (auto _ : state) {
        const double c = ++i % 256;
        store.settings.SaveSyncStatus(3);
        for (const SettingsTarget target : {kHeadsetTarget, kMicTarget}) {
            store.settings.SaveLEDColor(target, c, c, c);
            store.settings.SaveLEDServiceBehavior(target, 0);
            store.settings.SaveLEDSwitch(target, 1);
        }
    }
}
BENCHMARK(FullApplyStoresValueByValue)->UseRealTime();

// Prints the ratios after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            if (!run.error_occurred) nanoseconds_[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto ratio = [&](const char* what, const char* subject, const char* baseline) {
            const auto s = nanoseconds_.find(subject), b = nanoseconds_.find(baseline);
            if (s == nanoseconds_.end() || b == nanoseconds_.end() || b->second <= 0) return;
            std::printf("%-58s %8.2fx  (%s / %s)\n", what, s->second / b->second, subject, baseline);
        };
        std::printf("\nRatios (same run):\n");
        ratio("accessor read vs bare prepared read", "AccessorRead", "BareRead");
        ratio("accessor colour read vs bare prepared read", "AccessorReadColour", "BareRead");
        ratio("accessor write vs bare prepared write", "AccessorWrite", "BareWrite");
        ratio("bare prepared write vs bare durable block write", "BareWrite", "BareDurableBlockWrite");
        ratio("full apply's stores vs bare durable block write", "FullApplyStores", "BareDurableBlockWrite");
        ratio("full apply value by value vs bare durable block write", "FullApplyStoresValueByValue",
              "BareDurableBlockWrite");
        const auto apply = nanoseconds_.find("FullApplyStores");
        if (apply != nanoseconds_.end())
            std::printf("full apply's stores: %.3f ms (synchronous=FULL)\n", apply->second / 1e6);
    }

private:
    std::map<std::string, double> nanoseconds_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
