#include "bridge_library/ChannelProxySession.h"

#include "platform/ProxyRecords.h"

namespace ovra::brx {

bool ChannelProxySession::Initialize() {
    log_.Line("-> KvsUpx lib built on Apr 14 2017 at  13:44:59\n");
    if (client_.IsOpen()) return true;
    ProxyError error = ProxyError::Ok;
    std::unique_ptr<ProxyChannel> channel = opener_.Open(proxy::kControlChannelName, error);
    log_.Line("hProxyDriver = 0x%08X\n", channel ? 1u : 0u);
    if (!channel) {
        log_.Line("Failed to create hProxyDriver\n");
        log_.Line("KvsUpx channel: %s (%u)\n", ToString(error), static_cast<unsigned>(error));
        return false;
    }
    client_.Attach(std::move(channel));
    return true;
}

void ChannelProxySession::Release() { client_.Detach(); }

}  // namespace ovra::brx
