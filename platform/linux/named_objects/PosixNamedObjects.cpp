#include "platform/linux/named_objects/PosixNamedObjects.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <new>

#include "platform/linux/named_objects/SharedObjectFile.h"
#include "platform/linux/named_objects/ShmObjectName.h"

namespace ovra {
namespace {

constexpr std::uint32_t kMagic = 0x4f564e4f;  // set last: the object is complete
constexpr std::uint32_t kLayoutVersion = 1;

enum class Kind : std::uint32_t { Event = 1, Mutex = 2 };

struct alignas(64) SharedHeader {
    std::atomic<std::uint32_t> magic;
    std::uint32_t version;
    Kind kind;
};

struct SharedEvent {
    SharedHeader header;
    std::uint32_t manualReset;
    std::atomic<std::uint32_t> signaled;
    // Bumped by every Set; waiters sleep on it with FUTEX_WAIT so that a Set
    // between their check and their sleep is never missed.
    std::atomic<std::uint32_t> sequence;
};

struct SharedMutex {
    SharedHeader header;
    pthread_mutex_t mutex;
};

static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));

timespec DeadlineAfter(std::chrono::milliseconds timeout) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ns = now.tv_nsec + (timeout.count() % 1000) * 1000000LL;
    timespec deadline;
    deadline.tv_sec = now.tv_sec + static_cast<time_t>(timeout.count() / 1000) + ns / 1000000000LL;
    deadline.tv_nsec = ns % 1000000000LL;
    return deadline;
}

std::uint32_t* FutexWord(std::atomic<std::uint32_t>& word) {
    return reinterpret_cast<std::uint32_t*>(&word);
}

// Shared (not private) futex: the word lives in memory mapped by several
// processes. Absolute deadline on CLOCK_MONOTONIC; null waits forever.
long FutexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected,
               const timespec* deadline) {
    return syscall(SYS_futex, FutexWord(word), FUTEX_WAIT_BITSET, expected, deadline, nullptr,
                   FUTEX_BITSET_MATCH_ANY);
}

void FutexWakeAll(std::atomic<std::uint32_t>& word) {
    syscall(SYS_futex, FutexWord(word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

bool IsForever(std::chrono::milliseconds timeout) { return timeout.count() < 0; }

class PosixEvent final : public NamedEvent {
public:
    explicit PosixEvent(std::unique_ptr<SharedObjectFile> file)
        : file_(std::move(file)), event_(static_cast<SharedEvent*>(file_->Data())) {}

    bool Set() override {
        event_->signaled.store(1, std::memory_order_seq_cst);
        event_->sequence.fetch_add(1, std::memory_order_seq_cst);
        FutexWakeAll(event_->sequence);
        return true;
    }

    bool Reset() override {
        event_->signaled.store(0, std::memory_order_seq_cst);
        return true;
    }

    WaitResult Wait(std::chrono::milliseconds timeout) override {
        const timespec deadline = DeadlineAfter(IsForever(timeout) ? std::chrono::milliseconds(0)
                                                                   : timeout);
        for (;;) {
            const std::uint32_t seen = event_->sequence.load(std::memory_order_seq_cst);
            if (TryConsume()) return WaitResult::Signaled;
            const long rc = FutexWait(event_->sequence, seen, IsForever(timeout) ? nullptr : &deadline);
            if (rc != 0 && errno == ETIMEDOUT) return TryConsume() ? WaitResult::Signaled
                                                                    : WaitResult::Timeout;
            if (rc != 0 && errno != EAGAIN && errno != EINTR) return WaitResult::Failed;
        }
    }

private:
    bool TryConsume() {
        if (event_->manualReset) return event_->signaled.load(std::memory_order_seq_cst) != 0;
        std::uint32_t expected = 1;
        // Auto-reset: exactly one waiter takes a Set.
        return event_->signaled.compare_exchange_strong(expected, 0, std::memory_order_seq_cst);
    }

    std::unique_ptr<SharedObjectFile> file_;
    SharedEvent* event_;
};

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer does not know pthread_mutex_clocklock and would see the
// lock taken behind its back; under it the deadline is on the wall clock.
constexpr bool kMonotonicMutexWait = false;
#else
constexpr bool kMonotonicMutexWait = true;
#endif

class PosixMutex final : public NamedMutex {
public:
    explicit PosixMutex(std::unique_ptr<SharedObjectFile> file)
        : file_(std::move(file)), mutex_(&static_cast<SharedMutex*>(file_->Data())->mutex) {}

    WaitResult Lock(std::chrono::milliseconds timeout) override {
        int rc;
        if (IsForever(timeout)) {
            rc = pthread_mutex_lock(mutex_);
        } else if (timeout.count() == 0) {
            rc = pthread_mutex_trylock(mutex_);
        } else {
            rc = TimedLock(timeout);
        }
        switch (rc) {
            case 0: return WaitResult::Signaled;
            case EOWNERDEAD:
                // We own it now; what it protected may be half-done, which
                // the caller learns from the result.
                return pthread_mutex_consistent(mutex_) == 0 ? WaitResult::Abandoned
                                                             : WaitResult::Failed;
            case ETIMEDOUT:
            case EBUSY: return WaitResult::Timeout;
            default: return WaitResult::Failed;
        }
    }

    bool Unlock() override { return pthread_mutex_unlock(mutex_) == 0; }

private:
    // A wait on the monotonic clock: setting the time of day neither cuts it
    // short nor stretches it.
    int TimedLock(std::chrono::milliseconds timeout) {
        if constexpr (kMonotonicMutexWait) {
            const timespec deadline = DeadlineAfter(timeout);
            return pthread_mutex_clocklock(mutex_, CLOCK_MONOTONIC, &deadline);
        } else {
            timespec deadline;
            clock_gettime(CLOCK_REALTIME, &deadline);
            const long long ns = deadline.tv_nsec + (timeout.count() % 1000) * 1000000LL;
            deadline.tv_sec += static_cast<time_t>(timeout.count() / 1000 + ns / 1000000000LL);
            deadline.tv_nsec = ns % 1000000000LL;
            return pthread_mutex_timedlock(mutex_, &deadline);
        }
    }

    std::unique_ptr<SharedObjectFile> file_;
    pthread_mutex_t* mutex_;
};

void InitHeader(SharedHeader& header, Kind kind) {
    header.version = kLayoutVersion;
    header.kind = kind;
}

bool ValidHeader(const SharedHeader& header, Kind kind) {
    return header.magic.load(std::memory_order_acquire) == kMagic &&
           header.version == kLayoutVersion && header.kind == kind;
}

bool InitMutex(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return false;
    const bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
                    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
                    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                    pthread_mutex_init(mutex, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

}  // namespace

PosixNamedObjects::PosixNamedObjects(std::string namespaceTag)
    : namespaceTag_(std::move(namespaceTag)) {}

std::string PosixNamedObjects::BackingName(std::string_view name) const {
    return ShmObjectName(name, namespaceTag_, static_cast<unsigned>(geteuid()));
}

std::unique_ptr<NamedEvent> PosixNamedObjects::CreateEvent(std::string_view name,
                                                           bool manualReset, bool initiallySet,
                                                           bool* alreadyExisted) {
    auto file = SharedObjectFile::Acquire(
        BackingName(name), sizeof(SharedEvent), SharedObjectFile::Mode::CreateOrOpen,
        [&](void* data) {
            auto* event = new (data) SharedEvent{};
            InitHeader(event->header, Kind::Event);
            event->manualReset = manualReset ? 1 : 0;
            event->signaled.store(initiallySet ? 1 : 0);
            event->header.magic.store(kMagic, std::memory_order_release);
            return true;
        },
        [](const void* data) {
            return ValidHeader(static_cast<const SharedEvent*>(data)->header, Kind::Event);
        },
        alreadyExisted);
    return file ? std::make_unique<PosixEvent>(std::move(file)) : nullptr;
}

std::unique_ptr<NamedEvent> PosixNamedObjects::OpenEvent(std::string_view name) {
    auto file = SharedObjectFile::Acquire(
        BackingName(name), sizeof(SharedEvent), SharedObjectFile::Mode::OpenExisting,
        [](void*) { return false; },
        [](const void* data) {
            return ValidHeader(static_cast<const SharedEvent*>(data)->header, Kind::Event);
        },
        nullptr);
    return file ? std::make_unique<PosixEvent>(std::move(file)) : nullptr;
}

std::unique_ptr<NamedMutex> PosixNamedObjects::CreateMutex(std::string_view name,
                                                           bool initiallyOwned,
                                                           bool* alreadyExisted) {
    bool existed = false;
    auto file = SharedObjectFile::Acquire(
        BackingName(name), sizeof(SharedMutex), SharedObjectFile::Mode::CreateOrOpen,
        [](void* data) {
            auto* shared = new (data) SharedMutex{};
            InitHeader(shared->header, Kind::Mutex);
            if (!InitMutex(&shared->mutex)) return false;
            shared->header.magic.store(kMagic, std::memory_order_release);
            return true;
        },
        [](const void* data) {
            return ValidHeader(static_cast<const SharedMutex*>(data)->header, Kind::Mutex);
        },
        &existed);
    if (alreadyExisted) *alreadyExisted = existed;
    if (!file) return nullptr;
    auto mutex = std::make_unique<PosixMutex>(std::move(file));
    // Only the creator takes initial ownership.
    if (initiallyOwned && !existed && mutex->Lock(kWaitForever) == WaitResult::Failed)
        return nullptr;
    return mutex;
}

std::unique_ptr<NamedMutex> PosixNamedObjects::OpenMutex(std::string_view name) {
    auto file = SharedObjectFile::Acquire(
        BackingName(name), sizeof(SharedMutex), SharedObjectFile::Mode::OpenExisting,
        [](void*) { return false; },
        [](const void* data) {
            return ValidHeader(static_cast<const SharedMutex*>(data)->header, Kind::Mutex);
        },
        nullptr);
    return file ? std::make_unique<PosixMutex>(std::move(file)) : nullptr;
}

std::unique_ptr<NamedObjects> MakeSystemNamedObjects() {
    return std::make_unique<PosixNamedObjects>(IpcNamespaceFromEnvironment());
}

}  // namespace ovra
