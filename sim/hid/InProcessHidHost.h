#pragma once
// Device models behind the HID ports, in the same process: an enumerator that
// lists the models in the order they were added and hands out HidDevice
// handles that pass every request straight to the model. Used by unit tests
// and tools that need no kernel.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/HidEnumerator.h"
#include "sim/hid/HidDeviceModel.h"

namespace ovra::sim {

class InProcessHidHost final : public HidEnumerator {
public:
    // With a clock, a request the model never completes costs its timeout on
    // that clock (a manual clock makes the bound observable at no cost).
    explicit InProcessHidHost(Clock* clock = nullptr);
    ~InProcessHidHost() override;

    // Adds a device; its node is "sim-hidraw<N>". `capabilities` are what the
    // model's report descriptor declares (16-byte reports with id by default).
    HidDeviceInfo Add(std::shared_ptr<HidDeviceModel> model,
                      HidCapabilities capabilities = {16, 16, 0, true});
    // The device goes away: it leaves the enumeration and open handles answer Gone.
    void Remove(const std::string& node);
    // Opening this node fails with AccessDenied (a node without the udev rule).
    void DenyAccess(const std::string& node);

    std::size_t OpenHandles() const;

    std::vector<HidDeviceInfo> Enumerate() override;
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info, HidStatus& status) override;

    struct Slot;  // one attached device, shared with its open handles

private:
    Clock* clock_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Slot>> slots_;
    std::size_t nextIndex_ = 0;
};

}  // namespace ovra::sim
