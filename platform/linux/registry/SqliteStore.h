#pragma once
// The settings database file and its connections: a pool of connections that
// threads borrow for one operation each, the handling of a damaged file (moved
// aside with a time stamp, never deleted or overwritten, then a fresh store)
// and of a store that cannot be opened (one log line, not one per call).

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DebugLog.h"
#include "platform/Registry.h"
#include "platform/linux/registry/SqliteConnection.h"
#include "platform/linux/registry/StoreLocation.h"

namespace ovra {

class SqliteStore;

// A connection borrowed from the store; goes back to the pool when the lease
// ends unless it was marked broken.
class StoreLease {
public:
    StoreLease() = default;
    ~StoreLease();
    StoreLease(const StoreLease&) = delete;
    StoreLease& operator=(const StoreLease&) = delete;

    SqliteConnection& operator*() const { return *connection_; }
    SqliteConnection* operator->() const { return connection_.get(); }

private:
    friend class SqliteStore;
    SqliteStore* store_ = nullptr;
    std::unique_ptr<SqliteConnection> connection_;
};

class SqliteStore {
public:
    // `location.file` empty: no folder could be named (logged on first use).
    SqliteStore(DebugLog& log, StoreLocation location);

    const std::string& File() const { return location_.file; }

    // A connection to the store as the file is now (a connection to a file
    // that was moved aside is never handed out).
    RegistryStatus Acquire(StoreLease* lease);
    // Reports a failed SQLite call made through the lease: rolls back an open
    // transaction, logs, moves a damaged file aside. Returns the status for
    // the caller.
    RegistryStatus Fail(StoreLease& lease, int rc, std::string_view action);
    // Clears the memory of the last reported fault, so that the next fault is
    // logged again.
    void Succeeded() { lastReported_.store(static_cast<int>(StoreFault::None), std::memory_order_relaxed); }

private:
    friend class StoreLease;
    void Return(std::unique_ptr<SqliteConnection> connection);
    RegistryStatus OpenConnection(std::unique_ptr<SqliteConnection>* connection);
    // Moves the damaged file (still `identity`) aside. False when it could
    // not be moved.
    bool MoveAside(const FileIdentity& identity, const std::string& detail);
    void Report(StoreFault fault, const std::string& line);

    DebugLog& log_;
    const StoreLocation location_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<SqliteConnection>> idle_;
    FileIdentity verified_;  // the file on which the integrity check last passed
    std::atomic<int> lastReported_{static_cast<int>(StoreFault::None)};
};

}  // namespace ovra
