// The Linux backend maps /dev/mem only where /proc/iomem lists no memory of
// the kernel or the firmware: the list read from texts as the kernel writes
// it, and, where this process may map /dev/mem, a request over RAM refused
// end to end.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "../../src/platform/native/SystemRam.h"
#include "support/ExpectThrow.h"
#include "tavex/platform/PhysicalMemory.h"
#include "tavex/platform/Platform.h"

#if defined(__linux__)
#include <fcntl.h>
#include <unistd.h>
#endif

using Tavex::PhysicalMemory;
using Tavex::Platform;
using Tavex::detail::SystemRam;

namespace {

// A PC as current kernels describe it: the first page reserved, RAM below
// 640 KiB and above 1 MiB with the kernel nested in it, adapter ROMs, PCI
// windows, RAM above 4 GiB.
const char* const currentPc =
    "00000000-00000fff : Reserved\n"
    "00001000-0009fbff : System RAM\n"
    "0009fc00-0009ffff : Reserved\n"
    "000a0000-000bffff : PCI Bus 0000:00\n"
    "000c0000-000c95ff : Video ROM\n"
    "000f0000-000fffff : Reserved\n"
    "  000f0000-000fffff : System ROM\n"
    "00100000-bfffffff : System RAM\n"
    "  01000000-0225b13f : Kernel code\n"
    "  02e00000-0307a57f : Kernel data\n"
    "c0000000-febfffff : PCI Bus 0000:00\n"
    "  febf0000-febf0fff : 0000:00:03.0\n"
    "fec00000-fec003ff : IOAPIC 0\n"
    "100000000-23fffffff : System RAM\n";

// An older kernel: the first page is part of the low RAM, and RAM given to
// the kernel later shows up nested under another resource.
const char* const olderPc =
    "00000000-0009fbff : System RAM\r\n"
    "0009fc00-0009ffff : reserved\r\n"
    "000c0000-000c7fff : Video ROM\r\n"
    "00100000-3fffffff : System RAM\r\n"
    "40000000-4fffffff : Persistent Memory\r\n"
    "  40000000-47ffffff : System RAM (kmem)\r\n";

// RAM ranges that end one byte into a page and start on a page's last byte.
const char* const oddEdges =
    "00000000-00000fff : Reserved\n"
    "00001000-00020000 : System RAM\n"
    "00030fff-0003ffff : System RAM\n";

// RAM that is not handed to the kernel as such, and the firmware's ranges:
// reserved across the adapter area and beyond it, ACPI data above 1 MiB.
const char* const firmwareRanges =
    "00000000-00000fff : Reserved\n"
    "00001000-0009efff : System RAM\n"
    "0009f000-000fffff : Reserved\n"
    "  000c0000-000c7fff : Video ROM\n"
    "00100000-0fffffff : System RAM\n"
    "10000000-10ffffff : ACPI Tables\n"
    "11000000-11ffffff : ACPI Non-volatile Storage\n"
    "12000000-12ffffff : Soft Reserved\n"
    "13000000-13ffffff : Persistent Memory (legacy)\n"
    "c0000000-febfffff : PCI Bus 0000:00\n"
    "  e0000000-efffffff : PCI MMCONFIG 0000 [bus 00-ff]\n"
    "    e0000000-efffffff : Reserved\n"
    "  febf0000-febf0fff : 0000:00:03.0\n"
    "fed00000-fed003ff : reserved\n"
    "fee00000-fee00fff : Local APIC\n";

// What a reader without CAP_SYS_ADMIN gets.
const char* const unprivileged =
    "00000000-00000000 : Reserved\n"
    "00000000-00000000 : System RAM\n"
    "00000000-00000000 : Video ROM\n"
    "00000000-00000000 : System RAM\n"
    "  00000000-00000000 : Kernel code\n";

const std::uint64_t page = 0x1000;
const char* const mapRefused = "OS Interface: can not get pointer to physical memory block.";

}  // namespace

TEST(SystemRam, MappingsAllowedOnlyAwayFromSystemRam) {
    const struct {
        const char* text;
        std::uint64_t address;
        std::uint64_t length;
        bool allowed;
        const char* what;
    } cases[] = {
        {currentPc, 0x400, 0x11C, true, "BIOS data area with the LPT table"},
        {currentPc, 0x0, 0x1000, true, "the whole reserved first page"},
        {currentPc, 0xFF0, 0x20, false, "straddles into the low RAM"},
        {currentPc, 0x1000, 1, false, "first byte of the low RAM"},
        {currentPc, 0x9FC00, 0x400, false, "shares its page with the end of the low RAM"},
        {currentPc, 0xC0000, 0x4000, true, "adapter ROM"},
        {currentPc, 0xD0000, 0x4000, true, "adapter RAM of an ISA board"},
        {currentPc, 0xFF000, 0x1000, true, "ends on the last byte below RAM"},
        {currentPc, 0xFF000, 0x1001, false, "one byte into the RAM above 1 MiB"},
        {currentPc, 0xC0000000, 0x1000, true, "first page after the RAM below 4 GiB"},
        {currentPc, 0xFEBF0000, 0x80, true, "a small PCI memory BAR"},
        {currentPc, 0x180000000ULL, 0x1000, false, "RAM above 4 GiB"},
        {currentPc, 0xFFFFFFFFFFFFF000ULL, 0x2000, false, "wraps past the top"},
        {olderPc, 0x400, 0x11C, true, "BIOS data area in a first page listed as RAM"},
        {olderPc, 0x800, 0x1000, false, "beyond the first page into RAM"},
        {olderPc, 0x44000000, 0x1000, false, "System RAM (kmem) nested under another entry"},
        {olderPc, 0x48000000, 0x1000, false, "persistent memory beside the kmem RAM"},
        {oddEdges, 0x20800, 0x10, false, "its page holds the last byte of RAM"},
        {oddEdges, 0x30000, 0xFF, false, "its page holds the first byte of RAM"},
        {oddEdges, 0x21000, 0xF000, true, "the pages between the two"},
        {firmwareRanges, 0x400, 0x11C, true, "BIOS data area in a reserved first page"},
        {firmwareRanges, 0x9E000, 0x1000, false, "last page of the low RAM"},
        {firmwareRanges, 0x9F000, 0x1000, false, "reserved just below the adapter area"},
        {firmwareRanges, 0x9F000, 0x2000, false, "reserved, half below the adapter area"},
        {firmwareRanges, 0xA0000, 0x20000, true, "reserved inside the adapter area"},
        {firmwareRanges, 0xD0000, 0x30000, true, "adapter area up to its last byte"},
        {firmwareRanges, 0xFF000, 0x1001, false, "from the adapter area into RAM"},
        {firmwareRanges, 0x10000800, 0x100, false, "ACPI tables"},
        {firmwareRanges, 0x11FFF000, 0x1000, false, "ACPI non-volatile storage"},
        {firmwareRanges, 0x12000000, 0x1000, false, "soft reserved"},
        {firmwareRanges, 0x13FFF000, 0x1000, false, "persistent memory with a note"},
        {firmwareRanges, 0x14000000, 0x1000, true, "first page after them"},
        {firmwareRanges, 0xE0000000, 0x1000, false, "configuration space reserved, nested"},
        {firmwareRanges, 0xFEBF0000, 0x1000, true, "a PCI memory BAR"},
        {firmwareRanges, 0xFED00000, 0x400, false, "reserved in lower case"},
        {firmwareRanges, 0xFEE00000, 0x1000, true, "named by its device, not reserved"},
        {"000c0000-000c7fff : Video ROM\n000d0000-000d3fff : Adapter RAM\n", 0xD0000, 0x4000,
         false, "addresses shown but no System RAM listed"},
        {unprivileged, 0x400, 0x11C, false, "addresses hidden: BIOS data area"},
        {unprivileged, 0xC0000, 0x4000, false, "addresses hidden: adapter ROM"},
        {"", 0xC0000, 0x4000, false, "empty list"},
        {"000c0000-000c7fff : Video ROM\ngarbage\n", 0xC0000, 0x4000, false, "unreadable line"},
        {"000c0000-000b7fff : Video ROM\n", 0xC0000, 0x4000, false, "range ends before it starts"},
        {"0000000000000000c0000-000c7fff : Video ROM\n", 0xC0000, 0x4000, false,
         "address wider than 64 bits"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.allowed, SystemRam::fromIomem(c.text).allowsMapping(c.address, c.length, page))
            << c.what;
}

#if defined(__linux__)
namespace {

// The first System RAM range above 1 MiB that this process can see, or 0.
std::uint64_t systemRamAboveOneMiB() {
    std::ifstream iomem("/proc/iomem");
    for (std::string line; std::getline(iomem, line);) {
        unsigned long long first = 0, last = 0;
        char name[64] = "";
        if (std::sscanf(line.c_str(), " %llx-%llx : %63[^\n]", &first, &last, name) == 3 &&
            std::string(name) == "System RAM" && first >= 0x100000 && last > first)
            return first;
    }
    return 0;
}

unsigned devMemMappings() {
    std::ifstream maps("/proc/self/maps");
    unsigned count = 0;
    for (std::string line; std::getline(maps, line);)
        count += line.find("/dev/mem") != std::string::npos;
    return count;
}

}  // namespace
#endif

// On a machine whose /dev/mem this process may map: a window over System RAM
// fails with the library's own mapping text and the reason after it, and
// leaves nothing mapped, while the BIOS data area still maps.
TEST(SystemRam, LinuxBackendRefusesSystemRam) {
#if !defined(__linux__)
    GTEST_SKIP() << "not a Linux build";
#else
    const int fd = ::open("/dev/mem", O_RDWR | O_SYNC);
    if (fd < 0)
        GTEST_SKIP() << "/dev/mem cannot be opened by this process on this machine";
    ::close(fd);
    const std::uint64_t ram = systemRamAboveOneMiB();
    if (ram == 0)
        GTEST_SKIP() << "/proc/iomem shows this process no System RAM above 1 MiB";
    Platform::install(0);
    const unsigned before = devMemMappings();
    // The library's text, then the range that the window would cover.
    const std::string text = std::string(mapRefused) + " (pages ";
    EXPECT_TRUE(throwsStartingWith<std::runtime_error>(
        [&] { PhysicalMemory window(static_cast<unsigned long>(ram), 0x100, false); },
        text.c_str()));
    EXPECT_EQ(before, devMemMappings());
    {
        PhysicalMemory biosDataArea(0x400, 0x11C, false);
        EXPECT_EQ(before + 1, devMemMappings());
    }
    Platform::install(0);
#endif
}
