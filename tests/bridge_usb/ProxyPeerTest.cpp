// The proxy channel is for one user only: the proxy answers a client of
// another user with "access denied" and hangs up, and the library refuses to
// talk to a program of another user that serves the proxy's name. Needs root
// to run a child as another user.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/linux/proxy/AbstractSocket.h"
#include "platform/linux/proxy/ProxyWire.h"
#include "platform/linux/proxy/SocketProxyChannel.h"
#include "tests/bridge_usb/ProxyProcess.h"

namespace ovra::proxy {
namespace {

constexpr uid_t kOtherUser = 65534;  // nobody

// Runs `body` in a child as another user; its exit status.
template <typename Body>
int AsOtherUser(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0) ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

class ProxyPeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "running a peer as another user needs root";
    }
    std::string instance = test::UniqueInstance("peer");
};

TEST_F(ProxyPeerTest, TheProxyRefusesAClientOfAnotherUser) {
    test::ProxyProcess proxyProcess(instance);
    ASSERT_TRUE(proxyProcess.Ready());
    const std::string name = ProxySocketName(::getuid(), instance);
    const int result = AsOtherUser([&] {
        const int fd = ConnectAbstract(name);
        if (fd < 0) return 2;
        KvProxyRequest r;
        r.interfaceHandle = MakeInterfaceHandle(1, 2, 0);
        std::uint8_t record[kRequestSize64];
        EncodeRequest(r, RecordForm::Bits64, record);
        const auto frame = EncodeRequestFrame(kIoctlOpenDeviceByHandle, 32, record, {}, {});
        ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
        std::uint8_t answer[256];
        const ssize_t n = ::recv(fd, answer, sizeof answer, 0);
        if (n <= 0) return 3;
        const auto a = DecodeAnswerFrame(std::span<const std::uint8_t>(answer, static_cast<std::size_t>(n)));
        if (!a || a->error != ProxyError::AccessDenied || !a->output.empty()) return 4;
        return ::recv(fd, answer, sizeof answer, 0) == 0 ? 0 : 5;  // and it hung up
    });
    EXPECT_EQ(result, 0);
}

TEST_F(ProxyPeerTest, TheLibraryRefusesAProxyNameServedByAnotherUser) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const std::string name = ProxySocketName(::getuid(), instance);
    const pid_t squatter = ::fork();
    if (squatter == 0) {
        if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0) ::_exit(100);
        const int fd = ListenAbstract(name);
        const char ok = fd >= 0 ? 1 : 0;
        [[maybe_unused]] auto w = ::write(ready[1], &ok, 1);
        if (fd >= 0) {
            const int client = ::accept(fd, nullptr, nullptr);
            char byte;
            [[maybe_unused]] auto r = ::read(client, &byte, 1);  // until the other side hangs up
        }
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 1);
    SocketProxyChannelOpener opener(instance);
    ProxyError error = ProxyError::Ok;
    EXPECT_EQ(opener.Open(kControlChannelName, error), nullptr);
    EXPECT_EQ(error, ProxyError::AccessDenied);
    int status = 0;
    ::waitpid(squatter, &status, 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(ProxyLifetimeTest, AProxyWithoutClientsEndsByItselfButNotWhileOneIsConnected) {
    const std::string instance = test::UniqueInstance("idle");
    test::ProxyProcess proxyProcess(instance, {"OVRA_PROXY_IDLE_EXIT_MS=300"});
    ASSERT_TRUE(proxyProcess.Ready());
    {
        SocketProxyChannelOpener opener(instance);
        ProxyError error = ProxyError::Ok;
        auto channel = opener.Open(kControlChannelName, error);
        ASSERT_NE(channel, nullptr);
        EXPECT_FALSE(proxyProcess.EndsWithin(800));  // a connected client keeps it
    }
    EXPECT_TRUE(proxyProcess.EndsWithin(3000));
    EXPECT_EQ(proxyProcess.Stop(), 0);
}

}  // namespace
}  // namespace ovra::proxy
