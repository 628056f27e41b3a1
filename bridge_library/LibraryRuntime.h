#pragma once
// The composition root of one loaded copy of the library: the Linux adapters
// behind the ports, made on first use and kept until the copy is unloaded.

#include "bridge_library/BrxLibrary.h"

namespace ovra::brx {

// The copy's library object. Never null.
BrxLibrary& Library();

}  // namespace ovra::brx
