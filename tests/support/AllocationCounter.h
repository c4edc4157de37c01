// Counts the allocations of the whole test program: the replacement global
// operator new / delete live in AllocationCounter.cpp.  On ELF systems the
// library's own allocations go through them too; a Windows DLL keeps its
// own runtime's operators, so there only the program's are seen.
#ifndef TAVEX_TESTS_SUPPORT_ALLOCATIONCOUNTER_H
#define TAVEX_TESTS_SUPPORT_ALLOCATIONCOUNTER_H

#include <cstddef>

namespace AllocationCounter {

std::size_t allocations();  // operator new calls so far
std::size_t live();         // allocations not yet released

// Makes the n-th operator new from now on (1 = the next one) fail as if
// memory ran out; 0 disarms.  For checks that a failed allocation leaves
// nothing behind.
void failAllocation(std::size_t n);

// Snapshot of the counters, for "nothing allocated / nothing leaked" checks.
class Window {
public:
    Window() : allocations_(allocations()), live_(live()) {}
    std::size_t allocated() const { return allocations() - allocations_; }
    long leaked() const { return static_cast<long>(live()) - static_cast<long>(live_); }

private:
    std::size_t allocations_;
    std::size_t live_;
};

// True where the library's allocations are visible to the counter.
inline bool seesLibrary() {
#if defined(_WIN32)
    return false;
#else
    return true;
#endif
}

}  // namespace AllocationCounter

#endif
