// The native Windows backend in a process that has neither port rights nor
// the tavex service, as under Wine or on a PC without the driver: each
// refusal is a clean exception and the program goes on.  On a machine that
// grants port I/O or has the service installed the tests say why they did
// not run.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "support/ExpectThrow.h"
#include "tavex/platform/IOPort.h"
#include "tavex/platform/OSInterface.h"
#include "tavex/platform/PhysicalMemory.h"
#include "tavex/platform/Platform.h"
#include "tavex/sim/Machine.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

using Tavex::IOPort;
using Tavex::OSInterface;
using Tavex::PhysicalMemory;
using Tavex::Platform;

namespace {

#if defined(_WIN32)
const char* const noPortRights =
    "Tavex: port I/O is not permitted for this process (in/out refused; install the tavex.sys "
    "driver or run on a platform that grants port I/O).";
// The library's text, then the system's reason: the service does not exist.
const char* const noDriver =
    "OS Interface: tavex.sys driver possibly not installed (error 1060";

// The POST diagnostic port: reading or writing it disturbs nothing, should
// this process hold port rights after all.
const unsigned harmlessPort = 0x80;

bool serviceInstalled() {
    SC_HANDLE manager = OpenSCManagerA(0, 0, GENERIC_READ);
    if (manager == 0)
        return false;
    SC_HANDLE service = OpenServiceA(manager, "tavex", SERVICE_QUERY_STATUS);
    if (service != 0)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != 0;
}
#endif

}  // namespace

// Every width of read and write is refused with the same text, and keeps
// being refused the second time round without ending the process; a
// simulated machine installed afterwards still serves its ports.
TEST(NativeWindows, PortAccessWithoutPortRightsThrows) {
#if !defined(_WIN32)
    GTEST_SKIP() << "not a Windows build";
#else
    Platform::install(0);
    IOPort port(harmlessPort, false);
    try {
        port.readChar();
        GTEST_SKIP() << "this process holds port I/O rights";
    } catch (const std::runtime_error&) {
    }

    const struct {
        const char* name;
        std::function<void()> access;
    } accesses[] = {
        {"readChar", [&] { port.readChar(); }},
        {"readShort", [&] { port.readShort(); }},
        {"readLong", [&] { port.readLong(); }},
        {"writeChar", [&] { port.writeChar(0x5A); }},
        {"writeShort", [&] { port.writeShort(0x1234); }},
        {"writeLong", [&] { port.writeLong(0x12345678L); }},
    };
    for (int round = 1; round <= 2; ++round)
        for (const auto& a : accesses)
            EXPECT_TRUE(throwsExactly<std::runtime_error>(a.access, noPortRights))
                << a.name << ", round " << round;

    {
        Tavex::Sim::ScopedMachine machine;
        EXPECT_EQ(static_cast<char>(0xFF), port.readChar());
        EXPECT_EQ(1u, machine.portTrace().size());
    }
    TAVEX_EXPECT_THROW_TEXT(port.readChar(), std::runtime_error, noPortRights);
#endif
}

// Without the service the driver link fails with the driver text and the
// system's reason before it maps anything, and the next attempt asks the
// service manager again instead of keeping a broken link.
TEST(NativeWindows, DriverLinkWithoutServiceFailsEachTime) {
#if !defined(_WIN32)
    GTEST_SKIP() << "not a Windows build";
#else
    if (serviceInstalled())
        GTEST_SKIP() << "the tavex service is installed on this machine";
    Platform::install(0);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        EXPECT_TRUE(throwsStartingWith<std::runtime_error>(
            [] { PhysicalMemory window(0x400, 0x11C, false); }, noDriver))
            << "attempt " << attempt;
        EXPECT_TRUE(throwsStartingWith<std::runtime_error>([] { OSInterface::osinterface(); },
                                                          noDriver))
            << "attempt " << attempt;
    }
    Platform::install(0);
#endif
}
