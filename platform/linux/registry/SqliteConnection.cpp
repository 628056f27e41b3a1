#include "platform/linux/registry/SqliteConnection.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace ovra {
namespace {

// 'OVRA': marks a database as this store, so that another program's database
// found under the name is never taken for ours.
constexpr int kApplicationId = 0x4F565241;

constexpr const char* kSql[] = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2",
    "INSERT INTO keys(parent, name, folded) VALUES (?1, ?2, ?3)",
    "SELECT 1 FROM keys WHERE id = ?1",
    "INSERT INTO vals(key, folded, name, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data",
    "SELECT type, length(data), CASE WHEN length(data) <= ?3 THEN data END "
    "FROM vals WHERE key = ?1 AND folded = ?2",
    "DELETE FROM vals WHERE key = ?1 AND folded = ?2",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY folded",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY folded",
    "DELETE FROM keys WHERE id = ?1",
};
static_assert(std::size(kSql) == static_cast<std::size_t>(Sql::Count));

// Key names are compared in ASCII lower case; ids never repeat
// (AUTOINCREMENT), so a handle to a deleted key can never reach a new key
// that happens to get the same id.
constexpr const char* kSchema =
    "CREATE TABLE keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL);"
    "CREATE UNIQUE INDEX keys_by_parent ON keys(parent, folded);"
    "CREATE TABLE vals("
    "  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
    "  folded TEXT NOT NULL,"
    "  name TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY(key, folded)) WITHOUT ROWID;"
    "INSERT INTO keys(id, parent, name, folded) VALUES"
    "  (1, NULL, 'HKEY_LOCAL_MACHINE', 'hkey_local_machine'),"
    "  (2, NULL, 'HKEY_CURRENT_USER', 'hkey_current_user');"
    "PRAGMA application_id = 1331057217;";
static_assert(kApplicationId == 1331057217);

}  // namespace

StoreFault ClassifySqliteResult(int rc) {
    switch (rc & 0xFF) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return StoreFault::None;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return StoreFault::Corrupt;
        case SQLITE_CANTOPEN:
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return StoreFault::Unavailable;
        default:
            return StoreFault::Failed;
    }
}

bool IdentityOf(const std::string& path, FileIdentity* identity) {
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0) return false;
    identity->device = info.st_dev;
    identity->inode = info.st_ino;
    return true;
}

int StepToDone(sqlite3_stmt* statement) {
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    }
    return rc;
}

SqliteConnection::~SqliteConnection() {
    for (sqlite3_stmt* statement : statements_) sqlite3_finalize(statement);
    sqlite3_close_v2(db_);
}

StoreFault SqliteConnection::Open(const std::string& file, bool verify,
                                  std::unique_ptr<SqliteConnection>* connection,
                                  std::string* detail) {
    std::unique_ptr<SqliteConnection> opened(new SqliteConnection());
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW;
    int rc = sqlite3_open_v2(file.c_str(), &opened->db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        *detail = opened->db_ ? sqlite3_errmsg(opened->db_) : sqlite3_errstr(rc);
        const StoreFault fault = ClassifySqliteResult(rc);
        return fault == StoreFault::Corrupt ? fault : StoreFault::Unavailable;
    }
    if (!IdentityOf(file, &opened->identity_)) {
        *detail = "the file vanished while it was opened";
        return StoreFault::Unavailable;
    }
    const StoreFault fault = opened->Setup(verify, detail);
    if (fault != StoreFault::None) return fault;
    *connection = std::move(opened);
    return StoreFault::None;
}

StoreFault SqliteConnection::Setup(bool verify, std::string* detail) {
    // Two programs opening a fresh file at once both try to switch it to the
    // write-ahead journal; SQLite breaks that tie by failing one of them at
    // once with "busy" rather than waiting. Every step here can be repeated,
    // so the loser simply tries again, within the usual busy timeout.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStoreBusyTimeoutMs);
    while (true) {
        int rc = SQLITE_OK;
        const StoreFault fault = SetupOnce(verify, detail, &rc);
        if ((rc & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) return fault;
        if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

StoreFault SqliteConnection::SetupOnce(bool verify, std::string* detail, int* lastRc) {
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kStoreBusyTimeoutMs);
    // Keep the WAL file in place when the last connection closes. SQLite
    // deletes it by name otherwise, and a connection still open on a store
    // that was moved aside would delete the fresh store's journal.
    int persist = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);

    const auto fail = [&](int rc) {
        *lastRc = rc;
        *detail = sqlite3_errmsg(db_);
        return ClassifySqliteResult(rc);
    };
    // Answers the first column of the first row of a one-row pragma.
    const auto query = [&](const char* sql, std::string* text) -> int {
        sqlite3_stmt* statement = nullptr;
        int rc = sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(statement);
            if (rc == SQLITE_ROW) {
                const auto* value = sqlite3_column_text(statement, 0);
                *text = value ? reinterpret_cast<const char*>(value) : "";
                rc = SQLITE_OK;
            } else if (rc == SQLITE_DONE) {
                text->clear();
                rc = SQLITE_OK;
            }
        }
        sqlite3_finalize(statement);
        return rc;
    };

    // Look before changing anything: a file that is not this store must be
    // moved aside exactly as it was found. The mark and the table count come
    // from one statement, one snapshot: the other program may be creating the
    // schema at this moment.
    std::string id, tables;
    const auto identify = [&]() -> int {
        sqlite3_stmt* statement = nullptr;
        int rc = sqlite3_prepare_v2(db_,
                                    "SELECT (SELECT application_id FROM pragma_application_id), "
                                    "(SELECT count(*) FROM sqlite_master)",
                                    -1, &statement, nullptr);
        if (rc == SQLITE_OK && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
            id = std::to_string(sqlite3_column_int64(statement, 0));
            tables = std::to_string(sqlite3_column_int64(statement, 1));
            rc = SQLITE_OK;
        }
        sqlite3_finalize(statement);
        return rc;
    };
    if (int rc = identify(); rc != SQLITE_OK) return fail(rc);
    const bool ours = id == std::to_string(kApplicationId);
    std::string text;
    if (!ours) {
        if (id != "0" || tables != "0") {
            *detail = "the file is a database of something else";
            return StoreFault::Corrupt;
        }
    } else if (verify) {
        if (int rc = query("PRAGMA quick_check", &text); rc != SQLITE_OK) return fail(rc);
        if (text != "ok") {
            *detail = "the integrity check failed: " + text;
            return StoreFault::Corrupt;
        }
    }

    if (int rc = query("PRAGMA journal_mode = WAL", &text); rc != SQLITE_OK) return fail(rc);
    if (text != "wal") {
        *detail = "the store cannot keep a write-ahead journal (journal mode " + text + ")";
        return StoreFault::Unavailable;
    }
    if (int rc = sqlite3_exec(db_, "PRAGMA synchronous = FULL; PRAGMA foreign_keys = ON", nullptr,
                              nullptr, nullptr);
        rc != SQLITE_OK)
        return fail(rc);
    if (ours) return StoreFault::None;

    // An empty file gets the schema; the check is repeated under the write
    // lock since the other program may be doing the same.
    if (int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr); rc != SQLITE_OK)
        return fail(rc);
    int rc = identify();
    if (rc != SQLITE_OK) {
        const StoreFault fault = fail(rc);
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return fault;
    }
    if (id == std::to_string(kApplicationId)) {
        sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        return StoreFault::None;
    }
    if (id != "0" || tables != "0") {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        *detail = "the file is a database of something else";
        return StoreFault::Corrupt;
    }
    rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const StoreFault fault = fail(rc);
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return fault;
    }
    return StoreFault::None;
}

sqlite3_stmt* SqliteConnection::Statement(Sql which) {
    const auto index = static_cast<std::size_t>(which);
    sqlite3_stmt*& statement = statements_[index];
    if (!statement) {
        if (sqlite3_prepare_v3(db_, kSql[index], -1, SQLITE_PREPARE_PERSISTENT, &statement,
                               nullptr) != SQLITE_OK) {
            statement = nullptr;
            return nullptr;
        }
    }
    return statement;
}

StatementUse::~StatementUse() {
    if (statement_) {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
}

std::string SqliteConnection::LastError() const { return db_ ? sqlite3_errmsg(db_) : ""; }

}  // namespace ovra
