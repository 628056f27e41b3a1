#include "sim/umockdev/UmockdevHidHost.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <stdexcept>
#include <thread>

#include "sim/umockdev/SysfsChain.h"

namespace ovra::sim {
namespace {

using SteadyClock = std::chrono::steady_clock;

// hidraw keeps at most this many unread reports per reader and drops the oldest.
constexpr std::size_t kMaxQueuedReports = 64;
constexpr std::size_t kMaxHidDescriptorSize = 4096;

struct StalledCall {
    UMockdevIoctlClient* client;  // referenced while stalled
    SteadyClock::time_point deadline;
};

}  // namespace

// One plugged-in (or formerly plugged-in) device. Slots are never freed
// before the host, so the signal handlers' user data stays valid.
struct Slot {
    UmockdevHidHost::Impl* impl = nullptr;
    UmockdevHidHost::DeviceId id = 0;
    std::shared_ptr<HidDeviceModel> model;
    UsbHidPlacement placement;
    UsbHidPaths paths;
    UMockdevIoctlBase* handler = nullptr;
    int masterFd = -1;  // owned by the testbed
    int slaveFd = -1;   // ours: drains the doorbell byte
    std::string ptyPath;  // the pty behind the node, "/dev/pts/N"
    // Guarded by Impl::mutex:
    bool present = false;
    bool removalQueued = false;
    bool inTestbed = false;  // its sysfs entries exist (until the removal has finished)
    std::deque<std::vector<std::uint8_t>> reports;
    bool doorbell = false;
    std::vector<StalledCall> stalled;
};

struct UmockdevHidHost::Impl {
    Options options;
    UMockdevTestbed* testbed = nullptr;
    std::string rootDir;
    std::mutex testbedMutex;  // testbed calls; never taken by the signal handlers
    std::mutex mutex;         // slots' state
    std::condition_variable wake;
    std::vector<std::unique_ptr<Slot>> slots;
    int nextHidInstance = 1;
    int nextDevnum = 2;
    int nextHidraw = 0;
    bool stopping = false;
    std::thread worker;  // stalled-call time-outs, removals asked for by models, polling

    // --- under mutex ---
    void Ring(Slot& slot) {
        if (slot.doorbell || slot.masterFd < 0) return;
        const char bell = 0;
        if (::write(slot.masterFd, &bell, 1) == 1) slot.doorbell = true;
    }
    void Silence(Slot& slot) {
        if (!slot.doorbell) return;
        char drain[64];
        while (slot.slaveFd >= 0 && ::read(slot.slaveFd, drain, sizeof drain) > 0) {
        }
        slot.doorbell = false;
    }
    void QueueInterruptReports(Slot& slot) {
        while (auto report = slot.model->TakeInterruptReport()) {
            if (slot.reports.size() == kMaxQueuedReports) slot.reports.pop_front();
            slot.reports.push_back(std::move(*report));
        }
        if (!slot.reports.empty()) Ring(slot);
    }
    void Stall(Slot& slot, UMockdevIoctlClient* client) {
        g_object_ref(client);
        slot.stalled.push_back({client, SteadyClock::now() + options.stalledTransferTimeout});
        wake.notify_all();
    }
    // The device is gone from now on; the testbed part follows on the worker
    // (or in RemoveDevice).
    void MarkGone(Slot& slot) {
        slot.present = false;
        for (const StalledCall& call : slot.stalled) {
            umockdev_ioctl_client_complete(call.client, -1, ENODEV);
            g_object_unref(call.client);
        }
        slot.stalled.clear();
        slot.reports.clear();
    }

    void TestbedAdd(Slot& slot);
    // Removes the device's entries and hangs its node up; `announce` sends the
    // "remove" uevents first.
    void TestbedRemove(Slot& slot, bool announce);
    void WorkerLoop();
};

namespace {

Slot& SlotOf(gpointer data) { return *static_cast<Slot*>(data); }

void Complete(UMockdevIoctlClient* client, long result, int error) {
    umockdev_ioctl_client_complete(client, result, error);
}

// Resolves `size` bytes behind the ioctl's pointer argument (null on failure).
UMockdevIoctlData* Resolve(UMockdevIoctlClient* client, std::size_t size) {
    return umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, nullptr);
}

// Applies the model's answer to a transfer; returns true when the device
// asked to be unplugged.
bool Answer(UmockdevHidHost::Impl& impl, Slot& slot, UMockdevIoctlClient* client, const ModelReply& reply,
            long okResult) {
    switch (reply.action) {
        case ModelAction::Accept: Complete(client, okResult, 0); return false;
        case ModelAction::Reject: Complete(client, -1, EPIPE); return false;
        case ModelAction::NoAnswer: impl.Stall(slot, client); return false;
        case ModelAction::Unplug:
            impl.MarkGone(slot);
            Complete(client, -1, ENODEV);
            slot.removalQueued = true;
            impl.wake.notify_all();
            return true;
    }
    Complete(client, -1, EIO);
    return false;
}

gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    Slot& slot = SlotOf(data);
    auto& impl = *slot.impl;
    std::lock_guard lock(impl.mutex);
    if (!slot.present) {
        Complete(client, -1, ENODEV);
        return TRUE;
    }
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const auto length = static_cast<std::size_t>(std::max(arg->data_len, 0));
    const ModelReply reply = slot.model->OnOutputReport(std::span<const std::uint8_t>(arg->data, length));
    if (!Answer(impl, slot, client, reply, static_cast<long>(length)) && reply.action == ModelAction::Accept)
        impl.QueueInterruptReports(slot);
    return TRUE;
}

gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    Slot& slot = SlotOf(data);
    auto& impl = *slot.impl;
    std::lock_guard lock(impl.mutex);
    if (!slot.present) {
        Complete(client, -1, EIO);
        return TRUE;
    }
    if (slot.reports.empty()) {
        Complete(client, -1, EAGAIN);
        return TRUE;
    }
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const std::vector<std::uint8_t> report = std::move(slot.reports.front());
    slot.reports.pop_front();
    const std::size_t length = std::min(report.size(), static_cast<std::size_t>(std::max(arg->data_len, 0)));
    std::copy_n(report.begin(), length, arg->data);
    if (slot.reports.empty()) impl.Silence(slot);
    Complete(client, static_cast<long>(length), 0);
    return TRUE;
}

void CopyString(UMockdevIoctlClient* client, std::size_t size, const std::string& text) {
    UMockdevIoctlData* buffer = Resolve(client, size);
    if (!buffer) return Complete(client, -1, EFAULT);
    const std::size_t length = std::min(size, text.size() + 1);
    std::memcpy(buffer->data, text.c_str(), length);
    Complete(client, static_cast<long>(length), 0);
    g_object_unref(buffer);
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    Slot& slot = SlotOf(data);
    auto& impl = *slot.impl;
    std::lock_guard lock(impl.mutex);
    if (!slot.present) {
        Complete(client, -1, ENODEV);
        return TRUE;
    }
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (_IOC_TYPE(request) != 'H') {
        Complete(client, -1, ENOTTY);  // e.g. terminal ioctls from isatty()
        return TRUE;
    }
    const std::size_t size = _IOC_SIZE(request);
    const std::vector<std::uint8_t>& descriptor = slot.placement.reportDescriptor;
    switch (_IOC_NR(request)) {
        case _IOC_NR(HIDIOCGRDESCSIZE): {
            UMockdevIoctlData* out = Resolve(client, sizeof(int));
            if (!out) return Complete(client, -1, EFAULT), TRUE;
            const int value = static_cast<int>(descriptor.size());
            std::memcpy(out->data, &value, sizeof value);
            Complete(client, 0, 0);
            g_object_unref(out);
            return TRUE;
        }
        case _IOC_NR(HIDIOCGRDESC): {
            UMockdevIoctlData* out = Resolve(client, sizeof(hidraw_report_descriptor));
            if (!out) return Complete(client, -1, EFAULT), TRUE;
            auto* rd = reinterpret_cast<hidraw_report_descriptor*>(out->data);
            if (rd->size > kMaxHidDescriptorSize - 1) {
                Complete(client, -1, EINVAL);
            } else {
                std::copy_n(descriptor.begin(), std::min<std::size_t>(rd->size, descriptor.size()), rd->value);
                Complete(client, 0, 0);
            }
            g_object_unref(out);
            return TRUE;
        }
        case _IOC_NR(HIDIOCGRAWINFO): {
            UMockdevIoctlData* out = Resolve(client, sizeof(hidraw_devinfo));
            if (!out) return Complete(client, -1, EFAULT), TRUE;
            hidraw_devinfo info{};
            info.bustype = 3;  // BUS_USB
            info.vendor = static_cast<__s16>(slot.placement.vendorId);
            info.product = static_cast<__s16>(slot.placement.productId);
            std::memcpy(out->data, &info, sizeof info);
            Complete(client, 0, 0);
            g_object_unref(out);
            return TRUE;
        }
        case 0x04:  // HIDIOCGRAWNAME(len)
            CopyString(client, size, slot.placement.productName);
            return TRUE;
        case 0x05:  // HIDIOCGRAWPHYS(len)
            CopyString(client, size, "usb-0000:00:14.0-" + std::to_string(slot.placement.port) + "/input3");
            return TRUE;
        case 0x0A: {  // HIDIOCGINPUT(len)
            if (size == 0) return Complete(client, -1, EINVAL), TRUE;
            UMockdevIoctlData* buffer = Resolve(client, size);
            if (!buffer) return Complete(client, -1, EFAULT), TRUE;
            const ModelReply reply = slot.model->OnGetInputReport(std::span<std::uint8_t>(buffer->data, size));
            Answer(impl, slot, client, reply, static_cast<long>(std::min(reply.length, size)));
            g_object_unref(buffer);
            return TRUE;
        }
        case 0x0B: {  // HIDIOCSOUTPUT(len): an output report over the control pipe
            if (size == 0) return Complete(client, -1, EINVAL), TRUE;
            UMockdevIoctlData* buffer = Resolve(client, size);
            if (!buffer) return Complete(client, -1, EFAULT), TRUE;
            const ModelReply reply = slot.model->OnOutputReport(std::span<const std::uint8_t>(buffer->data, size));
            if (!Answer(impl, slot, client, reply, static_cast<long>(size)) && reply.action == ModelAction::Accept)
                impl.QueueInterruptReports(slot);
            g_object_unref(buffer);
            return TRUE;
        }
        default:
            // Feature reports: the models have none, the device stalls them.
            Complete(client, -1, (_IOC_NR(request) == 0x06 || _IOC_NR(request) == 0x07) ? EPIPE : EINVAL);
            return TRUE;
    }
}

}  // namespace

void UmockdevHidHost::Impl::TestbedAdd(Slot& slot) {
    std::lock_guard testbedLock(testbedMutex);
    GError* error = nullptr;
    // Each record makes the testbed send its "add" uevent.
    for (const std::string& record : DeviceRecords(slot.placement)) {
        if (!umockdev_testbed_add_from_string(testbed, record.c_str(), &error)) {
            std::string message = std::string("umockdev host: cannot add device: ") + (error ? error->message : "?");
            g_clear_error(&error);
            throw std::runtime_error(message);
        }
    }
    slot.handler = umockdev_ioctl_base_new();
    g_signal_connect(slot.handler, "handle-write", G_CALLBACK(OnWrite), &slot);
    g_signal_connect(slot.handler, "handle-read", G_CALLBACK(OnRead), &slot);
    g_signal_connect(slot.handler, "handle-ioctl", G_CALLBACK(OnIoctl), &slot);
    if (!umockdev_testbed_attach_ioctl(testbed, slot.paths.node.c_str(), slot.handler, &error)) {
        std::string message = std::string("umockdev host: cannot attach to ") + slot.paths.node + ": " +
                              (error ? error->message : "?");
        g_clear_error(&error);
        throw std::runtime_error(message);
    }
    slot.masterFd = umockdev_testbed_get_dev_fd(testbed, slot.paths.node.c_str());
    // The node is a symbolic link to the pty's slave side; we read the
    // doorbell bytes back from there.
    char target[256] = {};
    const std::string link = rootDir + slot.paths.node;
    if (::readlink(link.c_str(), target, sizeof target - 1) > 0) {
        slot.ptyPath = target;
        slot.slaveFd = ::open(target, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    // Without it the node would stay readable forever once a report came.
    if (slot.masterFd < 0 || slot.slaveFd < 0)
        throw std::runtime_error("umockdev host: no pty behind " + slot.paths.node);
    {
        std::lock_guard lock(mutex);
        slot.present = true;
    }
}

void UmockdevHidHost::Impl::TestbedRemove(Slot& slot, bool announce) {
    std::lock_guard testbedLock(testbedMutex);
    if (announce) {
        for (const std::string* path : {&slot.paths.hidraw, &slot.paths.hid, &slot.paths.interface, &slot.paths.usbDevice})
            umockdev_testbed_uevent(testbed, ("/sys" + *path).c_str(), "remove");
    }
    // One by one, child first: removing only the top device leaves the
    // children's class links and the node behind.
    for (const std::string* path : {&slot.paths.hidraw, &slot.paths.hid, &slot.paths.interface, &slot.paths.usbDevice})
        umockdev_testbed_remove_device(testbed, ("/sys" + *path).c_str());
    // The testbed keeps the /sys/dev/char link of the node; a later device
    // with the same minor needs it gone.
    ::unlink((rootDir + "/sys/dev/char/" + std::to_string(kHidrawMajor) + ":" +
              std::to_string(slot.placement.hidrawIndex)).c_str());
    {
        std::lock_guard lock(mutex);
        if (slot.slaveFd >= 0) ::close(slot.slaveFd);
        slot.slaveFd = -1;
        // Hang the node up as the kernel does on removal (readers see
        // POLLHUP|POLLERR). The testbed never closes the pty's master side and
        // closes its descriptor itself at the end, so the descriptor is made
        // to point at /dev/null instead of being closed.
        const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (devNull >= 0 && slot.masterFd >= 0) ::dup3(devNull, slot.masterFd, O_CLOEXEC);
        if (devNull >= 0) ::close(devNull);
        slot.masterFd = -1;
        slot.doorbell = false;
        slot.inTestbed = false;
    }
    // The pty number is free again and the next device may get it; the
    // testbed's map entry for it must go with the old device.
    std::string ptyMapEntry = slot.ptyPath;
    std::replace(ptyMapEntry.begin(), ptyMapEntry.end(), '/', '_');
    if (!ptyMapEntry.empty()) ::unlink((rootDir + "/dev/.ptymap/" + ptyMapEntry).c_str());
}

void UmockdevHidHost::Impl::WorkerLoop() {
    std::unique_lock lock(mutex);
    auto nextPoll = SteadyClock::now() + options.interruptPollInterval;
    while (!stopping) {
        auto wakeAt = SteadyClock::time_point::max();
        if (options.interruptPollInterval.count() > 0) wakeAt = nextPoll;
        for (auto& slot : slots)
            for (const StalledCall& call : slot->stalled) wakeAt = std::min(wakeAt, call.deadline);
        bool removal = false;
        for (auto& slot : slots) removal = removal || slot->removalQueued;
        if (!removal) {
            if (wakeAt == SteadyClock::time_point::max()) wake.wait(lock);
            else wake.wait_until(lock, wakeAt);
        }
        if (stopping) break;
        const auto now = SteadyClock::now();
        for (auto& slot : slots) {
            auto& stalled = slot->stalled;
            for (auto it = stalled.begin(); it != stalled.end();) {
                if (it->deadline > now) {
                    ++it;
                    continue;
                }
                umockdev_ioctl_client_complete(it->client, -1, ETIMEDOUT);
                g_object_unref(it->client);
                it = stalled.erase(it);
            }
        }
        if (options.interruptPollInterval.count() > 0 && now >= nextPoll) {
            for (auto& slot : slots)
                if (slot->present) QueueInterruptReports(*slot);
            nextPoll = now + options.interruptPollInterval;
        }
        for (auto& slot : slots) {
            if (!slot->removalQueued) continue;
            slot->removalQueued = false;
            lock.unlock();
            TestbedRemove(*slot, true);
            lock.lock();
        }
    }
}

UmockdevHidHost::UmockdevHidHost() : UmockdevHidHost(Options{}) {}

UmockdevHidHost::UmockdevHidHost(Options options) : options_(options), impl_(std::make_unique<Impl>()) {
    if (!InMockEnvironment())
        throw std::runtime_error(
            "umockdev host: this process must run under the umockdev preload library "
            "(umockdev-wrapper, or LD_PRELOAD=libumockdev-preload.so.0)");
    impl_->options = options;
    impl_->testbed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(impl_->testbed);
    rootDir_ = root;
    impl_->rootDir = root;
    g_free(root);
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(impl_->testbed, ControllerRecord().c_str(), &error)) {
        std::string message = std::string("umockdev host: cannot add the USB controller: ") +
                              (error ? error->message : "?");
        g_clear_error(&error);
        g_object_unref(impl_->testbed);
        throw std::runtime_error(message);
    }
    impl_->worker = std::thread([impl = impl_.get()] { impl->WorkerLoop(); });
}

UmockdevHidHost::~UmockdevHidHost() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
        for (auto& slot : impl_->slots)
            if (slot->present) impl_->MarkGone(*slot);
    }
    impl_->wake.notify_all();
    impl_->worker.join();
    // The whole testbed goes: no uevents (a monitor nobody reads any more
    // would make umockdev abort), but every node is hung up for programs
    // that still hold it open.
    for (auto& slot : impl_->slots)
        if (slot->inTestbed) impl_->TestbedRemove(*slot, false);
    for (auto& slot : impl_->slots)
        if (slot->handler) g_object_unref(slot->handler);
    g_object_unref(impl_->testbed);
}

bool UmockdevHidHost::InMockEnvironment() {
    // umockdev_in_mock_environment() only tells whether a testbed exists yet.
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload") != nullptr;
}

std::vector<std::string> UmockdevHidHost::ChildEnvironment() const {
    const char* preload = std::getenv("LD_PRELOAD");
    return {"UMOCKDEV_DIR=" + rootDir_,
            std::string("LD_PRELOAD=") + (preload ? preload : "libumockdev-preload.so.0")};
}

UmockdevHidHost::DeviceId UmockdevHidHost::AddDevice(std::shared_ptr<HidDeviceModel> model) {
    if (!model) throw std::invalid_argument("umockdev host: no model");
    auto slot = std::make_unique<Slot>();
    Slot* raw = slot.get();
    {
        std::lock_guard lock(impl_->mutex);
        // The lowest free root-hub port, as a person plugging in would pick.
        auto lowestFree = [&](auto field, int first) {
            for (int candidate = first;; ++candidate) {
                bool used = false;
                for (const auto& other : impl_->slots)
                    used = used || (other->inTestbed && other->placement.*field == candidate);
                if (!used) return candidate;
            }
        };
        raw->impl = impl_.get();
        raw->id = static_cast<DeviceId>(impl_->slots.size());
        raw->model = std::move(model);
        raw->placement.port = lowestFree(&UsbHidPlacement::port, 1);
        // The testbed cannot take a node name twice, so minors are not reused.
        raw->placement.hidrawIndex = impl_->nextHidraw++;
        raw->placement.devnum = impl_->nextDevnum++;
        raw->placement.hidInstance = impl_->nextHidInstance++;
        raw->placement.vendorId = raw->model->VendorId();
        raw->placement.productId = raw->model->ProductId();
        raw->placement.productName = raw->model->ProductName();
        raw->placement.reportDescriptor = raw->model->ReportDescriptor();
        if (raw->placement.reportDescriptor.size() > kMaxHidDescriptorSize)
            raw->placement.reportDescriptor.resize(kMaxHidDescriptorSize);
        raw->paths = PathsOf(raw->placement);
        raw->inTestbed = true;
        impl_->slots.push_back(std::move(slot));
    }
    impl_->TestbedAdd(*raw);
    return raw->id;
}

void UmockdevHidHost::RemoveDevice(DeviceId id) {
    Slot* slot = nullptr;
    {
        std::lock_guard lock(impl_->mutex);
        if (id < 0 || static_cast<std::size_t>(id) >= impl_->slots.size()) return;
        slot = impl_->slots[static_cast<std::size_t>(id)].get();
        if (!slot->present && !slot->removalQueued) return;
        impl_->MarkGone(*slot);
        slot->removalQueued = false;
    }
    impl_->TestbedRemove(*slot, true);
}

bool UmockdevHidHost::IsPresent(DeviceId id) const {
    std::lock_guard lock(impl_->mutex);
    return id >= 0 && static_cast<std::size_t>(id) < impl_->slots.size() &&
           impl_->slots[static_cast<std::size_t>(id)]->present;
}

std::string UmockdevHidHost::Node(DeviceId id) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->slots.at(static_cast<std::size_t>(id))->paths.node;
}
std::string UmockdevHidHost::SysPath(DeviceId id) const {
    std::lock_guard lock(impl_->mutex);
    return "/sys" + impl_->slots.at(static_cast<std::size_t>(id))->paths.hidraw;
}
std::string UmockdevHidHost::UsbSysPath(DeviceId id) const {
    std::lock_guard lock(impl_->mutex);
    return "/sys" + impl_->slots.at(static_cast<std::size_t>(id))->paths.usbDevice;
}

void UmockdevHidHost::DeliverInterruptReports(DeviceId id) {
    std::lock_guard lock(impl_->mutex);
    Slot& slot = *impl_->slots.at(static_cast<std::size_t>(id));
    if (slot.present) impl_->QueueInterruptReports(slot);
}

std::size_t UmockdevHidHost::QueuedInterruptReports(DeviceId id) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->slots.at(static_cast<std::size_t>(id))->reports.size();
}

}  // namespace ovra::sim
