// The bridge library end to end: both copies loaded by file name install and
// start the proxy program KvsUpx themselves -> libusb -> usbfs under umockdev
// -> bridge-chip model -> I2C register files. Runs under umockdev-wrapper.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <set>

#include "sim/bridge_chip/RegisterFileI2cDevice.h"
#include "sim/bridge_chip/UsbfsHost.h"
#include "tests/bridge_lib_integration/LoadedBridgeLibrary.h"
#include "platform/linux/proxy/LinuxPrivateFolder.h"
#include "platform/linux/proxy/ProcessServiceManager.h"
#include "platform/linux/proxy/SocketProxyChannel.h"
#include "platform/ProxyRecords.h"
#include "tests/bridge_usb/ProxyProcess.h"

#include <filesystem>

namespace ovra {
namespace {

constexpr unsigned kEnePid = 0x1876;
constexpr int kHeadset = 0x52;  // as the programs name their headset

// The copies are loaded once per process: the library keeps its state per
// loaded copy until the process ends, as in the programs.
test::LoadedBridgeLibrary& Ene() {
    static test::LoadedBridgeLibrary lib("B2Xlib_ene.so");
    return lib;
}
test::LoadedBridgeLibrary& Plain() {
    static test::LoadedBridgeLibrary lib("B2Xlib.so");
    return lib;
}

const std::string& Instance() {
    static const std::string instance = test::UniqueInstance("bridge-lib-e2e");
    return instance;
}

// The library reads these when a copy first runs, and keeps them for the
// process: its proxy, the private folder it installs the proxy into, and its
// named objects stay private to this run.
class PrivateRun : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("OVRA_PROXY_INSTANCE", Instance().c_str(), 1);
        ::setenv("OVRA_IPC_NAMESPACE", Instance().c_str(), 1);
        char pattern[] = "/tmp/ovra-bridge-lib-e2e-XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern));
        dir_ = pattern;
        ::setenv("OVRA_PRIVATE_DIR", pattern, 1);
    }
    void TearDown() override {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

private:
    std::string dir_;
};
const auto* const kPrivateRun = ::testing::AddGlobalTestEnvironment(new PrivateRun);

class BridgeLibraryEndToEnd : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        sim::BridgeChipConfig config;
        config.productId = kEnePid;
        config.hasVendorChannel = GetParam();
        model = std::make_unique<sim::BridgeChipModel>(config);
        model->AttachI2c(kHeadset, &headset);
        host = std::make_unique<sim::UsbfsHost>(*model);
        ASSERT_TRUE(host->Ok());
        ASSERT_TRUE(Ene().Complete()) << ::dlerror();
        ASSERT_TRUE(Plain().Complete()) << ::dlerror();
    }

    void TearDown() override {
        for (auto* lib : {&Ene(), &Plain()}) {
            lib->Close();
            lib->UnInitialize();
        }
        // The last user of the proxy stopped it: nothing serves the channel.
        EXPECT_FALSE(ProxyServes());
        host.reset();
    }

    bool VendorChannel() const { return GetParam(); }
    static bool ProxyServes() {
        proxy::SocketProxyChannelOpener opener(Instance());
        ProxyError error;
        return opener.Open(proxy::kControlChannelName, error) != nullptr;
    }

    sim::RegisterFileI2cDevice headset;
    std::unique_ptr<sim::BridgeChipModel> model;
    std::unique_ptr<sim::UsbfsHost> host;
};

TEST_P(BridgeLibraryEndToEnd, EveryExportReachesTheDevice) {
    auto& lib = Ene();
    std::array<unsigned char, 2> data{0x11, 0x22};
    EXPECT_EQ(lib.WriteSuper(kHeadset, 2, 1, 0, 2, data.data()), 0);  // not open yet

    ASSERT_EQ(lib.Initialize(0, 0), 1);
    ASSERT_EQ(lib.Initialize(0, 0), 1);
    const int handle = lib.OpenPid(kEnePid);
    ASSERT_NE(handle, 0);
    EXPECT_EQ(lib.Open(0), handle);
    EXPECT_EQ(lib.OpenPid(0x1858), handle);

    EXPECT_EQ(lib.WriteSuper(kHeadset, 2, 1, 0x40, 2, data.data()), 1);
    EXPECT_EQ(headset.Get(0x40), 0x11);
    EXPECT_EQ(headset.Get(0x41), 0x22);

    // The vendor channel sends the register address with a read; the
    // extension unit reads on from where the last write went.
    headset.Set(0x40, 0x5A);
    std::array<unsigned char, 2> back{};
    EXPECT_EQ(lib.ReadSuper(kHeadset, 2, 1, 0x40, 2, back.data()), 1);
    EXPECT_EQ(back, (std::array<unsigned char, 2>{0x5A, 0x22}));

    EXPECT_EQ(lib.WriteDsp(kHeadset, 0x12345678, 0xAABBCCDD, 4), 1);
    const auto writes = headset.Writes();
    ASSERT_GE(writes.size(), 5u);
    EXPECT_EQ(writes.back().subAddress, 0u);
    EXPECT_EQ(writes.back().data, (std::vector<std::uint8_t>{0x00, 0x03}));
    unsigned value = 0;
    EXPECT_EQ(lib.ReadDsp(kHeadset, 0x00CC0010, &value, 2), 1);
    // On the vendor channel the read names window register 3, whose first
    // byte the address's high word (00 CC at 2) left as 0xCC; the extension
    // unit sends no address and reads on at the command register (00 02).
    if (VendorChannel()) {
        EXPECT_EQ(value & 0xFF00u, 0xCC00u);
    } else {
        EXPECT_EQ(value, 0x0002u);
    }

    EXPECT_EQ(lib.CustomerControl(3), VendorChannel() ? 1 : 0);
    EXPECT_EQ(model->CustomerControls(), VendorChannel() ? std::vector<std::uint16_t>{3}
                                                         : std::vector<std::uint16_t>{});
    EXPECT_EQ(model->Interleaves(), 0u);

    EXPECT_EQ(lib.Close(), 1);
    EXPECT_EQ(lib.WriteSuper(kHeadset, 2, 1, 0, 2, data.data()), 0);
    EXPECT_EQ(lib.UnInitialize(), 1);
    EXPECT_EQ(lib.OpenPid(kEnePid), 0);  // no proxy channel any more
}

TEST_P(BridgeLibraryEndToEnd, BothCopiesKeepTheirOwnDevice) {
    ASSERT_NE(Ene().handle, Plain().handle);
    ASSERT_NE(reinterpret_cast<void*>(Ene().OpenPid), reinterpret_cast<void*>(Plain().OpenPid));
    ASSERT_EQ(Ene().Initialize(0, 0), 1);
    ASSERT_EQ(Plain().Initialize(0, 0), 1);
    ASSERT_NE(Ene().OpenPid(kEnePid), 0);
    EXPECT_EQ(Plain().OpenPid(0x1858), 0);  // no such headset here

    const std::array<unsigned char, 1> data{0x42};
    EXPECT_EQ(Plain().WriteSuper(kHeadset, 2, 1, 0, 1, data.data()), 0);
    EXPECT_EQ(Ene().WriteSuper(kHeadset, 2, 1, 0, 1, data.data()), 1);

    // The plain copy may open the same bridge too; closing it leaves the
    // other copy's device open.
    EXPECT_NE(Plain().OpenPid(kEnePid), 0);
    EXPECT_EQ(Plain().Close(), 1);
    EXPECT_EQ(Plain().WriteSuper(kHeadset, 2, 1, 0, 1, data.data()), 0);
    EXPECT_EQ(Ene().WriteSuper(kHeadset, 2, 1, 1, 1, data.data()), 1);
    EXPECT_EQ(headset.Get(1), 0x42);
}

// Each loaded copy is a user of the proxy of its own: one copy's
// uninitialise leaves the other copy's channel, device and later opens
// working, whichever copy came first and whether or not both held the bridge.
TEST_P(BridgeLibraryEndToEnd, OneCopyUninitialisingLeavesTheOtherWorking) {
    struct Case {
        test::LoadedBridgeLibrary* leaving;
        test::LoadedBridgeLibrary* staying;
        bool leavingFirst;
        bool leavingOpens;
    };
    const Case cases[] = {{&Plain(), &Ene(), true, false},
                          {&Plain(), &Ene(), false, true},
                          {&Ene(), &Plain(), true, true},
                          {&Ene(), &Plain(), false, false}};
    const std::array<unsigned char, 1> data{0x42};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "leaving " << (c.leaving == &Ene() ? "ene" : "plain")
                                          << (c.leavingFirst ? " first" : " second")
                                          << (c.leavingOpens ? ", both open" : ""));
        headset.Set(2, 0);
        headset.Set(3, 0);
        for (auto* lib : c.leavingFirst ? std::array{c.leaving, c.staying} : std::array{c.staying, c.leaving})
            ASSERT_EQ(lib->Initialize(0, 0), 1);
        ASSERT_NE(c.staying->OpenPid(kEnePid), 0);
        if (c.leavingOpens) {
            ASSERT_NE(c.leaving->OpenPid(kEnePid), 0);
        }
        c.leaving->Close();
        EXPECT_EQ(c.leaving->UnInitialize(), 1);

        EXPECT_EQ(c.staying->WriteSuper(kHeadset, 2, 1, 2, 1, data.data()), 1);
        EXPECT_EQ(headset.Get(2), 0x42);
        EXPECT_EQ(c.staying->Close(), 1);
        EXPECT_NE(c.staying->OpenPid(kEnePid), 0);
        EXPECT_EQ(c.staying->WriteSuper(kHeadset, 2, 1, 3, 1, data.data()), 1);
        EXPECT_EQ(headset.Get(3), 0x42);
        EXPECT_TRUE(ProxyServes());
        EXPECT_EQ(c.staying->Close(), 1);
        EXPECT_EQ(c.staying->UnInitialize(), 1);
        EXPECT_FALSE(ProxyServes());
    }
}

// The proxy may go away under initialised copies (stopped by a process that
// counted itself last, or ended): a copy's next open starts it again and
// opens a new channel, for both copies.
TEST_P(BridgeLibraryEndToEnd, ACopyWhoseProxyWentAwayStartsItAgain) {
    ASSERT_EQ(Ene().Initialize(0, 0), 1);
    ASSERT_EQ(Plain().Initialize(0, 0), 1);
    ASSERT_NE(Ene().OpenPid(kEnePid), 0);
    {
        proxy::LinuxPrivateFolder folder(proxy::LinuxPrivateFolder::DefaultPath());
        proxy::ProcessServiceManager services(folder);
        ASSERT_EQ(services.Stop(proxy::kServiceName), ServiceError::Ok);
    }
    ASSERT_FALSE(ProxyServes());
    const std::array<unsigned char, 1> data{0x42};
    EXPECT_EQ(Ene().WriteSuper(kHeadset, 2, 1, 4, 1, data.data()), 0);
    EXPECT_EQ(Ene().Close(), 1);

    for (auto* lib : {&Ene(), &Plain()}) {
        headset.Set(4, 0);
        ASSERT_NE(lib->OpenPid(kEnePid), 0);
        EXPECT_EQ(lib->WriteSuper(kHeadset, 2, 1, 4, 1, data.data()), 1);
        EXPECT_EQ(headset.Get(4), 0x42);
        EXPECT_EQ(lib->Close(), 1);
    }
    EXPECT_TRUE(ProxyServes());
}

TEST_P(BridgeLibraryEndToEnd, ADeviceThatAnswersGarbageOrVanishesFails) {
    auto& lib = Ene();
    ASSERT_EQ(lib.Initialize(0, 0), 1);
    ASSERT_NE(lib.OpenPid(kEnePid), 0);
    std::array<unsigned char, 4> answer{7, 7, 7, 7};
    model->InjectFault(sim::TransferFault::Short, 3);
    EXPECT_EQ(lib.ReadSuper(kHeadset, 2, 1, 0, 4, answer.data()), 0);
    EXPECT_EQ(answer, (std::array<unsigned char, 4>{7, 7, 7, 7}));

    host->Unplug();
    const std::array<unsigned char, 2> data{1, 2};
    EXPECT_EQ(lib.WriteSuper(kHeadset, 2, 1, 0, 2, data.data()), 0);
    EXPECT_EQ(lib.ReadSuper(kHeadset, 2, 1, 0, 2, answer.data()), 0);
    EXPECT_EQ(lib.Close(), 1);
    EXPECT_EQ(lib.OpenPid(kEnePid), 0);
}

INSTANTIATE_TEST_SUITE_P(Channels, BridgeLibraryEndToEnd, ::testing::Values(true, false),
                         [](const auto& p) { return p.param ? "VendorRequests" : "ExtensionUnit"; });

// Two processes write register blocks through the extension unit at the same
// time. The bridge-chip model counts a command block that arrives while
// another command's data phase is open; the cross-process lock must keep that
// at zero and every block whole.
class TwoProcessesOnTheExtensionUnit : public BridgeLibraryEndToEnd {};

TEST_P(TwoProcessesOnTheExtensionUnit, CommandsNeverInterleave) {
    constexpr int kWrites = 100;
    const std::string hammer = test::BridgeBinDir() + "/../tests/BridgeHammer";
    // This process keeps the proxy in use while the two hammer.
    ASSERT_EQ(Ene().Initialize(0, 0), 1);
    std::vector<pid_t> children;
    for (const char* tag : {"0xA1", "0xB2"}) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl(hammer.c_str(), "BridgeHammer", "B2Xlib_ene.so", "1876", tag,
                    std::to_string(kWrites).c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    EXPECT_EQ(model->Interleaves(), 0u);
    const auto writes = headset.Writes();
    ASSERT_EQ(writes.size(), 2u * kWrites);
    std::set<std::pair<int, int>> seen;
    for (const auto& w : writes) {
        ASSERT_EQ(w.data.size(), 4u);
        EXPECT_EQ(w.data[0], w.data[1]);
        EXPECT_TRUE(w.data[0] == 0xA1 || w.data[0] == 0xB2);
        seen.insert({w.data[0], w.data[2] | w.data[3] << 8});
    }
    EXPECT_EQ(seen.size(), 2u * kWrites);
}

INSTANTIATE_TEST_SUITE_P(Channel, TwoProcessesOnTheExtensionUnit, ::testing::Values(false),
                         [](const auto&) { return "ExtensionUnit"; });

}  // namespace
}  // namespace ovra
