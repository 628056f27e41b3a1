#pragma once
// Where the settings store lives: $OVRA_CONFIG_DIR when set, else
// $XDG_CONFIG_HOME/ovra, else ~/.config/ovra; the file is "settings.db".

#include <string>

namespace ovra {

struct StoreLocation {
    std::string folder;
    std::string file;
};

// Resolves the location from the environment. False when no folder can be
// named (no OVRA_CONFIG_DIR, XDG_CONFIG_HOME or HOME).
bool ResolveStoreLocation(StoreLocation* location);

// Creates the folder (and missing parents) owner-only. False with a reason
// when it is missing and cannot be created, or is not a writable folder.
bool EnsureStoreFolder(const std::string& folder, std::string* reason);

// Creates the file owner-only when it does not exist (never truncates).
bool EnsureStoreFile(const std::string& file, std::string* reason);

// A name next to `file` for a copy moved aside, stamped with the UTC time,
// that does not exist yet: "settings.db.corrupt-20261211T023000Z" (a counter
// is appended if that name is taken).
std::string AsideName(const std::string& file);

}  // namespace ovra
