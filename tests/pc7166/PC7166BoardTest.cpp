// The PC7166 model, driven through the machine's port space with the command
// bytes a program writes to the counter chips.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/PC7166Board.h"

using Tavex::Sim::Machine;
using Tavex::Sim::PC7166Board;

namespace {

const std::uint16_t base = 0x300;

std::uint16_t dataPort(unsigned channel) { return static_cast<std::uint16_t>(base + 2 * channel); }
std::uint16_t controlPort(unsigned channel) { return static_cast<std::uint16_t>(dataPort(channel) + 1); }

void initialise(Machine& m, unsigned channel) {
    for (std::uint8_t command : {0x20, 0x68, 0xC3, 0x04})
        m.outByte(controlPort(channel), command);
}

std::uint32_t readCount(Machine& m, unsigned channel) {
    m.outByte(controlPort(channel), 0x02);
    m.outByte(controlPort(channel), 0x01);
    std::uint32_t value = m.inByte(dataPort(channel));
    value |= static_cast<std::uint32_t>(m.inByte(dataPort(channel))) << 8;
    value |= static_cast<std::uint32_t>(m.inByte(dataPort(channel))) << 16;
    return value;
}

void presetCount(Machine& m, unsigned channel, std::uint32_t value) {
    m.outByte(controlPort(channel), 0x01);
    for (unsigned i = 0; i < 3; ++i)
        m.outByte(dataPort(channel), static_cast<std::uint8_t>(value >> (8 * i)));
    m.outByte(controlPort(channel), 0x08);
}

}  // namespace

TEST(PC7166Board, NothingCountsUntilTheChannelIsInitialised) {
    Machine m;
    PC7166Board& board = m.add<PC7166Board>(base);
    EXPECT_EQ(&board, m.portOwner(base + 7));
    EXPECT_EQ(nullptr, m.portOwner(base + 8));

    const std::uint32_t powerUp = board.count(1);
    EXPECT_NE(0u, powerUp);
    board.turn(1, 100);
    EXPECT_EQ(powerUp, board.count(1));
    EXPECT_FALSE(board.counting(1));
    EXPECT_EQ(powerUp, readCount(m, 1)) << "the chip holds whatever it powered up with";

    initialise(m, 1);
    EXPECT_EQ(std::vector<std::uint8_t>({0x02, 0x01, 0x20, 0x68, 0xC3, 0x04}), board.commands(1));
    EXPECT_EQ(1u, board.masterResets(1));
    EXPECT_EQ(4u, board.multiplier(1));
    EXPECT_EQ(0u, readCount(m, 1));
    board.turn(1, 7);
    EXPECT_EQ(7u, readCount(m, 1));
    EXPECT_EQ(powerUp ^ 0x111111u ^ 0x333333u, board.count(3)) << "other channels untouched";
}

// Turns in x4 mode, from a preset count, across the 24-bit boundary both ways.
TEST(PC7166Board, CountsWrapAt24BitsWithCarryAndBorrowToggles) {
    struct Case {
        std::uint32_t from;
        long long steps;
        std::uint32_t count;
        std::uint8_t flags;   // borrow, carry, sign, direction
    } cases[] = {
        {0, 5, 5, PC7166Board::CountingUp},
        {0, -1, 0xFFFFFF, PC7166Board::BorrowToggle},
        {0xFFFFF0, 32, 0x10, PC7166Board::CarryToggle | PC7166Board::Sign | PC7166Board::CountingUp},
        {0x10, -32, 0xFFFFF0, PC7166Board::BorrowToggle},
        {0x123456, 2 * 0x1000000LL, 0x123456, PC7166Board::Sign | PC7166Board::CountingUp},
        {0x123456, -3 * 0x1000000LL - 0x123457, 0xFFFFFF, 0},   // four borrows
        {0x800000, 0x800000, 0, PC7166Board::CarryToggle | PC7166Board::Sign | PC7166Board::CountingUp},
    };
    for (const Case& c : cases) {
        Machine m;
        PC7166Board& board = m.add<PC7166Board>(base);
        initialise(m, 2);
        presetCount(m, 2, c.from);
        ASSERT_EQ(c.from, board.count(2));
        board.turn(2, c.steps);
        EXPECT_EQ(c.count, readCount(m, 2)) << std::hex << c.from << " by " << std::dec << c.steps;
        EXPECT_EQ(c.flags, m.inByte(controlPort(2))) << std::hex << c.from << " by " << std::dec << c.steps;
    }
}

TEST(PC7166Board, LatchHoldsTheCountWhileTheEncoderTurns) {
    Machine m;
    PC7166Board& board = m.add<PC7166Board>(base);
    initialise(m, 0);
    presetCount(m, 0, 0x123456);
    m.outByte(controlPort(0), 0x02);
    board.turn(0, 0x10101);
    m.outByte(controlPort(0), 0x01);
    EXPECT_EQ(0x56, m.inByte(dataPort(0)));
    EXPECT_EQ(0x34, m.inByte(dataPort(0)));
    EXPECT_EQ(0x12, m.inByte(dataPort(0)));
    EXPECT_EQ(0x56, m.inByte(dataPort(0))) << "the byte pointer wraps after three";
    EXPECT_EQ(0x133557u, board.count(0));
    EXPECT_EQ(1u, board.latches(0));
}

TEST(PC7166Board, PresetTakesEffectOnlyOnLoad) {
    Machine m;
    PC7166Board& board = m.add<PC7166Board>(base);
    initialise(m, 3);
    board.turn(3, 9);
    m.outByte(controlPort(3), 0x01);
    for (std::uint8_t byte : {0x80, 0x00, 0x00})
        m.outByte(dataPort(3), byte);
    EXPECT_EQ(0x80u, board.preset(3));
    EXPECT_EQ(9u, board.count(3)) << "no load yet";
    m.outByte(controlPort(3), 0x08);
    EXPECT_EQ(0x80u, board.count(3));
    board.turn(3, -0x81);
    EXPECT_EQ(0xFFFFFFu, readCount(m, 3));
    EXPECT_EQ(1u, board.loads(3));
    EXPECT_EQ(3u, board.dataWrites(3));
}

// The quadrature mode and the input enable decide what a turn counts; split
// turns count as one.
TEST(PC7166Board, QuadratureModeAndInputEnableDecideTheCounts) {
    struct Case {
        std::uint8_t icr, qr;
        std::uint32_t afterTen, afterSeven;   // turned +10, then -3
    } cases[] = {
        {0x68, 0xC3, 10, 7},
        {0x68, 0xC2, 5, 3},
        {0x68, 0xC1, 2, 1},
        {0x68, 0xC0, 0, 0},   // non-quadrature
        {0x60, 0xC3, 0, 0},   // inputs disabled
    };
    for (const Case& c : cases) {
        Machine m;
        PC7166Board& board = m.add<PC7166Board>(base);
        for (std::uint8_t command : {std::uint8_t(0x20), c.icr, c.qr})
            m.outByte(controlPort(0), command);
        m.outByte(controlPort(1), 0x20);
        m.outByte(controlPort(1), c.icr);
        m.outByte(controlPort(1), c.qr);
        board.turn(0, 10);
        for (int i = 0; i < 10; ++i)
            board.turn(1, 1);
        EXPECT_EQ(c.afterTen, board.count(0)) << std::hex << int(c.icr) << " " << int(c.qr);
        EXPECT_EQ(c.afterTen, board.count(1)) << "edge by edge";
        board.turn(0, -3);
        EXPECT_EQ(c.afterSeven, board.count(0)) << std::hex << int(c.icr) << " " << int(c.qr);
        EXPECT_EQ(7, board.encoderPosition(0));
    }
}

TEST(PC7166Board, MasterControlBitsActInOrderAndMasterResetClearsAll) {
    Machine m;
    PC7166Board& board = m.add<PC7166Board>(base);
    initialise(m, 0);
    board.turn(0, 42);
    m.outByte(controlPort(0), 0x06);   // latch, then clear the count
    EXPECT_EQ(42u, board.outputLatch(0));
    EXPECT_EQ(0u, board.count(0));
    board.turn(0, -1);
    EXPECT_EQ(PC7166Board::BorrowToggle, board.status(0));
    m.outByte(controlPort(0), 0x10);
    EXPECT_EQ(0, board.status(0));

    m.outByte(controlPort(0), 0x80 | 0x01);   // output control: kept, no effect
    EXPECT_EQ(0x01, board.outputControl(0));
    m.outByte(controlPort(0), 0x20);
    EXPECT_EQ(0u, board.outputLatch(0));
    EXPECT_EQ(0u, board.count(0));
    EXPECT_EQ(0, board.outputControl(0));
    EXPECT_FALSE(board.counting(0)) << "a master reset stops the inputs until ICR enables them";
}
