#pragma once
// Walking a key tree of the registry port for export and import.

#include <string>
#include <vector>

#include "platform/Registry.h"
#include "tools/ovra-reg/RegText.h"

namespace ovra {

// Appends the export text of the key and all keys below it.
RegistryStatus ExportTree(Registry& registry, const KeyName& key, std::string* text);
// Creates each key and sets its values, in file order. Stops at the first
// failure and names the key in `failedKey`.
RegistryStatus ImportKeys(Registry& registry, const std::vector<ImportedKey>& keys,
                          std::string* failedKey);

}  // namespace ovra
