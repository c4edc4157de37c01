// Native backend for Windows: the kernel32 and advapi32 calls of the driver
// link, port instructions executed in user mode once the process is known to
// hold port rights, and the DPMI mapping of the 9x family (32-bit x86 builds
// only).
#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#if defined(_MSC_VER)
#include <intrin.h>
#endif

#include "NativePlatform.h"

namespace Tavex {
namespace detail {
namespace {

#if defined(_MSC_VER)
inline std::uint8_t portInByte(std::uint16_t port) { return __inbyte(port); }
inline std::uint16_t portInWord(std::uint16_t port) { return __inword(port); }
inline std::uint32_t portInDword(std::uint16_t port) { return __indword(port); }
inline void portOutByte(std::uint16_t port, std::uint8_t v) { __outbyte(port, v); }
inline void portOutWord(std::uint16_t port, std::uint16_t v) { __outword(port, v); }
inline void portOutDword(std::uint16_t port, std::uint32_t v) { __outdword(port, v); }
#else
inline std::uint8_t portInByte(std::uint16_t port) {
    std::uint8_t value;
    __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(port));
    return value;
}
inline std::uint16_t portInWord(std::uint16_t port) {
    std::uint16_t value;
    __asm__ __volatile__("inw %w1, %w0" : "=a"(value) : "Nd"(port));
    return value;
}
inline std::uint32_t portInDword(std::uint16_t port) {
    std::uint32_t value;
    __asm__ __volatile__("inl %w1, %0" : "=a"(value) : "Nd"(port));
    return value;
}
inline void portOutByte(std::uint16_t port, std::uint8_t value) {
    __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(port));
}
inline void portOutWord(std::uint16_t port, std::uint16_t value) {
    __asm__ __volatile__("outw %w0, %w1" : : "a"(value), "Nd"(port));
}
inline void portOutDword(std::uint16_t port, std::uint32_t value) {
    __asm__ __volatile__("outl %0, %w1" : : "a"(value), "Nd"(port));
}
#endif

// ---- the scan's clock and scheduling ------------------------------------
//
// The clock is the performance counter.  A wait to an absolute time is a
// waitable timer set to the time left, re-armed until the counter has
// reached the deadline: a high-resolution timer where the system has one
// (Windows 10 1803 and later), otherwise a plain one with the system timer
// at 1 ms (timeBeginPeriod(1), once per process; the timer wakes on the
// system's tick, which is 15.6 ms without it).  Where neither exists (the
// 9x family before 98), Sleep() for the milliseconds left.  Every entry is
// looked up, so the library still loads on the oldest systems.

std::uint64_t performanceCounterNanoseconds() {
    static const std::uint64_t frequency = [] {
        LARGE_INTEGER f;
        return QueryPerformanceFrequency(&f) && f.QuadPart > 0
                   ? static_cast<std::uint64_t>(f.QuadPart)
                   : 0;
    }();
    if (frequency == 0)
        return static_cast<std::uint64_t>(GetTickCount()) * 1000000u;
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    const std::uint64_t ticks = static_cast<std::uint64_t>(count.QuadPart);
    // In two parts, so that ticks * 10^9 cannot overflow.
    return ticks / frequency * 1000000000u + ticks % frequency * 1000000000u / frequency;
}

typedef HANDLE(WINAPI* CreateTimerExEntry)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);
typedef HANDLE(WINAPI* CreateTimerEntry)(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR);
typedef BOOL(WINAPI* SetTimerEntry)(HANDLE, const LARGE_INTEGER*, LONG, PTIMERAPCROUTINE, LPVOID,
                               BOOL);
typedef UINT(WINAPI* TimerPeriodEntry)(UINT);

template <class Function>
Function systemEntry(const char* module, const char* name) {
    HMODULE handle = GetModuleHandleA(module);
    if (handle == 0)
        handle = LoadLibraryA(module);
    if (handle == 0)
        return 0;
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(handle, name)));
}

// One timer per thread that waits, closed when the thread ends.
class ScanTimer {
public:
    ScanTimer() : timer_(0), set_(systemEntry<SetTimerEntry>("kernel32.dll", "SetWaitableTimer")) {
        const DWORD highResolution = 0x00000002;   // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
        const DWORD allAccess = 0x1F0003;          // TIMER_ALL_ACCESS
        if (CreateTimerExEntry createEx = systemEntry<CreateTimerExEntry>("kernel32.dll",
                                                                "CreateWaitableTimerExW"))
            timer_ = createEx(0, 0, highResolution, allAccess);
        if (timer_ == 0) {
            if (CreateTimerEntry create = systemEntry<CreateTimerEntry>("kernel32.dll",
                                                              "CreateWaitableTimerW"))
                timer_ = create(0, FALSE, 0);
            if (timer_ != 0)
                fineSystemTick();
        }
    }
    ~ScanTimer() {
        if (timer_ != 0)
            CloseHandle(timer_);
    }
    ScanTimer(const ScanTimer&) = delete;
    ScanTimer& operator=(const ScanTimer&) = delete;

    void waitUntil(std::uint64_t deadline) {
        for (;;) {
            const std::uint64_t now = performanceCounterNanoseconds();
            if (now >= deadline)
                return;
            const std::uint64_t left = deadline - now;
            if (timer_ == 0 || set_ == 0) {
                Sleep(static_cast<DWORD>((left + 999999) / 1000000));
                continue;
            }
            LARGE_INTEGER due;
            due.QuadPart = -static_cast<LONGLONG>((left + 99) / 100);   // relative, 100 ns units
            if (!set_(timer_, &due, 0, 0, 0, FALSE) ||
                WaitForSingleObject(timer_, INFINITE) != WAIT_OBJECT_0)
                Sleep(static_cast<DWORD>((left + 999999) / 1000000));
        }
    }

private:
    static void fineSystemTick() {
        static const bool once = [] {
            if (TimerPeriodEntry begin = systemEntry<TimerPeriodEntry>("winmm.dll", "timeBeginPeriod"))
                begin(1);
            return true;
        }();
        (void)once;
    }

    HANDLE timer_;
    SetTimerEntry set_;
};

void waitUntil(std::uint64_t deadline) {
    static thread_local ScanTimer timer;
    timer.waitUntil(deadline);
}

int setTimeCriticalThread() {
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL)
               ? 0
               : static_cast<int>(GetLastError());
}

int setThreadProcessor(unsigned cpu) {
    if (cpu >= sizeof(DWORD_PTR) * 8)
        return ERROR_INVALID_PARAMETER;
    return SetThreadAffinityMask(GetCurrentThread(), static_cast<DWORD_PTR>(1) << cpu) != 0
               ? 0
               : static_cast<int>(GetLastError());
}

// The operating-system calls; the port instructions are left to the two
// platforms below.
class WindowsPlatform : public Platform {
public:
    bool getVersionEx(unsigned long& platformId) override {
        OSVERSIONINFOA version;
        ZeroMemory(&version, sizeof version);
        version.dwOSVersionInfoSize = sizeof version;  // 148 bytes
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)
#elif defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
        const BOOL ok = GetVersionExA(&version);
#if defined(__GNUC__) && !defined(_MSC_VER)
#pragma GCC diagnostic pop
#endif
        if (!ok)
            return false;
        platformId = version.dwPlatformId;
        return true;
    }

    Handle openSCManager(unsigned long access) override {
        return reinterpret_cast<Handle>(OpenSCManagerA(0, 0, access));
    }

    Handle openService(Handle manager, const char* name, unsigned long access) override {
        return reinterpret_cast<Handle>(
            OpenServiceA(reinterpret_cast<SC_HANDLE>(manager), name, access));
    }

    bool startService(Handle service) override {
        return StartServiceA(reinterpret_cast<SC_HANDLE>(service), 0, 0) != 0;
    }

    bool closeServiceHandle(Handle handle) override {
        return CloseServiceHandle(reinterpret_cast<SC_HANDLE>(handle)) != 0;
    }

    Handle createFile(const char* name, unsigned long access) override {
        return CreateFileA(name, access, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    }

    bool deviceIoControl(Handle device, unsigned long code, const void* in, unsigned long inSize,
                         void* out, unsigned long outSize, unsigned long& bytesReturned) override {
        DWORD returned = 0;
        const BOOL ok = DeviceIoControl(device, code, const_cast<void*>(in), inSize, out, outSize,
                                        &returned, 0);
        bytesReturned = returned;
        return ok != 0;
    }

    bool closeHandle(Handle handle) override { return CloseHandle(handle) != 0; }

    void sleep(unsigned long milliseconds) override { Sleep(milliseconds); }

    void* dpmiMapPhysical(unsigned long address, unsigned long size) override;

    std::string lastErrorText() override;

    // The scan's clock and scheduling (above).  Memory is not locked: a
    // working set has no equivalent of mlockall.
    std::uint64_t monotonicNanoseconds() override { return performanceCounterNanoseconds(); }
    void sleepUntil(std::uint64_t deadline) override { waitUntil(deadline); }
    int setRealTimePriority(int) override { return setTimeCriticalThread(); }
    int setThreadCpu(unsigned cpu) override { return setThreadProcessor(cpu); }
};

// The code that the failed call left for this thread, and the system's
// message for it.
std::string WindowsPlatform::lastErrorText() {
    const DWORD error = GetLastError();
    if (error == ERROR_SUCCESS)
        return std::string();
    char code[32];
    std::snprintf(code, sizeof code, "error %lu", static_cast<unsigned long>(error));
    std::string text(code);
    char* message = 0;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        0, error, 0, reinterpret_cast<char*>(&message), 0, 0);
    if (length != 0 && message != 0) {
        std::string said;
        try {
            said.assign(message, length);
        } catch (...) {
            LocalFree(message);
            throw;
        }
        LocalFree(message);
        while (!said.empty() && (said.back() == '\r' || said.back() == '\n' || said.back() == ' '))
            said.pop_back();
        if (!said.empty())
            text += ": " + said;
    }
    return text;
}

#if defined(__i386__) && defined(__GNUC__)
// DPMI 0800h (physical address mapping) through VWIN32's INT 31h dispatch
// service, entered through the VxD call entry of the 9x kernel.  BX:CX holds
// the physical address and SI:DI the size; the linear address comes back in
// BX:CX with the carry clear.
void* WindowsPlatform::dpmiMapPhysical(unsigned long address, unsigned long size) {
    unsigned long bx = (address >> 16) & 0xFFFF;
    unsigned long cx = address & 0xFFFF;
    unsigned long si = (size >> 16) & 0xFFFF;
    unsigned long di = size & 0xFFFF;
    unsigned long dx = address;
    unsigned long carry;
    __asm__ __volatile__(
        "pushl %%ebp\n\t"
        "movl %%esp, %%ebp\n\t"
        "pushl %%edx\n\t"
        "pushl $0x0800\n\t"
        "pushl $0x002A0029\n\t"
        "movl $0xBFF713D4, %%eax\n\t"
        "call *%%eax\n\t"
        "setc %%al\n\t"
        "movzbl %%al, %%eax\n\t"
        "movl %%ebp, %%esp\n\t"
        "popl %%ebp\n\t"
        : "=a"(carry), "+b"(bx), "+c"(cx), "+S"(si), "+D"(di), "+d"(dx)
        :
        : "memory", "cc");
    if (carry)
        return 0;
    return reinterpret_cast<void*>(((bx & 0xFFFF) << 16) | (cx & 0xFFFF));
}
#elif defined(_M_IX86) && defined(_MSC_VER)
void* WindowsPlatform::dpmiMapPhysical(unsigned long address, unsigned long size) {
    unsigned long linear = 0;
    unsigned long failed = 0;
    unsigned long savedStack = 0;
    __asm {
        push ebx
        push esi
        push edi
        mov savedStack, esp
        mov ebx, address
        shr ebx, 16
        mov ecx, address
        and ecx, 0xFFFF
        mov esi, size
        shr esi, 16
        mov edi, size
        and edi, 0xFFFF
        push address
        push 0x0800
        push 0x002A0029
        mov eax, 0xBFF713D4
        call eax
        setc al
        movzx eax, al
        mov esp, savedStack
        mov failed, eax
        shl ebx, 16
        and ecx, 0xFFFF
        or ebx, ecx
        mov linear, ebx
        pop edi
        pop esi
        pop ebx
    }
    return failed ? 0 : reinterpret_cast<void*>(linear);
}
#else
// The 9x kernel entry exists only for 32-bit x86 processes.
void* WindowsPlatform::dpmiMapPhysical(unsigned long, unsigned long) { return 0; }
#endif

// ---- port rights --------------------------------------------------------
//
// On the NT family a user-mode in/out runs only where the kernel has granted
// the process port I/O (a driver that opens the I/O permission map, or a
// platform that allows it); everywhere else the processor raises a
// privileged-instruction fault, which would end the process.  A program
// cannot ask for the right, so the first port access finds out whether it
// holds it, by executing one harmless read under a vectored exception
// handler that catches the fault of that one instruction.

// The probe reads port 0x80, the POST diagnostic port: the BIOS writes its
// checkpoint codes there while the PC starts, no board decodes it for
// anything else, and a read of it changes nothing on any PC chipset.  The
// probe takes port rights to be granted for the whole I/O space or not at
// all: a driver that opened only a board's own ports would be taken for none.
constexpr std::uint16_t probePort = 0x80;

const char* const noPortRights =
    "Tavex: port I/O is not permitted for this process (in/out refused; install the tavex.sys "
    "driver or run on a platform that grants port I/O).";

// Set only while the probe instruction runs, on the thread that runs it.
volatile DWORD probingThread = 0;
volatile LONG probeFaulted = 0;

#if defined(_MSC_VER)
__declspec(noinline) void probeRead() {
    volatile std::uint8_t value = __inbyte(probePort);
    (void)value;
    _ReadWriteBarrier();
}
#else
__attribute__((noinline)) void probeRead() {
    __asm__ __volatile__("inb %0, %%al" : : "N"(probePort) : "eax", "memory");
}
#endif

// Length of the probe's instruction at the faulting address, 0 when the
// instruction there is not the probe's read of port 0x80: "in al, 0x80"
// (E4 80) as written above, or "in al, dx" (EC) with DX = 0x80 where the
// compiler puts the port in DX.
unsigned probeInstructionLength(const EXCEPTION_POINTERS* info) {
    const unsigned char* code =
        static_cast<const unsigned char*>(info->ExceptionRecord->ExceptionAddress);
#if defined(_WIN64)
    const DWORD64 dx = info->ContextRecord->Rdx;
#else
    const DWORD dx = info->ContextRecord->Edx;
#endif
    if (code[0] == 0xE4 && code[1] == probePort)
        return 2;
    if (code[0] == 0xEC && (dx & 0xFFFF) == probePort)
        return 1;
    return 0;
}

// Handles the fault of the probe's instruction and nothing else: it notes
// the fault and resumes after the instruction.  Whatever else faults is left
// to the handlers that follow.
LONG CALLBACK probeFault(EXCEPTION_POINTERS* info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_ACCESS_VIOLATION)
        return EXCEPTION_CONTINUE_SEARCH;
    if (probingThread != GetCurrentThreadId())
        return EXCEPTION_CONTINUE_SEARCH;
    const unsigned length = probeInstructionLength(info);
    if (length == 0)
        return EXCEPTION_CONTINUE_SEARCH;
    probeFaulted = 1;
#if defined(_WIN64)
    info->ContextRecord->Rip += length;
#else
    info->ContextRecord->Eip += length;
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

typedef PVOID(WINAPI* AddHandler)(ULONG, PVECTORED_EXCEPTION_HANDLER);
typedef ULONG(WINAPI* RemoveHandler)(PVOID);

template <class Function>
Function kernelEntry(const char* name) {
    // Through a plain function pointer type: the entry's real type is given
    // by Function, not by FARPROC.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

bool probePortRights() {
    // Vectored handlers came with the NT family (XP).  The 9x family has
    // none, and there every program may execute in/out.  Looked up here so
    // that the library still loads where they are missing.
    const AddHandler add = kernelEntry<AddHandler>("AddVectoredExceptionHandler");
    const RemoveHandler remove = kernelEntry<RemoveHandler>("RemoveVectoredExceptionHandler");
    if (add == 0 || remove == 0)
        return true;
    void* const handler = add(1, probeFault);
    if (handler == 0)
        return false;   // the fault could not be caught: no in/out is risked
    probeFaulted = 0;
    probingThread = GetCurrentThreadId();
    probeRead();
    probingThread = 0;
    remove(handler);
    return probeFaulted == 0;
}

// The process holds port rights: a port access is its instruction and
// nothing else.
class DirectPortPlatform final : public WindowsPlatform {
public:
    std::uint8_t inByte(std::uint16_t port) override { return portInByte(port); }
    std::uint16_t inWord(std::uint16_t port) override { return portInWord(port); }
    std::uint32_t inDword(std::uint16_t port) override { return portInDword(port); }
    void outByte(std::uint16_t port, std::uint8_t value) override { portOutByte(port, value); }
    void outWord(std::uint16_t port, std::uint16_t value) override { portOutWord(port, value); }
    void outDword(std::uint16_t port, std::uint32_t value) override { portOutDword(port, value); }
};

// The native platform until a port access has shown that the process holds
// port rights; then the direct one takes its place.
class ProbingPortPlatform final : public WindowsPlatform {
public:
    std::uint8_t inByte(std::uint16_t port) override { return granted().inByte(port); }
    std::uint16_t inWord(std::uint16_t port) override { return granted().inWord(port); }
    std::uint32_t inDword(std::uint16_t port) override { return granted().inDword(port); }
    void outByte(std::uint16_t port, std::uint8_t value) override { granted().outByte(port, value); }
    void outWord(std::uint16_t port, std::uint16_t value) override { granted().outWord(port, value); }
    void outDword(std::uint16_t port, std::uint32_t value) override { granted().outDword(port, value); }

private:
    static Platform& granted();
};

// Both platforms are constant-initialised, so nativePlatform() is a single
// load with no initialisation guard.  The OS calls of both are the same, so
// an OSInterface that kept the probing one still works.
DirectPortPlatform directPorts;
ProbingPortPlatform probingPorts;
std::atomic<Platform*> nativeActive(&probingPorts);

Platform& ProbingPortPlatform::granted() {
    // Probed once per process, the first thread to get here probing for all;
    // a refusal stays, and every later access is refused with it.
    static const bool rights = probePortRights();
    if (!rights)
        throw std::runtime_error(noPortRights);
    nativeActive.store(&directPorts, std::memory_order_release);
    return directPorts;
}

}  // namespace

Platform& nativePlatform() { return *nativeActive.load(std::memory_order_acquire); }

}  // namespace detail
}  // namespace Tavex

// The library's entry point only switches off per-thread notifications.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    return TRUE;
}

#endif
