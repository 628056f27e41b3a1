#pragma once
// One connection to the settings database, set up for this store: WAL
// journal kept in place between sessions, synchronous=FULL, a busy timeout,
// foreign keys (deleting a key deletes its sub-keys and values), and the
// statements of the registry prepared once.

#include <sys/types.h>

#include <array>
#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace ovra {

enum class StoreFault {
    None,
    Corrupt,      // not a database, damaged, or a database of something else
    Unavailable,  // cannot be opened or written (folder, permissions)
    Failed,       // anything else (I/O error, disk full, busy for too long)
};

StoreFault ClassifySqliteResult(int rc);

// The file a connection was opened on; a store moved aside and replaced by a
// fresh one has another identity.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
bool IdentityOf(const std::string& path, FileIdentity* identity);

enum class Sql {
    Begin,
    BeginImmediate,
    Commit,
    Rollback,
    FindKey,      // (parent, folded) -> id
    InsertKey,    // (parent, name, folded)
    KeyExists,    // (id)
    UpsertValue,  // (key, folded, name, type, data)
    ReadValue,    // (key, folded, maxSize) -> type, size, data-or-null
    DeleteValue,  // (key, folded)
    ListSubKeys,  // (parent) -> name
    ListValues,   // (key) -> name, type, data
    DeleteKey,    // (id)
    Count,
};

inline constexpr int kStoreBusyTimeoutMs = 5000;
inline constexpr long long kRootKeyIds[2] = {1, 2};  // HKLM, HKCU

class SqliteConnection {
public:
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // Opens `file` and makes it ready (schema created when the file is
    // empty). `verify` runs SQLite's quick integrity check as well.
    static StoreFault Open(const std::string& file, bool verify,
                           std::unique_ptr<SqliteConnection>* connection, std::string* detail);

    const FileIdentity& Identity() const { return identity_; }
    sqlite3* Handle() const { return db_; }
    // The prepared statement, ready to bind; null when it cannot be prepared
    // (sqlite3_errcode tells why). Use it through a StatementUse so that it is
    // reset, and its read snapshot released, as soon as the caller is done.
    sqlite3_stmt* Statement(Sql which);
    std::string LastError() const;

    // Set when the connection met a fault after which it must not be reused.
    bool broken = false;

private:
    SqliteConnection() = default;
    StoreFault Setup(bool verify, std::string* detail);
    StoreFault SetupOnce(bool verify, std::string* detail, int* lastRc);

    sqlite3* db_ = nullptr;
    FileIdentity identity_;
    std::array<sqlite3_stmt*, static_cast<std::size_t>(Sql::Count)> statements_{};
};

class StatementUse {
public:
    StatementUse(SqliteConnection& connection, Sql which)
        : statement_(connection.Statement(which)) {}
    ~StatementUse();
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;
    explicit operator bool() const { return statement_ != nullptr; }
    sqlite3_stmt* get() const { return statement_; }

private:
    sqlite3_stmt* statement_;
};

// Runs a statement to completion when it yields no rows; SQLITE_DONE on
// success, else the failing result code.
int StepToDone(sqlite3_stmt* statement);

}  // namespace ovra
