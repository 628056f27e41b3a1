#pragma once
// Named events and mutexes on POSIX shared memory, for processes of one user.
//
// Each name is one shm object (mode 0600, see ShmObjectName) that lives while
// any process holds a handle (see SharedObjectFile).
// - A mutex is a process-shared, robust, recursive pthread mutex: when its
//   owner dies, the next Lock gets EOWNERDEAD, makes it consistent and reports
//   Abandoned.
// - An event is a signalled word plus a futex sequence word. Waiters need no
//   lock at all, so a process killed in the middle of Set or Wait leaves
//   nothing behind that could block the others (a process-shared condition
//   variable can stay stuck on a waiter that died).

#include <memory>
#include <string>

#include "platform/NamedObjects.h"

namespace ovra {

class PosixNamedObjects final : public NamedObjects {
public:
    // `namespaceTag` keeps independent runs apart (see ShmObjectName).
    explicit PosixNamedObjects(std::string namespaceTag);

    std::unique_ptr<NamedEvent> CreateEvent(std::string_view name, bool manualReset,
                                            bool initiallySet, bool* alreadyExisted) override;
    std::unique_ptr<NamedEvent> OpenEvent(std::string_view name) override;
    std::unique_ptr<NamedMutex> CreateMutex(std::string_view name, bool initiallyOwned,
                                            bool* alreadyExisted) override;
    std::unique_ptr<NamedMutex> OpenMutex(std::string_view name) override;

    // The shm name that backs `name` (for diagnostics and tests).
    std::string BackingName(std::string_view name) const;

private:
    std::string namespaceTag_;
};

// The adapter for the running program: namespace from $OVRA_IPC_NAMESPACE.
std::unique_ptr<NamedObjects> MakeSystemNamedObjects();

}  // namespace ovra
