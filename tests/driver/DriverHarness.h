// What the driver tests share: the installer, the device, raw requests with
// their NTSTATUS, and the physical memory list in the registry.  Runs under
// Wine (or on a Windows test machine) as an Administrator.
#ifndef TAVEX_TESTS_DRIVER_DRIVERHARNESS_H
#define TAVEX_TESTS_DRIVER_DRIVERHARNESS_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#define WIN32_NO_STATUS
#include <windows.h>
#include <winternl.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>

#include <cstdint>
#include <string>
#include <vector>

namespace DriverHarness {

// The physical range the test build's section stands in for.
const std::uint32_t standInBase = TAVEX_STANDIN_BASE;
const std::uint32_t standInSize = TAVEX_STANDIN_SIZE;

const ULONG mapCode = 0x80002000UL;
const ULONG unmapCode = 0x80002004UL;
const ULONG addressSize = sizeof(void*);

// A program beside this one, run to its end: whether it started, its exit
// status and its output.
struct ProgramRun {
    bool started;
    DWORD exitCode;
    std::string output;
};
ProgramRun runBeside(const std::string& program, const std::string& arguments);
// tavex-driver.exe
ProgramRun installer(const std::string& arguments);

// The folder this program lies in, with a trailing backslash.
std::string programFolder();

// Gives a file or folder the access list an SDDL string describes
// ("D:P(A;;FA;;;WD)"); whether it took.
bool setAccess(const std::string& path, const char* sddl);

// "\\.\tavex", opened for reading and writing unless other access is
// asked for, inheritable by child processes or not; INVALID_HANDLE_VALUE if
// not.
HANDLE openDevice(DWORD access = GENERIC_READ | GENERIC_WRITE, bool inheritable = false);

// A handle of the test's own on the device, closed at the end.
class Device {
public:
    Device() : handle_(openDevice()) {}
    explicit Device(HANDLE handle) : handle_(handle) {}
    ~Device() {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    operator HANDLE() const { return handle_; }
    // Opens the device for reading and writing if it is not open.
    void open() {
        if (handle_ == INVALID_HANDLE_VALUE)
            handle_ = openDevice();
    }
    HANDLE release() {
        HANDLE h = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return h;
    }

private:
    Device(const Device&);
    Device& operator=(const Device&);
    HANDLE handle_;
};

// An NTSTATUS as the tests print it: 0xC0000022.
std::string hex(unsigned long value);

// This program started again as another process that uses a handle it
// inherited (tavex_driver_tests --child <handle> <window>): it asks for a
// map and for the unmap of the window, and prints both statuses.
extern const char* const childSwitch;
int childMain(int argc, char** argv);

// One request with its status and byte count, straight from the driver.
struct Reply {
    NTSTATUS status;
    ULONG_PTR information;
};
Reply control(HANDLE device, ULONG code, const void* in, ULONG inSize, void* out, ULONG outSize);

// The map request and the unmap request, as the library sends them.
Reply map(HANDLE device, std::uint32_t address, std::uint32_t length, void** window,
          std::uint32_t addressHigh = 0);
Reply unmap(HANDLE device, void* window);

// What the process's memory holds at an address: MEM_FREE, MEM_MAPPED, ...
DWORD memoryType(const void* address);
// Waits up to 5 s for an address to be unmapped; whether it was.
bool becomesFree(const void* address);

// The physical memory list as Windows writes it: the value ".Translated" of
// HKLM\HARDWARE\RESOURCEMAP\System Resources\Physical Memory.
struct Descriptor {
    std::uint8_t type;    // 3 memory, 7 large memory, 1 port, ...
    std::uint16_t flags;  // for large memory: 0x200 (40), 0x400 (48), 0x800 (64)
    std::uint64_t start;
    std::uint32_t length;
};
const std::uint8_t memory = 3;
const std::uint8_t port = 1;
const std::uint8_t largeMemory = 7;

// A REG_RESOURCE_LIST of one full descriptor per element.
std::vector<std::uint8_t> resourceList(const std::vector<std::vector<Descriptor> >& lists);
// A PC with 1 GiB: RAM at 4 KiB-636 KiB and 1 MiB-1 GiB, none at the
// stand-in range.
std::vector<std::uint8_t> usualList();

void writeList(const std::vector<std::uint8_t>& data, DWORD type = REG_RESOURCE_LIST);
void deleteList();

}  // namespace DriverHarness

#endif
