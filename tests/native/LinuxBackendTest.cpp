// The Linux backend pointed at files of the test's own: a plain file stands
// in for /dev/mem (offset = physical address) and a written list for
// /proc/iomem.  Through the library's own PhysicalMemory: what reaches the
// file, the reason after each refusal, maps and unmaps from many threads.
#include <gtest/gtest.h>

#if defined(__linux__)

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/DriverRequest.h"
#include "platform/native/LinuxPlatform.h"
#include "support/AllocationCounter.h"
#include "support/ExpectThrow.h"
#include "support/TempDir.h"
#include "tavex/platform/PhysicalMemory.h"
#include "tavex/platform/Platform.h"

using Tavex::PhysicalMemory;
using Tavex::Platform;
using Tavex::detail::LinuxPlatform;

namespace {

const char* const noDriver = "OS Interface: tavex.sys driver possibly not installed";
const char* const noDevice = "OS Interface: can not open tavex.sys driver.";
const char* const mapRefused = "OS Interface: can not get pointer to physical memory block.";

// Low RAM, the firmware's reserved stretch over the adapter area, RAM above
// 1 MiB and the ACPI tables at its end.
const char* const plainPc =
    "00000000-00000fff : Reserved\n"
    "00001000-0009fbff : System RAM\n"
    "0009fc00-000fffff : Reserved\n"
    "  000c0000-000c7fff : Video ROM\n"
    "  000f0000-000fffff : System ROM\n"
    "00100000-3ffeffff : System RAM\n"
    "3fff0000-3fffffff : ACPI Tables\n";

const unsigned long boardMemory = 0xD0000;

// A backend over a 1 MiB file and a list of the test's choosing, installed
// for the test's lifetime.
class FileBackedPc {
public:
    explicit FileBackedPc(const char* iomemText = plainPc)
        : dir_("tavex-linux"), device_(dir_.file("mem")), iomem_(dir_.file("iomem")),
          platform_(device_, iomem_) {
        dir_.write("mem", std::vector<std::uint8_t>());
        if (::truncate(device_.c_str(), 0x100000) != 0)
            throw std::runtime_error("test scene: cannot size " + device_);
        setIomem(iomemText);
        Platform::install(&platform_);
    }
    ~FileBackedPc() { Platform::install(0); }

    void setIomem(const char* text) const {
        std::ofstream(iomem_, std::ios::trunc) << text;
    }

    // The byte at a physical address, as the file holds it.
    std::uint8_t byteAt(unsigned long address) const {
        std::ifstream file(device_, std::ios::binary);
        file.seekg(static_cast<std::streamoff>(address));
        return static_cast<std::uint8_t>(file.get());
    }

    // Mappings of the stand-in device that the process holds now.
    unsigned mappings() const {
        std::ifstream maps("/proc/self/maps");
        unsigned count = 0;
        for (std::string line; std::getline(maps, line);)
            count += line.find(device_) != std::string::npos;
        return count;
    }

    const std::string& device() const { return device_; }
    const std::string& iomem() const { return iomem_; }
    LinuxPlatform& platform() { return platform_; }

private:
    TempDir dir_;
    std::string device_;
    std::string iomem_;
    LinuxPlatform platform_;
};

std::string withCause(const char* text, const std::string& cause) {
    return std::string(text) + " (" + cause + ")";
}

}  // namespace

// What a window writes reaches the device at its physical address, and the
// window's end is its last byte, not a page further.
TEST(LinuxBackend, WindowReachesTheDeviceAtItsAddress) {
    FileBackedPc pc;
    {
        PhysicalMemory window(boardMemory + 0x10, 0x20, true);
        window.writeLong(0, 0x11223344L).writeChar(0x1F, 0x5A);
        EXPECT_EQ(1u, pc.mappings());
    }
    EXPECT_EQ(0u, pc.mappings());
    EXPECT_EQ(0x44, pc.byteAt(boardMemory + 0x10));
    EXPECT_EQ(0x11, pc.byteAt(boardMemory + 0x13));
    EXPECT_EQ(0x5A, pc.byteAt(boardMemory + 0x2F));
}

// Every refusal keeps the library's own text and puts the reason after it:
// the device, the system's words and what to do, or the range of the list
// that the window would cover.
TEST(LinuxBackend, RefusalsNameTheirCause) {
    const std::string missing = "/nonexistent/tavex/mem";
    const struct {
        const char* situation;
        std::string device;     // "" = the scene's file
        const char* iomemText;  // 0 = no list at all
        unsigned long address;
        unsigned long size;
        std::function<std::string(const FileBackedPc&)> expected;
    } rows[] = {
        {"no memory device", missing, plainPc, boardMemory, 0x100,
         [&](const FileBackedPc&) {
             return withCause(noDriver, missing + ": No such file or directory; the kernel was "
                                                  "built without CONFIG_DEVMEM, or the container "
                                                  "was not given the device");
         }},
        {"device that does not open for writing", "/", plainPc, boardMemory, 0x100,
         [](const FileBackedPc&) { return withCause(noDevice, "/: Is a directory"); }},
        {"device that cannot be mapped", "/dev/null", plainPc, boardMemory, 0x100,
         [](const FileBackedPc&) { return withCause(mapRefused, "/dev/null: No such device"); }},
        {"no list of physical memory", "", 0, boardMemory, 0x100,
         [](const FileBackedPc& pc) {
             return withCause(mapRefused, pc.iomem() + ": No such file or directory");
         }},
        {"addresses hidden from this process", "",
         "00000000-00000000 : Reserved\n00000000-00000000 : System RAM\n", boardMemory, 0x100,
         [](const FileBackedPc&) {
             return withCause(mapRefused, "/proc/iomem shows this process no addresses, so RAM "
                                          "cannot be told from a board: run as root or with "
                                          "CAP_SYS_ADMIN");
         }},
        {"low RAM", "", plainPc, 0x9F000, 0x100,
         [](const FileBackedPc&) {
             return withCause(mapRefused, "pages 9f000-9ffff overlap 1000-9fbff \"System RAM\" in "
                                          "/proc/iomem, which is never mapped");
         }},
        {"ACPI tables", "", plainPc, 0x3FFF0000, 0x10,
         [](const FileBackedPc&) {
             return withCause(mapRefused, "pages 3fff0000-3fff0fff overlap 3fff0000-3fffffff "
                                          "\"ACPI Tables\" in /proc/iomem, which is never mapped");
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.situation);
        FileBackedPc pc(row.iomemText != 0 ? row.iomemText : "");
        if (row.iomemText == 0)
            ::unlink(pc.iomem().c_str());
        LinuxPlatform platform(row.device.empty() ? pc.device() : row.device, pc.iomem());
        Platform::install(&platform);
        EXPECT_TRUE(throwsExactly<std::runtime_error>(
            [&] { PhysicalMemory window(row.address, row.size, true); }, row.expected(pc)));
        Platform::install(&pc.platform());
    }
}

// The list is read at every map: memory that the kernel takes after a
// window was mapped is refused to the next one.
TEST(LinuxBackend, ListIsReadAtEveryMap) {
    FileBackedPc pc;
    { PhysicalMemory window(boardMemory, 0x1000, true); }
    pc.setIomem((std::string(plainPc) + "000d0000-000d0fff : System RAM (kmem)\n").c_str());
    EXPECT_TRUE(throwsStartingWith<std::runtime_error>(
        [] { PhysicalMemory window(boardMemory, 0x1000, true); }, mapRefused));
    PhysicalMemory beside(boardMemory + 0x1000, 0x1000, true);
}

// Requests that a client of the seam could send but the library never does:
// a high address word, an unknown window to release.  Each fails, with its
// reason, and maps nothing.
TEST(LinuxBackend, MalformedRequestsAreRefused) {
    FileBackedPc pc;
    LinuxPlatform& platform = pc.platform();
    Platform::Handle device = platform.createFile(Tavex::DriverRequest::deviceName, 0);
    ASSERT_NE(Platform::invalidHandle(), device);
    Tavex::DriverRequest::MapRequest request = {static_cast<std::uint32_t>(boardMemory), 1,
                                                0x100, 0};
    void* window = 0;
    unsigned long returned = 99;
    EXPECT_FALSE(platform.deviceIoControl(device, Tavex::DriverRequest::mapCode, &request,
                                          sizeof request, &window, sizeof window, returned));
    EXPECT_EQ("an address above 4 GiB", platform.lastErrorText());
    EXPECT_EQ(0u, returned);

    request.addressHigh = 0;
    request.length = 0;
    EXPECT_FALSE(platform.deviceIoControl(device, Tavex::DriverRequest::mapCode, &request,
                                          sizeof request, &window, sizeof window, returned));
    EXPECT_EQ("an empty window", platform.lastErrorText());

    void* unknown = &request;
    EXPECT_FALSE(platform.deviceIoControl(device, Tavex::DriverRequest::unmapCode, &unknown,
                                          sizeof unknown, 0, 0, returned));
    EXPECT_EQ(0u, platform.lastErrorText().find("no window of " + pc.device() + " is mapped"));
    EXPECT_EQ(0u, pc.mappings());
    EXPECT_TRUE(platform.closeHandle(device));
}

// The kernel mapped the window but the backend could not record it: the
// window is released at once instead of staying mapped for good.
TEST(LinuxBackend, MappingThatCannotBeRecordedIsReleased) {
    FileBackedPc pc;
    { PhysicalMemory first(boardMemory, 0x100, true); }   // the link is built
    const AllocationCounter::Window counted;
    { PhysicalMemory window(boardMemory, 0x100, true); }
    // The record of the mapping is the last allocation of a map.
    const std::size_t perMap = counted.allocated();
    ASSERT_GT(perMap, 0u);
    const std::string text = withCause(mapRefused, "no memory left to record the mapping");
    const std::function<void()> map = [perMap] {
        AllocationCounter::failAllocation(perMap);
        PhysicalMemory window(boardMemory, 0x100, true);
    };
    EXPECT_TRUE(throwsExactly<std::runtime_error>(map, text));
    AllocationCounter::failAllocation(0);
    EXPECT_EQ(0u, pc.mappings());
}

// A refused iopl(3) says what the system said and, by its errno, what most
// likely stands in the way.  No "Tavex:" of its own: the front ends put
// their name before it.
TEST(LinuxBackend, PortRefusalNamesTheLikelyCause) {
    const struct {
        int error;
        const char* text;
    } rows[] = {
        {EPERM,
         "port I/O is not permitted for this process (iopl: Operation not permitted; run as "
         "root or with CAP_SYS_RAWIO; a kernel locked down under Secure Boot refuses it even "
         "then)."},
        {ENOSYS,
         "port I/O is not available to this process (iopl: Function not implemented; this "
         "kernel, or the container it runs in, gives programs no port I/O)."},
        {EINVAL,
         "port I/O is not available to this process (iopl: Invalid argument; this kernel, or the "
         "container it runs in, gives programs no port I/O)."},
        {EIO, "port I/O is not permitted for this process (iopl: Input/output error)."},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.text, LinuxPlatform::portRefusal(row.error)) << "errno " << row.error;
}

// Maps and unmaps from several threads at once, each thread on windows of
// its own, some sharing pages with their neighbours.  Run under
// ThreadSanitizer too (the tsan preset).
TEST(LinuxBackend, ConcurrentMapsAndUnmaps) {
    FileBackedPc pc;
    { PhysicalMemory first(boardMemory, 0x10, true); }   // built before the threads start
    const unsigned threads = 4;
    const unsigned rounds = 64;
    std::atomic<unsigned> failures(0);
    std::vector<std::thread> running;
    for (unsigned t = 0; t < threads; ++t)
        running.emplace_back([t, &failures] {
            for (unsigned round = 0; round < rounds; ++round) {
                const unsigned long address = boardMemory + 0x800 * t + 0x10 * (round % 8);
                try {
                    PhysicalMemory window(address, 0x900, true);
                    const long value = static_cast<long>(0x1000 * t + round);
                    window.writeLong(0, value);
                    if (window.readLong(0) != value)
                        ++failures;
                } catch (const std::exception&) {
                    ++failures;
                }
            }
        });
    for (std::thread& thread : running)
        thread.join();
    EXPECT_EQ(0u, failures.load());
    EXPECT_EQ(0u, pc.mappings());
    for (unsigned t = 0; t < threads; ++t)
        EXPECT_EQ(rounds - 1, pc.byteAt(boardMemory + 0x800 * t + 0x70)) << "thread " << t;
}

#endif
