#pragma once
// The library's hold on the proxy through the installer: install or update
// and start the proxy, count this process in the flag file and open the
// control channel; the reverse on release.

#include "bridge_library/ProxySession.h"
#include "bridge_library/install/ProxyInstaller.h"

namespace ovra::brx {

class InstallerProxySession final : public ProxySession {
public:
    InstallerProxySession(ProxyInstaller& installer, ProxyClient& client)
        : installer_(installer), client_(client) {}

    bool Initialize() override { return installer_.InitProxyChannel(client_); }
    void Release() override { installer_.ReleaseProxyChannel(client_); }
    bool Reestablish() override {
        if (client_.IsOpen() && !client_.Broken()) return true;
        client_.Detach();  // keeps this copy's flag hold: it is still a user
        return installer_.InitProxyChannel(client_);
    }

private:
    ProxyInstaller& installer_;
    ProxyClient& client_;
};

}  // namespace ovra::brx
