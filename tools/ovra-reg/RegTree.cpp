#include "tools/ovra-reg/RegTree.h"

#include <memory>

namespace ovra {

RegistryStatus ExportTree(Registry& registry, const KeyName& key, std::string* text) {
    std::unique_ptr<RegistryKey> open;
    RegistryStatus status = registry.OpenKey(key.root, key.path, RegistryAccess::Read, &open);
    if (status != RegistryStatus::Ok) return status;
    std::vector<NamedRegistryValue> values;
    std::vector<std::string> subKeys;
    if ((status = open->EnumValues(&values)) != RegistryStatus::Ok) return status;
    if ((status = open->EnumSubKeys(&subKeys)) != RegistryStatus::Ok) return status;
    open.reset();
    // The roots themselves are listed only when they hold values.
    if (!key.path.empty() || !values.empty()) {
        *text += "[" + FormatKeyName(key) + "]\n";
        for (const auto& value : values) *text += FormatValueForExport(value) + "\n";
        *text += "\n";
    }
    for (const auto& name : subKeys) {
        KeyName child{key.root, key.path.empty() ? name : key.path + "\\" + name};
        status = ExportTree(registry, child, text);
        // A key deleted by the other program meanwhile is simply not exported.
        if (status != RegistryStatus::Ok && status != RegistryStatus::NotFound) return status;
    }
    return RegistryStatus::Ok;
}

RegistryStatus ImportKeys(Registry& registry, const std::vector<ImportedKey>& keys,
                          std::string* failedKey) {
    for (const auto& key : keys) {
        std::unique_ptr<RegistryKey> open;
        RegistryStatus status = registry.CreateKey(key.name.root, key.name.path, &open);
        if (status == RegistryStatus::Ok && !key.values.empty()) status = open->SetValues(key.values);
        if (status != RegistryStatus::Ok) {
            *failedKey = FormatKeyName(key.name);
            return status;
        }
    }
    return RegistryStatus::Ok;
}

}  // namespace ovra
