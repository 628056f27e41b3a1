#pragma once
// The proxy control channel over the user's abstract Unix socket. Opening
// "\\.\KvsUpx" connects to the proxy of this user (and the instance named by
// OVRA_PROXY_INSTANCE); a server of another user is refused. Requests carry
// the caller's URB and data stage by value and copy the proxy's answer back
// into them.

#include <memory>
#include <mutex>
#include <string>

#include "platform/ProxyChannel.h"

namespace ovra::proxy {

class SocketProxyChannelOpener final : public ProxyChannelOpener {
public:
    // `instance` empty = from the environment.
    explicit SocketProxyChannelOpener(std::string instance = {});
    std::unique_ptr<ProxyChannel> Open(std::string_view name, ProxyError& error) override;

private:
    std::string instance_;
};

}  // namespace ovra::proxy
