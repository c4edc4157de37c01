// IOPort on the simulated machine: one port instruction of the right width
// per call, values as the program meant them, and a flag that changes
// nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <vector>

#include "support/TraceText.h"
#include "tavex/platform/IOPort.h"
#include "tavex/sim/Board.h"
#include "tavex/sim/Machine.h"

using Tavex::IOPort;
using Tavex::Sim::Board;
using Tavex::Sim::Machine;
using Tavex::Sim::ScopedMachine;

namespace {

typedef std::vector<Machine::Event> Trace;

// Eight ports at 0x300 that read back what is set for them.
class RegisterBoard : public Board {
public:
    const char* name() const override { return "register board"; }
    std::uint32_t readPort(std::uint16_t port, unsigned) override { return answers[port]; }
    void writePort(std::uint16_t port, unsigned width, std::uint32_t value) override {
        written.push_back(Machine::portWrite(port, width, value));
    }
    std::map<std::uint16_t, std::uint32_t> answers;
    Trace written;

protected:
    void plugged() override { machine().claimPorts(*this, 0x300, 8); }
};

class IOPortTest : public ::testing::Test {
protected:
    IOPortTest() : board(machine.add<RegisterBoard>()) {}
    ScopedMachine machine;
    RegisterBoard& board;
};

}  // namespace

TEST_F(IOPortTest, WritesAreOneInstructionOfTheirWidth) {
    const struct {
        void (*write)(IOPort&);
        Machine::Event expected;
    } rows[] = {
        {[](IOPort& p) { p.writeChar(0x5A); }, Machine::portWrite(0x300, 1, 0x5A)},
        {[](IOPort& p) { p.writeChar(static_cast<char>(0xA5)); }, Machine::portWrite(0x300, 1, 0xA5)},
        {[](IOPort& p) { p.writeShort(0x1234); }, Machine::portWrite(0x300, 2, 0x1234)},
        {[](IOPort& p) { p.writeShort(static_cast<short>(0x8001)); },
         Machine::portWrite(0x300, 2, 0x8001)},
        {[](IOPort& p) { p.writeLong(0x12345678L); }, Machine::portWrite(0x300, 4, 0x12345678)},
        {[](IOPort& p) { p.writeLong(-1L); }, Machine::portWrite(0x300, 4, 0xFFFFFFFFu)},
        {[](IOPort& p) { p.writeLong(-2147483647L - 1); }, Machine::portWrite(0x300, 4, 0x80000000u)},
        {[](IOPort& p) {
             p.writeLong(static_cast<long>(static_cast<std::int64_t>(0x1122334455667788LL)));
         },
         Machine::portWrite(0x300, 4, 0x55667788u)},
    };
    for (const auto& row : rows) {
        machine.clearTrace();
        board.written.clear();
        IOPort port(0x300, true);
        row.write(port);
        EXPECT_EQ(Trace(1, row.expected), machine.portTrace());
        EXPECT_EQ(Trace(1, row.expected), board.written) << "what the board saw";
    }
}

TEST_F(IOPortTest, ReadsAreOneInstructionOfTheirWidth) {
    const struct {
        std::uint32_t answer;
        char asChar;
        short asShort;
        long asLong;
    } rows[] = {
        {0x12345678u, 0x78, 0x5678, 0x12345678L},
        {0xFFFFFFFFu, static_cast<char>(0xFF), -1, -1L},
        {0x80000000u, 0, 0, -2147483647L - 1},
        {0x7FFF8081u, static_cast<char>(0x81), static_cast<short>(0x8081), 0x7FFF8081L},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << std::hex << row.answer);
        board.answers[0x303] = row.answer;
        machine.clearTrace();
        const IOPort port(0x303, false);
        EXPECT_EQ(row.asChar, port.readChar());
        EXPECT_EQ(row.asShort, port.readShort());
        EXPECT_EQ(row.asLong, port.readLong());
        const Trace expected = {Machine::portRead(0x303, 1, row.answer & 0xFF),
                                Machine::portRead(0x303, 2, row.answer & 0xFFFF),
                                Machine::portRead(0x303, 4, row.answer)};
        EXPECT_EQ(expected, machine.portTrace());
    }
}

TEST_F(IOPortTest, OnlyTheLowSixteenBitsAddressThePort) {
    board.answers[0x301] = 0x42;
    IOPort port(0x10301, true);
    port.writeChar(7);
    EXPECT_EQ(0x42, port.readChar());
    const Trace expected = {Machine::portWrite(0x301, 1, 7), Machine::portRead(0x301, 1, 0x42)};
    EXPECT_EQ(expected, machine.portTrace());
}

TEST_F(IOPortTest, WritesChainOnThePort) {
    IOPort port(0x302, true);
    IOPort& same = port.writeChar(1).writeShort(2).writeLong(3);
    EXPECT_EQ(&port, &same);
    const Trace expected = {Machine::portWrite(0x302, 1, 1), Machine::portWrite(0x302, 2, 2),
                            Machine::portWrite(0x302, 4, 3)};
    EXPECT_EQ(expected, machine.portTrace());
}

TEST_F(IOPortTest, FlagChangesNothing) {
    board.answers[0x305] = 0xA1B2C3D4u;
    std::vector<long> results[2];
    Trace traces[2];
    for (int flag = 0; flag < 2; ++flag) {
        machine.clearTrace();
        IOPort port(0x305, flag != 0);
        port.writeChar(0x11).writeShort(0x2222).writeLong(0x33333333L);
        results[flag] = {port.readChar(), port.readShort(), port.readLong()};
        traces[flag] = machine.portTrace();
    }
    EXPECT_EQ(6u, traces[0].size());
    EXPECT_EQ(traces[0], traces[1]);
    EXPECT_EQ(results[0], results[1]);
}
