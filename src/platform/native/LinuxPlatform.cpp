// 64-bit file offsets on every width: a physical address is an offset into
// /dev/mem, and on a 32-bit build one above 2 GiB would not fit a 32-bit off_t.
#if defined(__linux__) && !defined(_FILE_OFFSET_BITS)
#define _FILE_OFFSET_BITS 64
#endif

#include "LinuxPlatform.h"

#if defined(__linux__)

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>

#if defined(__i386__) || defined(__x86_64__)
#include <sys/io.h>
#define TAVEX_HAVE_PORT_IO 1
#endif

#include "NativePlatform.h"
#include "SystemRam.h"
#include "platform/DriverRequest.h"

static_assert(sizeof(off_t) == 8, "/dev/mem offsets need a 64-bit off_t");

namespace Tavex {
namespace detail {
namespace {

using DriverRequest::MapRequest;

Platform::Handle managerToken() { return reinterpret_cast<Platform::Handle>(0x5C0001); }
Platform::Handle serviceToken() { return reinterpret_cast<Platform::Handle>(0x5C0002); }

int descriptor(Platform::Handle handle) {
    if (handle == 0 || handle == Platform::invalidHandle() || handle == managerToken() ||
        handle == serviceToken())
        return -1;
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle) - 1);
}

// ---- the reason for the last failure, per thread -------------------------
//
// Written by the call that fails, read by lastErrorText right after it.  A
// fixed buffer: noting a reason neither allocates nor throws.

thread_local char lastCause[512];

bool failed(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool failed(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(lastCause, sizeof lastCause, format, arguments);
    va_end(arguments);
    return false;
}

// strerror_r comes in two kinds; either way the text, not a shared buffer.
inline const char* chooseText(const char* gnu, const char*) { return gnu; }
inline const char* chooseText(int xsi, const char* buffer) {
    return xsi == 0 ? buffer : "unknown error";
}

struct ErrorText {
    explicit ErrorText(int error)
        : text(chooseText(::strerror_r(error, buffer, sizeof buffer), buffer)) {}
    char buffer[128];
    const char* text;
};

// "file: reason; what to do", the last part when there is advice to give.
bool systemFailed(const std::string& file, int error, const char* advice) {
    const ErrorText reason(error);
    if (advice != 0)
        return failed("%s: %s; %s", file.c_str(), reason.text, advice);
    return failed("%s: %s", file.c_str(), reason.text);
}

// Why the memory device would not open.
const char* openAdvice(int error) {
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return "the kernel was built without CONFIG_DEVMEM, or the container was not given "
               "the device";
    case EACCES:
        return "run as root, or give the program read and write access to /dev/mem";
    case EPERM:
        return "run as root or with CAP_SYS_RAWIO; a kernel locked down under Secure Boot "
               "refuses it even then";
    default:
        return 0;
    }
}

// Why the kernel would not map a range of it.
const char* mapAdvice(int error) {
    switch (error) {
    case EPERM:
        return "the kernel refuses this range: CONFIG_STRICT_DEVMEM, or a lockdown under "
               "Secure Boot";
    case EINVAL:
        return "the kernel does not map this range through /dev/mem";
    case ENOMEM:
    case EAGAIN:
        return "the process has no room left to map it";
    default:
        return 0;
    }
}

// ---- port rights ------------------------------------------------------------
//
// iopl(3) holds for the thread that asks and the threads it starts later,
// not for threads that already run: every thread asks once for itself.

#if defined(TAVEX_HAVE_PORT_IO)
// -1 not asked yet, 0 granted, else the errno of the refusal.
thread_local int portRights = -1;

[[noreturn]] void portIoRefused(int error) {
    throw std::runtime_error(LinuxPlatform::portRefusal(error));
}

inline void requirePortRights() {
    if (portRights != 0) {
        if (portRights < 0)
            portRights = ::iopl(3) == 0 ? 0 : errno;
        if (portRights != 0)
            portIoRefused(portRights);
    }
}
#else
[[noreturn]] void noPortIo() {
    throw std::runtime_error("port I/O is not available on this processor.");
}
#endif

// The whole of a file that read() gives piecewise, as /proc files do.
bool readWhole(const std::string& file, std::string& text) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return systemFailed(file, errno, 0);
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            return systemFailed(file, error, 0);
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return true;
}

}  // namespace

LinuxPlatform::LinuxPlatform(const std::string& memDevice, const std::string& iomem)
    : memDevice_(memDevice), iomem_(iomem) {}

std::string LinuxPlatform::portRefusal(int error) {
    const ErrorText reason(error);
    const bool unsupported = error == ENOSYS || error == EINVAL;
    const char* cause = 0;
    if (error == EPERM)
        cause = "run as root or with CAP_SYS_RAWIO; a kernel locked down under Secure Boot "
                "refuses it even then";
    else if (unsupported)
        cause = "this kernel, or the container it runs in, gives programs no port I/O";
    std::string text = unsupported ? "port I/O is not available to this process (iopl: "
                                   : "port I/O is not permitted for this process (iopl: ";
    text += reason.text;
    if (cause != 0)
        text = text + "; " + cause;
    return text + ").";
}

#if defined(TAVEX_HAVE_PORT_IO)
std::uint8_t LinuxPlatform::inByte(std::uint16_t port) { requirePortRights(); return inb(port); }
std::uint16_t LinuxPlatform::inWord(std::uint16_t port) { requirePortRights(); return inw(port); }
std::uint32_t LinuxPlatform::inDword(std::uint16_t port) { requirePortRights(); return inl(port); }
void LinuxPlatform::outByte(std::uint16_t port, std::uint8_t value) {
    requirePortRights();
    outb(value, port);
}
void LinuxPlatform::outWord(std::uint16_t port, std::uint16_t value) {
    requirePortRights();
    outw(value, port);
}
void LinuxPlatform::outDword(std::uint16_t port, std::uint32_t value) {
    requirePortRights();
    outl(value, port);
}
#else
std::uint8_t LinuxPlatform::inByte(std::uint16_t) { noPortIo(); }
std::uint16_t LinuxPlatform::inWord(std::uint16_t) { noPortIo(); }
std::uint32_t LinuxPlatform::inDword(std::uint16_t) { noPortIo(); }
void LinuxPlatform::outByte(std::uint16_t, std::uint8_t) { noPortIo(); }
void LinuxPlatform::outWord(std::uint16_t, std::uint16_t) { noPortIo(); }
void LinuxPlatform::outDword(std::uint16_t, std::uint32_t) { noPortIo(); }
#endif

// Linux behaves as the NT family: memory is mapped through a device.
bool LinuxPlatform::getVersionEx(unsigned long& platformId) {
    platformId = 2;
    return true;
}

Platform::Handle LinuxPlatform::openSCManager(unsigned long) {
    lastCause[0] = '\0';
    return managerToken();
}

// The "service" is there when the device is.
Platform::Handle LinuxPlatform::openService(Handle manager, const char* name, unsigned long) {
    lastCause[0] = '\0';
    if (manager != managerToken() || name == 0 || std::strcmp(name, DriverRequest::serviceName) != 0)
        return 0;
    struct stat status;
    if (::stat(memDevice_.c_str(), &status) != 0) {
        const int error = errno;
        systemFailed(memDevice_, error, openAdvice(error));
        return 0;
    }
    return serviceToken();
}

bool LinuxPlatform::startService(Handle service) { return service == serviceToken(); }

bool LinuxPlatform::closeServiceHandle(Handle handle) {
    return handle == managerToken() || handle == serviceToken();
}

Platform::Handle LinuxPlatform::createFile(const char* name, unsigned long) {
    lastCause[0] = '\0';
    if (name == 0 || std::strcmp(name, DriverRequest::deviceName) != 0)
        return invalidHandle();
    const int fd = ::open(memDevice_.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        systemFailed(memDevice_, error, openAdvice(error));
        return invalidHandle();
    }
    return reinterpret_cast<Handle>(static_cast<std::intptr_t>(fd) + 1);
}

bool LinuxPlatform::deviceIoControl(Handle device, unsigned long code, const void* in,
                                    unsigned long inSize, void* out, unsigned long outSize,
                                    unsigned long& bytesReturned) {
    lastCause[0] = '\0';
    bytesReturned = 0;
    const int fd = descriptor(device);
    if (fd < 0)
        return failed("not a handle of %s", memDevice_.c_str());
    if (code == DriverRequest::mapCode)
        return map(fd, in, inSize, out, outSize, bytesReturned);
    if (code == DriverRequest::unmapCode)
        return unmap(in, inSize);
    return failed("no such request: 0x%lX", code);
}

bool LinuxPlatform::closeHandle(Handle handle) {
    const int fd = descriptor(handle);
    return fd >= 0 && ::close(fd) == 0;
}

void LinuxPlatform::sleep(unsigned long milliseconds) {
    struct timespec request;
    request.tv_sec = static_cast<time_t>(milliseconds / 1000);
    request.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (::nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
}

void* LinuxPlatform::dpmiMapPhysical(unsigned long, unsigned long) { return 0; }

std::string LinuxPlatform::lastErrorText() { return lastCause; }

std::uint64_t LinuxPlatform::monotonicNanoseconds() {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

// To an absolute time: a late start of the sleep does not move the wake-up.
// A signal (SIGINT to the tool) interrupts it; the wait goes on to the
// deadline, and the scan sees its stop flag right after.
void LinuxPlatform::sleepUntil(std::uint64_t deadline) {
    struct timespec until;
    until.tv_sec = static_cast<time_t>(deadline / 1000000000u);
    until.tv_nsec = static_cast<long>(deadline % 1000000000u);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, 0) == EINTR) {
    }
}

// For the calling thread, by its own id: pthread_setschedparam would need
// libpthread on older C libraries.
int LinuxPlatform::setRealTimePriority(int priority) {
    struct sched_param parameter;
    std::memset(&parameter, 0, sizeof parameter);
    parameter.sched_priority = priority;
    const pid_t thread = static_cast<pid_t>(::syscall(SYS_gettid));
    return ::sched_setscheduler(thread, SCHED_FIFO, &parameter) == 0 ? 0 : errno;
}

int LinuxPlatform::lockMemory() { return ::mlockall(MCL_CURRENT | MCL_FUTURE) == 0 ? 0 : errno; }

int LinuxPlatform::setThreadCpu(unsigned cpu) {
    if (cpu >= CPU_SETSIZE)
        return EINVAL;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    const pid_t thread = static_cast<pid_t>(::syscall(SYS_gettid));
    return ::sched_setaffinity(thread, sizeof set, &set) == 0 ? 0 : errno;
}

bool LinuxPlatform::map(int fd, const void* in, unsigned long inSize, void* out,
                        unsigned long outSize, unsigned long& bytesReturned) {
    if (in == 0 || inSize != sizeof(MapRequest) || out == 0 ||
        outSize != DriverRequest::addressSize)
        return failed("a malformed map request");
    MapRequest request;
    std::memcpy(&request, in, sizeof request);
    // Only the low word is ever meant; a high word would be a window that a
    // 32-bit client could never have asked for.
    if (request.addressHigh != 0)
        return failed("an address above 4 GiB");
    if (request.length == 0)
        return failed("an empty window");
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pageSize <= 0)
        return failed("no page size");
    // In 64 bits: on a 32-bit build a window of up to 4 GiB plus the part of
    // its first page before it would wrap a size_t.
    const std::uint64_t page = static_cast<std::uint64_t>(pageSize);
    const std::uint64_t address = request.addressLow;
    const std::uint64_t start = address & ~(page - 1);
    const std::uint64_t lead = address - start;
    const std::uint64_t length = lead + request.length;
    const std::size_t mapLength = static_cast<std::size_t>(length);
    const off_t offset = static_cast<off_t>(start);
    if (mapLength != length || offset < 0 || static_cast<std::uint64_t>(offset) != start)
        return failed("a window too large for this process");

    std::lock_guard<std::mutex> lock(mapLock_);
    if (!mayMap(address, request.length, page))
        return false;
    void* base = ::mmap(0, mapLength, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    if (base == MAP_FAILED) {
        const int error = errno;
        return systemFailed(memDevice_, error, mapAdvice(error));
    }
    void* window = static_cast<char*>(base) + lead;
    try {
        mappings_[window] = Mapping{base, mapLength};
    } catch (...) {
        // Without its entry the mapping could never be released.
        ::munmap(base, mapLength);
        return failed("no memory left to record the mapping");
    }
    std::memcpy(out, &window, sizeof window);
    bytesReturned = sizeof window;
    return true;
}

// Read at every map, which is rare: the list changes as memory is hot-added
// or devices come and go.  A process that may open /dev/mem but not see the
// addresses in /proc/iomem (CAP_SYS_RAWIO without CAP_SYS_ADMIN) maps
// nothing: it cannot tell RAM from a board.
bool LinuxPlatform::mayMap(std::uint64_t address, std::uint64_t length, std::uint64_t page) {
    try {
        std::string text;
        if (!readWhole(iomem_, text))
            return false;
        std::string why;
        if (SystemRam::fromIomem(text).allowsMapping(address, length, page, &why))
            return true;
        return failed("%s", why.c_str());
    } catch (const std::exception&) {
        return failed("no memory left to read %s", iomem_.c_str());
    }
}

bool LinuxPlatform::unmap(const void* in, unsigned long inSize) {
    if (in == 0 || inSize != DriverRequest::addressSize)
        return failed("a malformed unmap request");
    void* window = 0;
    std::memcpy(&window, in, sizeof window);
    std::lock_guard<std::mutex> lock(mapLock_);
    std::map<void*, Mapping>::iterator found = mappings_.find(window);
    if (found == mappings_.end())
        return failed("no window of %s is mapped at %p", memDevice_.c_str(), window);
    const Mapping mapping = found->second;
    mappings_.erase(found);
    if (::munmap(mapping.base, mapping.length) != 0)
        return systemFailed(memDevice_, errno, 0);
    return true;
}

Platform& nativePlatform() {
    static LinuxPlatform platform;
    return platform;
}

}  // namespace detail
}  // namespace Tavex

#endif
