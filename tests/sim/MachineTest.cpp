// The simulated machine's port space, trace and virtual clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TraceText.h"
#include "tavex/platform/IOPort.h"
#include "tavex/platform/OSInterface.h"
#include "tavex/platform/PhysicalMemory.h"
#include "tavex/sim/Board.h"
#include "tavex/sim/Machine.h"

using Tavex::IOPort;
using Tavex::OSInterface;
using Tavex::PhysicalMemory;
using Tavex::Sim::Board;
using Tavex::Sim::Machine;
using Tavex::Sim::Region;
using Tavex::Sim::ScopedMachine;

namespace {

typedef std::vector<Machine::Event> Trace;

// A board with latching registers on its ports that records every tick.
class ProbeBoard : public Board {
public:
    ProbeBoard(const char* name, std::uint16_t first, unsigned count)
        : name_(name), first_(first), count_(count) {}

    const char* name() const override { return name_; }
    std::uint32_t readPort(std::uint16_t port, unsigned) override { return latch[port]; }
    void writePort(std::uint16_t port, unsigned, std::uint32_t value) override {
        latch[port] = value;
    }
    void tick(unsigned long elapsedMs) override {
        ticks.push_back(elapsedMs);
        timesSeen.push_back(machine().now());
    }

    std::map<std::uint16_t, std::uint32_t> latch;
    std::vector<unsigned long> ticks;
    std::vector<unsigned long> timesSeen;

protected:
    void plugged() override {
        if (count_)
            machine().claimPorts(*this, first_, count_);
    }

private:
    const char* name_;
    std::uint16_t first_;
    unsigned count_;
};

// Claims ports but decodes none of them.
class DeafBoard : public Board {
public:
    const char* name() const override { return "deaf board"; }

protected:
    void plugged() override { machine().claimPorts(*this, 0x280, 4); }
};

// A board processor that answers a request byte in its RAM after 20 ms.
class SlowResponder : public Board {
public:
    const char* name() const override { return "slow responder"; }
    void tick(unsigned long elapsedMs) override {
        if (ram->read8(0) == 0x01) {
            busy += elapsedMs;
            if (busy >= 20)
                ram->write8(0, 0x80);
        }
    }
    Region* ram = 0;
    unsigned long busy = 0;

protected:
    void plugged() override { ram = &machine().addRegion(this, 0xCC000, 0x100, "responder RAM"); }
};

}  // namespace

TEST(MachinePorts, OverlappingClaimsAreRefused) {
    const struct {
        std::uint16_t first;
        unsigned count;
        bool accepted;
    } claims[] = {
        {0x2F8, 8, true},    // ends just below
        {0x308, 4, true},    // starts just above
        {0x2FA, 8, false},   // runs into the first two
        {0x307, 1, false},   // the last one
        {0x300, 8, false},   // the same range
        {0x304, 2, false},   // inside
        {0xFFFC, 8, false},  // beyond the port space
    };
    for (const auto& claim : claims) {
        SCOPED_TRACE(::testing::Message() << std::hex << claim.first << "+" << claim.count);
        Machine machine;
        ProbeBoard& first = machine.add<ProbeBoard>("first", 0x300, 8);
        ProbeBoard& second = machine.add<ProbeBoard>("second", 0, 0);
        if (claim.accepted) {
            EXPECT_NO_THROW(machine.claimPorts(second, claim.first, claim.count));
            EXPECT_EQ(&second, machine.portOwner(claim.first));
            EXPECT_EQ(&second, machine.portOwner(static_cast<std::uint16_t>(claim.first + claim.count - 1)));
        } else {
            EXPECT_THROW(machine.claimPorts(second, claim.first, claim.count), std::logic_error);
            // A refused claim takes no port at all.
            for (unsigned i = 0; i < claim.count && claim.first + i <= 0xFFFF; ++i) {
                const std::uint16_t port = static_cast<std::uint16_t>(claim.first + i);
                EXPECT_NE(&second, machine.portOwner(port)) << std::hex << port;
            }
        }
        for (std::uint16_t port = 0x300; port < 0x308; ++port)
            EXPECT_EQ(&first, machine.portOwner(port));
    }
}

TEST(MachinePorts, PortsNobodyDecodesFloatHigh) {
    ScopedMachine machine;
    machine.add<DeafBoard>();
    const std::uint16_t ports[] = {0x200, 0x281};   // unclaimed, claimed but not decoded
    for (std::uint16_t port : ports) {
        SCOPED_TRACE(port);
        EXPECT_EQ(0xFFu, machine.inByte(port));
        EXPECT_EQ(0xFFFFu, machine.inWord(port));
        EXPECT_EQ(0xFFFFFFFFu, machine.inDword(port));
        IOPort io(port, false);
        EXPECT_EQ(static_cast<char>(0xFF), io.readChar());
        EXPECT_EQ(-1, io.readShort());
        EXPECT_EQ(-1L, io.readLong());
    }
    // Writes to nowhere are harmless and still traced.
    machine.clearTrace();
    IOPort(0x200, true).writeChar(0x12);
    EXPECT_EQ(Trace{Machine::portWrite(0x200, 1, 0x12)}, machine.portTrace());
    EXPECT_EQ(0xFFu, machine.inByte(0x200));
}

TEST(MachinePorts, AccessesReachTheOwningBoardAtOnce) {
    ScopedMachine machine;
    ProbeBoard& a = machine.add<ProbeBoard>("a", 0x300, 4);
    ProbeBoard& b = machine.add<ProbeBoard>("b", 0x304, 4);
    IOPort(0x301, true).writeShort(0x4321);
    IOPort(0x306, true).writeLong(0x0BADF00DL);
    EXPECT_EQ(0x4321u, a.latch[0x301]);
    EXPECT_EQ(0x0BADF00Du, b.latch[0x306]);
    EXPECT_EQ(0u, a.latch.count(0x306));
    EXPECT_EQ(0x4321, IOPort(0x301, false).readShort());
    EXPECT_EQ(0u, machine.now()) << "no time passes for port accesses";
}

TEST(MachineTrace, RecordsAccessesAndSleepsInOrderWithTheirTime) {
    ScopedMachine machine;
    ProbeBoard& board = machine.add<ProbeBoard>("probe", 0x300, 8);
    board.latch[0x301] = 0xBEEF;

    IOPort(0x300, true).writeChar(0x01);
    OSInterface::sleep(5000);
    EXPECT_EQ(0xBEEF, static_cast<unsigned short>(IOPort(0x301, false).readShort()));
    machine.advance(3);              // time passes, nothing traced
    machine.sleep(2);
    IOPort(0x304, true).writeLong(-2L);
    EXPECT_EQ(-2L, IOPort(0x304, true).readLong());

    const Trace expected = {
        Machine::portWrite(0x300, 1, 0x01), Machine::sleepEvent(5),
        Machine::portRead(0x301, 2, 0xBEEF), Machine::sleepEvent(2),
        Machine::portWrite(0x304, 4, 0xFFFFFFFEu), Machine::portRead(0x304, 4, 0xFFFFFFFEu),
    };
    ASSERT_EQ(expected, machine.trace());
    const unsigned long times[] = {0, 0, 5, 8, 10, 10};
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(times[i], machine.trace()[i].time) << "entry " << i;

    EXPECT_EQ((Trace{expected[0], expected[2], expected[4], expected[5]}), machine.portTrace());
    EXPECT_EQ((std::vector<unsigned long>{5, 2}), machine.sleeps());
    EXPECT_EQ(2u, machine.sleepCount());
    EXPECT_EQ(4u, machine.portAccessCount());
    EXPECT_EQ(10u, machine.now());

    // Without tracing the accesses still happen and are counted.
    machine.clearTrace();
    EXPECT_TRUE(machine.trace().empty());
    machine.setTracing(false);
    IOPort(0x302, true).writeChar(0x33);
    machine.sleep(1);
    EXPECT_TRUE(machine.trace().empty());
    EXPECT_EQ(0x33u, board.latch[0x302]);
    EXPECT_EQ(5u, machine.portAccessCount());
    EXPECT_EQ(3u, machine.sleepCount());
    EXPECT_EQ(11u, machine.now());
}

TEST(MachineClock, EverySleepLetsEveryBoardRun) {
    ScopedMachine machine;
    ProbeBoard& a = machine.add<ProbeBoard>("a", 0, 0);
    ProbeBoard& b = machine.add<ProbeBoard>("b", 0, 0);
    EXPECT_EQ(2u, machine.boardCount());

    OSInterface::sleep(10000);   // 10 ms
    OSInterface::sleep(999);     // under a millisecond: no time, but a run
    machine.sleep(0);
    machine.advance(7);
    OSInterface::sleep(2000000);

    const std::vector<unsigned long> ticks = {10, 0, 0, 7, 2000};
    const std::vector<unsigned long> seen = {10, 10, 10, 17, 2017};
    EXPECT_EQ(ticks, a.ticks);
    EXPECT_EQ(ticks, b.ticks);
    EXPECT_EQ(seen, a.timesSeen) << "a board runs after the clock has moved";
    EXPECT_EQ(2017u, machine.now());
    EXPECT_EQ((std::vector<unsigned long>{10, 0, 0, 2000}), machine.sleeps());
}

// Waits to a deadline in nanoseconds: boards run at each wait and are told
// the whole milliseconds that passed; now() stays the whole milliseconds.
TEST(MachineClock, WaitsToADeadlineCountNanosecondsAndBoardsSeeWholeMilliseconds) {
    ScopedMachine machine;
    ProbeBoard& board = machine.add<ProbeBoard>("a", 0, 0);
    Tavex::Platform& platform = Tavex::Platform::current();
    platform.sleepUntil(400000);     // 0.4 ms
    platform.sleepUntil(1300000);    // 1.3
    platform.sleepUntil(1000000);    // already past: no wait, no run
    machine.advance(2);              // 3.3
    machine.advanceNanoseconds(2700000);   // 6.0
    EXPECT_EQ(6000000u, platform.monotonicNanoseconds());
    EXPECT_EQ(6000000u, machine.nanoseconds());
    EXPECT_EQ((std::vector<unsigned long>{0, 1, 2, 3}), board.ticks);
    EXPECT_EQ((std::vector<unsigned long>{0, 1, 3, 6}), board.timesSeen);
    EXPECT_EQ(6u, machine.now());
    EXPECT_TRUE(machine.trace().empty());
}

// Paced by another clock (here a second machine), a machine waits on that
// clock and its boards keep to it.
TEST(MachineClock, APacedMachineWaitsOnItsPacersClock) {
    Machine pacer;
    pacer.advance(1000);
    ScopedMachine machine;
    ProbeBoard& board = machine.add<ProbeBoard>("a", 0, 0);
    machine.advance(5);
    machine.paceWith(&pacer);
    EXPECT_EQ(5000000u, machine.monotonicNanoseconds());
    pacer.advance(2);   // time passes on the pacer's clock
    EXPECT_EQ(7000000u, machine.monotonicNanoseconds());
    EXPECT_EQ(5u, machine.now());   // boards run only when the program waits
    machine.sleepUntil(10000000);
    EXPECT_EQ(1005u, pacer.now());
    EXPECT_EQ(10u, machine.now());
    OSInterface::sleep(3000);   // a card's sleep waits for real too
    EXPECT_EQ(1008u, pacer.now());
    EXPECT_EQ(13u, machine.now());
    EXPECT_EQ((std::vector<unsigned long>{5, 5, 3}), board.ticks);
    EXPECT_EQ((std::vector<unsigned long>{3}), machine.sleeps());

    pacer.faults().realTimeRefused = true;
    EXPECT_EQ(1, machine.setRealTimePriority(50));   // asked of the pacer
    EXPECT_EQ(0, machine.realTimePriority());
    machine.paceWith(0);
    EXPECT_EQ(0, machine.setRealTimePriority(50));
    EXPECT_EQ(13000000u, machine.monotonicNanoseconds());
    EXPECT_THROW(machine.paceWith(&machine), std::logic_error);
}

TEST(MachineClock, BoardAnswersInItsMemoryWhileTheProgramPolls) {
    ScopedMachine machine;
    SlowResponder& board = machine.add<SlowResponder>();
    PhysicalMemory window(0xCC000, 0x100, true);
    window.writeChar(0, 0x01);
    unsigned polls = 0;
    while (static_cast<unsigned char>(window.readChar(0)) != 0x80 && polls < 100) {
        OSInterface::sleep(1000);
        ++polls;
    }
    EXPECT_EQ(20u, polls);
    EXPECT_EQ(20u, machine.now());
    EXPECT_EQ(20u, board.busy);
}

namespace {

// Byte-wide registers that log every access the board sees.
class ByteBoard : public Board {
public:
    ByteBoard(const char* name, std::uint16_t first, unsigned count)
        : name_(name), first_(first), count_(count) {}
    const char* name() const override { return name_; }
    unsigned busWidth() const override { return 1; }
    std::uint32_t readPort(std::uint16_t port, unsigned width) override {
        seen.push_back(Machine::portRead(port, width, 0));
        return static_cast<std::uint32_t>(port & 0xFF);
    }
    void writePort(std::uint16_t port, unsigned width, std::uint32_t value) override {
        seen.push_back(Machine::portWrite(port, width, value));
    }
    std::vector<Machine::Event> seen;

protected:
    void plugged() override { machine().claimPorts(*this, first_, count_); }

private:
    const char* name_;
    std::uint16_t first_;
    unsigned count_;
};

}  // namespace

// A word or double word to byte-wide registers becomes byte accesses at
// ascending ports, each reaching whoever decodes that port; the trace keeps
// the access the processor made.
TEST(MachinePorts, WideAccessesToByteWideRegistersAreSplitAcrossTheBus) {
    Machine m;
    ByteBoard& low = m.add<ByteBoard>("low", 0x300, 2);
    ByteBoard& high = m.add<ByteBoard>("high", 0x302, 1);
    ProbeBoard& wide = m.add<ProbeBoard>("wide", 0x303, 1);
    wide.latch[0x303] = 0xAABBCCDD;

    EXPECT_EQ(0xDD020100u, m.inDword(0x300)) << "the last byte comes from a board that takes any width";
    m.outDword(0x300, 0x44332211u);
    m.outWord(0x301, 0x6655);

    const Trace lowSeen = {Machine::portRead(0x300, 1, 0), Machine::portRead(0x301, 1, 0),
                           Machine::portWrite(0x300, 1, 0x11), Machine::portWrite(0x301, 1, 0x22),
                           Machine::portWrite(0x301, 1, 0x55)};
    const Trace highSeen = {Machine::portRead(0x302, 1, 0), Machine::portWrite(0x302, 1, 0x33),
                            Machine::portWrite(0x302, 1, 0x66)};
    EXPECT_EQ(lowSeen, low.seen);
    EXPECT_EQ(highSeen, high.seen);
    EXPECT_EQ(0x44u, wide.latch[0x303]) << "one byte of the double word reached it";

    const Trace processor = {Machine::portRead(0x300, 4, 0xDD020100u),
                             Machine::portWrite(0x300, 4, 0x44332211u),
                             Machine::portWrite(0x301, 2, 0x6655)};
    EXPECT_EQ(processor, m.portTrace());
    EXPECT_EQ(3u, m.portAccessCount());
}
