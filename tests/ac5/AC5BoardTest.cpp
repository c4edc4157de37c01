// The AC5 board model, driven straight through the machine's port space.
#include <gtest/gtest.h>

#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AC5Board.h"

using Tavex::Sim::AC5Board;
using Tavex::Sim::Machine;

namespace {

const std::uint16_t base = 0x300;

void program(Machine& m, unsigned port, std::uint8_t mask) {
    m.outByte(static_cast<std::uint16_t>(base + 2 * port + 1), 0x00);
    m.outByte(static_cast<std::uint16_t>(base + 2 * port), mask);
    m.outByte(static_cast<std::uint16_t>(base + 2 * port + 1), 0x34);
}

}  // namespace

TEST(AC5Board, ClaimsSixPortsAndPowersUpAsInputsPulledHigh) {
    Machine m;
    AC5Board& board = m.add<AC5Board>(base);
    for (std::uint16_t p = base; p < base + 6; ++p)
        EXPECT_EQ(&board, m.portOwner(p)) << std::hex << p;
    EXPECT_EQ(nullptr, m.portOwner(base + 6));
    EXPECT_EQ(nullptr, m.portOwner(base - 1));
    for (unsigned p = 0; p < 3; ++p) {
        EXPECT_EQ(0x00, board.directionMask(p));
        EXPECT_EQ(0u, board.programmingCount(p));
        EXPECT_EQ(AC5Board::DirectionRegister, board.mode(p));
        EXPECT_EQ(0xFF, board.lineLevels(p));
        EXPECT_EQ(0xFF, board.drivenLevels(p));
    }
}

TEST(AC5Board, DirectionThenDataRegister) {
    Machine m;
    AC5Board& board = m.add<AC5Board>(base);
    board.setInputLines(1, 0xA5);
    program(m, 1, 0x0F);
    EXPECT_EQ(0x0F, board.directionMask(1));
    EXPECT_EQ(1u, board.programmingCount(1));
    EXPECT_EQ(AC5Board::DataRegister, board.mode(1));
    EXPECT_EQ(0u, board.programmingCount(0));

    // Outputs start off (latch high): the low nibble reads back high, the
    // high nibble is the field.
    EXPECT_EQ(0xAF, m.inByte(base + 2));
    m.outByte(base + 2, 0xFA);
    EXPECT_EQ(0xFA, board.outputLatch(1));
    EXPECT_EQ(0xAA, m.inByte(base + 2));          // read-back of the outputs
    EXPECT_EQ(0xFA, board.drivenLevels(1));        // inputs not driven: high
    EXPECT_TRUE(board.outputOn(1, 0));
    EXPECT_FALSE(board.outputOn(1, 1));
    EXPECT_TRUE(board.outputOn(1, 2));
    EXPECT_FALSE(board.outputOn(1, 4));            // an input is never "on"
    EXPECT_FALSE(board.lineLevel(1, 6));           // field pulls bit 6 low

    // The field drives only the input points.
    board.setInputLine(1, 0, false).setInputLine(1, 5, false);
    EXPECT_EQ(0x8A, m.inByte(base + 2));
    EXPECT_EQ(0x84, board.fieldLevels(1));
    EXPECT_EQ(1u, board.dataWrites(1));
    EXPECT_EQ(3u, board.dataReads(1));
}

TEST(AC5Board, ControlSelectsTheRegisterAndOtherValuesSelectNothing) {
    Machine m;
    AC5Board& board = m.add<AC5Board>(base);
    m.outByte(base + 5, 0x00);
    m.outByte(base + 4, 0x3C);
    EXPECT_EQ(0x3C, m.inByte(base + 4));          // the direction register reads back
    EXPECT_EQ(0x00, m.inByte(base + 5));

    m.outByte(base + 5, 0x04);                    // neither 0x00 nor 0x34
    EXPECT_EQ(AC5Board::Undefined, board.mode(2));
    m.outByte(base + 4, 0x00);
    EXPECT_EQ(0xFF, m.inByte(base + 4));
    EXPECT_EQ(2u, board.strayAccesses());
    EXPECT_EQ(0x3C, board.directionMask(2));
    EXPECT_EQ(0xFF, board.outputLatch(2));
    EXPECT_EQ(1u, board.programmingCount(2));
}

TEST(AC5Board, WideAccessesSplitIntoBytes) {
    Machine m;
    AC5Board& board = m.add<AC5Board>(base);
    m.outWord(base, 0x3400);                      // data 0x00 (direction), control 0x34
    EXPECT_EQ(0x00, board.directionMask(0));
    EXPECT_EQ(AC5Board::DataRegister, board.mode(0));
    board.setInputLines(0, 0x5A);
    EXPECT_EQ(0x345A, m.inWord(base));
}
