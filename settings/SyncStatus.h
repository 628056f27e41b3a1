#pragma once
// The SyncStatus mask an apply stores: which device kinds the choice goes to.

#include <cstdint>

namespace ovra {

// The device families connected at the time of the apply.
struct ConnectedFamilies {
    bool gen2 = false;
    bool gen2Entry = false;  // has no bit of its own
    bool gen2Mid = false;
    bool tv520 = false;
    bool mk470 = false;
};

enum class SelectedDevice {
    None,
    Headset,
    Microphone,
};

// H: 1 for Gen2, else 4 for Gen2Mid, else 8 for TV520, else 0; M: 2 for the
// microphone, else 0. Sync ticked: H + M; else the selected device's bit; with
// nothing selected 255.
std::uint32_t ComputeSyncStatus(const ConnectedFamilies& connected, bool syncToOtherDevice,
                                SelectedDevice selected);

}  // namespace ovra
