#include "platform/HidDevice.h"

namespace ovra {

const char* ToString(HidStatus status) {
    switch (status) {
        case HidStatus::Ok: return "ok";
        case HidStatus::NotFound: return "not found";
        case HidStatus::AccessDenied: return "access denied";
        case HidStatus::Timeout: return "timed out";
        case HidStatus::Gone: return "device gone";
        case HidStatus::Interrupted: return "interrupted";
        case HidStatus::IoError: return "I/O error";
        case HidStatus::InvalidArgument: return "invalid argument";
    }
    return "unknown";
}

}  // namespace ovra
