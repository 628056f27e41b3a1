#pragma once
// Command texts: the headset commands are kept as space-separated hexadecimal
// numbers ("52 0C 00 %02X ... 9A 80") and turned into device bytes here; USB
// ids kept as text ("0d8c") become numbers. Pure text processing, no
// allocation. Texts are ASCII (UTF-8 passes through: non-ASCII characters are
// never digits).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace ovra {

// One byte per blank-separated token, in order. Outer white space is trimmed;
// a run of blanks separates like one blank; only blanks separate. Each token
// keeps its last two hexadecimal digits (case-insensitive); other characters
// are skipped ("1F4" -> F4, "ZZ" -> 00).
// Returns the number of bytes written, or nothing - and writes nothing - when
// the text has more tokens than `destination` holds.
std::optional<std::size_t> DecodeHexCommand(std::string_view text,
                                            std::span<std::uint8_t> destination);

// Reads a hexadecimal number from at most the first 8 characters: each
// character keeps its positional weight, characters that are not hexadecimal
// digits add nothing ("1G" -> 0x10). Empty text gives 0.
std::uint32_t ParseHexNumber(std::string_view text);

}  // namespace ovra
