#include "sim/bridge_chip/UsbfsHost.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <termios.h>
#include <unistd.h>
#include <umockdev.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <future>
#include <map>
#include <set>
#include <thread>

namespace ovra::sim {

namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string s;
    char two[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        s += two;
    }
    return s;
}

std::vector<std::uint8_t> RootHubDescriptors() {
    return {18, 1, 0x00, 0x02, 9, 0, 1, 64, 0x6b, 0x1d, 0x02, 0x00, 0x00, 0x06, 3, 2, 1, 1,
            9, 2, 25, 0, 1, 1, 0, 0xE0, 0,
            9, 4, 0, 0, 1, 9, 0, 0, 0,
            7, 5, 0x81, 3, 4, 0, 12};
}

}  // namespace

struct UsbfsHost::Impl {
    BridgeChipModel& model;
    Options options;
    UMockdevTestbed* testbed = nullptr;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    std::thread thread;
    std::string node, sysPath, rootDir;
    int master = -1, slave = -1;
    std::atomic<bool> ok{false};
    std::atomic<bool> gone{false};
    std::atomic<std::size_t> submitted{0}, reaps{0};

    // host-thread state
    struct ClientState {
        std::deque<std::uint64_t> done;  // completed URBs waiting to be reaped
        std::set<std::uint64_t> stuck;   // URBs the device never completes
    };
    std::map<UMockdevIoctlClient*, ClientState> clients;
    std::map<unsigned, UMockdevIoctlClient*> claims;
    bool flowOn = true;

    Impl(BridgeChipModel& m, Options o) : model(m), options(o) {}

    void UpdateFlow() {
        bool any = false;
        for (auto& [c, s] : clients) any = any || !s.done.empty();
        if (any != flowOn && slave >= 0) {
            tcflow(slave, any ? TCOON : TCOOFF);
            flowOn = any;
        }
    }

    void HangUp() {
        if (gone.exchange(true)) return;
        if (master >= 0) {
            ::close(master);  // the slave side hangs up: clients see POLLERR|POLLHUP
            master = -1;
        }
        umockdev_testbed_uevent(testbed, sysPath.c_str(), "remove");
    }

    static void Complete(UMockdevIoctlClient* client, long result, int error) {
        umockdev_ioctl_client_complete(client, result, error);
    }

    static std::uint64_t ArgValue(UMockdevIoctlData* arg) {
        std::uint64_t v = 0;
        std::memcpy(&v, arg->data, std::min<std::size_t>(sizeof v, static_cast<std::size_t>(arg->data_len)));
        return v;
    }

    template <typename T>
    static void Put(UMockdevIoctlData* data, std::size_t offset, T value) {
        umockdev_ioctl_data_update(data, offset, reinterpret_cast<guint8*>(&value), sizeof value);
    }

    gboolean OnIoctl(UMockdevIoctlClient* client) {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        if (gone) {
            Complete(client, -1, ENODEV);
            return TRUE;
        }
        ClientState& state = clients[client];
        GError* error = nullptr;
        switch (request) {
            case USBDEVFS_GET_CAPABILITIES: {
                UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, 4, &error);
                if (!caps) break;
                Put<std::uint32_t>(caps, 0,
                                   USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                       USBDEVFS_CAP_NO_PACKET_SIZE_LIM);
                Complete(client, 0, 0);
                return TRUE;
            }
            case USBDEVFS_SUBMITURB:
                Submit(client, state, arg);
                return TRUE;
            case USBDEVFS_REAPURBNDELAY:
            case USBDEVFS_REAPURB: {
                ++reaps;
                if (state.done.empty()) {
                    Complete(client, -1, EAGAIN);
                    return TRUE;
                }
                UMockdevIoctlData* where = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), &error);
                if (!where) break;
                Put<std::uint64_t>(where, 0, state.done.front());
                state.done.pop_front();
                Complete(client, 0, 0);
                UpdateFlow();
                return TRUE;
            }
            case USBDEVFS_DISCARDURB: {
                const std::uint64_t address = ArgValue(arg);
                if (!state.stuck.erase(address)) {
                    Complete(client, -1, EINVAL);
                    return TRUE;
                }
                UMockdevIoctlData* urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
                if (!urb) break;
                Put<int>(urb, offsetof(usbdevfs_urb, status), -ENOENT);
                Put<int>(urb, offsetof(usbdevfs_urb, actual_length), 0);
                state.done.push_back(address);
                Complete(client, 0, 0);
                UpdateFlow();
                return TRUE;
            }
            case USBDEVFS_CLAIMINTERFACE:
            case USBDEVFS_RELEASEINTERFACE:
            case USBDEVFS_DISCONNECT_CLAIM: {
                UMockdevIoctlData* number = umockdev_ioctl_data_resolve(arg, 0, 4, &error);
                if (!number) break;
                unsigned interfaceNumber = 0;
                std::memcpy(&interfaceNumber, number->data, 4);
                auto held = claims.find(interfaceNumber);
                if (interfaceNumber > 1) {
                    Complete(client, -1, ENOENT);
                } else if (request == USBDEVFS_RELEASEINTERFACE) {
                    if (held == claims.end() || held->second != client) {
                        Complete(client, -1, EINVAL);
                    } else {
                        claims.erase(held);
                        Complete(client, 0, 0);
                    }
                } else if (held != claims.end() && held->second != client) {
                    Complete(client, -1, EBUSY);  // another program holds it
                } else {
                    claims[interfaceNumber] = client;
                    Complete(client, 0, 0);
                }
                return TRUE;
            }
            case USBDEVFS_GETDRIVER:
            case USBDEVFS_IOCTL:
                Complete(client, -1, ENODATA);  // no kernel driver is bound
                return TRUE;
            case USBDEVFS_CONNECTINFO: {
                UMockdevIoctlData* info = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_connectinfo), &error);
                if (!info) break;
                usbdevfs_connectinfo ci{static_cast<unsigned>(options.address), 0};
                umockdev_ioctl_data_update(info, 0, reinterpret_cast<guint8*>(&ci), sizeof ci);
                Complete(client, 0, 0);
                return TRUE;
            }
            case USBDEVFS_GET_SPEED:
                Complete(client, 3, 0);  // high speed
                return TRUE;
            case USBDEVFS_SETCONFIGURATION:
            case USBDEVFS_SETINTERFACE:
            case USBDEVFS_CLEAR_HALT:
            case USBDEVFS_RESETEP:
            case USBDEVFS_RESET:
                Complete(client, 0, 0);
                return TRUE;
            default:
                Complete(client, -1, ENOTTY);
                return TRUE;
        }
        if (error) g_error_free(error);
        Complete(client, -1, EFAULT);
        return TRUE;
    }

    void Submit(UMockdevIoctlClient* client, ClientState& state, UMockdevIoctlData* arg) {
        ++submitted;
        GError* error = nullptr;
        const std::uint64_t address = ArgValue(arg);
        UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
        if (!urbData) {
            if (error) g_error_free(error);
            Complete(client, -1, EFAULT);
            return;
        }
        usbdevfs_urb urb;
        std::memcpy(&urb, urbData->data, sizeof urb);
        if (urb.type != USBDEVFS_URB_TYPE_CONTROL || urb.endpoint != 0 || urb.buffer_length < 8) {
            Complete(client, -1, EINVAL);
            return;
        }
        UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
            urbData, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb.buffer_length), &error);
        if (!buffer) {
            if (error) g_error_free(error);
            Complete(client, -1, EFAULT);
            return;
        }
        const std::uint8_t* raw = buffer->data;
        SetupPacket s{raw[0], raw[1], static_cast<std::uint16_t>(raw[2] | raw[3] << 8),
                      static_cast<std::uint16_t>(raw[4] | raw[5] << 8),
                      static_cast<std::uint16_t>(raw[6] | raw[7] << 8)};
        if (s.wLength > static_cast<std::size_t>(urb.buffer_length) - 8) {
            Complete(client, -1, EINVAL);
            return;
        }
        // usbfs runs a request to an interface only for the client that
        // claimed it, or claims it on the fly when nobody holds it.
        if ((s.bmRequestType & 0x1F) == 0x01) {
            const unsigned interfaceNumber = s.wIndex & 0xFF;
            auto held = claims.find(interfaceNumber);
            if (held != claims.end() && held->second != client) {
                Complete(client, -1, EBUSY);
                return;
            }
        }
        std::vector<std::uint8_t> data(raw + 8, raw + 8 + s.wLength);
        const TransferResult r = model.HandleControl(s, data);
        switch (r.status) {
            case TransferStatus::Timeout:
                state.stuck.insert(address);  // completes only when discarded
                Complete(client, 0, 0);
                return;
            case TransferStatus::Gone:
                Complete(client, -1, ENODEV);
                HangUp();
                return;
            case TransferStatus::Stall:
                Put<int>(urbData, offsetof(usbdevfs_urb, status), -EPIPE);
                Put<int>(urbData, offsetof(usbdevfs_urb, actual_length), 0);
                break;
            case TransferStatus::Ok:
                if (s.In() && r.length > 0)
                    umockdev_ioctl_data_update(buffer, 8, data.data(), static_cast<gint>(r.length));
                Put<int>(urbData, offsetof(usbdevfs_urb, status), 0);
                Put<int>(urbData, offsetof(usbdevfs_urb, actual_length), static_cast<int>(r.length));
                break;
        }
        state.done.push_back(address);
        Complete(client, 0, 0);
        UpdateFlow();
    }

    void OnVanished(UMockdevIoctlClient* client) {
        clients.erase(client);
        for (auto it = claims.begin(); it != claims.end();)
            it = it->second == client ? claims.erase(it) : std::next(it);
        UpdateFlow();
    }

    static gboolean IoctlThunk(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        return static_cast<Impl*>(self)->OnIoctl(client);
    }
    static void VanishedThunk(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        static_cast<Impl*>(self)->OnVanished(client);
    }

    bool Build() {
        char bus[8], dev[8];
        std::snprintf(bus, sizeof bus, "%03d", options.bus);
        std::snprintf(dev, sizeof dev, "%03d", options.address);
        node = std::string("/dev/bus/usb/") + bus + "/" + dev;
        const std::string hub = "/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(options.bus);
        const std::string port = std::to_string(options.bus) + "-1";
        sysPath = hub + "/" + port;
        const auto& c = model.Config();
        char ids[64];
        std::snprintf(ids, sizeof ids, "A: idVendor=%04x\\n\nA: idProduct=%04x\\n\nA: bcdDevice=%04x\\n\n",
                      c.vendorId, c.productId, c.bcdDevice);
        std::string record;
        auto interface = [&](int number, int subclass) {
            record += "P: " + sysPath + "/" + port + ":1." + std::to_string(number) + "\n" +
                      "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: INTERFACE=1/" +
                      std::to_string(subclass) + "/0\n" + "A: bInterfaceNumber=0" +
                      std::to_string(number) + "\\n\nA: bInterfaceClass=01\\n\nA: bInterfaceSubClass=0" +
                      std::to_string(subclass) + "\\n\nA: bAlternateSetting= 0\\n\n\n";
        };
        interface(0, 1);
        interface(1, 2);
        record += "P: " + sysPath + "\nN: " + node.substr(5) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" +
                  "E: DEVNAME=" + node + "\nE: BUSNUM=" + bus + "\nE: DEVNUM=" + dev +
                  "\nE: MAJOR=189\nE: MINOR=" + std::to_string((options.bus - 1) * 128 + options.address - 1) +
                  "\nA: busnum=" + std::to_string(options.bus) + "\\n\nA: devnum=" +
                  std::to_string(options.address) + "\\n\n" + ids +
                  "A: bConfigurationValue=1\\n\nA: bNumConfigurations=1\\n\nA: speed=480\\n\n" +
                  "A: product=" + c.product + "\\n\nA: devpath=1\\n\n" +
                  "H: descriptors=" + Hex(model.SysfsDescriptors()) + "\n\n";
        record += "P: " + hub + "\nN: bus/usb/" + bus + "/001\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" +
                  "E: DEVNAME=/dev/bus/usb/" + bus + "/001\nE: BUSNUM=" + bus + "\nE: DEVNUM=001\n" +
                  "A: busnum=" + std::to_string(options.bus) + "\\n\nA: devnum=1\\n\n" +
                  "A: idVendor=1d6b\\n\nA: idProduct=0002\\n\nA: bConfigurationValue=1\\n\n" +
                  "A: speed=480\\n\nA: devpath=0\\n\nH: descriptors=" + Hex(RootHubDescriptors()) + "\n\n";
        record += "P: /devices/pci0000:00/0000:00:14.0\nE: SUBSYSTEM=pci\nE: DRIVER=xhci_hcd\n\n";
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(testbed, record.c_str(), &error)) {
            std::fprintf(stderr, "UsbfsHost: testbed rejected the device: %s\n", error ? error->message : "?");
            if (error) g_error_free(error);
            return false;
        }
        // Back the node with our own pty (see the header).
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
        const char* slaveName = ptsname(master);
        if (!slaveName) return false;
        slave = ::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) return false;
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        tcflow(slave, TCOOFF);
        flowOn = false;
        const std::string file = rootDir + node;
        ::unlink(file.c_str());
        if (::symlink(slaveName, file.c_str()) != 0) return false;

        handler = umockdev_ioctl_base_new();
        g_signal_connect(handler, "handle-ioctl", G_CALLBACK(IoctlThunk), this);
        g_signal_connect(handler, "client-vanished", G_CALLBACK(VanishedThunk), this);
        if (!umockdev_testbed_attach_ioctl(testbed, node.c_str(), handler, &error)) {
            std::fprintf(stderr, "UsbfsHost: cannot attach: %s\n", error ? error->message : "?");
            if (error) g_error_free(error);
            return false;
        }
        return true;
    }

    void Run(std::promise<bool>& started) {
        g_main_context_push_thread_default(context);
        const bool built = Build();
        ok = built;
        started.set_value(built);
        if (built) g_main_loop_run(loop);
        g_main_context_pop_thread_default(context);
    }
};

UsbfsHost::UsbfsHost(BridgeChipModel& model, Options options)
    : impl_(std::make_unique<Impl>(model, options)) {
    impl_->testbed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(impl_->testbed);
    impl_->rootDir = root;
    g_free(root);
    impl_->context = g_main_context_new();
    impl_->loop = g_main_loop_new(impl_->context, FALSE);
    std::promise<bool> started;
    auto ready = started.get_future();
    impl_->thread = std::thread([this, &started] { impl_->Run(started); });
    ready.wait();
}

UsbfsHost::~UsbfsHost() {
    if (impl_->thread.joinable()) {
        g_main_context_invoke(
            impl_->context, [](gpointer loop) -> gboolean {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            },
            impl_->loop);
        impl_->thread.join();
    }
    if (impl_->handler) {
        umockdev_testbed_detach_ioctl(impl_->testbed, impl_->node.c_str(), nullptr);
        g_object_unref(impl_->handler);
    }
    if (impl_->master >= 0) ::close(impl_->master);
    if (impl_->slave >= 0) ::close(impl_->slave);
    g_main_loop_unref(impl_->loop);
    g_main_context_unref(impl_->context);
    g_object_unref(impl_->testbed);
}

bool UsbfsHost::Ok() const { return impl_->ok; }
std::string UsbfsHost::RootDir() const { return impl_->rootDir; }
std::string UsbfsHost::DeviceNode() const { return impl_->node; }
std::string UsbfsHost::SysPath() const { return impl_->sysPath; }
int UsbfsHost::Bus() const { return impl_->options.bus; }
int UsbfsHost::Address() const { return impl_->options.address; }
std::size_t UsbfsHost::SubmittedUrbs() const { return impl_->submitted; }
std::size_t UsbfsHost::ReapCalls() const { return impl_->reaps; }

void UsbfsHost::Unplug() {
    std::promise<void> done;
    auto finished = done.get_future();
    struct Call {
        Impl* impl;
        std::promise<void>* done;
    } call{impl_.get(), &done};
    g_main_context_invoke(
        impl_->context, [](gpointer p) -> gboolean {
            auto* c = static_cast<Call*>(p);
            c->impl->HangUp();
            c->done->set_value();
            return G_SOURCE_REMOVE;
        },
        &call);
    finished.wait();
}

}  // namespace ovra::sim
