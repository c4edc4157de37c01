// Native backend for Linux on a PC: "the driver" is /dev/mem, port I/O runs
// after a lazy iopl(3).  /dev/mem is never mapped over memory that
// /proc/iomem gives to the kernel or the firmware (see SystemRam.h).
//
// The process uses one instance, on /dev/mem and /proc/iomem.  Tests build
// their own over files of their choosing: a missing device, a plain file
// standing in for physical memory, a list of their own.  Internal to the
// library.
#ifndef TAVEX_SRC_PLATFORM_NATIVE_LINUXPLATFORM_H
#define TAVEX_SRC_PLATFORM_NATIVE_LINUXPLATFORM_H

#if defined(__linux__)

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "tavex/platform/Platform.h"

namespace Tavex {
namespace detail {

class LinuxPlatform : public Platform {
public:
    explicit LinuxPlatform(const std::string& memDevice = "/dev/mem",
                           const std::string& iomem = "/proc/iomem");

    std::uint8_t inByte(std::uint16_t port) override;
    std::uint16_t inWord(std::uint16_t port) override;
    std::uint32_t inDword(std::uint16_t port) override;
    void outByte(std::uint16_t port, std::uint8_t value) override;
    void outWord(std::uint16_t port, std::uint16_t value) override;
    void outDword(std::uint16_t port, std::uint32_t value) override;

    bool getVersionEx(unsigned long& platformId) override;
    Handle openSCManager(unsigned long access) override;
    Handle openService(Handle manager, const char* name, unsigned long access) override;
    bool startService(Handle service) override;
    bool closeServiceHandle(Handle handle) override;
    Handle createFile(const char* name, unsigned long access) override;
    bool deviceIoControl(Handle device, unsigned long code, const void* in, unsigned long inSize,
                         void* out, unsigned long outSize, unsigned long& bytesReturned) override;
    bool closeHandle(Handle handle) override;
    void sleep(unsigned long milliseconds) override;
    void* dpmiMapPhysical(unsigned long address, unsigned long size) override;
    std::string lastErrorText() override;

    // The scan's clock and scheduling.
    std::uint64_t monotonicNanoseconds() override;
    void sleepUntil(std::uint64_t deadline) override;
    int setRealTimePriority(int priority) override;
    int lockMemory() override;
    int setThreadCpu(unsigned cpu) override;

    // The error of a port access after iopl(3) failed with this errno.
    static std::string portRefusal(int error);

private:
    struct Mapping {
        void* base;
        std::size_t length;
    };

    bool map(int fd, const void* in, unsigned long inSize, void* out, unsigned long outSize,
             unsigned long& bytesReturned);
    bool unmap(const void* in, unsigned long inSize);
    bool mayMap(std::uint64_t address, std::uint64_t length, std::uint64_t page);

    const std::string memDevice_;
    const std::string iomem_;
    // Maps and unmaps may come from several threads at once.
    std::mutex mapLock_;
    std::map<void*, Mapping> mappings_;
};

}  // namespace detail
}  // namespace Tavex

#endif

#endif
