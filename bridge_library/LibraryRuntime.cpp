#include "bridge_library/LibraryRuntime.h"

#include "bridge_library/InstallerProxySession.h"
#include "bridge_library/ProxyClientRequests.h"
#include "bridge_library/install/ProxyClient.h"
#include "bridge_library/install/ProxyInstaller.h"
#include "platform/linux/core/SteadyClock.h"
#include "platform/linux/core/StderrDebugLog.h"
#include "platform/linux/named_objects/PosixNamedObjects.h"
#include "platform/linux/proxy/CarriedImage.h"
#include "platform/linux/proxy/LinuxPrivateFolder.h"
#include "platform/linux/proxy/ProcessServiceManager.h"
#include "platform/linux/proxy/SocketProxyChannel.h"
#include "platform/linux/usb_nodes/UdevUsbNodeTree.h"

namespace ovra::brx {
namespace {

// The proxy program the library carries is the one shipped next to it.
bool ReadCarriedImage(std::vector<std::uint8_t>& bytes) {
    const std::string folder = proxy::ModuleFolderOf(reinterpret_cast<const void*>(&ReadCarriedImage));
    return !folder.empty() && proxy::ReadWholeFile(folder + "/KvsUpx", bytes);
}

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
    proxy::LinuxPrivateFolder folder{proxy::LinuxPrivateFolder::DefaultPath()};
    proxy::ProcessServiceManager services{folder};
    proxy::SocketProxyChannelOpener opener;
    ProxyInstaller installer{ProxyInstaller::Ports{framedLog, services, folder, opener}, ReadCarriedImage};
    InstallerProxySession session{installer, client};
    BrxLibrary library{BrxPorts{log, clock, *named, tree, requests, session}};
};

}  // namespace

BrxLibrary& Library() {
    static Runtime runtime;
    return runtime.library;
}

}  // namespace ovra::brx
