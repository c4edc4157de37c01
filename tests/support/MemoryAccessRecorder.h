// Records every access the code under test makes to a memory window, by
// protecting the window's pages and single-stepping each faulting access.
// Linux on x86 only; elsewhere isSupported() is false.
#ifndef TAVEX_TESTS_SUPPORT_MEMORYACCESSRECORDER_H
#define TAVEX_TESTS_SUPPORT_MEMORYACCESSRECORDER_H

#include <cstddef>
#include <vector>

namespace Tavex {
namespace Test {

class MemoryAccessRecorder {
public:
    // window and size: the bytes whose accesses are recorded.
    MemoryAccessRecorder(const void* window, std::size_t size);
    ~MemoryAccessRecorder();

    static bool isSupported();

    // Between start and stop every access to the window is recorded by its
    // offset from the window, in program order.  One entry per access
    // instruction, whatever its width.
    void start();
    void stop();
    const std::vector<std::size_t>& offsets() const { return offsets_; }
    void clear() { offsets_.clear(); }

private:
    MemoryAccessRecorder(const MemoryAccessRecorder&);
    MemoryAccessRecorder& operator=(const MemoryAccessRecorder&);

    const char* window_;
    std::size_t size_;
    char* pagesBegin_;
    std::size_t pagesLength_;
    bool running_;
    std::vector<std::size_t> offsets_;
};

}  // namespace Test
}  // namespace Tavex

#endif
