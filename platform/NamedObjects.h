#pragma once
// Port: named events and mutexes shared between processes of the same user
// (the handshake between the two programs, the bridge library's cross-process
// lock). An object lives while any process holds a handle to it. A mutex is
// owned by a thread and may be locked again by its owner (each Lock needs its
// Unlock); when the owner dies holding it, the next Lock reports Abandoned and
// owns it.

#include <chrono>
#include <memory>
#include <string_view>

namespace ovra {

enum class WaitResult {
    Signaled,   // event set / mutex acquired
    Timeout,
    Abandoned,  // mutex acquired, but its previous owner died holding it
    Failed,
};

inline constexpr std::chrono::milliseconds kWaitForever{-1};

class NamedEvent {
public:
    virtual ~NamedEvent() = default;
    virtual bool Set() = 0;
    virtual bool Reset() = 0;
    // Waits until the event is signalled; an auto-reset event is reset by the
    // wait that consumes it. kWaitForever waits without limit.
    virtual WaitResult Wait(std::chrono::milliseconds timeout) = 0;
};

class NamedMutex {
public:
    virtual ~NamedMutex() = default;
    virtual WaitResult Lock(std::chrono::milliseconds timeout) = 0;
    virtual bool Unlock() = 0;
};

class NamedObjects {
public:
    virtual ~NamedObjects() = default;

    // Creates the event, or opens it when it exists (then `alreadyExisted` is
    // set and the given reset mode and state are ignored). Null on failure.
    virtual std::unique_ptr<NamedEvent> CreateEvent(std::string_view name, bool manualReset,
                                                    bool initiallySet, bool* alreadyExisted) = 0;
    // Opens an existing event; null when there is none.
    virtual std::unique_ptr<NamedEvent> OpenEvent(std::string_view name) = 0;

    // Creates the mutex, or opens it when it exists (then `alreadyExisted` is
    // set and `initiallyOwned` is ignored). Null on failure, also when the name
    // belongs to an event.
    virtual std::unique_ptr<NamedMutex> CreateMutex(std::string_view name, bool initiallyOwned,
                                                    bool* alreadyExisted) = 0;
    // Opens an existing mutex; null when there is none.
    virtual std::unique_ptr<NamedMutex> OpenMutex(std::string_view name) = 0;
};

}  // namespace ovra
