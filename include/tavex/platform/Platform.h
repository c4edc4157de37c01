// Platform: everything the library asks of the operating system and the
// processor.  One virtual operation per system call or port instruction the
// library uses, with the arguments the library passes.  The native backend
// for the running system is used unless another platform is installed
// (a simulated machine, or a client's own implementation).
#ifndef TAVEX_PLATFORM_PLATFORM_H
#define TAVEX_PLATFORM_PLATFORM_H

#include <cstdint>
#include <string>

#include "tavex/Export.h"

namespace Tavex {

class TAVEX_API Platform {
public:
    typedef void* Handle;
    static Handle invalidHandle();          // (Handle)-1, INVALID_HANDLE_VALUE
    virtual ~Platform();

    // processor port instructions
    virtual std::uint8_t  inByte (std::uint16_t port) = 0;
    virtual std::uint16_t inWord (std::uint16_t port) = 0;
    virtual std::uint32_t inDword(std::uint16_t port) = 0;
    virtual void outByte (std::uint16_t port, std::uint8_t  value) = 0;
    virtual void outWord (std::uint16_t port, std::uint16_t value) = 0;
    virtual void outDword(std::uint16_t port, std::uint32_t value) = 0;

    // the operating-system calls of the driver link
    virtual bool   getVersionEx(unsigned long& platformId) = 0;            // GetVersionExA
    virtual Handle openSCManager(unsigned long access) = 0;                 // 0 on failure
    virtual Handle openService(Handle manager, const char* name,
                               unsigned long access) = 0;                   // 0 on failure
    virtual bool   startService(Handle service) = 0;
    virtual bool   closeServiceHandle(Handle handle) = 0;
    virtual Handle createFile(const char* name, unsigned long access) = 0;  // invalidHandle() on failure
    virtual bool   deviceIoControl(Handle device, unsigned long code,
                                   const void* in, unsigned long inSize,
                                   void* out, unsigned long outSize,
                                   unsigned long& bytesReturned) = 0;
    virtual bool   closeHandle(Handle handle) = 0;
    virtual void   sleep(unsigned long milliseconds) = 0;                   // Sleep
    virtual void*  dpmiMapPhysical(unsigned long address,
                                   unsigned long size) = 0;                 // 9x; 0 on failure

    // The clock and the scheduling of a periodic scan.  Not pure: a platform
    // of the client's that has only sleep() still runs a scan, on the
    // system's steady clock, and its sleeps still pass its own time.
    //
    // A monotonic clock in nanoseconds (CLOCK_MONOTONIC,
    // QueryPerformanceCounter); it never goes back and its origin means
    // nothing.  Default: std::chrono::steady_clock.
    virtual std::uint64_t monotonicNanoseconds();
    // Returns once monotonicNanoseconds() has reached the deadline, or at
    // once when it already has (clock_nanosleep with TIMER_ABSTIME, a
    // waitable timer).  Default: sleep() for the whole milliseconds left,
    // rounded up, when any are left.
    virtual void sleepUntil(std::uint64_t deadline);
    // Real-time scheduling of the calling thread and the process.  Each
    // returns 0 when granted, else the system's error code (errno,
    // GetLastError), or notAvailable where the platform has no such thing.
    // Default: notAvailable.
    enum { notAvailable = -1 };
    virtual int setRealTimePriority(int priority);   // SCHED_FIFO; a time-critical thread
    virtual int lockMemory();                        // mlockall: no page faults in the scan
    virtual int setThreadCpu(unsigned cpu);          // run only on this processor

    // Why the last failed call above failed on the calling thread, in the
    // system's words, or "" when the platform does not say (the default).
    // Asked right after the failure, before any other call; the driver link
    // puts it after its own error text, in parentheses.
    virtual std::string lastErrorText();

    // The installed platform, else the native one.  Inline: every port
    // access of a card asks for it.
    static Platform& current() { return installed_ != 0 ? *installed_ : native(); }
    static Platform* install(Platform* p);  // returns the previously installed one (0 = native)

private:
    static Platform& native();
    static Platform* installed_;
};

}  // namespace Tavex

#endif
