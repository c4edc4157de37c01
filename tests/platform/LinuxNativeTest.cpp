// The native Linux backend, where this machine lets the process map
// physical memory through /dev/mem (root, on a kernel that has it).
// Elsewhere the tests say why they did not run.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

#include "support/AllocationCounter.h"
#include "support/ExpectThrow.h"
#include "tavex/platform/PhysicalMemory.h"
#include "tavex/platform/Platform.h"

#if defined(__linux__)
#include <fcntl.h>
#include <unistd.h>
#endif

using Tavex::PhysicalMemory;
using Tavex::Platform;

namespace {

#if defined(__linux__)
// Mappings of /dev/mem that the process holds now.
unsigned devMemMappings() {
    std::ifstream maps("/proc/self/maps");
    unsigned count = 0;
    for (std::string line; std::getline(maps, line);)
        count += line.find("/dev/mem") != std::string::npos;
    return count;
}

bool devMemUsable() {
    const int fd = ::open("/dev/mem", O_RDWR | O_SYNC);
    if (fd < 0)
        return false;
    ::close(fd);
    try {
        PhysicalMemory biosDataArea(0x400, 0x100, false);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}
#endif

}  // namespace

// The map succeeded in the kernel but the backend could not record it: the
// window is released at once instead of staying mapped for good.
TEST(LinuxNative, MappingThatCannotBeRecordedIsReleased) {
#if !defined(__linux__)
    GTEST_SKIP() << "not a Linux build";
#else
    Platform::install(0);
    if (!devMemUsable()) {
        Platform::install(0);
        GTEST_SKIP() << "/dev/mem cannot be mapped by this process on this machine";
    }
    const unsigned before = devMemMappings();
    // The record of the mapping is the last allocation of a map.
    const AllocationCounter::Window counted;
    { PhysicalMemory window(0x400, 0x100, false); }
    const std::size_t perMap = counted.allocated();
    ASSERT_GT(perMap, 0u);
    const std::string text = "OS Interface: can not get pointer to physical memory block. "
                             "(no memory left to record the mapping)";
    const std::function<void()> map = [perMap] {
        AllocationCounter::failAllocation(perMap);
        PhysicalMemory window(0x400, 0x100, false);
    };
    EXPECT_TRUE(throwsExactly<std::runtime_error>(map, text));
    AllocationCounter::failAllocation(0);
    EXPECT_EQ(before, devMemMappings());
    {
        PhysicalMemory window(0x400, 0x100, false);
        EXPECT_EQ(before + 1, devMemMappings());
    }
    EXPECT_EQ(before, devMemMappings());
    Platform::install(0);   // closes /dev/mem
#endif
}
