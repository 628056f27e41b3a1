#include "tools/ovractl/BridgeFamilyProvider.h"

#include <cstdio>

#include "device_access/Gen2MidHeadset.h"
#include "device_access/Tv520Headset.h"

namespace ovra::ovractl {
namespace {

constexpr std::uint16_t kVendor = 0x0B05;

std::string Where(const BridgeBinding& binding, unsigned handle) {
    char text[16];
    std::snprintf(text, sizeof text, ":%x", handle);
    const std::string& path = binding.LoadedModule()->Path();
    return path.substr(path.rfind('/') + 1) + text;
}

}  // namespace

BridgeFamilyProvider::BridgeFamilyProvider(ModuleLoader& loader, Clock& clock, DebugLog& log,
                                           std::function<bool()> bridgeAttached)
    : loader_(loader), clock_(clock), log_(log), bridgeAttached_(std::move(bridgeAttached)) {}

BridgeFamilyProvider::~BridgeFamilyProvider() {
    // Every loaded copy was initialised and so counts as a user of the
    // bridge proxy, found device or not: give each up, so that the last
    // user out stops the proxy.
    if (plain_) GiveUpGen2MidBinding(*plain_);
    if (tv520_) tv520_->GiveUp();
}

void BridgeFamilyProvider::LoadOnce() {
    if (plain_) return;
    plain_ = BridgeBinding::Load(loader_, kPlainBridgeLibrary, false, log_);
    ene_ = BridgeBinding::Load(loader_, kEneBridgeLibrary, true, log_);
    tv520_ = std::make_unique<Tv520Connection>(*ene_);
}

std::vector<FoundDevice> BridgeFamilyProvider::Find() {
    if (!plain_ && bridgeAttached_ && !bridgeAttached_()) return {};
    LoadOnce();
    std::vector<FoundDevice> found;
    if (plain_->Loaded()) {
        // A copy that already has its device open answers with that device.
        gen2MidHandle_ = plain_->OpenPid(kGen2MidProductId);
        if (gen2MidHandle_ != 0)
            found.push_back({DeviceFamily::Gen2Mid, {kVendor, kGen2MidProductId},
                             Where(*plain_, gen2MidHandle_), DeviceKind::Headset});
    }
    if (ene_->Loaded() && (tv520_->OpenCount() > 0 || tv520_->OpenTV520()))
        found.push_back({DeviceFamily::TV520, {kVendor, kTv520ProductId},
                         Where(*ene_, tv520_->Handle()), DeviceKind::Headset});
    return found;
}

std::unique_ptr<LightingDevice> BridgeFamilyProvider::Open(const FoundDevice& device) {
    LoadOnce();
    if (device.family == DeviceFamily::Gen2Mid && gen2MidHandle_ != 0) {
        auto headset = std::make_unique<Gen2MidHeadset>(*plain_, clock_);
        // While the headset's Bluetooth link is on, it must not be changed.
        if (headset->BleStatusOn()) {
            log_.Write("BLE Status is ON. Unable to operate.\n");
            return nullptr;
        }
        return headset;
    }
    if (device.family == DeviceFamily::TV520 && tv520_->Handle() != 0)
        return std::make_unique<Tv520Headset>(*ene_, clock_);
    return nullptr;
}

ReadableFields BridgeFamilyProvider::Reads(DeviceFamily family) const {
    // The Gen2Mid is never read back; the TV520 tells its frame only.
    return {false, family == DeviceFamily::TV520};
}

std::optional<LightingEffect> BridgeFamilyProvider::EffectFromMode(DeviceFamily,
                                                                   std::uint8_t) const {
    return std::nullopt;
}

}  // namespace ovra::ovractl
