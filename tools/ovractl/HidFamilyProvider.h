#pragma once
// The HID headset families (Gen2, Gen2Entry): found through the HID
// enumerator by USB ids, driven with the HID command set.

#include "platform/Clock.h"
#include "platform/DebugLog.h"
#include "platform/HidEnumerator.h"
#include "tools/ovractl/LightingFamilies.h"

namespace ovra::ovractl {

// The family a HID device's ids name, if it is one of ours.
std::optional<DeviceFamily> HidHeadsetFamily(UsbId id);

class HidFamilyProvider final : public FamilyProvider {
public:
    HidFamilyProvider(HidEnumerator& enumerator, Clock& clock, DebugLog& log);

    std::vector<FoundDevice> Find() override;
    std::unique_ptr<LightingDevice> Open(const FoundDevice& device) override;
    ReadableFields Reads(DeviceFamily family) const override;
    std::optional<LightingEffect> EffectFromMode(DeviceFamily family,
                                                 std::uint8_t mode) const override;

private:
    HidEnumerator& enumerator_;
    Clock& clock_;
    DebugLog& log_;
};

}  // namespace ovra::ovractl
