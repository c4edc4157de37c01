// The AC28 adapter model and its brainboards, driven through the machine's
// port space: bank ports, the analog brainboards' register handshake, and
// the reset port in virtual time.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AC28Board.h"

using Tavex::Sim::AC28Board;
using Tavex::Sim::Machine;

namespace {

const std::uint16_t base = 0x140;
const std::uint16_t resetPort = 0x2E0;

std::uint16_t bankPort(unsigned bank) { return static_cast<std::uint16_t>(base + bank); }

// Asks the brainboard at bank for its registers and polls at most ten
// times; returns the bytes read.
std::vector<std::uint8_t> requestAccess(Machine& m, unsigned bank) {
    std::vector<std::uint8_t> reads;
    m.outByte(bankPort(bank + 1), 0x82);
    do
        reads.push_back(m.inByte(bankPort(bank)));
    while ((reads.back() & 0x80) && reads.size() < 10);
    return reads;
}

void release(Machine& m, unsigned bank) {
    m.outByte(bankPort(bank + 1), 0x82);
    m.outByte(bankPort(bank), 0xFF);
}

void writeRegister(Machine& m, unsigned bank, std::uint8_t reg, std::uint8_t value) {
    m.outByte(bankPort(bank + 1), reg);
    m.outByte(bankPort(bank), value);
}

std::uint8_t readRegister(Machine& m, unsigned bank, std::uint8_t reg) {
    m.outByte(bankPort(bank + 1), reg);
    return m.inByte(bankPort(bank));
}

}  // namespace

TEST(AC28Board, ClaimsItsWindowAndResetPortAndComesUpByTheResetJumper) {
    for (bool level : {true, false}) {
        Machine m;
        AC28Board& board = m.add<AC28Board>(base, resetPort, level);
        board.placeDigital(0);
        EXPECT_EQ(&board, m.portOwner(base + 0x3F));
        EXPECT_EQ(nullptr, m.portOwner(base + 0x40));
        EXPECT_EQ(&board, m.portOwner(resetPort));
        EXPECT_EQ(nullptr, m.portOwner(resetPort + 1));
        // The reset latch powers up 0: asserting when the jumper says 0.
        EXPECT_EQ(!level, board.inReset()) << level;
        EXPECT_EQ(level ? 0x01 : 0x00, m.inByte(resetPort)) << level;
        EXPECT_EQ(level ? 0x00 : 0xFF, m.inByte(bankPort(0))) << level;

        m.outByte(resetPort, level ? 0 : 1);
        EXPECT_EQ(0x01, m.inByte(resetPort));
        EXPECT_EQ(0x00, m.inByte(bankPort(0)));
        EXPECT_EQ(level ? 0u : 1u, board.resetsTaken()) << "power-on reset released";
    }
}

// A pulse is taken only once it has lasted the brainboards' minimum in
// virtual time; then every output is off and every analog channel an input.
TEST(AC28Board, ResetPulseTakenOnlyWhenLongEnough) {
    struct Case {
        bool level;
        unsigned long heldMs;
        std::uint8_t assertByte, releaseByte;
        bool taken;
    } cases[] = {
        {true, 30, 0x01, 0x00, true},
        {false, 30, 0x00, 0x01, true},
        {true, 10, 0xFF, 0xFE, true},   // only bit 0 is wired
        {true, 9, 0x01, 0x00, false},
        {true, 0, 0x01, 0x00, false},
    };
    for (const Case& c : cases) {
        Machine m;
        AC28Board& board = m.add<AC28Board>(base, resetPort, c.level);
        board.placeDigital(2).placeAnalog(4);
        m.outByte(resetPort, c.releaseByte);
        m.advance(5);
        m.outByte(bankPort(2), 0x81);
        requestAccess(m, 4);
        writeRegister(m, 4, 0x7E, 0x01);
        release(m, 4);
        ASSERT_EQ(0x81, board.outputsOn(2));
        ASSERT_EQ(0x0001, board.outputMask(4));

        m.outByte(resetPort, c.assertByte);
        EXPECT_EQ(0x00, m.inByte(resetPort));
        m.sleep(c.heldMs);
        EXPECT_EQ(c.taken, board.inReset()) << c.heldMs;
        m.outByte(resetPort, c.releaseByte);

        ASSERT_EQ(c.level ? 1u : 2u, board.resetPulses().size());
        const AC28Board::ResetPulse& pulse = board.resetPulses().back();
        EXPECT_EQ(5u, pulse.assertedAt);
        EXPECT_EQ(5u + c.heldMs, pulse.releasedAt);
        EXPECT_EQ(c.taken, pulse.taken);
        EXPECT_EQ(c.taken ? 0x00 : 0x81, board.outputsOn(2)) << c.heldMs;
        EXPECT_EQ(c.taken ? 0x0000 : 0x0001, board.outputMask(4)) << c.heldMs;
        EXPECT_EQ(0x01, m.inByte(resetPort));
    }
}

// Module lines are open-collector: a point reads on when the brainboard
// switches it on or its input module pulls it.
TEST(AC28Board, DigitalBankReadsEveryPointThatEitherSideSwitchesOn) {
    Machine m;
    AC28Board& board = m.add<AC28Board>(base, resetPort, true);
    board.placeDigital(62, 2);
    board.setInputs(63, 0x0F);
    EXPECT_EQ(0x0F, m.inByte(bankPort(63)));
    m.outByte(bankPort(63), 0x81);
    EXPECT_EQ(0x81, board.outputsOn(63));
    EXPECT_EQ(0x8F, m.inByte(bankPort(63)));
    EXPECT_EQ(0x8F, board.pointsOn(63));
    EXPECT_FALSE(board.lines(63).lineLevel(7)) << "on = line low";
    EXPECT_TRUE(board.lines(63).lineLevel(6));
    board.setInput(63, 0, false).setInput(63, 4, true);
    EXPECT_EQ(0x9F, m.inByte(bankPort(63)));
    EXPECT_EQ(0x1E, board.inputs(63));
    EXPECT_EQ(0x00, m.inByte(bankPort(62)));

    EXPECT_EQ(0u, board.strayAccesses());
    EXPECT_EQ(0xFF, m.inByte(bankPort(10))) << "nothing placed: floats";
    m.outByte(bankPort(10), 0x00);
    EXPECT_EQ(2u, board.strayAccesses());
}

// The brainboard answers busy (bit 7) for its delay in reads after every
// request, then hands its registers over; bits 0-5 give its bank.
TEST(AC28Board, AccessHandshakeGrantsAfterTheDelayOrNever) {
    struct Case {
        unsigned delay;
        bool refused;
        std::vector<std::uint8_t> reads;
    } cases[] = {
        {0, false, {0x06}},
        {3, false, {0x86, 0x86, 0x86, 0x06}},
        {9, false, {0x86, 0x86, 0x86, 0x86, 0x86, 0x86, 0x86, 0x86, 0x86, 0x06}},
        {10, false, std::vector<std::uint8_t>(10, 0x86)},
        {0, true, std::vector<std::uint8_t>(10, 0x86)},
    };
    for (const Case& c : cases) {
        Machine m;
        AC28Board& board = m.add<AC28Board>(base, resetPort, true);
        board.placeAnalog(6).setAccessDelay(6, c.delay).setAccessRefused(6, c.refused);
        EXPECT_EQ(c.reads, requestAccess(m, 6)) << c.delay << " " << c.refused;
        const bool granted = !(c.reads.back() & 0x80);
        EXPECT_EQ(granted, board.accessHeld(6));
        EXPECT_EQ(granted ? 0x02 : 0x01, m.inByte(resetPort));
        if (granted)
            release(m, 6);
        EXPECT_EQ(c.reads, requestAccess(m, 6)) << "every request starts the delay again";
        EXPECT_EQ(2u, board.accessRequests(6));
        EXPECT_EQ(granted ? 2u : 0u, board.accessGrants(6));
        release(m, 6);
        EXPECT_FALSE(board.accessHeld(6));
        EXPECT_EQ(0x01, m.inByte(resetPort));
        EXPECT_EQ(granted ? 2u : 0u, board.accessReleases(6));
    }
}

TEST(AC28Board, AnalogRegistersNeedAccessAndOutputsNeedTheMask) {
    Machine m;
    AC28Board& board = m.add<AC28Board>(base, resetPort, true);
    board.placeAnalog(4);
    board.setInputCode(4, 0, 0x080).setInputCode(4, 3, 0x834);

    EXPECT_EQ(0xFF, readRegister(m, 4, 0x00)) << "no access: the registers are not ours";
    writeRegister(m, 4, 0x7E, 0xFF);
    EXPECT_EQ(0x0000, board.outputMask(4));
    EXPECT_EQ(2u, board.strayAccesses());

    ASSERT_EQ(std::vector<std::uint8_t>{0x04}, requestAccess(m, 4));
    EXPECT_EQ(0x80, readRegister(m, 4, 0x00));
    EXPECT_EQ(0x00, readRegister(m, 4, 0x01));
    EXPECT_EQ(0x34, readRegister(m, 4, 0x06));
    EXPECT_EQ(0x38, readRegister(m, 4, 0x07)) << "bits 12-15: the channel number";
    EXPECT_EQ(0x28, readRegister(m, 4, 0x05)) << "mid-scale on a channel never set";

    writeRegister(m, 4, 0x02, 0x12);   // channel 1 is still an input
    writeRegister(m, 4, 0x7E, 0x03);
    writeRegister(m, 4, 0x7F, 0x80);
    EXPECT_EQ(0x8003, board.outputMask(4));
    EXPECT_EQ(0x80, readRegister(m, 4, 0x7F));

    writeRegister(m, 4, 0x00, 0x00);
    writeRegister(m, 4, 0x01, 0xF8);
    EXPECT_EQ(0x800, board.outputCode(4, 0));
    EXPECT_EQ(0xF800, board.outputWord(4, 0));
    writeRegister(m, 4, 0x02, 0xFF);
    EXPECT_EQ(0x000, board.outputCode(4, 1)) << "the low byte waits for the high byte";
    writeRegister(m, 4, 0x03, 0x07);
    EXPECT_EQ(0x7FF, board.outputCode(4, 1));
    EXPECT_EQ(0xFF, readRegister(m, 4, 0x02)) << "an output reads back its word";
    writeRegister(m, 4, 0x1F, 0xFF);   // channel 15: high byte alone
    EXPECT_EQ(0xF00, board.outputCode(4, 15));
    writeRegister(m, 4, 0x40, 0x00);   // no such register
    EXPECT_EQ(0xFF, readRegister(m, 4, 0x40));
    EXPECT_EQ(0x40, m.inByte(bankPort(5))) << "the command port reads back the selection";
    EXPECT_EQ(5u, board.strayAccesses());

    release(m, 4);
    EXPECT_EQ(0xFF, readRegister(m, 4, 0x02));
    EXPECT_TRUE(board.isOutputChannel(4, 15));
    EXPECT_FALSE(board.isOutputChannel(4, 2));
    EXPECT_EQ(0x000, board.outputCode(4, 2));
}

TEST(AC28Board, LinkFaultAndForcedStatusBytes) {
    Machine m;
    AC28Board& board = m.add<AC28Board>(base, resetPort, true);
    board.placeDigital(0).placeAnalog(2);
    board.setInputs(0, 0x01);
    board.setLinkFault(true);
    EXPECT_EQ(0x03, m.inByte(resetPort));
    EXPECT_EQ(0xFF, m.inByte(bankPort(0)));
    EXPECT_EQ(std::vector<std::uint8_t>(10, 0xFF), requestAccess(m, 2));
    board.forceStatus(0xFF);
    EXPECT_EQ(0xFF, m.inByte(resetPort));
    board.setLinkFault(false).unforceStatus();
    EXPECT_EQ(0x01, m.inByte(resetPort));
    EXPECT_EQ(0x01, m.inByte(bankPort(0)));
    m.outWord(bankPort(2), 0x7E82);   // wide access: data, then command
    EXPECT_EQ(0x7E, board.selectedRegister(2));
}

TEST(AC28Board, PlacementIsCheckedAgainstTheWindowAndOtherBrainboards) {
    AC28Board board(base, resetPort, true);
    board.placeAnalog(4).placeDigital(6, 4);
    EXPECT_THROW(board.placeDigital(5), std::logic_error);
    EXPECT_THROW(board.placeAnalog(3), std::logic_error);
    EXPECT_THROW(board.placeAnalog(63), std::logic_error);
    EXPECT_THROW(board.placeDigital(60, 5), std::logic_error);
    EXPECT_THROW(board.setInputs(5, 0), std::logic_error);
    EXPECT_THROW(board.setInputCode(4, 0, 0x1000), std::out_of_range);
    EXPECT_EQ(AC28Board::AnalogCommand, board.kind(5));
    EXPECT_EQ(AC28Board::Digital, board.kind(9));
    EXPECT_EQ(AC28Board::Empty, board.kind(10));
}
