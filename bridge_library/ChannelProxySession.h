#pragma once
// The library's hold on the proxy's control channel "\\.\KvsUpx": opened by
// Initialize (only its banner when it is open already), closed by Release.
// Installing and starting the proxy program is the installer's part; this
// session uses a proxy that serves the channel.

#include "bridge_library/BrxLog.h"
#include "bridge_library/ProxySession.h"
#include "bridge_library/install/ProxyClient.h"
#include "platform/ProxyChannel.h"

namespace ovra::brx {

class ChannelProxySession final : public ProxySession {
public:
    ChannelProxySession(ProxyClient& client, ProxyChannelOpener& opener, DebugLog& log)
        : client_(client), opener_(opener), log_(log) {}

    bool Initialize() override;
    void Release() override;

private:
    ProxyClient& client_;
    ProxyChannelOpener& opener_;
    BrxLog log_;
};

}  // namespace ovra::brx
