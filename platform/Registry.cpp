#include "platform/Registry.h"

#include <array>

namespace ovra {

std::string_view RegistryStatusName(RegistryStatus status) {
    switch (status) {
        case RegistryStatus::Ok: return "ok";
        case RegistryStatus::NotFound: return "not found";
        case RegistryStatus::MoreData: return "value larger than the buffer";
        case RegistryStatus::AccessDenied: return "access denied";
        case RegistryStatus::InvalidName: return "invalid name";
        case RegistryStatus::TooLarge: return "value too large";
        case RegistryStatus::Unavailable: return "store unavailable";
        case RegistryStatus::Failed: return "store failure";
    }
    return "unknown";
}

RegistryStatus RegistryKey::SetValue(std::string_view name, RegistryType type,
                                     std::span<const std::uint8_t> data) {
    const std::array<NamedRegistryValue, 1> one{
        NamedRegistryValue{std::string(name), RegistryValue{type, {data.begin(), data.end()}}}};
    return SetValues(one);
}

RegistryStatus RegistryKey::QueryValue(std::string_view name, RegistryValue* value,
                                       std::size_t maxSize) {
    const std::array<std::string_view, 1> names{name};
    std::vector<RegistryRead> reads;
    const RegistryStatus status = QueryValues(names, maxSize, &reads);
    if (status != RegistryStatus::Ok) return status;
    if (reads.size() != 1) return RegistryStatus::Failed;
    if (reads[0].status == RegistryStatus::Ok || reads[0].status == RegistryStatus::MoreData)
        *value = std::move(reads[0].value);
    return reads[0].status;
}

bool SplitRegistryPath(std::string_view path, std::vector<std::string_view>* names) {
    names->clear();
    if (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    if (path.empty()) return true;
    while (true) {
        const std::size_t cut = path.find('\\');
        const std::string_view name = path.substr(0, cut);
        if (name.empty() || name.size() > kMaxRegistryKeyNameLength) return false;
        for (const char c : name)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
        names->push_back(name);
        if (names->size() > kMaxRegistryKeyDepth) return false;
        if (cut == std::string_view::npos) return true;
        path.remove_prefix(cut + 1);
    }
}

bool IsValidRegistryValueName(std::string_view name) {
    // Value names may hold any character, backslashes included; only the
    // length is limited. A zero byte would cut the name short in text form.
    return name.size() <= kMaxRegistryValueNameLength && name.find('\0') == std::string_view::npos;
}

std::string FoldRegistryName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

namespace {

// Decodes one UTF-8 sequence; false for malformed, over-long or surrogate
// encodings.
bool NextCodePoint(std::string_view text, std::size_t* at, char32_t* cp) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(*at);
    std::size_t length;
    char32_t value;
    if (lead < 0x80) {
        *cp = lead;
        *at += 1;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
    } else {
        return false;
    }
    if (*at + length > text.size()) return false;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(*at + i);
        if ((next & 0xC0) != 0x80) return false;
        value = (value << 6) | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return false;
    *cp = value;
    *at += length;
    return true;
}

void AppendUnit(std::vector<std::uint8_t>* data, std::uint16_t unit) {
    data->push_back(static_cast<std::uint8_t>(unit & 0xFF));
    data->push_back(static_cast<std::uint8_t>(unit >> 8));
}

void AppendUtf8(std::string* text, char32_t cp) {
    if (cp < 0x80) {
        text->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        text->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        text->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        text->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        text->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        text->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        text->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        text->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        text->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        text->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

bool EncodeRegistryString(std::string_view utf8, std::vector<std::uint8_t>* data) {
    data->clear();
    data->reserve(utf8.size() * 2 + 2);
    std::size_t at = 0;
    while (at < utf8.size()) {
        char32_t cp;
        if (!NextCodePoint(utf8, &at, &cp) || cp == 0) return false;
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            AppendUnit(data, static_cast<std::uint16_t>(0xD800 + (v >> 10)));
            AppendUnit(data, static_cast<std::uint16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            AppendUnit(data, static_cast<std::uint16_t>(cp));
        }
    }
    AppendUnit(data, 0);
    return true;
}

bool DecodeRegistryString(std::span<const std::uint8_t> data, std::string* utf8) {
    utf8->clear();
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    const std::size_t units = data.size() / 2;
    const auto unit = [&](std::size_t i) {
        return static_cast<std::uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    };
    if (unit(units - 1) != 0) return false;
    for (std::size_t i = 0; i + 1 < units; ++i) {
        const std::uint16_t u = unit(i);
        if (u == 0) return false;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 2 >= units) return false;
            const std::uint16_t low = unit(i + 1);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            AppendUtf8(utf8, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00));
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        } else {
            AppendUtf8(utf8, u);
        }
    }
    return true;
}

std::vector<std::uint8_t> EncodeRegistryDword(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

}  // namespace ovra
