// The simulated physical address space: regions owned by boards, their
// power-up contents, windows onto them, open bus where nobody answers, and
// guard pages behind every region.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <stdexcept>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#endif

#include "tavex/platform/PhysicalMemory.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/Region.h"

using Tavex::PhysicalMemory;
using Tavex::Sim::Machine;
using Tavex::Sim::Region;
using Tavex::Sim::ScopedMachine;

TEST(MachineRegions, OverlappingRegionsAreRefused) {
    const struct {
        std::uint32_t address;
        std::uint32_t size;
        bool accepted;
    } rows[] = {
        {0xC7000, 0x1000, true},       // just below
        {0xC9000, 0x100, true},        // just above
        {0xC8000, 0x1000, false},      // the same range
        {0xC7800, 0x1000, false},      // over its start
        {0xC8800, 0x1000, false},      // over its end
        {0xC8100, 0x10, false},        // inside
        {0xC7000, 0x3000, false},      // around it
        {0xC8FFF, 1, false},           // its last byte
        {0xD0000, 0, false},           // empty
        {0xFFFFF000u, 0x2000, false},  // beyond 4 GiB
        {0xFFFFF000u, 0x1000, true},   // up to the top of the address space
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << std::hex << row.address << "+" << row.size);
        Machine machine;
        Region& existing = machine.addRegion(0, 0xC8000, 0x1000, "existing");
        if (row.accepted) {
            Region& added = machine.addRegion(0, row.address, row.size, "added");
            EXPECT_EQ(row.address, added.address());
            EXPECT_EQ(row.size, added.size());
            EXPECT_EQ(&added, machine.findRegion(row.address, row.size));
        } else {
            EXPECT_THROW(machine.addRegion(0, row.address, row.size, "added"), std::logic_error);
        }
        EXPECT_EQ(&existing, machine.findRegion(0xC8000, 0x1000));
    }
}

TEST(MachineRegions, FindRegionNeedsTheWholeRange) {
    Machine machine;
    Region& region = machine.addRegion(0, 0xC8000, 0x1000, "r");
    EXPECT_EQ(&region, machine.findRegion(0xC8000));
    EXPECT_EQ(&region, machine.findRegion(0xC8FFF));
    EXPECT_EQ(&region, machine.findRegion(0xC8F00, 0x100));
    EXPECT_EQ(nullptr, machine.findRegion(0xC8F00, 0x101));
    EXPECT_EQ(nullptr, machine.findRegion(0xC7FFF, 2));
    EXPECT_EQ(nullptr, machine.findRegion(0xC9000));
}

TEST(MachineRegions, MemoryStartsWithANonZeroPattern) {
    Machine machine;
    const std::uint32_t sizes[] = {1, 0x11C, 0x810, 0x4000};
    std::uint32_t address = 0xC0000;
    for (std::uint32_t size : sizes) {
        Region& region = machine.addRegion(0, address, size, "ram");
        address += 0x4000;
        std::set<std::uint8_t> values;
        for (std::uint32_t i = 0; i < size; ++i) {
            ASSERT_NE(0, region.data()[i]) << "byte " << i << " of " << size;
            ASSERT_EQ(Region::powerUpByte(i), region.data()[i]);
            values.insert(region.data()[i]);
        }
        if (size > 1) {
            EXPECT_GT(values.size(), 1u) << "a uniform fill is no power-up pattern";
            EXPECT_FALSE(values.size() == 1 && *values.begin() == 0xFF);
        }
    }
    // After a board has written it, the pattern can be put back.
    Region& r = *machine.findRegion(0xC0000);
    r.write8(0, 0);
    r.fillPowerUpPattern();
    EXPECT_EQ(Region::powerUpByte(0), r.read8(0));
}

TEST(MachineRegions, BoardSideAccessorsAreLittleEndianAndChecked) {
    Machine machine;
    Region& region = machine.addRegion(0, 0xD0000, 0x10, "r");
    region.write32(1, 0x11223344u);
    EXPECT_EQ(0x44, region.read8(1));
    EXPECT_EQ(0x11, region.read8(4));
    EXPECT_EQ(0x3344, region.read16(1));
    EXPECT_EQ(0x11223344u, region.read32(1));
    region.write16(0xE, 0xA1B2);
    EXPECT_EQ(0xB2, region.read8(0xE));
    region.fill(4, 3, 0x7E);
    const std::uint8_t expected[] = {0x7E, 0x7E, 0x7E};
    std::uint8_t got[3];
    region.read(4, got, 3);
    EXPECT_EQ(0, std::memcmp(expected, got, 3));

    // A board model that runs off its region is a scene error, not a crash.
    EXPECT_THROW(region.read8(0x10), std::out_of_range);
    EXPECT_THROW(region.read16(0xF), std::out_of_range);
    EXPECT_THROW(region.read32(0xD), std::out_of_range);
    EXPECT_THROW(region.write32(0xD, 0), std::out_of_range);
    EXPECT_THROW(region.write(0x8, got, 9), std::out_of_range);
    EXPECT_THROW(region.fill(0xFFFFFFFFu, 2, 0), std::out_of_range);
    EXPECT_NO_THROW(region.read32(0xC));
}

TEST(MachineWindows, WindowIsTheRegionsMemory) {
    ScopedMachine machine;
    Region& region = machine.addRegion(0, 0xC8000, 0x810, "adapter RAM");
    PhysicalMemory window(0xC8000, 0x810, true);
    EXPECT_TRUE(machine.mappedAt(0xC8000));
    std::vector<std::uint8_t> seen(0x810);
    window.readMemoryBlock(seen.data(), 0x810, 0);
    EXPECT_EQ(0, std::memcmp(seen.data(), region.data(), 0x810));

    window.writeLong(0x800, 0x01020304L);
    EXPECT_EQ(0x01020304u, region.read32(0x800));
    region.write16(0x80E, 0xBEEF);
    EXPECT_EQ(static_cast<short>(0xBEEF), window.readShort(0x80E));
}

TEST(MachineWindows, WindowWhereNoBoardAnswersReadsHigh) {
    ScopedMachine machine;
    machine.addRegion(0, 0xC8000, 0x100, "elsewhere");
    {
        PhysicalMemory window(0xE0000, 0x100, true);
        EXPECT_EQ(1u, machine.liveMappings());
        for (unsigned long i = 0; i < 0x100; ++i)
            ASSERT_EQ(0xFF, static_cast<std::uint8_t>(window.readChar(i))) << "byte " << i;
        EXPECT_EQ(-1L, window.readLong(0xFC));
        EXPECT_EQ(-1, window.readShort(0x7F));
        // A window that runs past the end of a region finds no board either.
        PhysicalMemory straddling(0xC80F0, 0x20, true);
        EXPECT_EQ(0xFF, static_cast<std::uint8_t>(straddling.readChar(0)));
    }
    EXPECT_EQ(0u, machine.liveMappings());
}

namespace {

// The access must end the program as a memory fault, not in any other way.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVEX_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TAVEX_UNDER_ASAN 1
#endif

#if defined(_WIN32)
#define TAVEX_EXPECT_FAULT(statement) EXPECT_DEATH(statement, "")
#elif defined(TAVEX_UNDER_ASAN)
// The address sanitizer catches the fault itself and exits with its report.
#define TAVEX_EXPECT_FAULT(statement) EXPECT_DEATH(statement, "SEGV")
#else
bool killedByMemoryFault(int status) {
    return WIFSIGNALED(status) && (WTERMSIG(status) == SIGSEGV || WTERMSIG(status) == SIGBUS);
}
#define TAVEX_EXPECT_FAULT(statement) EXPECT_EXIT(statement, killedByMemoryFault, "")
#endif

}  // namespace

TEST(MachineWindowsDeathTest, AccessPastTheEndOfAWindowFaults) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::uint32_t sizes[] = {0x810, 0x1000, 0x11C};
    for (std::uint32_t size : sizes) {
        SCOPED_TRACE(size);
        ScopedMachine machine;
        machine.addRegion(0, 0xD0000, size, "guarded");
        PhysicalMemory window(0xD0000, size, true);
        // The last byte and the last long of the window are fine ...
        EXPECT_EQ(static_cast<char>(Region::powerUpByte(size - 1)), window.readChar(size - 1));
        window.writeLong(size - 4, 0);
        // ... one byte further is not.
        TAVEX_EXPECT_FAULT((void)window.readChar(size));
        TAVEX_EXPECT_FAULT((void)window.readLong(size - 2));
        TAVEX_EXPECT_FAULT(window.writeChar(size, 1));
    }
}

// A region whose size is not a multiple of the page starts inside its first
// page, so a small step before it stays on an accessible page; the
// sanitizer is told that those bytes belong to nobody, to its granule of
// eight bytes: the byte just before a region that starts on a granule, the
// one eight bytes before any region.
TEST(MachineWindowsDeathTest, AccessJustBeforeARegionIsCaughtByTheAddressSanitizer) {
#if !defined(TAVEX_UNDER_ASAN) || defined(_WIN32)
    GTEST_SKIP() << "needs the address sanitizer";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::uint32_t sizes[] = {0x810, 0x11C, 0x4001};
    for (std::uint32_t size : sizes) {
        SCOPED_TRACE(size);
        Machine machine;
        Region& region = machine.addRegion(0, 0xD0000, size, "guarded");
        const volatile std::uint8_t* first = region.data();
        EXPECT_EQ(Region::powerUpByte(0), first[0]);
        if (size % 8 == 0) {
            EXPECT_DEATH((void)first[-1], "use-after-poison");
        }
        EXPECT_DEATH((void)first[-8], "use-after-poison");
    }
#endif
}

// An offset far beyond a window must not land in memory that happens to be
// mapped there: where the address space allows, every 32-bit offset from a
// window faults.
TEST(MachineWindowsDeathTest, AccessAtAnyThirtyTwoBitOffsetPastAWindowFaults) {
#if defined(_WIN32) || UINTPTR_MAX <= 0xFFFFFFFFu
    GTEST_SKIP() << "the guard is one page here";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScopedMachine machine;
    machine.addRegion(0, 0xE0000000u, 0x200000, "2 MiB");
    PhysicalMemory window(0xE0000000u, 0x200000, true);
    const unsigned long offsets[] = {0x200000 + 0x1000, 0x320000, 0x10000000, 0xFFFFFFFFul};
    for (unsigned long offset : offsets) {
        SCOPED_TRACE(offset);
        TAVEX_EXPECT_FAULT((void)window.readChar(offset));
        TAVEX_EXPECT_FAULT(window.writeChar(offset, 1));
    }
#endif
}
