#include "support/MemoryAccessRecorder.h"

#include <stdexcept>

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#define TAVEX_RECORDER_SUPPORTED 1
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#endif

namespace Tavex {
namespace Test {

#if defined(TAVEX_RECORDER_SUPPORTED)

namespace {

MemoryAccessRecorder* active = 0;
const char* activeWindow = 0;
std::size_t activeSize = 0;
char* activePages = 0;
std::size_t activeLength = 0;
std::vector<std::size_t>* activeOffsets = 0;
std::vector<MemoryAccessRecorder::Access>* activeAccesses = 0;
bool activePaused = false;
struct sigaction previousSegv;
struct sigaction previousTrap;

const unsigned long trapFlag = 0x100;
// Bit 1 of the page-fault error code: the access was a write.
const unsigned long writeFault = 0x2;

#if defined(__x86_64__)
#define TAVEX_FLAGS_REGISTER REG_EFL
#else
#define TAVEX_FLAGS_REGISTER REG_EFL
#endif

void onSegv(int signal, siginfo_t* info, void* context) {
    char* address = static_cast<char*>(info->si_addr);
    if (active == 0 || address < activePages || address >= activePages + activeLength) {
        // Not ours: let the previous handler (or the default) deal with it.
        sigaction(SIGSEGV, &previousSegv, 0);
        raise(signal);
        return;
    }
    ucontext_t* uc = static_cast<ucontext_t*>(context);
    if (address >= activeWindow && address < activeWindow + activeSize) {
        const std::size_t offset = static_cast<std::size_t>(address - activeWindow);
        const bool write = (static_cast<unsigned long>(uc->uc_mcontext.gregs[REG_ERR]) &
                            writeFault) != 0;
        MemoryAccessRecorder::Access access = {
            write ? MemoryAccessRecorder::Access::Write : MemoryAccessRecorder::Access::Read,
            offset};
        activeOffsets->push_back(offset);
        activeAccesses->push_back(access);
    }
    mprotect(activePages, activeLength, PROT_READ | PROT_WRITE);
    uc->uc_mcontext.gregs[TAVEX_FLAGS_REGISTER] |= trapFlag;
}

void onTrap(int, siginfo_t*, void* context) {
    ucontext_t* uc = static_cast<ucontext_t*>(context);
    uc->uc_mcontext.gregs[TAVEX_FLAGS_REGISTER] &= ~static_cast<long>(trapFlag);
    if (active != 0 && !activePaused)
        mprotect(activePages, activeLength, PROT_NONE);
}

}  // namespace

bool MemoryAccessRecorder::isSupported() { return true; }

MemoryAccessRecorder::MemoryAccessRecorder(const void* window, std::size_t size)
    : window_(static_cast<const char*>(window)),
      size_(size),
      pagesBegin_(0),
      pagesLength_(0),
      running_(false),
      paused_(false) {
    const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(window_) & ~(page - 1);
    const std::uintptr_t end =
        (reinterpret_cast<std::uintptr_t>(window_) + size_ + page - 1) & ~(page - 1);
    pagesBegin_ = reinterpret_cast<char*>(begin);
    pagesLength_ = end - begin;
}

MemoryAccessRecorder::~MemoryAccessRecorder() { stop(); }

void MemoryAccessRecorder::start() {
    if (running_)
        return;
    if (active != 0)
        throw std::logic_error("MemoryAccessRecorder: another recorder is running");
    active = this;
    activeWindow = window_;
    activeSize = size_;
    activePages = pagesBegin_;
    activeLength = pagesLength_;
    activeOffsets = &offsets_;
    activeAccesses = &accesses_;
    activePaused = false;
    paused_ = false;

    struct sigaction segv;
    std::memset(&segv, 0, sizeof segv);
    segv.sa_sigaction = onSegv;
    segv.sa_flags = SA_SIGINFO;
    sigemptyset(&segv.sa_mask);
    sigaction(SIGSEGV, &segv, &previousSegv);

    struct sigaction trap;
    std::memset(&trap, 0, sizeof trap);
    trap.sa_sigaction = onTrap;
    trap.sa_flags = SA_SIGINFO;
    sigemptyset(&trap.sa_mask);
    sigaction(SIGTRAP, &trap, &previousTrap);

    if (mprotect(pagesBegin_, pagesLength_, PROT_NONE) != 0)
        throw std::runtime_error("MemoryAccessRecorder: mprotect refused");
    running_ = true;
}

void MemoryAccessRecorder::stop() {
    if (!running_)
        return;
    mprotect(pagesBegin_, pagesLength_, PROT_READ | PROT_WRITE);
    sigaction(SIGSEGV, &previousSegv, 0);
    sigaction(SIGTRAP, &previousTrap, 0);
    active = 0;
    activePaused = false;
    running_ = false;
    paused_ = false;
}

void MemoryAccessRecorder::pause() {
    if (!running_ || paused_)
        return;
    mprotect(pagesBegin_, pagesLength_, PROT_READ | PROT_WRITE);
    paused_ = true;
    activePaused = true;
    if (accesses_.empty() || accesses_.back().kind != Access::BoardsRan) {
        Access mark = {Access::BoardsRan, 0};
        accesses_.push_back(mark);
    }
}

void MemoryAccessRecorder::resume() {
    if (!running_ || !paused_)
        return;
    paused_ = false;
    activePaused = false;
    mprotect(pagesBegin_, pagesLength_, PROT_NONE);
}

MemoryAccessRecorder* MemoryAccessRecorder::running() { return active; }

#else

bool MemoryAccessRecorder::isSupported() { return false; }

MemoryAccessRecorder::MemoryAccessRecorder(const void* window, std::size_t size)
    : window_(static_cast<const char*>(window)),
      size_(size),
      pagesBegin_(0),
      pagesLength_(0),
      running_(false),
      paused_(false) {}

MemoryAccessRecorder::~MemoryAccessRecorder() {}

void MemoryAccessRecorder::start() {
    throw std::logic_error("MemoryAccessRecorder: not supported on this system");
}

void MemoryAccessRecorder::stop() {}
void MemoryAccessRecorder::pause() {}
void MemoryAccessRecorder::resume() {}
MemoryAccessRecorder* MemoryAccessRecorder::running() { return 0; }

#endif

}  // namespace Test
}  // namespace Tavex
