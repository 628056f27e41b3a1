// The store file damaged, or its folder missing or read-only: the programs
// keep running with defaults, say so once, and never lose the damaged file.

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <cstdio>
#include <fstream>
#include <random>

#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/registry/SqliteRegistry.h"
#include "settings/SettingsStore.h"
#include "tests/settings/ChildProcess.h"
#include "tests/settings/TempStore.h"

namespace ovra {
namespace {

namespace fs = std::filesystem;
using testing::TempStore;

std::string ReadFile(const std::string& path) {
    std::string bytes;
    if (std::FILE* in = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes.append(buffer, n);
        std::fclose(in);
    }
    return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Files in the folder whose name starts with `prefix`.
std::vector<std::string> FilesStartingWith(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(prefix)) found.push_back(entry.path().string());
    std::sort(found.begin(), found.end());
    return found;
}

// Writes a real store holding one headset colour, with the journal folded into
// the main file, so that damage to the file's pages is damage to the data.
void MakeStore(const TempStore& dir) {
    {
        RecordingDebugLog log;
        SqliteRegistry registry(log, dir.Location());
        SettingsStore(registry).SaveLEDColor(kHeadsetTarget, 1, 2, 3);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.File().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

struct Damage {
    const char* what;
    std::function<void(const TempStore&)> apply;
};

class DamagedStore : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedStore, IsMovedAsideNamedInTheLogAndReplacedByAFreshStore) {
    TempStore dir;
    fs::create_directories(dir.Folder());
    GetParam().apply(dir);
    const std::string original = ReadFile(dir.File());
    ASSERT_FALSE(original.empty());

    RecordingDebugLog log;
    SqliteRegistry registry(log, dir.Location());
    SettingsStore store(registry);
    // Defaults, as if nothing had been stored.
    EXPECT_EQ(store.LoadLEDColor(kHeadsetTarget).red, 256.0);
    EXPECT_EQ(store.LoadLEDServiceBehavior(kHeadsetTarget), 255u);

    // The damaged bytes are kept, untouched, under a stamped name.
    const auto aside = FilesStartingWith(dir.Folder(), "settings.db.corrupt-");
    ASSERT_FALSE(aside.empty());
    EXPECT_TRUE(ReadFile(aside[0]) == original) << "the damaged file changed";
    // One clear line naming the file and where it went.
    const auto lines = log.Texts();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(dir.File() + " is damaged"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("moved it to " + aside[0]), std::string::npos) << lines[0];

    // The fresh store works, and another program opening it is content.
    store.SaveLEDSwitch(kMicTarget, 1);
    EXPECT_EQ(store.LoadLEDSwitch(kMicTarget), 1u);
    RecordingDebugLog otherLog;
    SqliteRegistry other(otherLog, dir.Location());
    EXPECT_EQ(SettingsStore(other).LoadLEDSwitch(kMicTarget), 1u);
    EXPECT_TRUE(otherLog.Texts().empty());
    EXPECT_EQ(log.Texts().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DamagedStore,
    ::testing::Values(
        Damage{"text", [](const TempStore& d) { WriteFile(d.File(), std::string(5000, 'x') + "\n"); }},
        Damage{"random bytes",
               [](const TempStore& d) {
                   std::mt19937 random(7);
                   std::string bytes(8192, '\0');
                   for (auto& b : bytes) b = static_cast<char>(random());
                   WriteFile(d.File(), bytes);
               }},
        Damage{"damaged pages",
               [](const TempStore& d) {
                   MakeStore(d);
                   std::string bytes = ReadFile(d.File());
                   for (std::size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31);
                   WriteFile(d.File(), bytes);
               }},
        Damage{"cut short",
               [](const TempStore& d) {
                   MakeStore(d);
                   WriteFile(d.File(), ReadFile(d.File()).substr(0, 60));
               }},
        Damage{"another program's database",
               [](const TempStore& d) {
                   sqlite3* db = nullptr;
                   sqlite3_open(d.File().c_str(), &db);
                   sqlite3_exec(db, "CREATE TABLE notes(x); INSERT INTO notes VALUES (1)", nullptr,
                                nullptr, nullptr);
                   sqlite3_close(db);
               }}),
    [](const ::testing::TestParamInfo<Damage>& param) {
        std::string name = param.param.what;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

TEST(DamagedStore, DamageFoundWhileRunningIsHandledTheSameWay) {
    TempStore dir;
    RecordingDebugLog log;
    SqliteRegistry registry(log, dir.Location());
    SettingsStore store(registry);
    store.SaveLEDSwitch(kHeadsetTarget, 1);
    ASSERT_EQ(store.LoadLEDSwitch(kHeadsetTarget), 1u);
    // Something else overwrites the file while the program runs.
    const std::string garbage(32768, 'g');
    for (const char* suffix : {"", "-wal", "-shm"}) WriteFile(dir.File() + suffix, garbage);

    EXPECT_EQ(store.LoadLEDSwitch(kHeadsetTarget), 255u);
    store.SaveLEDSwitch(kHeadsetTarget, 0);
    EXPECT_EQ(store.LoadLEDSwitch(kHeadsetTarget), 0u);
    const auto aside = FilesStartingWith(dir.Folder(), "settings.db.corrupt-");
    ASSERT_FALSE(aside.empty());
    EXPECT_TRUE(ReadFile(aside[0]) == garbage);
    ASSERT_FALSE(log.Texts().empty());
    EXPECT_NE(log.Texts()[0].find("moved it to " + aside[0]), std::string::npos) << log.Texts()[0];
}

// --- folder missing or read-only ----------------------------------------------

// Root may write anywhere; drop that power in the child that plays the user.
bool DropFilePermissionOverride() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    const std::uint32_t drop = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
    data[0].effective &= ~drop;
    data[0].permitted &= ~drop;
    data[0].inheritable &= ~drop;
    return syscall(SYS_capset, &header, data) == 0;
}

// Runs the accessors against the location; returns "" or what went wrong.
std::string UseUnusableStore(const StoreLocation& location) {
    RecordingDebugLog log;
    SqliteRegistry registry(log, location);
    SettingsStore store(registry);
    for (int i = 0; i < 5; ++i) {
        store.SaveLEDSwitch(kHeadsetTarget, 0);
        store.SaveLEDColor(kHeadsetTarget, 1, 2, 3);
        store.SaveSyncStatus(1);
        if (store.LoadLEDSwitch(kHeadsetTarget) != 255) return "a reader did not give the default";
        if (store.LoadLEDColor(kHeadsetTarget).red != 256) return "the colour was not the default";
        if (store.LoadSyncStatus() != 255) return "SyncStatus was not the default";
    }
    const auto lines = log.Texts();
    if (lines.size() != 1) return std::to_string(lines.size()) + " log lines instead of one";
    if (lines[0].find(location.file) == std::string::npos) return "the log line does not name the file: " + lines[0];
    return "";
}

std::string RunAsUser(const std::function<std::string()>& body) {
    testing::ChildProcess child([&](int report) {
        const std::string problem =
            DropFilePermissionOverride() ? body() : std::string("cannot drop root's override");
        testing::WriteAll(report, problem.data(), problem.size());
        return 0;
    });
    std::string problem;
    char c;
    while (child.Read(&c, 1)) problem.push_back(c);
    child.Wait();
    return problem;
}

TEST(UnusableFolder, MissingAndImpossibleToCreate) {
    TempStore dir;
    WriteFile(dir.Root() + "/plain-file", "not a folder");
    const std::string folder = dir.Root() + "/plain-file/ovra";
    EXPECT_EQ(UseUnusableStore({folder, folder + "/settings.db"}), "");
}

TEST(UnusableFolder, ReadOnlyFolderWithoutAStore) {
    TempStore dir;
    fs::create_directories(dir.Folder());
    ::chmod(dir.Folder().c_str(), 0500);
    EXPECT_EQ(RunAsUser([&] { return UseUnusableStore(dir.Location()); }), "");
    EXPECT_FALSE(fs::exists(dir.File()));
}

TEST(UnusableFolder, ReadOnlyStoreKeepsItsValues) {
    TempStore dir;
    MakeStore(dir);
    for (const auto& entry : fs::directory_iterator(dir.Folder())) ::chmod(entry.path().c_str(), 0400);
    ::chmod(dir.Folder().c_str(), 0500);
    const std::string before = ReadFile(dir.File());
    EXPECT_EQ(RunAsUser([&] { return UseUnusableStore(dir.Location()); }), "");
    EXPECT_TRUE(ReadFile(dir.File()) == before);
    EXPECT_TRUE(FilesStartingWith(dir.Folder(), "settings.db.corrupt-").empty());
}

TEST(StoreLocation, FolderComesFromTheEnvironment) {
    struct Case {
        const char *override_, *xdg, *home;
        const char* expected;
    } const cases[] = {
        {"/x/cfg", "/xdg", "/home/u", "/x/cfg/settings.db"},
        {"/x/cfg/", nullptr, "/home/u", "/x/cfg/settings.db"},
        {nullptr, "/xdg", "/home/u", "/xdg/ovra/settings.db"},
        {nullptr, "relative", "/home/u", "/home/u/.config/ovra/settings.db"},
        {nullptr, nullptr, "/home/u", "/home/u/.config/ovra/settings.db"},
        {"", "", "/home/u", "/home/u/.config/ovra/settings.db"},
    };
    const auto set = [](const char* name, const char* value) {
        if (value) ::setenv(name, value, 1); else ::unsetenv(name);
    };
    const std::string saved[3] = {getenv("OVRA_CONFIG_DIR") ? getenv("OVRA_CONFIG_DIR") : "",
                                  getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "",
                                  getenv("HOME") ? getenv("HOME") : ""};
    for (const auto& c : cases) {
        set("OVRA_CONFIG_DIR", c.override_);
        set("XDG_CONFIG_HOME", c.xdg);
        set("HOME", c.home);
        StoreLocation location;
        ASSERT_TRUE(ResolveStoreLocation(&location));
        EXPECT_EQ(location.file, c.expected);
    }
    set("OVRA_CONFIG_DIR", saved[0].empty() ? nullptr : saved[0].c_str());
    set("XDG_CONFIG_HOME", saved[1].empty() ? nullptr : saved[1].c_str());
    set("HOME", saved[2].empty() ? nullptr : saved[2].c_str());
}

TEST(StoreLocation, FolderAndFileAreOwnerOnly) {
    TempStore dir;
    RecordingDebugLog log;
    SqliteRegistry registry(log, {dir.Folder() + "/deeper", dir.Folder() + "/deeper/settings.db"});
    SettingsStore(registry).SaveSyncStatus(1);
    struct stat info{};
    ASSERT_EQ(::stat((dir.Folder() + "/deeper").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        ASSERT_EQ(::stat((dir.Folder() + "/deeper/settings.db" + suffix).c_str(), &info), 0) << suffix;
        EXPECT_EQ(info.st_mode & 0777, 0600u) << suffix;
    }
}

}  // namespace
}  // namespace ovra
