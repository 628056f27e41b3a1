#include "settings/SyncStatus.h"

#include "settings/SettingsLayout.h"

namespace ovra {

std::uint32_t ComputeSyncStatus(const ConnectedFamilies& connected, bool syncToOtherDevice,
                                SelectedDevice selected) {
    const std::uint32_t headset = connected.gen2      ? kSyncGen2
                                  : connected.gen2Mid ? kSyncGen2Mid
                                  : connected.tv520   ? kSyncTV520
                                                      : 0;
    const std::uint32_t mic = connected.mk470 ? kSyncMK470 : 0;
    if (syncToOtherDevice) return headset + mic;
    if (selected == SelectedDevice::Headset) return headset;
    if (selected == SelectedDevice::Microphone) return mic;
    return kSyncNoDevice;
}

}  // namespace ovra
