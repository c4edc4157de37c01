// Native backend for Linux on a PC: "the driver" is /dev/mem, port I/O runs
// after a lazy iopl(3).  /dev/mem is never mapped over System RAM.
#if defined(__linux__)

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>

#if defined(__i386__) || defined(__x86_64__)
#include <sys/io.h>
#define TAVEX_HAVE_PORT_IO 1
#endif

#include "NativePlatform.h"
#include "SystemRam.h"
#include "platform/DriverRequest.h"

namespace Tavex {
namespace detail {
namespace {

const char* const memDevice = "/dev/mem";
using DriverRequest::MapRequest;

class LinuxPlatform : public Platform {
public:
    LinuxPlatform() : portRights_(Unknown), systemRamRead_(false) {}

#if defined(TAVEX_HAVE_PORT_IO)
    std::uint8_t inByte(std::uint16_t port) override { requirePortRights(); return inb(port); }
    std::uint16_t inWord(std::uint16_t port) override { requirePortRights(); return inw(port); }
    std::uint32_t inDword(std::uint16_t port) override { requirePortRights(); return inl(port); }
    void outByte(std::uint16_t port, std::uint8_t value) override { requirePortRights(); outb(value, port); }
    void outWord(std::uint16_t port, std::uint16_t value) override { requirePortRights(); outw(value, port); }
    void outDword(std::uint16_t port, std::uint32_t value) override { requirePortRights(); outl(value, port); }
#else
    std::uint8_t inByte(std::uint16_t) { noPortIo(); return 0xFF; }
    std::uint16_t inWord(std::uint16_t) { noPortIo(); return 0xFFFF; }
    std::uint32_t inDword(std::uint16_t) { noPortIo(); return 0xFFFFFFFFu; }
    void outByte(std::uint16_t, std::uint8_t) { noPortIo(); }
    void outWord(std::uint16_t, std::uint16_t) { noPortIo(); }
    void outDword(std::uint16_t, std::uint32_t) { noPortIo(); }
#endif

    // Linux behaves as the NT family: memory is mapped through a device.
    bool getVersionEx(unsigned long& platformId) override {
        platformId = 2;
        return true;
    }

    Handle openSCManager(unsigned long) override { return managerToken(); }

    Handle openService(Handle manager, const char* name, unsigned long) override {
        if (manager != managerToken() || name == 0 || std::strcmp(name, DriverRequest::serviceName) != 0)
            return 0;
        struct stat status;
        if (::stat(memDevice, &status) != 0)
            return 0;
        return serviceToken();
    }

    bool startService(Handle service) override { return service == serviceToken(); }

    bool closeServiceHandle(Handle handle) override {
        return handle == managerToken() || handle == serviceToken();
    }

    Handle createFile(const char* name, unsigned long) override {
        if (name == 0 || std::strcmp(name, DriverRequest::deviceName) != 0)
            return invalidHandle();
        const int fd = ::open(memDevice, O_RDWR | O_SYNC | O_CLOEXEC);
        if (fd < 0)
            return invalidHandle();
        return reinterpret_cast<Handle>(static_cast<std::intptr_t>(fd) + 1);
    }

    bool deviceIoControl(Handle device, unsigned long code, const void* in, unsigned long inSize,
                         void* out, unsigned long outSize, unsigned long& bytesReturned) override {
        bytesReturned = 0;
        const int fd = descriptor(device);
        if (fd < 0)
            return false;
        if (code == DriverRequest::mapCode)
            return map(fd, in, inSize, out, outSize, bytesReturned);
        if (code == DriverRequest::unmapCode)
            return unmap(in, inSize);
        return false;
    }

    bool closeHandle(Handle handle) override {
        const int fd = descriptor(handle);
        return fd >= 0 && ::close(fd) == 0;
    }

    void sleep(unsigned long milliseconds) override {
        struct timespec request;
        request.tv_sec = static_cast<time_t>(milliseconds / 1000);
        request.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
        while (::nanosleep(&request, &request) != 0 && errno == EINTR) {
        }
    }

    void* dpmiMapPhysical(unsigned long, unsigned long) override { return 0; }

    std::uint64_t monotonicNanoseconds() override {
        struct timespec now;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
               static_cast<std::uint64_t>(now.tv_nsec);
    }

    // To an absolute time: a late start of the sleep does not move the wake-up.
    // A signal (SIGINT to the tool) interrupts it; the wait goes on to the
    // deadline, and the scan sees its stop flag right after.
    void sleepUntil(std::uint64_t deadline) override {
        struct timespec until;
        until.tv_sec = static_cast<time_t>(deadline / 1000000000u);
        until.tv_nsec = static_cast<long>(deadline % 1000000000u);
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, 0) == EINTR) {
        }
    }

    int setRealTimePriority(int priority) override {
        struct sched_param parameter;
        std::memset(&parameter, 0, sizeof parameter);
        parameter.sched_priority = priority;
        // pthread_setschedparam would need libpthread on older C libraries;
        // the thread's own id does the same through sched_setscheduler.
        const pid_t thread = static_cast<pid_t>(::syscall(SYS_gettid));
        return ::sched_setscheduler(thread, SCHED_FIFO, &parameter) == 0 ? 0 : errno;
    }

    int lockMemory() override { return ::mlockall(MCL_CURRENT | MCL_FUTURE) == 0 ? 0 : errno; }

    int setThreadCpu(unsigned cpu) override {
        if (cpu >= CPU_SETSIZE)
            return EINVAL;
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
        const pid_t thread = static_cast<pid_t>(::syscall(SYS_gettid));
        return ::sched_setaffinity(thread, sizeof set, &set) == 0 ? 0 : errno;
    }

private:
    enum PortRights { Unknown, Granted, Refused };

    static Handle managerToken() { return reinterpret_cast<Handle>(0x5C0001); }
    static Handle serviceToken() { return reinterpret_cast<Handle>(0x5C0002); }

    static int descriptor(Handle handle) {
        if (handle == 0 || handle == invalidHandle() || handle == managerToken() ||
            handle == serviceToken())
            return -1;
        return static_cast<int>(reinterpret_cast<std::intptr_t>(handle) - 1);
    }

    void requirePortRights() {
        if (portRights_ == Unknown) {
#if defined(TAVEX_HAVE_PORT_IO)
            portRights_ = ::iopl(3) == 0 ? Granted : Refused;
#else
            portRights_ = Refused;
#endif
        }
        if (portRights_ != Granted)
            throw std::runtime_error(
                "Tavex: port I/O is not permitted for this process (iopl refused; "
                "run as root or with CAP_SYS_RAWIO).");
    }

#if !defined(TAVEX_HAVE_PORT_IO)
    static void noPortIo() {
        throw std::runtime_error("Tavex: port I/O is not available on this processor.");
    }
#endif

    bool map(int fd, const void* in, unsigned long inSize, void* out, unsigned long outSize,
             unsigned long& bytesReturned) {
        if (in == 0 || inSize != sizeof(MapRequest) || out == 0 ||
            outSize != DriverRequest::addressSize)
            return false;
        MapRequest request;
        std::memcpy(&request, in, sizeof request);
        if (request.length == 0)
            return false;
        const unsigned long page = static_cast<unsigned long>(::sysconf(_SC_PAGESIZE));
        const std::uint64_t address =
            (static_cast<std::uint64_t>(request.addressHigh) << 32) | request.addressLow;
        const std::uint64_t start = address & ~static_cast<std::uint64_t>(page - 1);
        const std::size_t lead = static_cast<std::size_t>(address - start);
        const std::size_t length = lead + request.length;
        if (!mayMap(address, request.length, page))
            return false;
        void* base = ::mmap(0, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                            static_cast<off_t>(start));
        if (base == MAP_FAILED)
            return false;
        void* window = static_cast<char*>(base) + lead;
        try {
            mappings_[window] = Mapping(base, length);
        } catch (...) {
            // Without its entry the mapping could never be released.
            ::munmap(base, length);
            return false;
        }
        std::memcpy(out, &window, sizeof window);
        bytesReturned = sizeof window;
        return true;
    }

    // Read once, at the first map request.  A process that may open
    // /dev/mem but not see the addresses in /proc/iomem (CAP_SYS_RAWIO
    // without CAP_SYS_ADMIN) maps nothing: it cannot tell RAM from a board.
    bool mayMap(std::uint64_t address, std::uint64_t length, std::uint64_t page) {
        try {
            if (!systemRamRead_) {
                std::ifstream iomem("/proc/iomem");
                const std::string text((std::istreambuf_iterator<char>(iomem)),
                                       std::istreambuf_iterator<char>());
                systemRam_ = SystemRam::fromIomem(text);
                systemRamRead_ = true;
            }
        } catch (const std::exception&) {
            return false;
        }
        return systemRam_.allowsMapping(address, length, page);
    }

    bool unmap(const void* in, unsigned long inSize) {
        if (in == 0 || inSize != DriverRequest::addressSize)
            return false;
        void* window = 0;
        std::memcpy(&window, in, sizeof window);
        std::map<void*, Mapping>::iterator found = mappings_.find(window);
        if (found == mappings_.end())
            return false;
        const bool released = ::munmap(found->second.base, found->second.length) == 0;
        mappings_.erase(found);
        return released;
    }

    struct Mapping {
        Mapping() : base(0), length(0) {}
        Mapping(void* b, std::size_t l) : base(b), length(l) {}
        void* base;
        std::size_t length;
    };

    PortRights portRights_;
    std::map<void*, Mapping> mappings_;
    SystemRam systemRam_;
    bool systemRamRead_;
};

}  // namespace

Platform& nativePlatform() {
    static LinuxPlatform platform;
    return platform;
}

}  // namespace detail
}  // namespace Tavex

#endif
