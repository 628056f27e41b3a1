#include "platform/linux/registry/SqliteStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ovra {
namespace {

// Serialises moving a damaged file aside against opening it, between threads
// and processes: an advisory lock on the store's folder, held only around
// opening a connection (shared) and moving the file (exclusive).
class FolderLock {
public:
    FolderLock(const std::string& folder, int operation) {
        fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) return;
        while (::flock(fd_, operation) != 0 && errno == EINTR) {
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_ = -1;
};

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

StoreLease::~StoreLease() {
    if (store_ && connection_) store_->Return(std::move(connection_));
}

SqliteStore::SqliteStore(DebugLog& log, StoreLocation location)
    : log_(log), location_(std::move(location)) {}

RegistryStatus SqliteStore::Acquire(StoreLease* lease) {
    if (location_.file.empty()) {
        Report(StoreFault::Unavailable,
               "settings store: no folder for the store (set OVRA_CONFIG_DIR, XDG_CONFIG_HOME or "
               "HOME); lighting choices are read as defaults and not saved\n");
        return RegistryStatus::Unavailable;
    }
    FileIdentity current;
    const bool present = IdentityOf(location_.file, &current);
    std::vector<std::unique_ptr<SqliteConnection>> stale;
    {
        std::lock_guard lock(mutex_);
        while (!idle_.empty()) {
            std::unique_ptr<SqliteConnection> connection = std::move(idle_.back());
            idle_.pop_back();
            if (present && connection->Identity() == current) {
                lease->store_ = this;
                lease->connection_ = std::move(connection);
                break;
            }
            stale.push_back(std::move(connection));  // closed outside the lock
        }
    }
    stale.clear();
    if (lease->connection_) return RegistryStatus::Ok;
    std::unique_ptr<SqliteConnection> connection;
    const RegistryStatus status = OpenConnection(&connection);
    if (status != RegistryStatus::Ok) return status;
    lease->store_ = this;
    lease->connection_ = std::move(connection);
    return RegistryStatus::Ok;
}

void SqliteStore::Return(std::unique_ptr<SqliteConnection> connection) {
    if (connection->broken) return;
    // A lease never ends inside a transaction; should one slip through, it
    // must not leak into the next borrower's work.
    if (!sqlite3_get_autocommit(connection->Handle()) &&
        sqlite3_exec(connection->Handle(), "ROLLBACK", nullptr, nullptr, nullptr) != SQLITE_OK)
        return;
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(connection));
}

RegistryStatus SqliteStore::OpenConnection(std::unique_ptr<SqliteConnection>* connection) {
    const std::string& file = location_.file;
    std::string reason;
    if (!EnsureStoreFolder(location_.folder, &reason) || !EnsureStoreFile(file, &reason)) {
        Report(StoreFault::Unavailable, "settings store: cannot use " + file + " (" + reason +
                                            "); lighting choices are read as defaults and not "
                                            "saved\n");
        return RegistryStatus::Unavailable;
    }
    // Two attempts: the second one on the fresh file after a damaged one was
    // moved aside.
    for (int attempt = 0; attempt < 2; ++attempt) {
        StoreFault fault;
        std::string detail;
        FileIdentity opened;
        {
            FolderLock shared(location_.folder, LOCK_SH);
            FileIdentity current;
            bool verify;
            {
                std::lock_guard lock(mutex_);
                verify = !(IdentityOf(file, &current) && current == verified_);
            }
            fault = SqliteConnection::Open(file, verify, connection, &detail);
            if (fault == StoreFault::None) {
                if (verify) {
                    std::lock_guard lock(mutex_);
                    verified_ = (*connection)->Identity();
                }
                return RegistryStatus::Ok;
            }
            if (!IdentityOf(file, &opened)) opened = {};
        }
        if (fault != StoreFault::Corrupt) {
            Report(fault, "settings store: cannot open " + file + " (" + detail +
                              "); lighting choices are read as defaults and not saved\n");
            return fault == StoreFault::Unavailable ? RegistryStatus::Unavailable
                                                    : RegistryStatus::Failed;
        }
        if (!MoveAside(opened, detail)) return RegistryStatus::Unavailable;
        if (!EnsureStoreFile(file, &reason)) {
            Report(StoreFault::Unavailable, "settings store: cannot create " + file + " (" +
                                                reason + "); lighting choices are read as "
                                                         "defaults and not saved\n");
            return RegistryStatus::Unavailable;
        }
    }
    Report(StoreFault::Failed, "settings store: " + file +
                                   " is damaged again after it was replaced; lighting choices "
                                   "are read as defaults and not saved\n");
    return RegistryStatus::Failed;
}

bool SqliteStore::MoveAside(const FileIdentity& identity, const std::string& detail) {
    const std::string& file = location_.file;
    FolderLock exclusive(location_.folder, LOCK_EX);
    FileIdentity current;
    if (!IdentityOf(file, &current) || !(current == identity)) {
        return true;  // another thread or the other program moved it already
    }
    const std::string aside = AsideName(file);
    if (::rename(file.c_str(), aside.c_str()) != 0) {
        const int error = errno;
        Report(StoreFault::Unavailable,
               "settings store: " + file + " is damaged (" + detail +
                   ") and cannot be moved aside (" + std::strerror(error) +
                   "); lighting choices are read as defaults and not saved\n");
        return false;
    }
    // The journal files belong to the damaged file and go with it; a fresh
    // store must never replay them.
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string journal = file + suffix;
        if (Exists(journal)) ::rename(journal.c_str(), (aside + suffix).c_str());
    }
    log_.Write("settings store: " + file + " is damaged (" + detail + "); moved it to " + aside +
               " and started a fresh store with default lighting choices\n");
    return true;
}

RegistryStatus SqliteStore::Fail(StoreLease& lease, int rc, std::string_view action) {
    SqliteConnection& connection = *lease;
    const std::string detail = connection.LastError();
    if (!sqlite3_get_autocommit(connection.Handle()))
        sqlite3_exec(connection.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    StoreFault fault = ClassifySqliteResult(rc);
    if (fault == StoreFault::None) fault = StoreFault::Failed;  // no code recorded: still a failure
    switch (fault) {
        case StoreFault::Corrupt:
            connection.broken = true;
            MoveAside(connection.Identity(), detail);
            return RegistryStatus::Failed;
        case StoreFault::Unavailable:
            Report(fault, "settings store: cannot " + std::string(action) + " in " +
                              location_.file + " (" + detail + ")\n");
            return RegistryStatus::Unavailable;
        case StoreFault::None:
        case StoreFault::Failed:
            connection.broken = true;  // start over with a fresh connection
            Report(fault, "settings store: cannot " + std::string(action) + " in " +
                              location_.file + " (" + detail + ")\n");
            return RegistryStatus::Failed;
    }
    return RegistryStatus::Failed;
}

void SqliteStore::Report(StoreFault fault, const std::string& line) {
    const int code = static_cast<int>(fault);
    if (lastReported_.exchange(code, std::memory_order_relaxed) != code) log_.Write(line);
}

}  // namespace ovra
