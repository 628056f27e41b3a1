// Feeds arbitrary text to the import parser of ovra-reg. Whatever it accepts
// must import, export and parse again to the same text (export is a fixed
// point), and key names and "set" data must parse without harm.

#include <cstdint>
#include <string>

#include "platform/fake/InMemoryRegistry.h"
#include "tools/ovra-reg/RegText.h"
#include "tools/ovra-reg/RegTree.h"

namespace {

using namespace ovra;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

std::string ExportAll(Registry& registry) {
    std::string text;
    for (const auto root : {RegistryRoot::LocalMachine, RegistryRoot::CurrentUser})
        Check(ExportTree(registry, KeyName{root, ""}, &text) == RegistryStatus::Ok);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    KeyName key;
    if (ParseKeyName(text, &key)) {
        KeyName again;
        Check(ParseKeyName(FormatKeyName(key), &again));
        Check(again.root == key.root && FoldRegistryName(again.path) == FoldRegistryName(key.path));
    }
    for (const char* type : {"REG_DWORD", "REG_SZ", "REG_BINARY"}) {
        RegistryValue value;
        std::string error;
        if (ParseSetValue(type, text, &value, &error)) FormatValueForDisplay(value);
    }

    std::vector<ImportedKey> keys;
    std::string error;
    if (!ParseExport(text, &keys, &error)) {
        Check(!error.empty());
        return 0;
    }
    InMemoryRegistry first;
    std::string failed;
    Check(ImportKeys(first, keys, &failed) == RegistryStatus::Ok);
    const std::string exported = ExportAll(first);

    std::vector<ImportedKey> reparsed;
    Check(ParseExport(exported, &reparsed, &error));
    InMemoryRegistry second;
    Check(ImportKeys(second, reparsed, &failed) == RegistryStatus::Ok);
    Check(ExportAll(second) == exported);
    return 0;
}
