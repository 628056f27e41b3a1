// Installing, updating, starting and giving up the proxy with the real
// adapters: the private folder on disk, the proxy program started and
// tracked as a process, the channel over the user's socket.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <memory>

#include "bridge_library/install/ProxyInstaller.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/proxy/CarriedImage.h"
#include "platform/linux/proxy/LinuxPrivateFolder.h"
#include "platform/linux/proxy/ProcessServiceManager.h"
#include "platform/linux/proxy/SocketProxyChannel.h"
#include "tests/bridge_usb/ProxyProcess.h"

namespace ovra::brx {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// The built proxy program with the given version written into its note.
Bytes ProxyImage(ImageVersion v, const char* product = "KvsUpx") {
    Bytes bytes;
    EXPECT_TRUE(proxy::ReadWholeFile(test::BinDir() + "/KvsUpx", bytes));
    const auto info = ReadImageInfo(bytes);
    EXPECT_TRUE(info);
    if (!info) return bytes;
    const std::uint16_t words[4] = {v.major, v.minor, v.build, v.revision};
    for (int i = 0; i < 4; ++i) {
        bytes[info->versionOffset + 2 * i] = static_cast<std::uint8_t>(words[i]);
        bytes[info->versionOffset + 2 * i + 1] = static_cast<std::uint8_t>(words[i] >> 8);
    }
    std::fill_n(bytes.begin() + static_cast<long>(info->versionOffset) + 8, 8, 0);
    std::copy_n(product, std::strlen(product), bytes.begin() + static_cast<long>(info->versionOffset) + 8);
    return bytes;
}

// One process's view: its own folder handle, service manager, channel
// opener, request client and installer (flag locks belong to open files, so
// two of these in one test behave as two processes).
struct LibraryProcess {
    LibraryProcess(const std::string& folderPath, const std::string& instance, Bytes carried,
                   bool mayManage = true)
        : folder(folderPath), services(folder, mayManage), opener(instance),
          installer({log, services, folder, opener}, [carried](Bytes& out) {
              out = carried;
              return true;
          }) {}

    bool Init() { return installer.InitProxyChannel(client); }
    void Release() { installer.ReleaseProxyChannel(client); }

    RecordingDebugLog log;
    proxy::LinuxPrivateFolder folder;
    proxy::ProcessServiceManager services;
    proxy::SocketProxyChannelOpener opener;
    ProxyClient client{log};
    ProxyInstaller installer;
};

class ProxyInstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/ovra-proxy-install-XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern));
        dir = pattern;
        ::setenv("OVRA_PROXY_INSTANCE", instance.c_str(), 1);  // the proxies we start serve it
    }
    void TearDown() override {
        ::unsetenv("OVRA_PROXY_IDLE_EXIT_MS");
        proxy::LinuxPrivateFolder folder(dir);
        proxy::ProcessServiceManager services(folder);
        services.Stop(proxy::kServiceName);  // never leave a proxy behind
        fs::remove_all(dir);
    }
    std::unique_ptr<LibraryProcess> Process(Bytes carried, bool mayManage = true) {
        return std::make_unique<LibraryProcess>(dir, instance, std::move(carried), mayManage);
    }
    std::optional<ImageVersion> InstalledVersion() {
        Bytes b;
        if (!proxy::ReadWholeFile(dir + "/KvsUpx", b)) return std::nullopt;
        const auto info = ReadImageInfo(b);
        return info ? std::optional(info->version) : std::nullopt;
    }
    ServiceState State() {
        proxy::LinuxPrivateFolder folder(dir);
        proxy::ProcessServiceManager services(folder);
        ServiceState s = ServiceState::Stopped;
        return services.Query(proxy::kServiceName, s) == ServiceError::Ok ? s : ServiceState::Stopped;
    }
    bool Registered() {
        proxy::LinuxPrivateFolder folder(dir);
        proxy::ProcessServiceManager services(folder);
        return services.Exists(proxy::kServiceName) == ServiceError::Ok;
    }

    std::string dir;
    std::string instance = test::UniqueInstance("install");
    const ImageVersion v1_10{1, 10, 0, 0}, v1_11{1, 11, 0, 0}, v2_0{2, 0, 0, 0};
};

struct VersionCase {
    ImageVersion image, installed;
    bool replace;
};

TEST_F(ProxyInstallerTest, ImageReplacesInstalledOnlyWhenItsWholeVersionIsHigher) {
    RecordingDebugLog log;
    auto p = Process({});
    for (const VersionCase& c : {
             VersionCase{{1, 11, 0, 0}, {1, 11, 0, 0}, false},
             VersionCase{{1, 11, 0, 0}, {2, 0, 0, 0}, false},  // a newer install is kept
             VersionCase{{2, 0, 0, 0}, {1, 11, 0, 0}, true},
             VersionCase{{1, 12, 0, 0}, {1, 11, 5, 0}, true},
             VersionCase{{1, 11, 0, 1}, {1, 11, 0, 0}, true},
             VersionCase{{1, 10, 9, 9}, {1, 11, 0, 0}, false},
             VersionCase{{1, 11, 0, 0}, {1, 10, 0, 7}, true}}) {
        EXPECT_EQ(p->installer.IsDriverImageNewer(ProxyImage(c.image), ProxyImage(c.installed)), c.replace)
            << c.image.major << "." << c.image.minor << "." << c.image.build << "." << c.image.revision;
    }
    // an installed file without a readable version is replaced
    EXPECT_TRUE(p->installer.IsDriverImageNewer(ProxyImage(v1_10), Bytes{'#', '!', '/'}));
}

TEST_F(ProxyInstallerTest, FirstInstallWritesStartsAndOpens) {
    auto a = Process(ProxyImage(v1_11));
    ASSERT_TRUE(a->Init());
    EXPECT_TRUE(a->log.Contains("Extracting KvsUpx.sys\n"));
    EXPECT_TRUE(a->log.Contains("Install KvsUpx service\n"));
    EXPECT_EQ(InstalledVersion(), v1_11);
    EXPECT_EQ(State(), ServiceState::Running);
    EXPECT_TRUE(a->client.IsOpen());
    EXPECT_TRUE(a->installer.HoldsFlag());
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/KvsUpx").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);  // private, and nothing staged left over
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".staging"), std::string::npos);

    // a request reaches the proxy (no device there: it says so)
    std::uint64_t context = 0;
    EXPECT_FALSE(a->client.Open(proxy::MakeInterfaceHandle(9, 9, 0), &context));
    EXPECT_EQ(a->client.LastError(), static_cast<std::uint32_t>(ProxyError::DeviceNotConnected));

    a->Release();
    EXPECT_TRUE(a->log.Contains("Uninstall KvsUpx driver\n"));
    EXPECT_FALSE(Registered());
    EXPECT_EQ(InstalledVersion(), v1_11);  // the file stays
}

TEST_F(ProxyInstallerTest, NewerImageReplacesOlderAndOlderNeverReplacesNewer) {
    auto old = Process(ProxyImage(v1_10));
    ASSERT_TRUE(old->Init());
    old->Release();
    ASSERT_EQ(InstalledVersion(), v1_10);

    auto newer = Process(ProxyImage(v2_0));
    ASSERT_TRUE(newer->Init());
    EXPECT_TRUE(newer->log.Contains("Extracting KvsUpx.sys\n"));
    EXPECT_EQ(InstalledVersion(), v2_0);
    newer->Release();

    auto older = Process(ProxyImage(v1_11));  // 1.11 has the larger minor part, but is older
    ASSERT_TRUE(older->Init());
    EXPECT_TRUE(older->log.Contains("Already have newer KvsUpx.sys, don't need to update\n"));
    EXPECT_EQ(InstalledVersion(), v2_0);
    EXPECT_EQ(State(), ServiceState::Running);
    older->Release();
}

TEST_F(ProxyInstallerTest, TwoProcessesShareTheProxyAndTheLastOneOutUninstalls) {
    auto first = Process(ProxyImage(v1_10));
    ASSERT_TRUE(first->Init());
    auto second = Process(ProxyImage(v1_11));  // newer, but the proxy is in use
    ASSERT_TRUE(second->Init());
    EXPECT_TRUE(second->log.Contains("Warning: KvsUpx service in use, cannot be updated until next reboot\n"));
    EXPECT_EQ(State(), ServiceState::Running);

    first->Release();
    EXPECT_FALSE(first->log.Contains("Uninstall KvsUpx driver\n"));
    EXPECT_EQ(State(), ServiceState::Running);
    EXPECT_TRUE(fs::exists(dir + "/KvsUpx.flag"));

    second->Release();
    EXPECT_TRUE(second->log.Contains("Uninstall KvsUpx driver\n"));
    EXPECT_TRUE(second->log.Contains("<- UninstallKvProxy\n"));
    EXPECT_FALSE(Registered());
    EXPECT_FALSE(fs::exists(dir + "/KvsUpx.flag"));
}

TEST_F(ProxyInstallerTest, AFlagLeftByACrashedProcessDoesNotCountAsInUse) {
    // A process that installed an older proxy and crashed: its flag file is
    // still there, but nobody holds it.
    const pid_t crashed = ::fork();
    if (crashed == 0) {
        LibraryProcess p(dir, instance, ProxyImage(v1_10));
        if (!p.Init()) ::_exit(1);
        ::kill(::getpid(), SIGKILL);
    }
    int status = 0;
    ::waitpid(crashed, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_TRUE(fs::exists(dir + "/KvsUpx.flag"));
    ASSERT_EQ(State(), ServiceState::Running);

    auto next = Process(ProxyImage(v1_11));
    ASSERT_TRUE(next->Init());
    EXPECT_TRUE(next->log.Contains("Update KvsUpx service, bRunning=TRUE, bServiceInUse=FALSE\n"));
    EXPECT_EQ(InstalledVersion(), v1_11);
    next->Release();
    EXPECT_TRUE(next->log.Contains("Uninstall KvsUpx driver\n"));
    EXPECT_FALSE(Registered());
}

TEST_F(ProxyInstallerTest, WithoutTheRightToManageServicesItOnlyOpensARunningProxy) {
    auto alone = Process(ProxyImage(v1_11), /*mayManage=*/false);
    EXPECT_FALSE(alone->Init());
    EXPECT_TRUE(alone->log.Contains(
        "OpenSCManager failed with 5, possible don't have enough access right to install KvsUpx\n"));
    EXPECT_TRUE(alone->log.Contains("Failed to create hProxyDriver\n"));
    EXPECT_FALSE(fs::exists(dir + "/KvsUpx"));  // nothing installed

    auto admin = Process(ProxyImage(v1_10));
    ASSERT_TRUE(admin->Init());
    auto user = Process(ProxyImage(v1_11), false);
    ASSERT_TRUE(user->Init());
    EXPECT_EQ(InstalledVersion(), v1_10);  // the user's newer image was not written
    user->Release();
    admin->Release();
}

TEST_F(ProxyInstallerTest, AProxyLeftWithoutUsersEndsAndTheNextUserStartsItAgain) {
    ::setenv("OVRA_PROXY_IDLE_EXIT_MS", "200", 1);
    {
        auto crashed = Process(ProxyImage(v1_11));
        ASSERT_TRUE(crashed->Init());
        // gone without releasing: nobody will uninstall
    }
    for (int i = 0; i < 300 && State() == ServiceState::Running; ++i) ::usleep(10 * 1000);
    EXPECT_EQ(State(), ServiceState::Stopped);
    EXPECT_TRUE(Registered());

    auto next = Process(ProxyImage(v1_11));
    ASSERT_TRUE(next->Init());
    EXPECT_TRUE(next->log.Contains("Start existing KvsUpx service\n"));
    EXPECT_EQ(State(), ServiceState::Running);
    next->Release();
}

struct ImageCheckCase {
    const char* name;
    std::function<void(const std::string& image)> prepare;
    ServiceError expected;
};

TEST_F(ProxyInstallerTest, TheServiceManagerChecksTheImageBeforeStartingIt) {
    const std::string image = dir + "/KvsUpx";
    auto write = [](const std::string& path, const Bytes& bytes, mode_t mode) {
        fs::remove(path);
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        ::chmod(path.c_str(), mode);
    };
    const std::vector<ImageCheckCase> cases = {
        {"missing", [](const std::string& p) { fs::remove(p); }, ServiceError::FileNotFound},
        {"a program without the version note",
         [&](const std::string& p) { Bytes b; proxy::ReadWholeFile("/bin/true", b); write(p, b, 0700); },
         ServiceError::BadImage},
        {"another program's note", [&](const std::string& p) { write(p, ProxyImage(v1_11, "Other"), 0700); },
         ServiceError::BadImage},
        {"writable by the group", [&](const std::string& p) { write(p, ProxyImage(v1_11), 0770); },
         ServiceError::AccessDenied},
        {"a symbolic link to a good image",
         [&](const std::string& p) {
             write(p + ".real", ProxyImage(v1_11), 0700);
             fs::remove(p);
             fs::create_symlink(p + ".real", p);
         },
         ServiceError::AccessDenied},
    };
    proxy::LinuxPrivateFolder folder(dir);
    proxy::ProcessServiceManager services(folder);
    ASSERT_EQ(services.Create({"KvsUpx", "KvsUpx Driver", image}), ServiceError::Ok);
    for (const ImageCheckCase& c : cases) {
        c.prepare(image);
        EXPECT_EQ(services.Start("KvsUpx"), c.expected) << c.name;
        ServiceState state = ServiceState::Running;
        services.Query("KvsUpx", state);
        EXPECT_EQ(state, ServiceState::Stopped) << c.name;
    }
    // and the good image starts
    write(image, ProxyImage(v1_11), 0700);
    EXPECT_EQ(services.Start("KvsUpx"), ServiceError::Ok);
    EXPECT_EQ(services.Start("KvsUpx"), ServiceError::AlreadyRunning);
    EXPECT_EQ(services.Stop("KvsUpx"), ServiceError::Ok);
    EXPECT_EQ(services.Stop("KvsUpx"), ServiceError::NotActive);
}

TEST_F(ProxyInstallerTest, AFolderOthersMayWriteIsNotUsed) {
    ::chmod(dir.c_str(), 0777);
    auto p = Process(ProxyImage(v1_11));
    EXPECT_FALSE(p->folder.Ok());
    EXPECT_FALSE(p->Init());
    EXPECT_FALSE(fs::exists(dir + "/KvsUpx"));
    ::chmod(dir.c_str(), 0700);
}

}  // namespace
}  // namespace ovra::brx
