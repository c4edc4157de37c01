// The simulated service manager and tavex.sys driver, spoken to directly
// through the Platform interface, and the scoped installation helpers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "tavex/platform/OSInterface.h"
#include "tavex/platform/PhysicalMemory.h"
#include "tavex/sim/Machine.h"

using Tavex::OSInterface;
using Tavex::PhysicalMemory;
using Tavex::Platform;
using Tavex::Sim::Machine;
using Tavex::Sim::Region;
using Tavex::Sim::ScopedInstall;
using Tavex::Sim::ScopedMachine;

namespace {

const unsigned long genericRead = 0x80000000UL;
const unsigned long genericWrite = 0x40000000UL;
const char deviceName[] = "\\\\.\\tavex";
const unsigned long pointerSize = sizeof(void*);
const unsigned long wrongPointerSize = sizeof(void*) == 8 ? 4 : 8;

// Starts the service and opens the device as the library does.
Platform::Handle openDevice(Machine& machine) {
    Platform::Handle manager = machine.openSCManager(genericRead);
    Platform::Handle service = machine.openService(manager, "tavex", 0x10);
    machine.startService(service);
    machine.closeServiceHandle(service);
    machine.closeServiceHandle(manager);
    return machine.createFile(deviceName, genericRead | genericWrite);
}

struct MapRequest {
    std::uint32_t words[4];
};

}  // namespace

TEST(SimulatedDriver, ServiceAndDeviceOpenOnlyAsTheDriverWould) {
    Machine machine;
    EXPECT_EQ(Platform::invalidHandle(), machine.createFile(deviceName, genericRead | genericWrite))
        << "no device before the service runs";

    Platform::Handle manager = machine.openSCManager(genericRead);
    ASSERT_NE(nullptr, manager);
    EXPECT_EQ(nullptr, machine.openService(manager, "tavex2", 0x10));
    EXPECT_EQ(nullptr, machine.openService(reinterpret_cast<Platform::Handle>(0x7), "tavex", 0x10));
    Platform::Handle service = machine.openService(manager, "tavex", 0x10);
    ASSERT_NE(nullptr, service);
    EXPECT_EQ(2u, machine.openHandles());
    EXPECT_TRUE(machine.startService(service));
    EXPECT_FALSE(machine.startService(service)) << "a running service does not start again";
    EXPECT_TRUE(machine.serviceRunning());
    EXPECT_TRUE(machine.closeServiceHandle(service));
    EXPECT_TRUE(machine.closeServiceHandle(manager));
    EXPECT_FALSE(machine.closeServiceHandle(manager)) << "already closed";
    EXPECT_EQ(0u, machine.openHandles());

    EXPECT_EQ(Platform::invalidHandle(), machine.createFile("\\\\.\\tavex2", genericRead | genericWrite));
    EXPECT_EQ(Platform::invalidHandle(), machine.createFile(deviceName, genericRead));
    Platform::Handle device = machine.createFile(deviceName, genericRead | genericWrite);
    ASSERT_NE(Platform::invalidHandle(), device);
    EXPECT_EQ(1u, machine.deviceOpens());
    EXPECT_EQ(1u, machine.openHandles());
    EXPECT_FALSE(machine.closeServiceHandle(device)) << "a device is no service handle";
    EXPECT_TRUE(machine.closeHandle(device));
    EXPECT_EQ(0u, machine.openHandles());
    EXPECT_EQ(1u, machine.managerOpens());
    EXPECT_EQ(1u, machine.serviceOpens());
    EXPECT_EQ(2u, machine.serviceStarts());
}

TEST(SimulatedDriver, RefusesRequestsOfTheWrongShape) {
    Machine machine;
    Region& region = machine.addRegion(0, 0xC0000, 0x810, "adapter RAM");
    Platform::Handle device = openDevice(machine);
    ASSERT_NE(Platform::invalidHandle(), device);

    const MapRequest good = {{0xC0000, 0, 0x810, 0}};
    const MapRequest highAddress = {{0xC0000, 1, 0x810, 0}};
    const MapRequest noLength = {{0xC0000, 0, 0, 0}};
    void* window = 0;
    unsigned long returned = 99;
    const struct {
        const char* what;
        Platform::Handle handle;
        unsigned long code;
        const void* in;
        unsigned long inSize;
        void* out;
        unsigned long outSize;
    } refused[] = {
        {"request of 12 bytes", device, 0x80002000UL, &good, 12, &window, pointerSize},
        {"request of 20 bytes", device, 0x80002000UL, &good, 20, &window, pointerSize},
        {"no request", device, 0x80002000UL, 0, 16, &window, pointerSize},
        {"reply of the other width", device, 0x80002000UL, &good, 16, &window, wrongPointerSize},
        {"no reply buffer", device, 0x80002000UL, &good, 16, 0, pointerSize},
        {"address above 4 GiB", device, 0x80002000UL, &highAddress, 16, &window, pointerSize},
        {"empty window", device, 0x80002000UL, &noLength, 16, &window, pointerSize},
        {"not the device", reinterpret_cast<Platform::Handle>(0x10), 0x80002000UL, &good, 16,
         &window, pointerSize},
        {"unknown control code", device, 0x80002008UL, &good, 16, &window, pointerSize},
    };
    for (const auto& r : refused) {
        returned = 99;
        EXPECT_FALSE(machine.deviceIoControl(r.handle, r.code, r.in, r.inSize, r.out, r.outSize,
                                             returned))
            << r.what;
        EXPECT_EQ(0u, returned) << r.what;
        EXPECT_EQ(0u, machine.liveMappings()) << r.what;
    }

    ASSERT_TRUE(machine.deviceIoControl(device, 0x80002000UL, &good, 16, &window, pointerSize,
                                        returned));
    EXPECT_EQ(pointerSize, returned);
    EXPECT_EQ(static_cast<void*>(region.data()), window);
    EXPECT_EQ(1u, machine.liveMappings());

    void* unknown = region.data() + 1;
    const struct {
        const char* what;
        const void* in;
        unsigned long inSize;
        unsigned long outSize;
    } refusedUnmaps[] = {
        {"address of the other width", &window, wrongPointerSize, 0},
        {"an output buffer", &window, pointerSize, 4},
        {"no address", 0, pointerSize, 0},
        {"an address never mapped", &unknown, pointerSize, 0},
    };
    std::uint32_t out = 0;
    for (const auto& r : refusedUnmaps) {
        EXPECT_FALSE(machine.deviceIoControl(device, 0x80002004UL, r.in, r.inSize,
                                             r.outSize ? &out : 0, r.outSize, returned))
            << r.what;
        EXPECT_EQ(1u, machine.liveMappings()) << r.what;
    }
    EXPECT_TRUE(machine.deviceIoControl(device, 0x80002004UL, &window, pointerSize, 0, 0, returned));
    EXPECT_EQ(0u, machine.liveMappings());
    EXPECT_FALSE(machine.deviceIoControl(device, 0x80002004UL, &window, pointerSize, 0, 0, returned))
        << "released twice";
    EXPECT_EQ(1u + sizeof refused / sizeof refused[0] - 2, machine.mapRequests())
        << "every map request on the device is counted";
    machine.closeHandle(device);
}

TEST(SimulatedDriver, SameRangeMappedTwiceIsReleasedOnceEach) {
    ScopedMachine machine;
    machine.addRegion(0, 0xC0000, 0x100, "ram");
    {
        PhysicalMemory a(0xC0000, 0x100, true);
        PhysicalMemory b(0xC0000, 0x100, true);
        EXPECT_EQ(2u, machine.liveMappings());
    }
    EXPECT_EQ(0u, machine.liveMappings());
    EXPECT_EQ(2u, machine.unmapRequests());
}

TEST(ScopedInstall, PutsBackThePreviousPlatformAndClosesTheOldLink) {
    ASSERT_EQ(nullptr, Platform::install(0)) << "a platform was left installed";
    ScopedMachine outer;
    EXPECT_EQ(&outer, &Platform::current());
    { PhysicalMemory window(0xC0000, 0x10, true); }
    EXPECT_EQ(1u, outer.openHandles());
    {
        Machine inner;
        ScopedInstall installed(inner);
        EXPECT_EQ(&inner, &Platform::current());
        EXPECT_EQ(0u, outer.openHandles()) << "the old link is closed on its own machine";
        { PhysicalMemory window(0xC0000, 0x10, true); }
        EXPECT_EQ(1u, inner.deviceOpens());
        EXPECT_EQ(1u, inner.openHandles());
        {
            ScopedMachine innermost;
            EXPECT_EQ(&innermost, &Platform::current());
            EXPECT_EQ(0u, inner.openHandles());
        }
        EXPECT_EQ(&inner, &Platform::current());
    }
    EXPECT_EQ(&outer, &Platform::current());
    { PhysicalMemory window(0xC0000, 0x10, true); }
    EXPECT_EQ(2u, outer.deviceOpens()) << "a new link on the machine put back";
}

TEST(ScopedInstall, MachineDestroyedWhileInstalledUninstallsItself) {
    {
        Machine machine;
        Platform::install(&machine);
        { PhysicalMemory window(0xC0000, 0x10, true); }
    }
    EXPECT_EQ(nullptr, Platform::install(0));
}
