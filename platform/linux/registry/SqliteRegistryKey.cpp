#include "platform/linux/registry/SqliteRegistryKey.h"

#include <sqlite3.h>

#include "platform/linux/registry/SqliteStore.h"

namespace ovra {
namespace {

void BindText(sqlite3_stmt* statement, int index, std::string_view text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
                : std::string();
}

std::vector<std::uint8_t> ColumnBytes(sqlite3_stmt* statement, int column) {
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, column));
    const int size = sqlite3_column_bytes(statement, column);
    return bytes ? std::vector<std::uint8_t>(bytes, bytes + size) : std::vector<std::uint8_t>();
}

int PreparedError(SqliteConnection& connection) {
    const int rc = sqlite3_errcode(connection.Handle());
    return rc == SQLITE_OK ? SQLITE_ERROR : rc;
}

}  // namespace

int FindChildKey(SqliteConnection& connection, long long parent, const std::string& folded,
                 long long* id) {
    StatementUse find(connection, Sql::FindKey);
    if (!find) return PreparedError(connection);
    sqlite3_bind_int64(find.get(), 1, parent);
    BindText(find.get(), 2, folded);
    const int rc = sqlite3_step(find.get());
    if (rc == SQLITE_ROW) *id = sqlite3_column_int64(find.get(), 0);
    return rc;
}

RegistryStatus SqliteRegistryKey::Begin(StoreLease* lease, bool write, std::string_view action) {
    if (write && access_ != RegistryAccess::ReadWrite) return RegistryStatus::AccessDenied;
    if (const RegistryStatus status = store_->Acquire(lease); status != RegistryStatus::Ok)
        return status;
    // The store was moved aside and replaced since the key was opened: the
    // key is gone with it.
    if (!((*lease)->Identity() == file_)) return RegistryStatus::NotFound;
    int rc;
    {
        StatementUse begin(**lease, write ? Sql::BeginImmediate : Sql::Begin);
        rc = begin ? sqlite3_step(begin.get()) : PreparedError(**lease);
    }
    if (rc != SQLITE_DONE) return store_->Fail(*lease, rc, action);
    {
        StatementUse exists(**lease, Sql::KeyExists);
        if (!exists) return store_->Fail(*lease, PreparedError(**lease), action);
        sqlite3_bind_int64(exists.get(), 1, id_);
        rc = sqlite3_step(exists.get());
    }
    if (rc == SQLITE_ROW) return RegistryStatus::Ok;
    if (rc == SQLITE_DONE) {
        StatementUse rollback(**lease, Sql::Rollback);
        if (rollback) sqlite3_step(rollback.get());
        return RegistryStatus::NotFound;
    }
    return store_->Fail(*lease, rc, action);
}

RegistryStatus SqliteRegistryKey::Commit(StoreLease& lease, std::string_view action) {
    int rc;
    {
        StatementUse commit(*lease, Sql::Commit);
        rc = commit ? sqlite3_step(commit.get()) : PreparedError(*lease);
    }
    if (rc != SQLITE_DONE) return store_->Fail(lease, rc, action);
    store_->Succeeded();
    return RegistryStatus::Ok;
}

RegistryStatus SqliteRegistryKey::SetValues(std::span<const NamedRegistryValue> values) {
    for (const auto& v : values) {
        if (!IsValidRegistryValueName(v.name)) return RegistryStatus::InvalidName;
        if (v.value.data.size() > kMaxRegistryValueSize) return RegistryStatus::TooLarge;
    }
    constexpr std::string_view kAction = "save a value";
    StoreLease lease;
    if (const RegistryStatus status = Begin(&lease, true, kAction); status != RegistryStatus::Ok)
        return status;
    for (const auto& v : values) {
        int rc;
        {
            StatementUse upsert(*lease, Sql::UpsertValue);
            if (!upsert) return store_->Fail(lease, PreparedError(*lease), kAction);
            sqlite3_bind_int64(upsert.get(), 1, id_);
            BindText(upsert.get(), 2, FoldRegistryName(v.name));
            BindText(upsert.get(), 3, v.name);
            sqlite3_bind_int64(upsert.get(), 4, static_cast<std::uint32_t>(v.value.type));
            // A zero-length blob must stay a blob, not NULL.
            static const std::uint8_t kEmpty = 0;
            const void* data = v.value.data.empty() ? &kEmpty : v.value.data.data();
            sqlite3_bind_blob(upsert.get(), 5, data, static_cast<int>(v.value.data.size()),
                              SQLITE_STATIC);
            rc = sqlite3_step(upsert.get());
        }
        if (rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
    }
    return Commit(lease, kAction);
}

RegistryStatus SqliteRegistryKey::QueryValues(std::span<const std::string_view> names,
                                              std::size_t maxSize,
                                              std::vector<RegistryRead>* reads) {
    reads->assign(names.size(), RegistryRead{});
    constexpr std::string_view kAction = "read a value";
    StoreLease lease;
    if (const RegistryStatus status = Begin(&lease, false, kAction); status != RegistryStatus::Ok)
        return status;
    const auto limit = static_cast<sqlite3_int64>(std::min<std::size_t>(maxSize, kMaxRegistryValueSize * 2));
    for (std::size_t i = 0; i < names.size(); ++i) {
        int rc;
        {
            StatementUse read(*lease, Sql::ReadValue);
            if (!read) return store_->Fail(lease, PreparedError(*lease), kAction);
            sqlite3_bind_int64(read.get(), 1, id_);
            BindText(read.get(), 2, FoldRegistryName(names[i]));
            sqlite3_bind_int64(read.get(), 3, limit);
            rc = sqlite3_step(read.get());
            if (rc == SQLITE_ROW) {
                RegistryRead& out = (*reads)[i];
                out.value.type = static_cast<RegistryType>(
                    static_cast<std::uint32_t>(sqlite3_column_int64(read.get(), 0)));
                out.size = static_cast<std::size_t>(sqlite3_column_int64(read.get(), 1));
                if (out.size > maxSize) {
                    out.status = RegistryStatus::MoreData;
                } else {
                    out.status = RegistryStatus::Ok;
                    out.value.data = ColumnBytes(read.get(), 2);
                }
                rc = SQLITE_DONE;
            }
        }
        if (rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
    }
    return Commit(lease, kAction);
}

RegistryStatus SqliteRegistryKey::DeleteValue(std::string_view name) {
    constexpr std::string_view kAction = "delete a value";
    StoreLease lease;
    if (const RegistryStatus status = Begin(&lease, true, kAction); status != RegistryStatus::Ok)
        return status;
    int rc;
    {
        StatementUse erase(*lease, Sql::DeleteValue);
        if (!erase) return store_->Fail(lease, PreparedError(*lease), kAction);
        sqlite3_bind_int64(erase.get(), 1, id_);
        BindText(erase.get(), 2, FoldRegistryName(name));
        rc = sqlite3_step(erase.get());
    }
    if (rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
    const bool deleted = sqlite3_changes(lease->Handle()) > 0;
    const RegistryStatus status = Commit(lease, kAction);
    if (status != RegistryStatus::Ok) return status;
    return deleted ? RegistryStatus::Ok : RegistryStatus::NotFound;
}

RegistryStatus SqliteRegistryKey::EnumSubKeys(std::vector<std::string>* names) {
    names->clear();
    constexpr std::string_view kAction = "list keys";
    StoreLease lease;
    if (const RegistryStatus status = Begin(&lease, false, kAction); status != RegistryStatus::Ok)
        return status;
    int rc;
    {
        StatementUse list(*lease, Sql::ListSubKeys);
        if (!list) return store_->Fail(lease, PreparedError(*lease), kAction);
        sqlite3_bind_int64(list.get(), 1, id_);
        while ((rc = sqlite3_step(list.get())) == SQLITE_ROW) names->push_back(ColumnText(list.get(), 0));
    }
    if (rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
    return Commit(lease, kAction);
}

RegistryStatus SqliteRegistryKey::EnumValues(std::vector<NamedRegistryValue>* values) {
    values->clear();
    constexpr std::string_view kAction = "list values";
    StoreLease lease;
    if (const RegistryStatus status = Begin(&lease, false, kAction); status != RegistryStatus::Ok)
        return status;
    int rc;
    {
        StatementUse list(*lease, Sql::ListValues);
        if (!list) return store_->Fail(lease, PreparedError(*lease), kAction);
        sqlite3_bind_int64(list.get(), 1, id_);
        while ((rc = sqlite3_step(list.get())) == SQLITE_ROW) {
            NamedRegistryValue value;
            value.name = ColumnText(list.get(), 0);
            value.value.type = static_cast<RegistryType>(
                static_cast<std::uint32_t>(sqlite3_column_int64(list.get(), 1)));
            value.value.data = ColumnBytes(list.get(), 2);
            values->push_back(std::move(value));
        }
    }
    if (rc != SQLITE_DONE) return store_->Fail(lease, rc, kAction);
    return Commit(lease, kAction);
}

}  // namespace ovra
