#pragma once
// The proxy's USB stack: libusb-1.0 on usbfs. Devices are found by bus number
// and address, accepted only when the named interface is an audio-control
// interface (the bridge chip's), and shared between the contexts that hold
// them.

#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/DebugLog.h"
#include "proxy/UsbBackend.h"

struct libusb_context;

namespace ovra::proxy {

class LibusbBackend final : public UsbBackend {
public:
    explicit LibusbBackend(DebugLog& log);
    ~LibusbBackend() override;
    LibusbBackend(const LibusbBackend&) = delete;
    LibusbBackend& operator=(const LibusbBackend&) = delete;

    bool Ready() const { return context_ != nullptr; }
    std::shared_ptr<UsbDevice> Open(const InterfaceLocation& where, ProxyError& error) override;

private:
    DebugLog& log_;
    libusb_context* context_ = nullptr;
    std::mutex mutex_;
    std::map<std::pair<int, int>, std::weak_ptr<UsbDevice>> open_;
};

}  // namespace ovra::proxy
