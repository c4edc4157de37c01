// Replacement global allocation operators that count calls.
#include "support/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t> allocationCount(0);
std::atomic<std::size_t> liveCount(0);
std::atomic<std::size_t> failCountdown(0);

void* allocate(std::size_t size) {
    std::size_t armed = failCountdown.load();
    while (armed != 0 && !failCountdown.compare_exchange_weak(armed, armed - 1)) {
    }
    if (armed == 1)
        return 0;
    void* p = std::malloc(size ? size : 1);
    if (p) {
        ++allocationCount;
        ++liveCount;
    }
    return p;
}

void release(void* p) {
    if (p) {
        --liveCount;
        std::free(p);
    }
}

}  // namespace

namespace AllocationCounter {
std::size_t allocations() { return allocationCount.load(); }
std::size_t live() { return liveCount.load(); }
void failAllocation(std::size_t n) { failCountdown = n; }
}  // namespace AllocationCounter

void* operator new(std::size_t size) {
    if (void* p = allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }

void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
