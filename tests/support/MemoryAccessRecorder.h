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

    // One entry of the record: a read or a write by its offset from the
    // window (the first byte the instruction touches), or the mark of a
    // moment when the boards ran (pause, below).
    struct Access {
        enum Kind { Read, Write, BoardsRan };
        Kind kind;
        std::size_t offset;   // Read and Write only
    };

    // Between start and stop every access to the window is recorded by its
    // offset from the window, in program order.  One entry per access
    // instruction, whatever its width.
    void start();
    void stop();
    const std::vector<std::size_t>& offsets() const { return offsets_; }
    const std::vector<Access>& accesses() const { return accesses_; }
    void clear() {
        offsets_.clear();
        accesses_.clear();
    }

    // While paused nothing is recorded, and one BoardsRan mark separates
    // what was recorded before from what comes after.  The simulated
    // boards run inside the machine (sleeps, port accesses), and their own
    // accesses to the window are not the host's: see RecordingMachine.
    void pause();
    void resume();
    bool paused() const { return paused_; }

    // The recorder that is running now, if any.
    static MemoryAccessRecorder* running();

private:
    MemoryAccessRecorder(const MemoryAccessRecorder&);
    MemoryAccessRecorder& operator=(const MemoryAccessRecorder&);

    const char* window_;
    std::size_t size_;
    char* pagesBegin_;
    std::size_t pagesLength_;
    bool running_;
    bool paused_;
    std::vector<std::size_t> offsets_;
    std::vector<Access> accesses_;
};

}  // namespace Test
}  // namespace Tavex

#endif
