#pragma once
// Installing, starting and opening the proxy, and giving it up again: what
// the library runs when it initialises and uninitialises.
//
// The library carries the proxy program (the image) and installs it into the
// user's private folder when none is there or when its version is newer than
// the installed one's; versions compare (major, minor, build, revision) in
// order. It registers the proxy as a demand-start service, starts it, opens
// its channel, and holds the flag file that counts the processes using the
// proxy; the last process to let go stops and deletes the service (the
// installed file stays). Nothing is staged anywhere but in the private
// folder, there is no override file, and the service manager checks the
// image before it starts it.
//
// The cross-process lock of the extension-unit channel belongs to the caller.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "bridge_library/install/ProxyClient.h"
#include "platform/DebugLog.h"
#include "platform/ImageVersion.h"
#include "platform/PrivateFolder.h"
#include "platform/ProxyChannel.h"
#include "platform/ServiceManager.h"

namespace ovra::brx {

inline constexpr char kInstalledProxyName[] = "KvsUpx";
inline constexpr char kProxyFlagName[] = "KvsUpx.flag";

class ProxyInstaller {
public:
    struct Ports {
        DebugLog& log;
        ServiceManager& services;
        PrivateFolder& folder;
        ProxyChannelOpener& opener;
    };
    // Fills the bytes of the image the library carries; false when it cannot.
    using ImageSource = std::function<bool(std::vector<std::uint8_t>&)>;

    ProxyInstaller(Ports ports, ImageSource carriedImage);

    // InitProxyChannel: true when the channel is open in `client` (at once
    // when it already was).
    bool InitProxyChannel(ProxyClient& client);
    // ReleaseProxyChannel: closes the channel, lets go of the flag, and
    // uninstalls when this was the last process. Always true.
    bool ReleaseProxyChannel(ProxyClient& client);

    bool InstallKvProxy(const std::string& imagePath, bool update, bool serviceInUse);
    void UninstallKvProxy();
    // True when `image` should replace `installed`: its version is higher,
    // or the installed file's version cannot be read.
    bool IsDriverImageNewer(std::span<const std::uint8_t> image,
                            std::span<const std::uint8_t> installed);

    bool HoldsFlag() const { return flag_ != nullptr; }

private:
    bool FlagExists();

    Ports ports_;
    ImageSource carriedImage_;
    std::unique_ptr<FlagHold> flag_;
};

}  // namespace ovra::brx
