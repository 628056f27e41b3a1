#include "tools/ovractl/HidFamilyProvider.h"

#include <algorithm>

#include "device_access/HidControl.h"
#include "device_access/HidHeadset.h"

namespace ovra::ovractl {
namespace {

struct HidFamilyId {
    UsbId id;
    DeviceFamily family;
};

constexpr HidFamilyId kHidFamilies[] = {
    {{0x0B05, 0x1855}, DeviceFamily::Gen2},
    {{0x0D8C, 0x01AC}, DeviceFamily::Gen2},
    {{0x0B05, 0x1859}, DeviceFamily::Gen2Entry},
};

// A headset connection that owns its transport: open on creation, closed
// (reader thread joined) on destruction.
class HidHeadsetConnection final : public LightingDevice {
public:
    HidHeadsetConnection(DeviceFamily family, std::unique_ptr<HidControl> hid, Clock& clock,
                         DebugLog& log)
        : hid_(std::move(hid)), headset_(family, *hid_, clock, log) {}
    ~HidHeadsetConnection() override { hid_->CloseDevice(); }

    DeviceFamily Family() const override { return headset_.Family(); }
    bool SetLEDEffect(LightingEffect effect, const Colour& colour) override {
        return headset_.SetLEDEffect(effect, colour);
    }
    bool SetLEDOff() override { return headset_.SetLEDOff(); }
    bool SetLEDFrame(std::uint8_t frame) override { return headset_.SetLEDFrame(frame); }
    std::optional<std::uint8_t> GetLEDFrame() override { return headset_.GetLEDFrame(); }
    std::optional<DeviceLightingState> GetLEDSetting() override { return headset_.GetLEDSetting(); }
    bool WriteColour(const Colour& colour) override { return headset_.WriteColour(colour); }

private:
    std::unique_ptr<HidControl> hid_;
    HidHeadset headset_;
};

}  // namespace

std::optional<DeviceFamily> HidHeadsetFamily(UsbId id) {
    for (const auto& known : kHidFamilies)
        if (known.id.vendor == id.vendor && known.id.product == id.product) return known.family;
    return std::nullopt;
}

HidFamilyProvider::HidFamilyProvider(HidEnumerator& enumerator, Clock& clock, DebugLog& log)
    : enumerator_(enumerator), clock_(clock), log_(log) {}

std::vector<FoundDevice> HidFamilyProvider::Find() {
    std::vector<FoundDevice> found;
    for (const HidDeviceInfo& info : enumerator_.Enumerate()) {
        const UsbId id{info.vendorId, info.productId};
        if (auto family = HidHeadsetFamily(id))
            found.push_back({*family, id, info.node, DeviceKind::Headset});
    }
    return found;
}

std::unique_ptr<LightingDevice> HidFamilyProvider::Open(const FoundDevice& device) {
    auto hid = std::make_unique<HidControl>(enumerator_, log_);
    // The first present device with these ids, as the programs connect.
    if (!hid->OpenDevice(device.id.vendor, device.id.product)) return nullptr;
    hid->StartReadThread();
    return std::make_unique<HidHeadsetConnection>(device.family, std::move(hid), clock_, log_);
}

ReadableFields HidFamilyProvider::Reads(DeviceFamily) const { return {true, true}; }

std::optional<LightingEffect> HidFamilyProvider::EffectFromMode(DeviceFamily,
                                                                std::uint8_t mode) const {
    return HidHeadsetEffectFromMode(mode);
}

}  // namespace ovra::ovractl
