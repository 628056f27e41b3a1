// The ovractl program itself, against a Gen2 headset model behind umockdev:
// the real hidraw adapter, libudev and the composition root run unmodified.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/linux/core/SteadyClock.h"
#include "platform/linux/proxy/LinuxPrivateFolder.h"
#include "platform/linux/proxy/ProcessServiceManager.h"
#include "platform/ProxyRecords.h"
#include "sim/hid/Gen2HeadsetModel.h"
#include "sim/umockdev/UmockdevHidHost.h"

extern char** environ;

namespace ovra {
namespace {

using namespace std::chrono_literals;

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
    std::chrono::milliseconds took{};
};

// "<prefix><digits>\n": the frame counter runs on by itself.
bool IsLineWithFrame(const std::string& text, const std::string& prefix) {
    if (text.rfind(prefix, 0) != 0 || text.size() < prefix.size() + 2 || text.back() != '\n')
        return false;
    const std::string digits = text.substr(prefix.size(), text.size() - prefix.size() - 1);
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class OvractlUmockdevTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim::UmockdevHidHost::InMockEnvironment()) << "run under umockdev-wrapper";
        std::string pattern = (std::filesystem::temp_directory_path() / "ovractl-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        scratch_ = pattern;
        // Should the program load the bridge library, the proxy it installs
        // and starts, its flag file and named objects stay in this test's
        // scratch folder, never in the user's home.
        const std::string instance = "ovractl-test-" + std::to_string(::getpid()) + "-" +
                                     scratch_.substr(scratch_.rfind('-') + 1);
        ::setenv("OVRA_PRIVATE_DIR", (scratch_ + "/private").c_str(), 1);
        ::setenv("OVRA_PROXY_INSTANCE", instance.c_str(), 1);
        ::setenv("OVRA_IPC_NAMESPACE", instance.c_str(), 1);
    }
    void TearDown() override {
        {
            // A proxy the program left running is this test's to stop.
            proxy::LinuxPrivateFolder folder(scratch_ + "/private");
            proxy::ProcessServiceManager services(folder);
            services.Stop(proxy::kServiceName);
        }
        std::filesystem::remove_all(scratch_);
    }

    // Runs build/<preset>/bin/ovractl inside the testbed; output via files so
    // that a chatty child can never block on a full pipe.
    Outcome Ovractl(std::vector<std::string> args) {
        const char* binDir = std::getenv("OVRA_BIN_DIR");
        const std::string program = std::string(binDir ? binDir : ".") + "/ovractl";
        std::string name = "ovractl";
        std::vector<char*> argv{name.data()};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        std::vector<std::string> env;
        const auto overrides = host.ChildEnvironment();
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const bool overridden = std::any_of(overrides.begin(), overrides.end(), [&](const auto& o) {
                return entry.compare(0, o.find('=') + 1, o, 0, o.find('=') + 1) == 0;
            });
            if (!overridden) env.push_back(entry);
        }
        env.insert(env.end(), overrides.begin(), overrides.end());
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string outPath = scratch_ + "/out", errPath = scratch_ + "/err";
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        Outcome outcome;
        const auto start = std::chrono::steady_clock::now();
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << program;
            return outcome;
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        outcome.took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        outcome.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        outcome.out = ReadFile(outPath);
        outcome.err = ReadFile(errPath);
        return outcome;
    }

    SteadyClock clock;
    sim::UmockdevHidHost host;
    std::string scratch_;
};

TEST_F(OvractlUmockdevTest, ListsSetsAndReadsBackTwoEffects) {
    auto model = std::make_shared<sim::Gen2HeadsetModel>(sim::Gen2Config(), clock);
    const auto id = host.AddDevice(model);

    Outcome o = Ovractl({"list"});
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "Gen2 0b05:1855 " + host.Node(id) + "\n");

    struct Step {
        std::vector<std::string> set;
        sim::HeadsetShows shows;
        std::string getPrefix;
    } const steps[] = {
        {{"set", "breathing", "E61A00"}, {true, "breathing", 2, 0xE6, 0x1A, 0x00},
         "effect=breathing color=E61A00 mode=2 frame="},
        {{"set", "rainbow", "0080ff"}, {true, "rainbow", 6, 0x00, 0x80, 0xFF},
         "effect=rainbow color=0080FF mode=6 frame="},
        {{"off"}, {false, "static", 1, 0, 0, 0}, "effect=static color=000000 mode=1 frame="},
    };
    for (const auto& step : steps) {
        o = Ovractl(step.set);
        EXPECT_EQ(o.code, 0) << o.err;
        EXPECT_EQ(model->Shows(), step.shows);
        o = Ovractl({"get"});
        EXPECT_EQ(o.code, 0) << o.err;
        EXPECT_TRUE(IsLineWithFrame(o.out, step.getPrefix)) << o.out;
        EXPECT_NE(o.err.find("HS: "), std::string::npos) << "the protocol's debug line";
    }
}

TEST_F(OvractlUmockdevTest, UnplugDuringAWriteFailsBoundedAndNoDeviceExitsThree) {
    auto model = std::make_shared<sim::Gen2HeadsetModel>(sim::Gen2Config(), clock);
    host.AddDevice(model);
    model->InjectOutputFault(sim::ModelAction::Unplug, 1);  // during the first command report
    Outcome o = Ovractl({"set", "static", "FF0000"});
    EXPECT_EQ(o.code, 1) << o.err;
    EXPECT_NE(o.err.find("SetLEDEffect to Headset Failed!"), std::string::npos) << o.err;
    EXPECT_LT(o.took, 5s) << "bounded, no hang";

    o = Ovractl({"get"});
    EXPECT_EQ(o.code, 3);
    EXPECT_NE(o.err.find("no supported device found"), std::string::npos) << o.err;
}

}  // namespace
}  // namespace ovra
