#pragma once
// The bridge-attached headsets (Gen2Mid through "B2Xlib.dll", TV520 through
// "B2Xlib_ene.dll"): the two copies are loaded on first use; a headset is
// "found" when its copy opens it. Everything opened is given up again when
// the provider goes. Initialising a copy starts the bridge's proxy, so with a
// presence check the copies are loaded only when a bridge device is attached.

#include <functional>
#include <memory>

#include "device_access/BridgeBinding.h"
#include "device_access/BridgeConnections.h"
#include "platform/Clock.h"
#include "platform/DebugLog.h"
#include "platform/ModuleLoader.h"
#include "tools/ovractl/LightingFamilies.h"

namespace ovra::ovractl {

class BridgeFamilyProvider final : public FamilyProvider {
public:
    // `bridgeAttached`, when given, tells whether any bridge device is present.
    BridgeFamilyProvider(ModuleLoader& loader, Clock& clock, DebugLog& log,
                         std::function<bool()> bridgeAttached = {});
    ~BridgeFamilyProvider() override;

    std::vector<FoundDevice> Find() override;
    std::unique_ptr<LightingDevice> Open(const FoundDevice& device) override;
    ReadableFields Reads(DeviceFamily family) const override;
    std::optional<LightingEffect> EffectFromMode(DeviceFamily family,
                                                 std::uint8_t mode) const override;

private:
    void LoadOnce();

    ModuleLoader& loader_;
    Clock& clock_;
    DebugLog& log_;
    std::function<bool()> bridgeAttached_;
    std::unique_ptr<BridgeBinding> plain_;
    std::unique_ptr<BridgeBinding> ene_;
    std::unique_ptr<Tv520Connection> tv520_;
    unsigned gen2MidHandle_ = 0;
};

}  // namespace ovra::ovractl
