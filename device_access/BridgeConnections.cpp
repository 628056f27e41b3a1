#include "device_access/BridgeConnections.h"

namespace ovra {

bool Tv520Connection::OpenTV520() {
    std::lock_guard lock(ene_.DeviceLock());
    if (openCount_ == 0) {
        handle_ = ene_.OpenPid(kTv520ProductId);
        if (handle_ == 0) return false;
    }
    ++openCount_;
    return true;
}

bool Tv520Connection::ReleaseTV520() {
    std::lock_guard lock(ene_.DeviceLock());
    if (handle_ == 0 || openCount_ == 0) return true;
    if (--openCount_ == 0) {
        ene_.Close();
        handle_ = 0;
    }
    return true;
}

void Tv520Connection::GiveUp() {
    std::lock_guard lock(ene_.DeviceLock());
    if (handle_ != 0) {
        openCount_ = 0;
        ene_.Close();
        handle_ = 0;
    }
    ene_.UnInitialize();
}

unsigned Tv520Connection::Handle() const {
    std::lock_guard lock(ene_.DeviceLock());
    return handle_;
}

int Tv520Connection::OpenCount() const {
    std::lock_guard lock(ene_.DeviceLock());
    return openCount_;
}

void GiveUpGen2MidBinding(BridgeBinding& plain) {
    std::lock_guard lock(plain.DeviceLock());
    plain.Close();
    plain.UnInitialize();
}

}  // namespace ovra
