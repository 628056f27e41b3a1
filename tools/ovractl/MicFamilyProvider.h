#pragma once
// The MK470 microphone through the microphone library ("ITECCTdll.dll"),
// loaded on first use; found when the library connects it.

#include <memory>

#include "device_access/MicBinding.h"
#include "platform/DebugLog.h"
#include "platform/ModuleLoader.h"
#include "tools/ovractl/LightingFamilies.h"

namespace ovra::ovractl {

class MicFamilyProvider final : public FamilyProvider {
public:
    MicFamilyProvider(ModuleLoader& loader, DebugLog& log) : loader_(loader), log_(log) {}
    ~MicFamilyProvider() override;

    std::vector<FoundDevice> Find() override;
    std::unique_ptr<LightingDevice> Open(const FoundDevice& device) override;
    ReadableFields Reads(DeviceFamily) const override { return {true, true}; }
    std::optional<LightingEffect> EffectFromMode(DeviceFamily family,
                                                 std::uint8_t mode) const override;

private:
    ModuleLoader& loader_;
    DebugLog& log_;
    std::unique_ptr<MicBinding> mic_;
    bool connected_ = false;
};

}  // namespace ovra::ovractl
