#include "tools/ovra-reg/RegText.h"

#include <charconv>
#include <cstdint>

namespace ovra {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        text.push_back(kHexDigits[b >> 4]);
        text.push_back(kHexDigits[b & 0x0F]);
    }
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseHex(std::string_view text, std::vector<std::uint8_t>* bytes) {
    bytes->clear();
    if (text.size() % 2 != 0) return false;
    if (text.size() / 2 > kMaxRegistryValueSize) return false;
    bytes->reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes->push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    return FoldRegistryName(text.substr(0, prefix.size())) == FoldRegistryName(prefix);
}

// The type word of a value: REG_DWORD, REG_SZ, REG_BINARY or type(N).
std::string TypeWord(RegistryType type) {
    switch (type) {
        case RegistryType::Dword: return "REG_DWORD";
        case RegistryType::String: return "REG_SZ";
        case RegistryType::Binary: return "REG_BINARY";
        default: return "type(" + std::to_string(static_cast<std::uint32_t>(type)) + ")";
    }
}

bool ParseTypeWord(std::string_view word, RegistryType* type) {
    if (word == "REG_DWORD") {
        *type = RegistryType::Dword;
    } else if (word == "REG_SZ") {
        *type = RegistryType::String;
    } else if (word == "REG_BINARY") {
        *type = RegistryType::Binary;
    } else if (word.starts_with("type(") && word.ends_with(")")) {
        const std::string_view digits = word.substr(5, word.size() - 6);
        std::uint32_t number = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
            return false;
        *type = static_cast<RegistryType>(number);
    } else {
        return false;
    }
    return true;
}

bool ParseUnsigned32(std::string_view text, std::uint32_t* value) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, base);
    return ec == std::errc() && end == text.data() + text.size();
}

// The plain form of the data, without hex fallback; false when there is none.
bool PlainData(const RegistryValue& value, std::string* text, bool quoteStrings) {
    switch (value.type) {
        case RegistryType::Dword:
            if (value.data.size() != 4) return false;
            *text = std::to_string(static_cast<std::uint32_t>(value.data[0]) |
                                   (static_cast<std::uint32_t>(value.data[1]) << 8) |
                                   (static_cast<std::uint32_t>(value.data[2]) << 16) |
                                   (static_cast<std::uint32_t>(value.data[3]) << 24));
            return true;
        case RegistryType::String: {
            std::string utf8;
            if (!DecodeRegistryString(value.data, &utf8)) return false;
            *text = quoteStrings ? QuoteText(utf8) : utf8;
            return true;
        }
        case RegistryType::Binary:
            *text = Hex(value.data);
            return true;
        default:
            return false;
    }
}

// Reads a quoted text at the start of `line`; removes it from `line`.
bool UnquoteText(std::string_view* line, std::string* text) {
    text->clear();
    if (line->empty() || line->front() != '"') return false;
    std::size_t i = 1;
    while (i < line->size()) {
        const char c = (*line)[i];
        if (c == '"') {
            line->remove_prefix(i + 1);
            return true;
        }
        if (c != '\\') {
            text->push_back(c);
            ++i;
            continue;
        }
        if (i + 1 >= line->size()) return false;
        const char e = (*line)[i + 1];
        switch (e) {
            case '\\': text->push_back('\\'); i += 2; break;
            case '"': text->push_back('"'); i += 2; break;
            case 'n': text->push_back('\n'); i += 2; break;
            case 'r': text->push_back('\r'); i += 2; break;
            case 't': text->push_back('\t'); i += 2; break;
            case 'x': {
                if (i + 3 >= line->size()) return false;
                const int high = HexDigit((*line)[i + 2]);
                const int low = HexDigit((*line)[i + 3]);
                if (high < 0 || low < 0) return false;
                text->push_back(static_cast<char>(high * 16 + low));
                i += 4;
                break;
            }
            default:
                return false;
        }
    }
    return false;
}

}  // namespace

std::string QuoteText(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\\': quoted += "\\\\"; break;
            case '"': quoted += "\\\""; break;
            case '\n': quoted += "\\n"; break;
            case '\r': quoted += "\\r"; break;
            case '\t': quoted += "\\t"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    quoted += "\\x";
                    quoted.push_back(kHexDigits[byte >> 4]);
                    quoted.push_back(kHexDigits[byte & 0x0F]);
                } else {
                    quoted.push_back(c);
                }
        }
    }
    quoted.push_back('"');
    return quoted;
}

bool ParseKeyName(std::string_view text, KeyName* key) {
    struct Root {
        std::string_view name;
        RegistryRoot root;
    };
    static constexpr Root kRoots[] = {{"HKEY_LOCAL_MACHINE", RegistryRoot::LocalMachine},
                                      {"HKEY_CURRENT_USER", RegistryRoot::CurrentUser},
                                      {"HKLM", RegistryRoot::LocalMachine},
                                      {"HKCU", RegistryRoot::CurrentUser}};
    for (const auto& root : kRoots) {
        if (!StartsWithNoCase(text, root.name)) continue;
        std::string_view rest = text.substr(root.name.size());
        if (!rest.empty() && rest.front() != '\\') continue;
        std::vector<std::string_view> names;
        if (!SplitRegistryPath(rest, &names)) return false;
        key->root = root.root;
        key->path.clear();
        for (const auto name : names) {
            if (!key->path.empty()) key->path.push_back('\\');
            key->path.append(name);
        }
        return true;
    }
    return false;
}

std::string FormatKeyName(const KeyName& key) {
    std::string text = key.root == RegistryRoot::LocalMachine ? "HKLM" : "HKCU";
    if (!key.path.empty()) text += "\\" + key.path;
    return text;
}

std::string FormatValueForDisplay(const RegistryValue& value) {
    std::string data;
    if (PlainData(value, &data, false)) return TypeWord(value.type) + " " + data;
    return TypeWord(value.type) + " hex:" + Hex(value.data);
}

std::string FormatValueForExport(const NamedRegistryValue& value) {
    std::string line = QuoteText(value.name) + "=" + TypeWord(value.value.type) + ":";
    std::string data;
    if (PlainData(value.value, &data, true)) return line + data;
    return line + "hex:" + Hex(value.value.data);
}

bool ParseSetValue(std::string_view type, std::string_view data, RegistryValue* value,
                   std::string* error) {
    if (type == "REG_DWORD") {
        std::uint32_t number;
        if (!ParseUnsigned32(data, &number)) {
            *error = "REG_DWORD data must be a decimal or 0x-hex number from 0 to 4294967295";
            return false;
        }
        *value = {RegistryType::Dword, EncodeRegistryDword(number)};
    } else if (type == "REG_SZ") {
        value->type = RegistryType::String;
        if (!EncodeRegistryString(data, &value->data)) {
            *error = "REG_SZ data must be UTF-8 text without zero bytes";
            return false;
        }
    } else if (type == "REG_BINARY") {
        value->type = RegistryType::Binary;
        if (!ParseHex(data, &value->data)) {
            *error = "REG_BINARY data must be hex bytes (two digits each)";
            return false;
        }
    } else {
        *error = "TYPE must be REG_DWORD, REG_SZ or REG_BINARY";
        return false;
    }
    if (value->data.size() > kMaxRegistryValueSize) {
        *error = "the value is larger than 1 MiB";
        return false;
    }
    return true;
}

bool ParseExport(std::string_view text, std::vector<ImportedKey>* keys, std::string* error) {
    keys->clear();
    std::size_t lineNumber = 0;
    const auto fail = [&](std::string_view reason) {
        *error = "line " + std::to_string(lineNumber) + ": " + std::string(reason);
        keys->clear();
        return false;
    };
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;

        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 2) return fail("a key line must end in ']'");
            ImportedKey key;
            if (!ParseKeyName(line.substr(1, line.size() - 2), &key.name))
                return fail("not a key name (HKLM\\... or HKCU\\...)");
            keys->push_back(std::move(key));
            continue;
        }
        if (keys->empty()) return fail("a value before the first [key] line");

        NamedRegistryValue value;
        if (!UnquoteText(&line, &value.name)) return fail("a value line must start with a quoted name");
        if (!IsValidRegistryValueName(value.name)) return fail("invalid value name");
        if (line.empty() || line.front() != '=') return fail("expected '=' after the value name");
        line.remove_prefix(1);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) return fail("expected TYPE:data");
        if (!ParseTypeWord(line.substr(0, colon), &value.value.type)) return fail("unknown type");
        std::string_view data = line.substr(colon + 1);

        if (data.starts_with("hex:")) {
            if (!ParseHex(data.substr(4), &value.value.data)) return fail("bad hex bytes");
        } else if (value.value.type == RegistryType::Dword) {
            std::uint32_t number;
            if (!ParseUnsigned32(data, &number)) return fail("bad REG_DWORD number");
            value.value.data = EncodeRegistryDword(number);
        } else if (value.value.type == RegistryType::String) {
            std::string utf8;
            if (!UnquoteText(&data, &utf8) || !data.empty()) return fail("bad quoted REG_SZ text");
            if (!EncodeRegistryString(utf8, &value.value.data))
                return fail("REG_SZ text must be UTF-8 without zero bytes");
        } else if (value.value.type == RegistryType::Binary) {
            if (!ParseHex(data, &value.value.data)) return fail("bad REG_BINARY hex bytes");
        } else {
            return fail("this type needs hex:bytes");
        }
        if (value.value.data.size() > kMaxRegistryValueSize) return fail("value larger than 1 MiB");
        keys->back().values.push_back(std::move(value));
    }
    return true;
}

}  // namespace ovra
