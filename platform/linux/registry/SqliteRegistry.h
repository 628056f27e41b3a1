#pragma once
// The registry port on one SQLite database per user (see SqliteStore for the
// file and its faults). Every operation is one short transaction, so a process
// killed at any point leaves each value either as it was or as it was set.

#include <memory>

#include "platform/DebugLog.h"
#include "platform/Registry.h"
#include "platform/linux/registry/StoreLocation.h"

namespace ovra {

class SqliteStore;

class SqliteRegistry final : public Registry {
public:
    // The store named by the environment (OVRA_CONFIG_DIR, XDG_CONFIG_HOME).
    explicit SqliteRegistry(DebugLog& log);
    SqliteRegistry(DebugLog& log, StoreLocation location);
    ~SqliteRegistry() override;

    // The database file, for messages ("" when no folder could be named).
    const std::string& StoreFile() const;

    RegistryStatus CreateKey(RegistryRoot root, std::string_view path,
                             std::unique_ptr<RegistryKey>* key) override;
    RegistryStatus OpenKey(RegistryRoot root, std::string_view path, RegistryAccess access,
                           std::unique_ptr<RegistryKey>* key) override;
    RegistryStatus DeleteKey(RegistryRoot root, std::string_view path) override;

private:
    std::shared_ptr<SqliteStore> store_;
};

}  // namespace ovra
