#include "tools/ovractl/MicFamilyProvider.h"

#include "device_access/BridgeModeCodes.h"
#include "device_access/Mk470Microphone.h"

namespace ovra::ovractl {

MicFamilyProvider::~MicFamilyProvider() {
    if (connected_) mic_->DisconnectDevice();
}

std::vector<FoundDevice> MicFamilyProvider::Find() {
    if (!mic_) mic_ = MicBinding::Load(loader_, log_);
    if (!connected_ && mic_->Ready()) connected_ = mic_->ConnectDevice();
    if (!connected_) return {};
    const std::string& path = mic_->LoadedModule()->Path();
    return {{DeviceFamily::MK470, {0x0B05, 0x1842}, path.substr(path.rfind('/') + 1),
             DeviceKind::Microphone}};
}

std::unique_ptr<LightingDevice> MicFamilyProvider::Open(const FoundDevice& device) {
    if (device.family != DeviceFamily::MK470 || !connected_) return nullptr;
    return std::make_unique<Mk470Microphone>(*mic_, log_);
}

std::optional<LightingEffect> MicFamilyProvider::EffectFromMode(DeviceFamily,
                                                                std::uint8_t mode) const {
    // Off (4) is not an effect; the stored effect it stands for is the programs' business.
    if (mode == kMk470ModeOff) return std::nullopt;
    return Mk470ReadBackEffect(mode, LightingEffect::Static);
}

}  // namespace ovra::ovractl
