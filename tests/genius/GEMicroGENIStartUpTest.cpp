// Bringing a MicroGENI channel up: the reset sequence and the health poll in
// virtual time, the I/O table size, the control register bits, and a window
// that is always released when the constructor gives up.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "support/ExpectThrow.h"
#include "support/TraceText.h"
#include "tavex/genius/GEMicroGENI.h"
#include "tavex/sim/Machine.h"

using Tavex::GEMicroGENI;
using Tavex::Sim::Machine;

namespace {

typedef std::vector<Machine::Event> Trace;

TEST(GEMicroGENIStartUp, NoBoardFitted) {
    // Open bus reads all ones: nothing is healthy, the reset pulse goes
    // nowhere, and the channel gives up after 5000 looks 10 ms apart.
    Tavex::Sim::ScopedMachine machine;
    TAVEX_EXPECT_THROW_TEXT(GEMicroGENI(0x3E0, 0xD0000), std::runtime_error,
                            "GEMicroGENI: board failed to initialize");
    const Trace expected = {
        Machine::portRead(0x3E0, 1, 0xFF),   // communication not OK: board OK is not asked
        Machine::portRead(0x3E1, 1, 0xFF),  Machine::portWrite(0x3E1, 1, 0xFD),
        Machine::portWrite(0x3E1, 1, 0xFF),                                       // clearReset
        Machine::portRead(0x3E1, 1, 0xFF),  Machine::portWrite(0x3E1, 1, 0xBF),  // reset(false)
        Machine::sleepEvent(10),
        Machine::portRead(0x3E1, 1, 0xFF),  Machine::portWrite(0x3E1, 1, 0xFF),  // reset(true)
        Machine::portRead(0x3E1, 1, 0xFF),  Machine::portWrite(0x3E1, 1, 0xFD),
        Machine::portWrite(0x3E1, 1, 0xFF),                                       // clearReset
    };
    ASSERT_LE(expected.size(), machine.trace().size());
    EXPECT_EQ(expected, Trace(machine.trace().begin(), machine.trace().begin() + expected.size()));
    EXPECT_EQ(5001u, machine.sleepCount());
    EXPECT_EQ(10u + 5000u * 10u, machine.now());
    EXPECT_EQ(0u, machine.liveMappings());
}

TEST(GEMicroGENIStartUp, RefusedWindowTouchesNoPort) {
    Tavex::Sim::ScopedMachine machine;
    machine.faults().mapRefused = true;
    TAVEX_EXPECT_THROW_TEXT(GEMicroGENI(0x3E0, 0xD0000), std::runtime_error,
                            "OS Interface: can not get pointer to physical memory block.");
    EXPECT_EQ(0u, machine.portAccessCount());
    EXPECT_EQ(0u, machine.liveMappings());
}

}  // namespace
