#include "platform/linux/registry/SqliteRegistry.h"

#include <sqlite3.h>

#include "platform/linux/registry/SqliteRegistryKey.h"
#include "platform/linux/registry/SqliteStore.h"

namespace ovra {
namespace {

StoreLocation LocationFromEnvironment() {
    StoreLocation location;
    if (!ResolveStoreLocation(&location)) location = {};
    return location;
}

long long RootId(RegistryRoot root) {
    return kRootKeyIds[root == RegistryRoot::LocalMachine ? 0 : 1];
}

// Walks the names from the root. SQLITE_ROW with *id of the last key when all
// exist, SQLITE_DONE with *found = number of leading names that exist, else
// the error.
int Walk(SqliteConnection& connection, RegistryRoot root, const std::vector<std::string_view>& names,
         long long* id, std::size_t* found) {
    *id = RootId(root);
    *found = 0;
    for (const auto name : names) {
        long long child = 0;
        const int rc = FindChildKey(connection, *id, FoldRegistryName(name), &child);
        if (rc != SQLITE_ROW) return rc;
        *id = child;
        ++*found;
    }
    return SQLITE_ROW;
}

int Run(SqliteConnection& connection, Sql which) {
    StatementUse statement(connection, which);
    if (!statement) return sqlite3_errcode(connection.Handle());
    return sqlite3_step(statement.get());
}

}  // namespace

SqliteRegistry::SqliteRegistry(DebugLog& log) : SqliteRegistry(log, LocationFromEnvironment()) {}

SqliteRegistry::SqliteRegistry(DebugLog& log, StoreLocation location)
    : store_(std::make_shared<SqliteStore>(log, std::move(location))) {}

SqliteRegistry::~SqliteRegistry() = default;

const std::string& SqliteRegistry::StoreFile() const { return store_->File(); }

RegistryStatus SqliteRegistry::CreateKey(RegistryRoot root, std::string_view path,
                                         std::unique_ptr<RegistryKey>* key) {
    std::vector<std::string_view> names;
    if (!SplitRegistryPath(path, &names)) return RegistryStatus::InvalidName;
    constexpr std::string_view kAction = "create a key";
    StoreLease lease;
    if (const RegistryStatus status = store_->Acquire(&lease); status != RegistryStatus::Ok)
        return status;
    long long id = 0;
    std::size_t found = 0;
    // Most keys exist already: look first (one snapshot), without taking the
    // write lock.
    int rc = Run(*lease, Sql::Begin);
    if (rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
    rc = Walk(*lease, root, names, &id, &found);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
    if (const int end = Run(*lease, Sql::Commit); end != SQLITE_DONE)
        return store_->Fail(lease, end, kAction);
    if (rc == SQLITE_DONE) {
        rc = Run(*lease, Sql::BeginImmediate);
        if (rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
        rc = Walk(*lease, root, names, &id, &found);
        if (rc == SQLITE_DONE) {
            for (std::size_t i = found; i < names.size(); ++i) {
                StatementUse insert(*lease, Sql::InsertKey);
                if (!insert) return store_->Fail(lease, sqlite3_errcode(lease->Handle()), kAction);
                sqlite3_bind_int64(insert.get(), 1, id);
                sqlite3_bind_text(insert.get(), 2, names[i].data(),
                                  static_cast<int>(names[i].size()), SQLITE_TRANSIENT);
                const std::string folded = FoldRegistryName(names[i]);
                sqlite3_bind_text(insert.get(), 3, folded.data(), static_cast<int>(folded.size()),
                                  SQLITE_TRANSIENT);
                rc = sqlite3_step(insert.get());
                if (rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
                id = sqlite3_last_insert_rowid(lease->Handle());
            }
            rc = SQLITE_ROW;
        }
        if (rc != SQLITE_ROW) return store_->Fail(lease, rc, kAction);
        rc = Run(*lease, Sql::Commit);
        if (rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
    }
    store_->Succeeded();
    *key = std::make_unique<SqliteRegistryKey>(store_, lease->Identity(), id,
                                               RegistryAccess::ReadWrite);
    return RegistryStatus::Ok;
}

RegistryStatus SqliteRegistry::OpenKey(RegistryRoot root, std::string_view path,
                                       RegistryAccess access, std::unique_ptr<RegistryKey>* key) {
    std::vector<std::string_view> names;
    if (!SplitRegistryPath(path, &names)) return RegistryStatus::InvalidName;
    StoreLease lease;
    if (const RegistryStatus status = store_->Acquire(&lease); status != RegistryStatus::Ok)
        return status;
    constexpr std::string_view kAction = "open a key";
    // One read transaction for the whole walk: one consistent view of the
    // path, and one snapshot taken instead of one per name.
    int rc = Run(*lease, Sql::Begin);
    if (rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
    long long id = 0;
    std::size_t found = 0;
    rc = Walk(*lease, root, names, &id, &found);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
    const int end = Run(*lease, Sql::Commit);
    if (end != SQLITE_DONE) return store_->Fail(lease, end, kAction);
    if (rc == SQLITE_DONE) return RegistryStatus::NotFound;
    store_->Succeeded();
    *key = std::make_unique<SqliteRegistryKey>(store_, lease->Identity(), id, access);
    return RegistryStatus::Ok;
}

RegistryStatus SqliteRegistry::DeleteKey(RegistryRoot root, std::string_view path) {
    std::vector<std::string_view> names;
    if (!SplitRegistryPath(path, &names)) return RegistryStatus::InvalidName;
    if (names.empty()) return RegistryStatus::AccessDenied;
    constexpr std::string_view kAction = "delete a key";
    StoreLease lease;
    if (const RegistryStatus status = store_->Acquire(&lease); status != RegistryStatus::Ok)
        return status;
    int rc = Run(*lease, Sql::BeginImmediate);
    if (rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
    long long id = 0;
    std::size_t found = 0;
    rc = Walk(*lease, root, names, &id, &found);
    if (rc == SQLITE_DONE) {
        Run(*lease, Sql::Rollback);
        return RegistryStatus::NotFound;
    }
    if (rc != SQLITE_ROW) return store_->Fail(lease, rc, kAction);
    {
        StatementUse erase(*lease, Sql::DeleteKey);
        if (!erase) return store_->Fail(lease, sqlite3_errcode(lease->Handle()), kAction);
        sqlite3_bind_int64(erase.get(), 1, id);
        rc = sqlite3_step(erase.get());
    }
    if (rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
    rc = Run(*lease, Sql::Commit);
    if (rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
    store_->Succeeded();
    return RegistryStatus::Ok;
}

}  // namespace ovra
