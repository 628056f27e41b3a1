#include "bridge_library/LibraryRuntime.h"

#include "bridge_library/ProxyClientRequests.h"
#include "bridge_library/install/ProxyClient.h"
#include "platform/linux/core/SteadyClock.h"
#include "platform/linux/core/StderrDebugLog.h"
#include "platform/linux/named_objects/PosixNamedObjects.h"
#include "platform/linux/usb_nodes/UdevUsbNodeTree.h"

namespace ovra::brx {
namespace {

// Until the proxy installer is part of the library, the session can only
// report that no proxy channel could be opened.
class UnavailableProxySession final : public ProxySession {
public:
    explicit UnavailableProxySession(DebugLog& log) : log_(log) {}
    bool Initialize() override {
        log_.Line("Failed to create hProxyDriver\n");
        return false;
    }
    void Release() override {}

private:
    BrxLog log_;
};

// Everything one loaded copy of the library owns. Made on first use (not at
// load time, so that loading the library does nothing by itself) and torn
// down when the copy is unloaded.
struct Runtime {
    StderrDebugLog log;
    SteadyClock clock;
    std::unique_ptr<NamedObjects> named = MakeSystemNamedObjects();
    UdevUsbNodeTree tree;
    ProxyClient client{log};
    ProxyClientRequests requests{client};
    UnavailableProxySession session{log};
    BrxLibrary library{BrxPorts{log, clock, *named, tree, requests, session}};
};

}  // namespace

BrxLibrary& Library() {
    static Runtime runtime;
    return runtime.library;
}

}  // namespace ovra::brx
