// ovra-reg, the settings inspector, run as a program on the store that the
// accessors write.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/registry/SqliteRegistry.h"
#include "settings/SettingsStore.h"
#include "tests/settings/TempStore.h"
#include "tools/ovra-reg/RegText.h"

namespace ovra {
namespace {

struct Result {
    int code = -1;
    std::string out, err;
};

// Runs ovra-reg with the store folder and optional standard input.
Result RunTool(const std::vector<std::string>& args, const std::string& folder,
               const std::string& input = "") {
    const char* binDir = std::getenv("OVRA_BIN_DIR");
    const std::string tool = std::string(binDir ? binDir : ".") + "/ovra-reg";
    int in[2], out[2], err[2];
    if (::pipe(in) || ::pipe(out) || ::pipe(err)) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
        ::setenv("OVRA_CONFIG_DIR", folder.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(tool.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(tool.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (!input.empty() && ::write(in[1], input.data(), input.size()) < 0) {
    }
    ::close(in[1]);
    Result result;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && ::poll(fds, 2, 10000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

const std::string kHeadset = "HKLM\\Software\\Quelt\\OVRA(ZIRUZAVUVU)\\KYX_Headset";

class OvraReg : public ::testing::Test {
protected:
    Result Run(const std::vector<std::string>& args, const std::string& input = "") {
        return RunTool(args, dir_.Folder(), input);
    }
    testing::TempStore dir_;
};

TEST_F(OvraReg, CommandsAndExitCodes) {
    struct Step {
        std::vector<std::string> args;
        int code;
        std::string out;  // exact standard output
    } const steps[] = {
        {{"set", kHeadset, "LED Red", "REG_DWORD", "229"}, 0, ""},
        {{"get", kHeadset, "LED Red"}, 0, "REG_DWORD 229\n"},
        {{"get", "hklm\\software\\quelt\\ovra(ziruzavuvu)\\kyx_headset", "led red"}, 0, "REG_DWORD 229\n"},
        {{"set", kHeadset, "LED Red", "REG_DWORD", "0xFFFFFFFF"}, 0, ""},
        {{"get", kHeadset, "LED Red"}, 0, "REG_DWORD 4294967295\n"},
        {{"set", "HKCU\\Software\\T", "Path", "REG_SZ", "C:\\Tools\\lumiserv \"x\""}, 0, ""},
        {{"get", "HKCU\\Software\\T", "Path"}, 0, "REG_SZ C:\\Tools\\lumiserv \"x\"\n"},
        {{"set", "HKCU\\Software\\T", "Blob", "REG_BINARY", "00A0ff"}, 0, ""},
        {{"get", "HKCU\\Software\\T", "Blob"}, 0, "REG_BINARY 00a0ff\n"},
        {{"list", "HKCU\\Software"}, 0, "T\\\n"},
        {{"list", "HKCU\\Software\\T"}, 0, "\"Blob\" REG_BINARY 00a0ff\n\"Path\" REG_SZ C:\\Tools\\lumiserv \"x\"\n"},
        {{"list"}, 0, "HKLM\\\nHKCU\\\n"},
        // not found
        {{"get", kHeadset, "LED Green"}, 1, ""},
        {{"get", "HKLM\\Nope", "x"}, 1, ""},
        {{"list", "HKLM\\Nope"}, 1, ""},
        {{"delete", "HKCU\\Software\\T", "Blob"}, 0, ""},
        {{"delete", "HKCU\\Software\\T", "Blob"}, 1, ""},
        {{"get", "HKCU\\Software\\T", "Blob"}, 1, ""},
        {{"delete", "HKCU\\Software\\T"}, 0, ""},
        {{"delete", "HKCU\\Software\\T"}, 1, ""},
        {{"export", "HKLM\\Nope"}, 1, ""},
        // usage errors: nothing is written
        {{}, 2, ""},
        {{"frobnicate"}, 2, ""},
        {{"get", kHeadset}, 2, ""},
        {{"set", kHeadset, "v", "REG_QWORD", "1"}, 2, ""},
        {{"set", kHeadset, "v", "REG_DWORD", "12x"}, 2, ""},
        {{"set", kHeadset, "v", "REG_DWORD", "4294967296"}, 2, ""},
        {{"set", kHeadset, "v", "REG_DWORD", "-1"}, 2, ""},
        {{"set", kHeadset, "v", "REG_BINARY", "abc"}, 2, ""},
        {{"set", kHeadset, "v", "REG_SZ", "\xff"}, 2, ""},
        {{"set", "HKXX\\a", "v", "REG_DWORD", "1"}, 2, ""},
        {{"set", "HKLM\\a\\\\b", "v", "REG_DWORD", "1"}, 2, ""},
        {{"delete", "HKLM"}, 2, ""},
        {{"import", "/nonexistent/file"}, 2, ""},
        {{"get", kHeadset, "v"}, 1, ""},
    };
    for (const auto& step : steps) {
        const Result r = Run(step.args);
        std::string command;
        for (const auto& a : step.args) command += a + " ";
        EXPECT_EQ(r.code, step.code) << command << "\n" << r.err;
        EXPECT_EQ(r.out, step.out) << command;
        if (step.code != 0) {
            EXPECT_FALSE(r.err.empty()) << command << ": no message";
        }
    }
}

TEST_F(OvraReg, ReadsWhatTheProgramsStore) {
    {
        RecordingDebugLog log;
        SqliteRegistry registry(log, dir_.Location());
        SettingsStore store(registry);
        store.SaveSyncStatus(3);
        StoreDeviceChoice(store, kHeadsetTarget, {LightingEffect::Rainbow, {229.9, 26.5, 0.0}, 1});
    }
    EXPECT_EQ(Run({"get", kHeadset, "LED Red"}).out, "REG_DWORD 229\n");
    EXPECT_EQ(Run({"get", kHeadset, "LED Green"}).out, "REG_DWORD 26\n");
    EXPECT_EQ(Run({"get", kHeadset, "LED Service Behavior"}).out, "REG_DWORD 5\n");
    EXPECT_EQ(Run({"get", "HKLM\\Software\\Quelt\\OVRA(ZIRUZAVUVU)\\Settings", "Sync Status"}).out,
              "REG_DWORD 3\n");
    // And the programs read what the tool sets.
    ASSERT_EQ(Run({"set", kHeadset, "LED Switch", "REG_DWORD", "0"}).code, 0);
    RecordingDebugLog log;
    SqliteRegistry registry(log, dir_.Location());
    EXPECT_EQ(SettingsStore(registry).LoadLEDSwitch(kHeadsetTarget), 0u);
}

TEST_F(OvraReg, ExportThenImportRestoresEveryValueExactly) {
    {
        RecordingDebugLog log;
        SqliteRegistry registry(log, dir_.Location());
        SettingsStore store(registry);
        store.SaveSyncStatus(255);
        StoreDeviceChoice(store, kMicTarget, {LightingEffect::Music, {1, 2, 3}, 0});
        store.SaveAutoRunEntry("/opt/ovra/lumiserv");
        std::unique_ptr<RegistryKey> key;
        ASSERT_EQ(registry.CreateKey(RegistryRoot::LocalMachine, "Software\\Odd [x] \"y\"", &key),
                  RegistryStatus::Ok);
        const auto set = [&](std::string_view name, RegistryType type, std::vector<std::uint8_t> data) {
            ASSERT_EQ(key->SetValue(name, type, data), RegistryStatus::Ok) << name;
        };
        set("", RegistryType::String, {'A', 0, 0, 0});
        set("quote\" back\\ nl\n tab\t", RegistryType::Dword, {1, 2, 3, 4});
        set("short dword", RegistryType::Dword, {9});
        set("no terminator", RegistryType::String, {'A', 0});
        set("multi", static_cast<RegistryType>(7), {'a', 0, 0, 0, 0, 0});
        set("empty", RegistryType::Binary, {});
        set("ünï ✓", RegistryType::String, {0x3D, 0xD8, 0x00, 0xDE, 0, 0});
        std::unique_ptr<RegistryKey> empty;
        ASSERT_EQ(registry.CreateKey(RegistryRoot::CurrentUser, "Software\\Empty\\Leaf", &empty),
                  RegistryStatus::Ok);
    }
    const Result exported = Run({"export"});
    ASSERT_EQ(exported.code, 0) << exported.err;

    testing::TempStore other;
    const std::string file = other.Root() + "/export.txt";
    std::ofstream(file, std::ios::binary) << exported.out;
    const Result imported = RunTool({"import", file}, other.Folder());
    ASSERT_EQ(imported.code, 0) << imported.err;
    EXPECT_EQ(RunTool({"export"}, other.Folder()).out, exported.out);
    // Standard input works too, and importing twice changes nothing.
    EXPECT_EQ(RunTool({"import", "-"}, other.Folder(), exported.out).code, 0);
    EXPECT_EQ(RunTool({"export"}, other.Folder()).out, exported.out);
    EXPECT_EQ(RunTool({"get", "HKLM\\Software\\Odd [x] \"y\"", "short dword"}, other.Folder()).out,
              "REG_DWORD hex:09\n");
}

TEST_F(OvraReg, MalformedImportIsRefusedWithTheLineAndWritesNothing) {
    struct Case {
        std::string text;
        std::string line;
    } const cases[] = {
        {"[HKLM\\A]\n\"v\"=REG_DWORD:1\n\"w\"=REG_DWORD:x\n", "line 3"},
        {"\"v\"=REG_DWORD:1\n", "line 1"},
        {"[HKLM\\A]\n\"v\"=REG_SZ:\"open\n", "line 2"},
        {"[HKLM\\A\n", "line 1"},
        {"[HKZZ\\A]\n", "line 1"},
        {"[HKLM\\A]\n\"v\"=type(7):0102\n", "line 2"},
        {"[HKLM\\A]\n\"v\"=REG_BINARY:0g\n", "line 2"},
        {"[HKLM\\A]\n\"v\"REG_DWORD:1\n", "line 2"},
        {"[HKLM\\A]\n\"v\\q\"=REG_DWORD:1\n", "line 2"},
    };
    for (const auto& c : cases) {
        const Result r = Run({"import", "-"}, c.text);
        EXPECT_EQ(r.code, 2) << c.text;
        EXPECT_NE(r.err.find(c.line), std::string::npos) << c.text << r.err;
        EXPECT_EQ(Run({"list", "HKLM\\A"}).code, 1) << "partly imported: " << c.text;
    }
}

TEST(OvraRegStore, AnUnusableStoreIsExitCode3NamingTheFile) {
    testing::TempStore dir;
    std::ofstream(dir.Root() + "/plain") << "x";
    const std::string folder = dir.Root() + "/plain/ovra";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"get", kHeadset, "LED Red"}, {"set", kHeadset, "a", "REG_DWORD", "1"},
          {"export"}, {"list", kHeadset}}) {
        const Result r = RunTool(args, folder);
        EXPECT_EQ(r.code, 3) << args[0];
        EXPECT_NE(r.err.find(folder + "/settings.db"), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace ovra
