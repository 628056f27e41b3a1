#include "proxy/LibusbBackend.h"

#include <libusb.h>

#include <atomic>

namespace ovra::proxy {

namespace {

class LibusbDevice final : public UsbDevice {
public:
    LibusbDevice(libusb_device_handle* handle, DebugLog& log, int bus, int address)
        : handle_(handle), log_(log), bus_(bus), address_(address) {}
    ~LibusbDevice() override { libusb_close(handle_); }

    TransferResult Control(const ControlSetup& s, std::span<std::uint8_t> data,
                           std::chrono::milliseconds timeout) override {
        const bool toInterface = (s.bmRequestType & 0x1F) == 0x01;
        std::unique_lock lock(mutex_, std::defer_lock);
        const int interfaceNumber = s.wIndex & 0xFF;
        if (toInterface) {
            // usbfs runs a request to an interface only for the program that
            // claimed it. When the sound driver holds the interface it is
            // detached for this one request and re-attached right after, so
            // the sound card is gone for as short a time as possible.
            lock.lock();
            libusb_set_auto_detach_kernel_driver(handle_, 1);
            if (libusb_kernel_driver_active(handle_, interfaceNumber) == 1 && !toldDetach_.exchange(true))
                log_.Printf("KvsUpx: bus %d device %d: the sound driver is detached from interface %d "
                            "during each extension-unit request\n", bus_, address_, interfaceNumber);
            const int claimed = libusb_claim_interface(handle_, interfaceNumber);
            if (claimed != LIBUSB_SUCCESS) return {Map(claimed), 0};
        }
        const int r = libusb_control_transfer(handle_, s.bmRequestType, s.bRequest, s.wValue, s.wIndex,
                                              data.data(), s.wLength,
                                              static_cast<unsigned>(timeout.count()));
        if (toInterface) libusb_release_interface(handle_, interfaceNumber);
        if (r < 0) return {Map(r), 0};
        return {TransferOutcome::Ok, static_cast<std::size_t>(r)};
    }

private:
    static TransferOutcome Map(int e) {
        switch (e) {
            case LIBUSB_ERROR_PIPE: return TransferOutcome::Stall;
            case LIBUSB_ERROR_TIMEOUT: return TransferOutcome::Timeout;
            case LIBUSB_ERROR_NO_DEVICE: return TransferOutcome::Gone;
            case LIBUSB_ERROR_BUSY: return TransferOutcome::Busy;
            case LIBUSB_ERROR_INVALID_PARAM: return TransferOutcome::TooLong;
            default: return TransferOutcome::Failed;
        }
    }

    libusb_device_handle* handle_;
    DebugLog& log_;
    int bus_, address_;
    std::mutex mutex_;
    std::atomic<bool> toldDetach_{false};
};

// The interface is an audio-control interface (class 1, subclass 1).
bool IsBridgeInterface(libusb_device* device, int interfaceNumber) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS &&
        libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS)
        return false;
    bool ok = false;
    for (int i = 0; i < config->bNumInterfaces && !ok; ++i) {
        const libusb_interface& intf = config->interface[i];
        for (int a = 0; a < intf.num_altsetting && !ok; ++a) {
            const libusb_interface_descriptor& d = intf.altsetting[a];
            ok = d.bInterfaceNumber == interfaceNumber && d.bInterfaceClass == LIBUSB_CLASS_AUDIO &&
                 d.bInterfaceSubClass == 1;
        }
    }
    libusb_free_config_descriptor(config);
    return ok;
}

}  // namespace

LibusbBackend::LibusbBackend(DebugLog& log) : log_(log) {
    const int r = libusb_init(&context_);
    if (r != LIBUSB_SUCCESS) {
        log_.Printf("KvsUpx: libusb_init failed: %s\n", libusb_error_name(r));
        context_ = nullptr;
    }
}

LibusbBackend::~LibusbBackend() {
    {
        std::lock_guard lock(mutex_);
        open_.clear();
    }
    if (context_) libusb_exit(context_);
}

std::shared_ptr<UsbDevice> LibusbBackend::Open(const InterfaceLocation& where, ProxyError& error) {
    std::lock_guard lock(mutex_);
    error = ProxyError::Ok;
    if (!context_) {
        error = ProxyError::GenFailure;
        return nullptr;
    }
    const auto key = std::make_pair(int{where.bus}, int{where.address});
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_, &list);
    libusb_device* found = nullptr;
    for (ssize_t i = 0; i < count; ++i) {
        if (libusb_get_bus_number(list[i]) == where.bus &&
            libusb_get_device_address(list[i]) == where.address) {
            found = list[i];
            break;
        }
    }
    std::shared_ptr<UsbDevice> result;
    if (!found) {
        error = ProxyError::DeviceNotConnected;
    } else if (!IsBridgeInterface(found, where.interfaceNumber)) {
        error = ProxyError::InvalidParameter;
    } else if (auto shared = open_[key].lock()) {
        result = shared;
    } else {
        libusb_device_handle* handle = nullptr;
        const int r = libusb_open(found, &handle);
        if (r == LIBUSB_SUCCESS) {
            result = std::make_shared<LibusbDevice>(handle, log_, where.bus, where.address);
            open_[key] = result;
        } else {
            error = r == LIBUSB_ERROR_ACCESS      ? ProxyError::AccessDenied
                    : r == LIBUSB_ERROR_NO_DEVICE ? ProxyError::DeviceNotConnected
                                                  : ProxyError::GenFailure;
        }
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    return result;
}

}  // namespace ovra::proxy
