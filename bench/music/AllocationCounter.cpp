// The C allocator is wrapped through glibc's own entry points, which also
// catches allocations made inside C libraries (the transform's set-up).
#include "bench/music/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
}

namespace {
std::atomic<std::uint64_t> allocations{0};
}

namespace ovra::bench {
std::uint64_t AllocationCount() {
    return allocations.load(std::memory_order_relaxed);
}
}  // namespace ovra::bench

extern "C" {
void* malloc(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
void free(void* p) {
    __libc_free(p);
}
}

void* operator new(std::size_t size) {
    void* p = malloc(size == 0 ? 1 : size);
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete[](void* p) noexcept {
    free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    free(p);
}
