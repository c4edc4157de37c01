// ParallelPort against the parallel port and BIOS data area models: the
// printer names and BIOS words, refused tracks in the order they are
// checked, and the levels at the connector that outputs give and inputs
// read (every point active low).
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/AllocationCounter.h"
#include "support/ExpectThrow.h"
#include "support/TraceText.h"
#include "tavex/cards/ParallelPort.h"
#include "tavex/model/IOTrack.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/BiosDataArea.h"
#include "tavex/sim/boards/ParallelPortBoard.h"

using Tavex::IOTrack;
using Tavex::ParallelPort;
using Tavex::Sim::BiosDataArea;
using Tavex::Sim::Machine;
using Tavex::Sim::ParallelPortBoard;

namespace {

typedef std::vector<Machine::Event> Trace;

const std::uint16_t base = 0x378;
const char* const notExisting = "ParallelPort: specified parallel port does not exists.";
const char* const invalidPort =
    "ParallelPort: invalid base IO port number specified or port does not exist.";

// Connector pins of the points: data 0-7, control 8-11, status 12-16.
const unsigned pinOfPoint[17] = {2, 3, 4, 5, 6, 7, 8, 9, 1, 14, 16, 17, 15, 13, 12, 10, 11};

Machine::Event out(unsigned offset, std::uint32_t value) {
    return Machine::portWrite(static_cast<std::uint16_t>(base + offset), 1, value);
}
Machine::Event in(unsigned offset, std::uint32_t value) {
    return Machine::portRead(static_cast<std::uint16_t>(base + offset), 1, value);
}

struct Scene {
    Scene() : bios(machine.add<BiosDataArea>()), port(machine.add<ParallelPortBoard>(base)) {
        bios.setLptPort(1, base);
    }
    Tavex::Sim::ScopedMachine machine;
    BiosDataArea& bios;
    ParallelPortBoard& port;
};

class ParallelPortTrackTest : public ::testing::Test {
protected:
    ParallelPortTrackTest() : owned(new ParallelPort()), card(*owned) {}

    Scene scene;
    Machine& machine = scene.machine;
    ParallelPortBoard& port = scene.port;
    // Held by pointer: the card's destructor may throw, a fixture's may not.
    std::unique_ptr<ParallelPort> owned;
    ParallelPort& card;
};

}  // namespace

TEST(ParallelPortBios, NamesPickTheirPrinterWord) {
    Scene s;
    s.bios.setLptPort(1, 0x3BC).setLptPort(2, 0x378).setLptPort(3, 0x278).setLptPort(4, 0x2BC);
    struct Case {
        const char* name;
        std::uint16_t port;   // 0: refused
    } cases[] = {
        {nullptr, 0x3BC}, {"prn", 0x3BC},  {"lpt1", 0x3BC}, {"PRN", 0x3BC}, {"LPT1", 0x3BC},
        {"lpt2", 0x378},  {"LPT2", 0x378}, {"lpt3", 0x278}, {"LPT3", 0x278}, {"lpt4", 0x2BC},
        {"LPT4", 0x2BC},  {"Lpt1", 0},     {"lPT1", 0},     {"Prn", 0},     {"lpt5", 0},
        {"LPT0", 0},      {"lpt", 0},      {"", 0},         {"lpt1 ", 0},   {"LPT1:", 0},
        {"com1", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "null");
        const unsigned maps = s.machine.mapRequests();
        if (c.port == 0) {
            TAVEX_EXPECT_THROW_TEXT(ParallelPort card(c.name), std::logic_error, notExisting);
        } else {
            ParallelPort card(c.name);
            EXPECT_EQ(c.port, card.baseIOPort());
            EXPECT_STREQ("LPT", card.type());
        }
        // The BIOS window is mapped once, and only while the table is read.
        EXPECT_EQ(maps + 1, s.machine.mapRequests());
        EXPECT_EQ(0u, s.machine.liveMappings());
    }
    ParallelPort lpt1;
    EXPECT_EQ(0x3BC, lpt1.baseIOPort());
    EXPECT_EQ(0u, s.machine.portAccessCount());
}

TEST(ParallelPortBios, PortsMustBeListedInTheBios) {
    struct Case {
        std::uint16_t lpt[4];
        const char* name;          // the name constructor ...
        std::uint16_t byName;      // ... gives this port (0: refused)
        unsigned short port;       // the port constructor ...
        bool accepted;             // ... accepts this port or not
    } cases[] = {
        {{0x378, 0, 0, 0}, "LPT1", 0x378, 0x378, true},
        {{0x378, 0, 0, 0}, "LPT2", 0, 0x3BC, false},
        {{0x378, 0, 0, 0}, "lpt4", 0, 0, false},          // 0 is never a port, BIOS word 0 or not
        {{0, 0x3BC, 0, 0}, "prn", 0, 0x3BC, true},
        {{0, 0, 0, 0x278}, "LPT4", 0x278, 0x278, true},
        {{0, 0, 0x2BC, 0}, "LPT3", 0x2BC, 0x2BD, false},
        {{0x278, 0x378, 0x3BC, 0x2BC}, "lpt3", 0x3BC, 0x2BC, true},
        {{0, 0, 0, 0}, nullptr, 0, 0x378, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.name << " " << std::hex << c.port);
        Scene s;
        for (unsigned n = 0; n < 4; ++n)
            s.bios.setLptPort(n + 1, c.lpt[n]);
        if (c.byName == 0) {
            TAVEX_EXPECT_THROW_TEXT(ParallelPort card(c.name), std::logic_error, notExisting);
        } else {
            ParallelPort card(c.name);
            EXPECT_EQ(c.byName, card.baseIOPort());
        }
        if (!c.accepted) {
            TAVEX_EXPECT_THROW_TEXT(ParallelPort card(c.port), std::logic_error, invalidPort);
        } else {
            ParallelPort card(c.port);
            EXPECT_EQ(c.port, card.baseIOPort());
        }
        EXPECT_EQ(2u, s.machine.mapRequests());
        EXPECT_EQ(0u, s.machine.liveMappings());
        EXPECT_EQ(0u, s.machine.portAccessCount());
    }
}

TEST(ParallelPortBios, DriverErrorsComeThroughAndLeaveNothingMapped) {
    Scene s;
    s.machine.faults().mapRefused = true;
    const char* text = "OS Interface: can not get pointer to physical memory block.";
    TAVEX_EXPECT_THROW_TEXT(ParallelPort card, std::runtime_error, text);
    TAVEX_EXPECT_THROW_TEXT(ParallelPort card(static_cast<unsigned short>(base)),
                            std::runtime_error, text);
    s.machine.faults().mapRefused = false;
    s.machine.faults().unmapRefused = true;
    TAVEX_EXPECT_THROW_TEXT(ParallelPort card, std::runtime_error,
                            "OS Interface: can not release physical memory block.");

    // Under the 9x family a refused mapping has no address: the BIOS table
    // is never read through a null window.
    Scene nine;
    nine.machine.setPlatformId(Machine::PlatformWin32Windows);
    nine.machine.faults().dpmiRefuses = true;
    TAVEX_EXPECT_THROW_TEXT(ParallelPort card, std::runtime_error, text);
    TAVEX_EXPECT_THROW_TEXT(ParallelPort card(static_cast<unsigned short>(base)),
                            std::runtime_error, text);
}

TEST_F(ParallelPortTrackTest, RefusedTracksInTheOrderTheyAreChecked) {
    const char* analog = "ParallelPort:  does not support analog I/O and counters.";
    const char* length = "ParallelPort track can be only 17 points long.";
    const char* data = "ParallelPort track first 8 points can not be Inputs.";
    const char* control =
        "ParallelPort track points 8-12 can be only Inputs or outputs at the same time.";
    const char* status = "ParallelPort track points 13-17 can not be Outputs.";
    struct Case {
        std::string letters;
        const char* text;
    } cases[] = {
        {"U", analog},
        {"OOOOOOOOIIIIIIIIA", analog},
        {"COOOOOOOIIIIIIIII", analog},
        {"IIIIIIIIIIIIIIIIIIR", analog},          // letters before length
        {"OOOOOOOOIIIIIIII", length},
        {"OOOOOOOOIIIIIIIIII", length},
        {"I", length},
        {"IOOOOOOOIIIIIIIII", data},
        {"OOOOOOOIOOOOOOOOO", data},               // point 7 before the status outputs
        {"OOOOOOOOIOIIIIIII", control},
        {"OOOOOOOOIIOOIIIII", control},            // points 8, 9 in, 10, 11 out
        {"OOOOOOOOOOONIIIII", control},
        {"OOOOOOOOIIIOOIIII", control},            // point 11 before point 12
        {"OOOOOOOONNNNOIIII", status},
        {"OOOOOOOOIIIIIIIIO", status},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.letters);
        machine.clearTrace();
        TAVEX_EXPECT_THROW_TEXT(IOTrack track(card, 0, c.letters.c_str()), std::logic_error,
                                c.text);
        EXPECT_TRUE(machine.trace().empty());
    }
}

TEST_F(ParallelPortTrackTest, ControlInputsAreReleasedWhenTheTrackIsAdded) {
    // Power-up latch 0x0C: pin 17 held low by SELECT IN.
    EXPECT_FALSE(port.pinLevel(17));
    const std::uint8_t before = port.controlRegister();
    IOTrack track(card, 0, "OOOOOOOOIIIIIIIII");
    const std::uint8_t released = static_cast<std::uint8_t>((before & 0xF0) | 0x04);
    EXPECT_EQ((Trace{in(2, before), out(2, released)}), machine.portTrace());
    for (unsigned pin : {1u, 14u, 16u, 17u}) {
        EXPECT_TRUE(port.pinLevel(pin)) << pin;
        EXPECT_FALSE(port.drivesLow(pin)) << pin;
    }

    // Control outputs, or a control group of other letters, touch nothing.
    machine.clearTrace();
    IOTrack outputs(card, 0, "OOOOOOOOOOOOIIIII");
    IOTrack unused(card, 0, "NNNNNNNNNNNNNNNNN");
    EXPECT_TRUE(machine.trace().empty());
}

TEST_F(ParallelPortTrackTest, EveryOutputValueReachesTheConnectorActiveLow) {
    IOTrack track(card, 0, "OOOOOOOOOOOOIIIII");
    for (unsigned value = 0; value < 0x1000; ++value) {
        for (unsigned i = 0; i < 12; ++i)
            track[i] = (value >> i) & 1;
        machine.clearTrace();
        track.updateOutputs();
        const std::uint8_t data = static_cast<std::uint8_t>(~value);
        const std::uint8_t control = static_cast<std::uint8_t>(((value >> 8) & 0x0F) ^ 0x04);
        ASSERT_EQ((Trace{out(0, data), out(2, control)}), machine.portTrace()) << value;
        for (unsigned i = 0; i < 12; ++i)
            ASSERT_EQ(((value >> i) & 1) == 0, port.pinLevel(pinOfPoint[i])) << value << " " << i;
    }

    // Any non-zero value is on, with its 32-bit meaning.
    const long on[] = {1, -1, 2, 0x7FFFFFFF, -2147483647L - 1, 0x100};
    for (long v : on) {
        track[3] = v;
        track.updateOutputs();
        EXPECT_FALSE(port.pinLevel(5)) << v;
    }
    if (sizeof(long) > 4) {
        track[3] = static_cast<long>(0x100000000LL);   // 0 in its low 32 bits
        track.updateOutputs();
        EXPECT_TRUE(port.pinLevel(5));
    }
}

TEST_F(ParallelPortTrackTest, EveryInputLineReadsActiveLow) {
    IOTrack track(card, 0, "OOOOOOOOIIIIIIIII");
    for (unsigned low = 0; low < 0x200; ++low) {   // bit k: the line of point 8 + k is low
        for (unsigned k = 0; k < 9; ++k)
            port.setPinLevel(pinOfPoint[8 + k], ((low >> k) & 1) == 0);
        machine.clearTrace();
        track.updateInputs();
        const Trace t = machine.portTrace();
        ASSERT_EQ(2u, t.size());
        EXPECT_EQ(in(2, port.controlRegister()), t[0]);
        EXPECT_EQ(in(1, port.statusRegister()), t[1]);
        for (unsigned k = 0; k < 9; ++k)
            ASSERT_EQ(static_cast<long>((low >> k) & 1), track[8 + k]) << low << " " << k;
    }
    EXPECT_EQ(0, track.trackState());
}

TEST_F(ParallelPortTrackTest, EachUpdateTouchesOnlyTheRegistersItNeeds) {
    struct Case {
        const char* letters;
        unsigned start;
        std::vector<std::uint8_t> written;   // data, then control, with every value 1
        bool readsControl, readsStatus;
    } cases[] = {
        {"OOOOOOOOIIIIIIIII", 0, {0x00}, true, true},
        {"OOOOOOOOOOOOIIIII", 5, {0x00, 0x0B}, false, true},   // the starting point is ignored
        {"OOOOOOOOOOOONNNNN", 0, {0x00, 0x0B}, false, false},
        {"NNNNNNNNIIIINNNNN", 0, {}, true, true},
        {"NNNNNNNNNNNNNNNNI", 0, {}, false, true},
        // Points of other letters are never read, and written inactive.
        {"ONONXNOONNNNIINNI", 0, {0x3A, 0x04}, false, true},
        {"ONONONONNNNNIHIHI", 0, {0xAA, 0x04}, false, true},
        {"NNNNNNNNOOOOIIIII", 0, {0xFF, 0x0B}, false, true},
        // Letters one bit away from I and O are neither.
        {"\xCF\xCF\xCF\xCFOOOO\xC9\xC9\xC9\xC9\xC9I\xC9IH", 0, {0x0F, 0x04}, false, true},
        {"\xCF\xCF\xCF\xCFHHHHHHHHHHHHH", 0, {}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.letters);
        IOTrack track(card, c.start, c.letters);
        for (unsigned i = 0; i < 17; ++i)
            track[i] = 1;
        machine.clearTrace();
        track.updateOutputs();
        Trace expected;
        for (unsigned r = 0; r < c.written.size(); ++r)
            expected.push_back(out(2 * r, c.written[r]));
        EXPECT_EQ(expected, machine.portTrace());

        // Every input line pulled low from outside; points not read keep 7.
        for (unsigned k = 8; k < 17; ++k)
            port.setPinLevel(pinOfPoint[k], false);
        for (unsigned i = 0; i < 17; ++i)
            track[i] = 7;
        expected.clear();
        if (c.readsControl)
            expected.push_back(in(2, port.controlRegister()));
        if (c.readsStatus)
            expected.push_back(in(1, port.statusRegister()));
        machine.clearTrace();
        track.updateInputs();
        EXPECT_EQ(expected, machine.portTrace());
        for (unsigned i = 0; i < 17; ++i)
            EXPECT_EQ(c.letters[i] == 'I' ? 1 : 7, track[i]) << i;
        for (unsigned k = 8; k < 17; ++k)
            port.setPinLevel(pinOfPoint[k], true);
    }
}

TEST_F(ParallelPortTrackTest, UpdatesAllocateNothing) {
    const std::size_t beforeTrack = AllocationCounter::allocations();
    IOTrack track(card, 0, "OOOOOOOOOOOOIIIII");
    if (AllocationCounter::allocations() == beforeTrack)
        GTEST_SKIP() << "allocations inside the library cannot be counted on this platform";
    IOTrack inputs(card, 0, "NNNNNNNNIIIIIIIII");   // releases the control lines again
    machine.setTracing(false);
    const unsigned long accesses = machine.portAccessCount();
    AllocationCounter::Window window;
    for (unsigned scan = 0; scan < 1000; ++scan) {
        port.setPinLevel(11, (scan & 1) != 0);
        inputs.updateInputs();
        track[0] = inputs[16];
        track.updateOutputs();
    }
    EXPECT_EQ(0u, window.allocated());
    EXPECT_EQ(1000u * 4, machine.portAccessCount() - accesses);
    EXPECT_EQ(0, inputs[16]);   // the last scan left BUSY high
    EXPECT_TRUE(port.pinLevel(2));
}
