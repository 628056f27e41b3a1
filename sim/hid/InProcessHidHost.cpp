#include "sim/hid/InProcessHidHost.h"

#include <algorithm>
#include <condition_variable>
#include <deque>

namespace ovra::sim {

class SimHidDevice;

struct InProcessHidHost::Slot {
    std::shared_ptr<HidDeviceModel> model;
    HidDeviceInfo info;
    HidCapabilities capabilities;
    Clock* clock = nullptr;

    std::mutex mutex;  // guards everything below
    bool gone = false;
    bool denied = false;
    std::vector<SimHidDevice*> handles;

    void MarkGone();
    void Distribute(std::vector<std::uint8_t> report);
};

// One open handle. Interrupt-in reports reach every open handle, as with
// hidraw, where each open file gets its own copy.
class SimHidDevice final : public HidDevice {
public:
    explicit SimHidDevice(std::shared_ptr<InProcessHidHost::Slot> slot) : slot_(std::move(slot)) {
        std::lock_guard lock(slot_->mutex);
        slot_->handles.push_back(this);
    }
    ~SimHidDevice() override {
        std::lock_guard lock(slot_->mutex);
        std::erase(slot_->handles, this);
    }

    const HidDeviceInfo& Info() const override { return slot_->info; }
    const HidCapabilities& Capabilities() const override { return slot_->capabilities; }

    HidStatus WriteOutputReport(std::span<const std::uint8_t> report,
                                std::chrono::milliseconds timeout) override {
        if (report.empty()) return HidStatus::InvalidArgument;
        if (IsGone()) return HidStatus::Gone;
        const ModelReply reply = slot_->model->OnOutputReport(report);
        switch (reply.action) {
            case ModelAction::Accept:
                while (auto in = slot_->model->TakeInterruptReport()) slot_->Distribute(std::move(*in));
                return HidStatus::Ok;
            case ModelAction::Reject: return HidStatus::IoError;
            case ModelAction::NoAnswer:
                if (slot_->clock) slot_->clock->SleepFor(timeout);
                return HidStatus::Timeout;
            case ModelAction::Unplug:
                // The write hangs until the bound, then the device is gone.
                if (slot_->clock) slot_->clock->SleepFor(timeout);
                slot_->MarkGone();
                return HidStatus::Timeout;
        }
        return HidStatus::IoError;
    }

    HidStatus GetInputReport(std::span<std::uint8_t> buffer, std::size_t& length) override {
        length = 0;
        if (buffer.empty()) return HidStatus::InvalidArgument;
        if (IsGone()) return HidStatus::Gone;
        const ModelReply reply = slot_->model->OnGetInputReport(buffer);
        switch (reply.action) {
            case ModelAction::Accept:
                length = std::min(reply.length, buffer.size());
                return HidStatus::Ok;
            case ModelAction::Reject: return HidStatus::IoError;
            case ModelAction::NoAnswer: return HidStatus::Timeout;
            case ModelAction::Unplug: slot_->MarkGone(); return HidStatus::Gone;
        }
        return HidStatus::IoError;
    }

    HidStatus ReadInputReport(std::span<std::uint8_t> buffer, std::size_t& length,
                              std::chrono::milliseconds timeout) override {
        length = 0;
        std::unique_lock lock(slot_->mutex);
        const auto ready = [&] { return cancelled_ || slot_->gone || !queue_.empty(); };
        if (timeout.count() < 0)
            wake_.wait(lock, ready);
        else if (!wake_.wait_for(lock, timeout, ready))
            return HidStatus::Timeout;
        if (cancelled_) return HidStatus::Interrupted;
        if (!queue_.empty()) {
            const auto& report = queue_.front();
            length = std::min(report.size(), buffer.size());
            std::copy_n(report.begin(), length, buffer.begin());
            queue_.pop_front();
            return HidStatus::Ok;
        }
        return HidStatus::Gone;
    }

    void CancelReads() override {
        std::lock_guard lock(slot_->mutex);
        cancelled_ = true;
        wake_.notify_all();
    }

    // Called with the slot's mutex held.
    void Push(std::vector<std::uint8_t> report) {
        queue_.push_back(std::move(report));
        wake_.notify_all();
    }
    void Wake() { wake_.notify_all(); }

private:
    bool IsGone() {
        std::lock_guard lock(slot_->mutex);
        return slot_->gone;
    }

    std::shared_ptr<InProcessHidHost::Slot> slot_;
    std::condition_variable wake_;
    std::deque<std::vector<std::uint8_t>> queue_;
    bool cancelled_ = false;
};

void InProcessHidHost::Slot::MarkGone() {
    std::lock_guard lock(mutex);
    gone = true;
    for (auto* handle : handles) handle->Wake();
}

void InProcessHidHost::Slot::Distribute(std::vector<std::uint8_t> report) {
    std::lock_guard lock(mutex);
    for (auto* handle : handles) handle->Push(report);
}

InProcessHidHost::InProcessHidHost(Clock* clock) : clock_(clock) {}
InProcessHidHost::~InProcessHidHost() = default;

HidDeviceInfo InProcessHidHost::Add(std::shared_ptr<HidDeviceModel> model,
                                    HidCapabilities capabilities) {
    auto slot = std::make_shared<Slot>();
    slot->info.vendorId = model->VendorId();
    slot->info.productId = model->ProductId();
    slot->model = std::move(model);
    slot->capabilities = capabilities;
    slot->clock = clock_;
    std::lock_guard lock(mutex_);
    slot->info.node = "sim-hidraw" + std::to_string(nextIndex_++);
    slot->info.sysPath = "sim/" + slot->info.node;
    slots_.push_back(slot);
    return slot->info;
}

void InProcessHidHost::Remove(const std::string& node) {
    std::shared_ptr<Slot> removed;
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(slots_.begin(), slots_.end(),
                                     [&](const auto& s) { return s->info.node == node; });
        if (it == slots_.end()) return;
        removed = *it;
        slots_.erase(it);
    }
    removed->MarkGone();
}

void InProcessHidHost::DenyAccess(const std::string& node) {
    std::lock_guard lock(mutex_);
    for (auto& slot : slots_) {
        if (slot->info.node != node) continue;
        std::lock_guard slotLock(slot->mutex);
        slot->denied = true;
    }
}

std::size_t InProcessHidHost::OpenHandles() const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& slot : slots_) {
        std::lock_guard slotLock(slot->mutex);
        count += slot->handles.size();
    }
    return count;
}

std::vector<HidDeviceInfo> InProcessHidHost::Enumerate() {
    std::lock_guard lock(mutex_);
    std::vector<HidDeviceInfo> infos;
    for (const auto& slot : slots_) {
        std::lock_guard slotLock(slot->mutex);
        if (!slot->gone) infos.push_back(slot->info);
    }
    return infos;
}

std::unique_ptr<HidDevice> InProcessHidHost::Open(const HidDeviceInfo& info, HidStatus& status) {
    std::shared_ptr<Slot> slot;
    {
        std::lock_guard lock(mutex_);
        for (const auto& s : slots_)
            if (s->info.node == info.node) slot = s;
    }
    if (!slot) {
        status = HidStatus::NotFound;
        return nullptr;
    }
    {
        std::lock_guard slotLock(slot->mutex);
        if (slot->gone) {
            status = HidStatus::NotFound;
            return nullptr;
        }
        if (slot->denied) {
            status = HidStatus::AccessDenied;
            return nullptr;
        }
    }
    status = HidStatus::Ok;
    return std::make_unique<SimHidDevice>(std::move(slot));
}

}  // namespace ovra::sim
