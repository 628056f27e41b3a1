#pragma once
// The device state the programs keep per bridge-attached headset: the TV520's
// handle with its open count (one device shared by everything that opens it
// in this program), and giving a copy of the library up.

#include <cstdint>

#include "device_access/BridgeBinding.h"

namespace ovra {

inline constexpr unsigned kGen2MidProductId = 0x1858;
inline constexpr unsigned kTv520ProductId = 0x1876;

class Tv520Connection {
public:
    explicit Tv520Connection(BridgeBinding& ene) : ene_(ene) {}

    // Counted open: the first open finds the device (UVC_OpenPID 0x1876);
    // false, with the count left at 0, when there is none.
    bool OpenTV520();
    // Counted release: the last release closes the device. Always true.
    bool ReleaseTV520();
    // At program end: close whatever is open, whatever the count, then
    // BrxLib_UnInitialize. The owner deletes the binding afterwards.
    void GiveUp();

    unsigned Handle() const;
    int OpenCount() const;

private:
    BridgeBinding& ene_;
    unsigned handle_ = 0;
    int openCount_ = 0;
};

// Giving up the plain copy at program end while a Gen2Mid is connected:
// UVC_Close, then BrxLib_UnInitialize. The owner deletes the binding.
void GiveUpGen2MidBinding(BridgeBinding& plain);

}  // namespace ovra
