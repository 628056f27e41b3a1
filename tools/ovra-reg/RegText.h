#pragma once
// The text forms of keys and values that ovra-reg prints and reads.
//
// Export file: lines "[HKLM\path]" open a key (every key is listed, empty ones
// too), lines "\"name\"=TYPE:data" add a value to it; blank lines and lines
// starting with ';' or '#' are ignored. TYPE is REG_DWORD (decimal), REG_SZ
// (quoted text), REG_BINARY (lower-case hex bytes) or type(N); any value whose
// bytes have no such plain form (a DWORD that is not 4 bytes, text that is not
// clean UTF-16, another type number) is written as TYPE:hex:bytes. Quoted
// names and texts escape \ " and control bytes (\\ \" \n \r \t \xHH), so that
// import reads back exactly what export wrote.

#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"

namespace ovra {

struct KeyName {
    RegistryRoot root = RegistryRoot::LocalMachine;
    std::string path;  // without the root, no leading or trailing backslash
};

// "HKLM\a\b", "HKCU", "HKEY_LOCAL_MACHINE\a" (root names in any letter case).
bool ParseKeyName(std::string_view text, KeyName* key);
std::string FormatKeyName(const KeyName& key);

// "REG_DWORD 229", "REG_SZ text", "REG_BINARY 0a0b", "REG_DWORD hex:0102".
std::string FormatValueForDisplay(const RegistryValue& value);
// "\"name\"=REG_DWORD:229" (one export line, without the line feed).
std::string FormatValueForExport(const NamedRegistryValue& value);

// The data of "ovra-reg set": DWORD decimal or 0x-hex, SZ text as given,
// BINARY hex bytes.
bool ParseSetValue(std::string_view type, std::string_view data, RegistryValue* value,
                   std::string* error);

struct ImportedKey {
    KeyName name;
    std::vector<NamedRegistryValue> values;
};
// Parses a whole export file. On failure `error` is "line N: reason" and
// nothing is returned.
bool ParseExport(std::string_view text, std::vector<ImportedKey>* keys, std::string* error);

std::string QuoteText(std::string_view text);

}  // namespace ovra
