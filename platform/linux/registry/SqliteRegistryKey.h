#pragma once
// An open key of the SQLite registry: the key's id in the file it was opened
// on. Each operation borrows a connection for one transaction.

#include <memory>

#include "platform/Registry.h"
#include "platform/linux/registry/SqliteConnection.h"

namespace ovra {

class SqliteStore;
class StoreLease;

class SqliteRegistryKey final : public RegistryKey {
public:
    SqliteRegistryKey(std::shared_ptr<SqliteStore> store, FileIdentity file, long long id,
                      RegistryAccess access)
        : store_(std::move(store)), file_(file), id_(id), access_(access) {}

    RegistryStatus SetValues(std::span<const NamedRegistryValue> values) override;
    RegistryStatus QueryValues(std::span<const std::string_view> names, std::size_t maxSize,
                               std::vector<RegistryRead>* reads) override;
    RegistryStatus DeleteValue(std::string_view name) override;
    RegistryStatus EnumSubKeys(std::vector<std::string>* names) override;
    RegistryStatus EnumValues(std::vector<NamedRegistryValue>* values) override;

private:
    // Borrows a connection to the file this key lives in and begins a
    // transaction in which the key is known to exist.
    RegistryStatus Begin(StoreLease* lease, bool write, std::string_view action);
    RegistryStatus Commit(StoreLease& lease, std::string_view action);

    std::shared_ptr<SqliteStore> store_;
    FileIdentity file_;
    long long id_;
    RegistryAccess access_;
};

// Shared with SqliteRegistry: looks up the child key `folded` of `parent`.
// SQLITE_ROW with *id set when found, SQLITE_DONE when not, else the error.
int FindChildKey(SqliteConnection& connection, long long parent, const std::string& folded,
                 long long* id);

}  // namespace ovra
