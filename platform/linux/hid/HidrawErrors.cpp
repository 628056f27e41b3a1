#include "platform/linux/hid/HidrawErrors.h"

#include <cerrno>

namespace ovra {

HidStatus StatusFromErrno(int error, HidrawCall call) {
    switch (error) {
        case EACCES:
        case EPERM: return HidStatus::AccessDenied;
        case ENOENT: return call == HidrawCall::Open ? HidStatus::NotFound : HidStatus::Gone;
        case ENODEV:
        case ENXIO:
        case ESHUTDOWN: return call == HidrawCall::Open ? HidStatus::NotFound : HidStatus::Gone;
        // hidraw answers a read on a removed device with EIO.
        case EIO: return call == HidrawCall::Read ? HidStatus::Gone : HidStatus::IoError;
        case ETIMEDOUT: return HidStatus::Timeout;
        case EINVAL:
        case EMSGSIZE: return HidStatus::InvalidArgument;
        default: return HidStatus::IoError;
    }
}

}  // namespace ovra
