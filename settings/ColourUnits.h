#pragma once
// Colour components towards the registry: truncated toward zero to a 64-bit
// integer whose low 32 bits are stored (rounding happens only towards the
// devices). Back from the registry: the DWORD as an unsigned number.

#include <cstdint>

namespace ovra {

// NaN, infinities and values beyond the 64-bit range have no integer value;
// they store 0, the low 32 bits of the processor's "integer indefinite"
// result for such conversions.
std::uint32_t ColourComponentToRegistry(double component);
double ColourComponentFromRegistry(std::uint32_t stored);

}  // namespace ovra
