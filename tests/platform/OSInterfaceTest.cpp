// OSInterface on the simulated machine: the driver link is built once, a
// failed build is retried from the start, every failure leaves nothing open
// or mapped, sleeps are whole milliseconds, and the 9x path needs no driver.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/ExpectThrow.h"
#include "tavex/platform/OSInterface.h"
#include "tavex/platform/PhysicalMemory.h"
#include "tavex/sim/Machine.h"

using Tavex::OSInterface;
using Tavex::PhysicalMemory;
using Tavex::Sim::Machine;
using Tavex::Sim::ScopedMachine;

namespace {

const unsigned long ramAddress = 0xD0000;
const unsigned long ramSize = 0x1000;

class OSInterfaceTest : public ::testing::Test {
protected:
    OSInterfaceTest() { machine.addRegion(0, ramAddress, ramSize, "test RAM"); }
    ScopedMachine machine;
};

}  // namespace

TEST_F(OSInterfaceTest, DriverLinkIsBuiltOnceForManyWindows) {
    {
        PhysicalMemory first(ramAddress, 0x10, true);
        PhysicalMemory second(ramAddress + 0x100, 0x20, false);
        OSInterface& a = OSInterface::osinterface();
        OSInterface& b = OSInterface::osinterface();
        EXPECT_EQ(&a, &b);
        EXPECT_TRUE(a.isUnderNt());
        EXPECT_EQ(2u, machine.liveMappings());
    }
    PhysicalMemory third(ramAddress, ramSize, true);

    EXPECT_EQ(1u, machine.managerOpens());
    EXPECT_EQ(1u, machine.serviceOpens());
    EXPECT_EQ(1u, machine.serviceStarts());
    EXPECT_EQ(1u, machine.deviceOpens());
    EXPECT_EQ(1u, machine.openHandles()) << "only the device stays open";
    EXPECT_EQ(3u, machine.mapRequests());
    EXPECT_EQ(2u, machine.unmapRequests());
    EXPECT_EQ(1u, machine.liveMappings());
    EXPECT_TRUE(machine.serviceRunning());
}

TEST(OSInterfaceFailures, EachFailedBuildLeavesNothingOpenAndIsRetried) {
    const struct {
        const char* situation;
        bool Machine::Faults::*knob;
        const char* text;
        unsigned managerOpens;   // per attempt
        unsigned serviceOpens;
        unsigned serviceStarts;
    } rows[] = {
        {"no service manager", &Machine::Faults::noServiceManager,
         "OS Interface: failed to open service manager.", 0, 0, 0},
        {"service missing", &Machine::Faults::serviceMissing,
         "OS Interface: tavex.sys driver possibly not installed", 1, 0, 0},
        {"device refuses", &Machine::Faults::deviceRefuses,
         "OS Interface: can not open tavex.sys driver.", 1, 1, 1},
        {"driver never loads", &Machine::Faults::driverNotLoaded,
         "OS Interface: can not open tavex.sys driver.", 1, 1, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.situation);
        ScopedMachine machine;
        machine.faults().*row.knob = true;

        // Every attempt fails the same way, from the start.
        for (unsigned attempt = 1; attempt <= 2; ++attempt) {
            TAVEX_EXPECT_THROW_TEXT(PhysicalMemory(ramAddress, 0x10, true), std::runtime_error,
                                    row.text);
            EXPECT_EQ(row.managerOpens * attempt, machine.managerOpens());
            EXPECT_EQ(row.serviceOpens * attempt, machine.serviceOpens());
            EXPECT_EQ(row.serviceStarts * attempt, machine.serviceStarts());
            EXPECT_EQ(0u, machine.openHandles()) << "handles left open";
            EXPECT_EQ(0u, machine.deviceOpens());
            EXPECT_EQ(0u, machine.mapRequests());
            EXPECT_EQ(0u, machine.liveMappings());
        }
        TAVEX_EXPECT_THROW_TEXT(OSInterface::osinterface(), std::runtime_error, row.text);

        // Once the fault is gone the next window is mapped.
        machine.faults().*row.knob = false;
        const unsigned managerOpensBefore = machine.managerOpens();
        {
            PhysicalMemory window(ramAddress, 0x10, true);
            EXPECT_EQ(1u, machine.liveMappings());
            EXPECT_EQ(1u, machine.deviceOpens());
            EXPECT_EQ(managerOpensBefore + 1, machine.managerOpens());
        }
        EXPECT_EQ(0u, machine.liveMappings());
        EXPECT_EQ(1u, machine.openHandles());
    }
}

TEST(OSInterfaceFailures, ServiceStartResultDoesNotMatter) {
    const struct {
        const char* situation;
        bool startFails;
        bool alreadyRunning;
    } rows[] = {
        {"start refused", true, false},
        {"service already running", false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.situation);
        ScopedMachine machine;
        machine.faults().startFails = row.startFails;
        machine.setServiceRunning(row.alreadyRunning);
        PhysicalMemory window(ramAddress, 0x10, true);
        EXPECT_EQ(1u, machine.serviceStarts()) << "the service is started every time";
        EXPECT_EQ(1u, machine.deviceOpens());
        EXPECT_EQ(1u, machine.liveMappings());
        EXPECT_EQ(1u, machine.openHandles());
    }
}

TEST_F(OSInterfaceTest, RefusedMapLeavesTheLinkAsItWas) {
    // Refused on the very first window: the link itself was built and stays.
    machine.faults().mapRefused = true;
    TAVEX_EXPECT_THROW_TEXT(PhysicalMemory(ramAddress, 0x10, true), std::runtime_error,
                            "OS Interface: can not get pointer to physical memory block.");
    EXPECT_EQ(1u, machine.deviceOpens());
    EXPECT_EQ(0u, machine.liveMappings());

    machine.faults().mapRefused = false;
    PhysicalMemory kept(ramAddress, 0x10, true);
    machine.faults().mapRefused = true;
    TAVEX_EXPECT_THROW_TEXT(PhysicalMemory(ramAddress + 0x20, 0x10, true), std::runtime_error,
                            "OS Interface: can not get pointer to physical memory block.");
    EXPECT_EQ(1u, machine.liveMappings());
    EXPECT_EQ(0u, machine.unmapRequests()) << "nothing to release after a refused map";

    machine.faults().mapRefused = false;
    { PhysicalMemory again(ramAddress + 0x20, 0x10, true); }
    EXPECT_EQ(1u, machine.deviceOpens());
    EXPECT_EQ(1u, machine.managerOpens());
    EXPECT_EQ(1u, machine.liveMappings());
}

TEST_F(OSInterfaceTest, RefusedUnmapReachesTheCallerOfTheDestructor) {
    TAVEX_EXPECT_THROW_TEXT(
        {
            PhysicalMemory window(ramAddress, 0x10, true);
            machine.faults().unmapRefused = true;
        },
        std::runtime_error, "OS Interface: can not release physical memory block.");
    EXPECT_EQ(1u, machine.unmapRequests());

    // While another exception unwinds, the unmap error is swallowed and the
    // first exception reaches the caller.
    TAVEX_EXPECT_THROW_TEXT(
        {
            PhysicalMemory window(ramAddress + 0x10, 0x10, true);
            throw std::logic_error("the card's own error");
        },
        std::logic_error, "the card's own error");
    EXPECT_EQ(2u, machine.unmapRequests());

    // The link is unchanged: the next window maps and unmaps normally.
    machine.faults().unmapRefused = false;
    const unsigned before = machine.liveMappings();
    { PhysicalMemory window(ramAddress + 0x20, 0x10, true); }
    EXPECT_EQ(before, machine.liveMappings());
    EXPECT_EQ(1u, machine.deviceOpens());
}

TEST_F(OSInterfaceTest, SleepServesWholeMilliseconds) {
    const struct {
        unsigned long microseconds;
        unsigned long milliseconds;
    } rows[] = {
        {0, 0},         {999, 0},         {1000, 1},     {1999, 1},     {10000, 10},
        {20000, 20},    {30000, 30},      {100000, 100}, {2000000, 2000}, {2000999, 2000},
    };
    std::vector<unsigned long> expected;
    unsigned long total = 0;
    for (const auto& row : rows) {
        OSInterface::sleep(row.microseconds);
        expected.push_back(row.milliseconds);
        total += row.milliseconds;
        EXPECT_EQ(total, machine.now()) << row.microseconds << " us";
    }
    EXPECT_EQ(expected, machine.sleeps());
    // A delay needs no driver: nothing of the link was touched.
    EXPECT_EQ(0u, machine.managerOpens());
    EXPECT_EQ(0u, machine.openHandles());
}

TEST_F(OSInterfaceTest, Windows9xMapsThroughDpmiWithoutTheDriver) {
    machine.setPlatformId(Machine::PlatformWin32Windows);
    machine.addRegion(0, 0xC8000, 0x100, "9x RAM").write32(0x10, 0x11223344u);
    {
        PhysicalMemory window(0xC8000, 0x100, true);
        EXPECT_FALSE(OSInterface::osinterface().isUnderNt());
        EXPECT_EQ(0x11223344L, window.readLong(0x10));
        EXPECT_EQ(1u, machine.dpmiMappings());
    }
    // Never released, and nothing of the service manager or the driver used.
    EXPECT_EQ(1u, machine.dpmiMappings());
    EXPECT_EQ(0u, machine.managerOpens());
    EXPECT_EQ(0u, machine.serviceOpens());
    EXPECT_EQ(0u, machine.serviceStarts());
    EXPECT_EQ(0u, machine.deviceOpens());
    EXPECT_EQ(0u, machine.mapRequests());
    EXPECT_EQ(0u, machine.unmapRequests());
    EXPECT_EQ(0u, machine.openHandles());
    EXPECT_EQ(0u, machine.liveMappings());
    EXPECT_FALSE(machine.serviceRunning());
}

// The 9x mapping service answers a refusal with no address at all; the
// window reports it instead of handing a null window to its card.
TEST_F(OSInterfaceTest, Windows9xRefusedMappingIsReportedByTheWindow) {
    machine.setPlatformId(Machine::PlatformWin32Windows);
    machine.faults().dpmiRefuses = true;
    // The faults of the NT path must not matter either.
    machine.faults().serviceMissing = true;
    machine.faults().mapRefused = true;
    machine.faults().unmapRefused = true;
    TAVEX_EXPECT_THROW_TEXT(PhysicalMemory(ramAddress, 0x10, true), std::runtime_error,
                            "OS Interface: can not get pointer to physical memory block.");
    EXPECT_EQ(0u, machine.dpmiMappings());
    EXPECT_EQ(0u, machine.unmapRequests());
    EXPECT_EQ(0u, machine.managerOpens());

    machine.faults().dpmiRefuses = false;
    EXPECT_NO_THROW({ PhysicalMemory window(ramAddress, 0x10, true); });
    EXPECT_EQ(1u, machine.dpmiMappings());
    EXPECT_EQ(0u, machine.unmapRequests());
}

namespace {

// A machine whose system explains its failures, as a native one does.
class ExplainingMachine : public ScopedMachine {
public:
    std::string lastErrorText() override {
        ++asked;
        return "the system's reason";
    }
    unsigned asked = 0;
};

}  // namespace

// Where the platform gives a reason, it follows the library's own text in
// parentheses; the texts themselves do not change.  A map whose reply is
// malformed, though the call succeeded, has no reason to give.
TEST(OSInterfaceFailures, PlatformReasonFollowsTheText) {
    const struct {
        const char* situation;
        bool Machine::Faults::*knob;
        const char* text;
        unsigned openHandles;   // afterwards: the device, once the link is built
    } rows[] = {
        {"no service manager", &Machine::Faults::noServiceManager,
         "OS Interface: failed to open service manager. (the system's reason)", 0},
        {"service missing", &Machine::Faults::serviceMissing,
         "OS Interface: tavex.sys driver possibly not installed (the system's reason)", 0},
        {"device refuses", &Machine::Faults::deviceRefuses,
         "OS Interface: can not open tavex.sys driver. (the system's reason)", 0},
        {"map refused", &Machine::Faults::mapRefused,
         "OS Interface: can not get pointer to physical memory block. (the system's reason)", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.situation);
        ExplainingMachine machine;
        machine.addRegion(0, ramAddress, ramSize, "test RAM");
        machine.faults().*row.knob = true;
        TAVEX_EXPECT_THROW_TEXT(PhysicalMemory(ramAddress, 0x10, true), std::runtime_error,
                                row.text);
        EXPECT_EQ(1u, machine.asked);
        EXPECT_EQ(row.openHandles, machine.openHandles());
    }

    ExplainingMachine machine;
    machine.addRegion(0, ramAddress, ramSize, "test RAM");
    TAVEX_EXPECT_THROW_TEXT(
        {
            PhysicalMemory window(ramAddress, 0x10, true);
            machine.faults().unmapRefused = true;
        },
        std::runtime_error,
        "OS Interface: can not release physical memory block. (the system's reason)");
    EXPECT_EQ(1u, machine.asked) << "asked only after a failure";
}

// The driver request carries 32 bits of address and of size: where an
// unsigned long is wider, a window above 4 GiB, or one of 4 GiB or more, is
// refused before any request instead of being mapped at the address cut
// to 32 bits.
TEST_F(OSInterfaceTest, WindowBeyondThirtyTwoBitsIsRefused) {
    if (sizeof(unsigned long) < 8)
        GTEST_SKIP() << "unsigned long has 32 bits here";
    const unsigned long beyond = static_cast<unsigned long>(1) << 16 << 16;
    const struct {
        unsigned long address;
        unsigned long size;
    } rows[] = {
        {beyond + ramAddress, 0x10},
        {ramAddress, beyond + 0x10},
    };
    for (const auto& row : rows) {
        TAVEX_EXPECT_THROW_TEXT(PhysicalMemory(row.address, row.size, true), std::runtime_error,
                                "OS Interface: can not get pointer to physical memory block.");
    }
    EXPECT_EQ(0u, machine.mapRequests());
    EXPECT_EQ(0u, machine.liveMappings());
    PhysicalMemory window(ramAddress, 0x10, true);
    EXPECT_EQ(1u, machine.mapRequests());
}
