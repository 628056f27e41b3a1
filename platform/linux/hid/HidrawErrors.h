#pragma once
// errno of a hidraw call -> HidStatus, at the adapter edge.

#include "platform/HidDevice.h"

namespace ovra {

enum class HidrawCall { Open, Write, Read, Ioctl };

HidStatus StatusFromErrno(int error, HidrawCall call);

}  // namespace ovra
