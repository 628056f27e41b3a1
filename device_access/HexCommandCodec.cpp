#include "device_access/HexCommandCodec.h"

namespace ovra {
namespace {

// ParseHexNumber reads at most this many characters.
constexpr std::size_t kMaxNumberDigits = 8;

bool IsTrimmedSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::optional<std::uint8_t> HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(10 + c - 'A');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(10 + c - 'a');
    return std::nullopt;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsTrimmedSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsTrimmedSpace(text.back())) text.remove_suffix(1);
    return text;
}

// Calls `onToken` for every blank-separated token of `text`.
template <typename OnToken>
void ForEachToken(std::string_view text, OnToken&& onToken) {
    std::size_t start = 0;
    while (start < text.size()) {
        if (text[start] == ' ') {
            ++start;
            continue;
        }
        std::size_t end = text.find(' ', start);
        if (end == std::string_view::npos) end = text.size();
        onToken(text.substr(start, end - start));
        start = end;
    }
}

std::uint8_t TokenByte(std::string_view token) {
    std::uint8_t value = 0;
    for (char c : token)
        if (auto digit = HexDigitValue(c)) value = static_cast<std::uint8_t>(value << 4 | *digit);
    return value;
}

// A UTF-8 continuation byte belongs to the character before it.
bool StartsCharacter(char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }

}  // namespace

std::optional<std::size_t> DecodeHexCommand(std::string_view text,
                                            std::span<std::uint8_t> destination) {
    text = Trim(text);
    std::size_t tokens = 0;
    ForEachToken(text, [&](std::string_view) { ++tokens; });
    if (tokens > destination.size()) return std::nullopt;
    std::size_t written = 0;
    ForEachToken(text, [&](std::string_view token) { destination[written++] = TokenByte(token); });
    return written;
}

std::uint32_t ParseHexNumber(std::string_view text) {
    // Positions count characters, not bytes: find where the first 8 end.
    std::size_t characters = 0;
    std::size_t end = 0;
    for (; end < text.size(); ++end) {
        if (!StartsCharacter(text[end])) continue;
        if (characters == kMaxNumberDigits) break;
        ++characters;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < end; ++i) {
        if (!StartsCharacter(text[i])) continue;
        const auto digit = HexDigitValue(text[i]);
        value = value << 4 | (digit ? *digit : 0u);
    }
    return value;
}

}  // namespace ovra
