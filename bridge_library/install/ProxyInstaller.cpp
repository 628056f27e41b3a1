#include "bridge_library/install/ProxyInstaller.h"

#include <cstdint>

#include "platform/ProxyRecords.h"

namespace ovra::brx {

namespace {
constexpr std::uint32_t kErrorInvalidData = 13;

int Code(ServiceError e) { return static_cast<int>(e); }
int Code(FileError e) { return static_cast<int>(e); }

// A proxy image: a program carrying the version note of "KvsUpx".
std::optional<ImageInfo> ProxyImageInfo(std::span<const std::uint8_t> bytes) {
    auto info = ReadImageInfo(bytes);
    if (!info || std::string_view(info->product.data()) != kInstalledProxyName) return std::nullopt;
    return info;
}
}  // namespace

ProxyInstaller::ProxyInstaller(Ports ports, ImageSource carriedImage)
    : ports_(ports), carriedImage_(std::move(carriedImage)) {}

bool ProxyInstaller::IsDriverImageNewer(std::span<const std::uint8_t> image,
                                        std::span<const std::uint8_t> installed) {
    const auto mine = ProxyImageInfo(image);
    const auto theirs = ProxyImageInfo(installed);
    if (!mine || !theirs) {
        ports_.log.Printf("Error in GetFileVersionInfo: %d\n", static_cast<int>(kErrorInvalidData));
        return true;
    }
    // The whole version in order: a newer installed proxy is never replaced
    // by an older image because one of its later parts happens to be larger.
    return mine->version > theirs->version;
}

bool ProxyInstaller::FlagExists() {
    bool held = false;
    const FileError e = ports_.folder.FlagHeld(kProxyFlagName, held);
    if (e != FileError::Ok) {
        ports_.log.Printf("Cannot tell if KvsUpx.flag exists %d\n", Code(e));
        return true;
    }
    return held;
}

bool ProxyInstaller::InitProxyChannel(ProxyClient& client) {
    ports_.log.Write("-> KvsUpx lib built on Apr 14 2017 at  13:44:59\n");
    if (client.IsOpen()) return true;
    DebugLog& log = ports_.log;

    const ServiceError manager = ports_.services.Connect();
    if (manager != ServiceError::Ok) {
        // Without the right to manage services, use a proxy that runs already.
        log.Printf("OpenSCManager failed with %d, possible don't have enough access right to install KvsUpx\n",
                   Code(manager));
    } else {
        const std::string installedPath = ports_.folder.PathOf(kInstalledProxyName);
        log.Printf("KvsUpx path: %s\n", installedPath.c_str());
        log.Write("Using internal KvsUpx.sys\n");
        std::vector<std::uint8_t> image;
        if (!carriedImage_ || !carriedImage_(image)) {
            log.Write("Cannot read the carried KvsUpx image\n");
            return false;
        }
        if (!ProxyImageInfo(image)) {
            log.Write("The carried KvsUpx image has no version, not installing it\n");
            return false;
        }
        log.Printf("szTempPath is %s\n", ports_.folder.PathOf(".KvsUpx.staging").c_str());
        bool update = true;
        std::vector<std::uint8_t> installed;
        if (ports_.folder.Exists(kInstalledProxyName) == FileError::Ok &&
            ports_.folder.Read(kInstalledProxyName, installed) == FileError::Ok &&
            !IsDriverImageNewer(image, installed)) {
            log.Write("Already have newer KvsUpx.sys, don't need to update\n");
            update = false;
        } else {
            log.Write("Extracting KvsUpx.sys\n");
            const FileError written = ports_.folder.Replace(kInstalledProxyName, image, true);
            if (written != FileError::Ok) {
                log.Printf("WriteFile %s failed %d\n", installedPath.c_str(), Code(written));
                return false;
            }
        }
        const bool inUse = FlagExists();
        if (!InstallKvProxy(installedPath, update, inUse)) return false;
    }

    if (!flag_) {
        log.Printf("Create/Open KvsUpx.flag path=%s\n", ports_.folder.PathOf(kProxyFlagName).c_str());
        FileError e = FileError::Ok;
        flag_ = ports_.folder.HoldFlag(kProxyFlagName, e);
        if (!flag_) log.Printf("Failed to create KvsUpx.flag file 0x%08X\n", Code(e));
    }

    ProxyError opened = ProxyError::Ok;
    auto channel = ports_.opener.Open(proxy::kControlChannelName, opened);
    if (!channel && opened == ProxyError::FileNotFound && manager == ServiceError::Ok) {
        // The proxy ends by itself once it has had no user for a while; it
        // may have done so just after we found it running. Start it again.
        const ServiceError restarted = ports_.services.Start(proxy::kServiceName);
        if (restarted == ServiceError::Ok || restarted == ServiceError::AlreadyRunning)
            channel = ports_.opener.Open(proxy::kControlChannelName, opened);
    }
    log.Printf("hProxyDriver = 0x%08X\n",
               static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(channel.get())));
    if (!channel) {
        log.Write("Failed to create hProxyDriver\n");
        client.SetLastError(static_cast<std::uint32_t>(opened));
        return false;
    }
    client.Attach(std::move(channel));
    return true;
}

bool ProxyInstaller::ReleaseProxyChannel(ProxyClient& client) {
    if (!client.IsOpen()) return true;
    client.Detach();
    flag_.reset();
    ports_.log.Printf("Close KvsUpx.flag path=%s\n", ports_.folder.PathOf(kProxyFlagName).c_str());
    bool last = false;
    const FileError e = ports_.folder.RemoveFlagIfUnheld(kProxyFlagName, last);
    if (e != FileError::Ok) {
        ports_.log.Printf("Cannot tell if KvsUpx.flag exists %d\n", Code(e));
    } else if (last) {
        ports_.log.Write("Uninstall KvsUpx driver\n");
        UninstallKvProxy();
    }
    return true;
}

bool ProxyInstaller::InstallKvProxy(const std::string& imagePath, bool update, bool serviceInUse) {
    DebugLog& log = ports_.log;
    ServiceManager& services = ports_.services;
    log.Write("-> InstallKvProxy\n");
    if (const ServiceError e = services.Connect(); e != ServiceError::Ok) {
        log.Printf("OpenSCManager fail %d\n", Code(e));
        return false;
    }
    const ServiceError found = services.Exists(proxy::kServiceName);
    bool opened = found == ServiceError::Ok;
    const bool exists = found != ServiceError::DoesNotExist;
    bool running = true;  // a service we cannot ask counts as running
    if (opened) {
        ServiceState state = ServiceState::Running;
        if (const ServiceError e = services.Query(proxy::kServiceName, state); e != ServiceError::Ok)
            log.Printf("QueryServiceStatus failed %d\n", Code(e));
        else
            running = state != ServiceState::Stopped;
    }

    bool stop = false, remove = false, create = false, start = false;
    if (!exists) {
        log.Write("Install KvsUpx service\n");
        create = start = true;
    } else if (!update) {
        if (running) {
            log.Write("Already have latest KvsUpx service running\n");
        } else {
            log.Write("Start existing KvsUpx service\n");
            start = true;
        }
    } else if (!running) {
        log.Write("Update KvsUpx service, bRunning=FALSE\n");
        remove = create = start = true;
    } else if (serviceInUse) {
        log.Write("Warning: KvsUpx service in use, cannot be updated until next reboot\n");
    } else {
        log.Write("Update KvsUpx service, bRunning=TRUE, bServiceInUse=FALSE\n");
        stop = remove = create = start = true;
    }

    if (opened && stop) {
        if (const ServiceError e = services.Stop(proxy::kServiceName); e != ServiceError::Ok)
            log.Printf("Fail to stop service %d\n", Code(e));
    }
    if (opened && remove) {
        if (const ServiceError e = services.Delete(proxy::kServiceName); e != ServiceError::Ok)
            log.Printf("Fail to delete service %d\n", Code(e));
        opened = false;
    }
    if (create) {
        const ServiceError e =
            services.Create({proxy::kServiceName, proxy::kServiceDisplayName, imagePath});
        if (e != ServiceError::Ok) {
            log.Printf("Fail to create service %d\n", Code(e));
            log.Write("<- InstallKvProxy\n");
            return false;
        }
        opened = true;
    }
    if (!opened) return true;
    if (start) {
        const ServiceError e = services.Start(proxy::kServiceName);
        // Another process may have started it a moment ago: that is success.
        if (e != ServiceError::Ok && e != ServiceError::AlreadyRunning) {
            log.Printf("Fail to start service %d\n", Code(e));
            log.Write("<- InstallKvProxy\n");
            return false;
        }
    }
    log.Write("<- InstallKvProxy\n");
    return true;
}

void ProxyInstaller::UninstallKvProxy() {
    DebugLog& log = ports_.log;
    ServiceManager& services = ports_.services;
    log.Write("-> UninstallKvProxy\n");
    if (const ServiceError e = services.Connect(); e != ServiceError::Ok) {
        log.Printf("OpenSCManager fail %d\n", Code(e));
        return;
    }
    if (const ServiceError e = services.Exists(proxy::kServiceName); e != ServiceError::Ok) {
        log.Printf("OpenService fail %d\n", Code(e));
        return;
    }
    if (const ServiceError e = services.Stop(proxy::kServiceName); e != ServiceError::Ok) {
        log.Printf("Fail to stop service %d\n", Code(e));
        return;
    }
    ServiceState state = ServiceState::Running;
    if (const ServiceError e = services.Query(proxy::kServiceName, state); e != ServiceError::Ok) {
        log.Printf("QueryServiceStatus failed %d\n", Code(e));
        return;
    }
    if (state != ServiceState::Stopped) {
        log.Write("Warning: Service did not stop successfully, not delete it\n");
    } else if (const ServiceError e = services.Delete(proxy::kServiceName); e != ServiceError::Ok) {
        log.Printf("Fail to delete service %d\n", Code(e));
    }
    log.Write("<- UninstallKvProxy\n");
}

}  // namespace ovra::brx
