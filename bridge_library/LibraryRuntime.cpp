#include "bridge_library/LibraryRuntime.h"

#include "bridge_library/ChannelProxySession.h"
#include "bridge_library/ProxyClientRequests.h"
#include "bridge_library/install/ProxyClient.h"
#include "platform/linux/core/SteadyClock.h"
#include "platform/linux/core/StderrDebugLog.h"
#include "platform/linux/named_objects/PosixNamedObjects.h"
#include "platform/linux/proxy/SocketProxyChannel.h"
#include "platform/linux/usb_nodes/UdevUsbNodeTree.h"

namespace ovra::brx {
namespace {

// Everything one loaded copy of the library owns. Made on first use (not at
// load time, so that loading the library does nothing by itself) and torn
// down when the copy is unloaded.
struct Runtime {
    StderrDebugLog log;
    FramedDebugLog framedLog{log};
    SteadyClock clock;
    std::unique_ptr<NamedObjects> named = MakeSystemNamedObjects();
    UdevUsbNodeTree tree;
    ProxyClient client{framedLog};
    ProxyClientRequests requests{client};
    proxy::SocketProxyChannelOpener opener;
    ChannelProxySession session{client, opener, log};
    BrxLibrary library{BrxPorts{log, clock, *named, tree, requests, session}};
};

}  // namespace

BrxLibrary& Library() {
    static Runtime runtime;
    return runtime.library;
}

}  // namespace ovra::brx
