// AC5Card against the AC5 board model: base ports, the direction
// programming of each port, refused tracks, and the port accesses and
// active-low values of the updates.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "support/ExpectThrow.h"
#include "support/TraceText.h"
#include "tavex/cards/AC5Card.h"
#include "tavex/model/IOTrack.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AC5Board.h"

using Tavex::AC5Card;
using Tavex::IOTrack;
using Tavex::Sim::AC5Board;
using Tavex::Sim::Machine;

namespace {

typedef std::vector<Machine::Event> Trace;
const std::uint16_t base = 0x2A0;

Machine::Event out(unsigned offset, std::uint32_t value) {
    return Machine::portWrite(static_cast<std::uint16_t>(base + offset), 1, value);
}
Machine::Event in(unsigned offset, std::uint32_t value) {
    return Machine::portRead(static_cast<std::uint16_t>(base + offset), 1, value);
}
// The three writes that program port p with a direction mask.
void programming(Trace& t, unsigned p, std::uint8_t mask) {
    t.push_back(out(2 * p + 1, 0x00));
    t.push_back(out(2 * p, mask));
    t.push_back(out(2 * p + 1, 0x34));
}

std::vector<long> values(const IOTrack& track) {
    std::vector<long> v;
    for (unsigned i = 0; i < track.numberOfPoints(); ++i)
        v.push_back(track[i]);
    return v;
}

class AC5CardTest : public ::testing::Test {
protected:
    AC5CardTest() : board(machine.add<AC5Board>(base)), owned(new AC5Card(base)), card(*owned) {}

    Tavex::Sim::ScopedMachine machine;
    AC5Board& board;
    // Held by pointer: the card's destructor may throw, a fixture's may not.
    std::unique_ptr<AC5Card> owned;
    AC5Card& card;
};

}  // namespace

TEST(AC5CardBase, TwentyEightValidBasePortsAndNoHardwareTouched) {
    Tavex::Sim::ScopedMachine machine;
    std::vector<unsigned> accepted;
    std::vector<unsigned> candidates;
    for (unsigned p = 0; p < 0x1000; ++p)
        candidates.push_back(p);
    for (unsigned p : {0x10220u, 0x100220u, 0x80000220u, 0xFFFFFFFFu, 0xFFFF0300u})
        candidates.push_back(p);
    for (unsigned p : candidates) {
        try {
            AC5Card card(p);
            EXPECT_EQ(p, card.baseIOPort());
            EXPECT_STREQ("AC5", card.type());
            accepted.push_back(p);
        } catch (const std::exception& e) {
            EXPECT_EQ(typeid(std::logic_error), typeid(e)) << std::hex << p;
            EXPECT_STREQ("AC5 card: invalid base IO port number specified.", e.what()) << p;
        }
    }
    std::vector<unsigned> expected;
    for (unsigned p = 0x220; p <= 0x3E0; p += 0x10)
        if (p != 0x270)
            expected.push_back(p);
    EXPECT_EQ(28u, expected.size());
    EXPECT_EQ(expected, accepted);
    EXPECT_EQ(0u, machine.portAccessCount());
}

TEST_F(AC5CardTest, ProgramsTheDirectionOfEachPort) {
    struct Case {
        unsigned start;
        const char* letters;
        std::vector<std::uint8_t> masks;   // of ports start, start + 1, ...
    } cases[] = {
        {1, "IIIIIIII", {0x00}},
        {1, "OOOOIIII", {0x0F}},
        {0, "OOOOIIII", {0x0F}},
        {2, "IOIOIOIO", {0xAA}},
        {0, "NNNNNNNNOIIIIIIO", {0x00, 0x81}},
        {1, "OOOOOOOOONONONON", {0xFF, 0x55}},
        {0, "OOOOOOOOIIIIIIIINONONONO", {0xFF, 0x00, 0xAA}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.start << " " << c.letters);
        unsigned counts[3];
        for (unsigned p = 0; p < 3; ++p)
            counts[p] = board.programmingCount(p);
        machine.clearTrace();
        IOTrack track(card, c.start, c.letters);
        Trace expected;
        for (unsigned i = 0; i < c.masks.size(); ++i)
            programming(expected, c.start + i, c.masks[i]);
        EXPECT_EQ(expected, machine.portTrace());
        for (unsigned i = 0; i < c.masks.size(); ++i) {
            EXPECT_EQ(c.masks[i], board.directionMask(c.start + i));
            EXPECT_EQ(counts[c.start + i] + 1, board.programmingCount(c.start + i));
            EXPECT_EQ(AC5Board::DataRegister, board.mode(c.start + i));
        }
        EXPECT_EQ(0, track.trackState());
    }
    EXPECT_EQ(0u, board.strayAccesses());
}

TEST_F(AC5CardTest, RefusedTracks) {
    const char* length = "AC5 track can be only 8, 16 or 24 points long.";
    const char* letter = "AC5 card only supports digital IO.";
    const char* start = "AC5 track starting point too big.";
    struct Case {
        unsigned start;
        std::string letters;
        const char* text;
        std::vector<std::uint8_t> programmed;   // masks written before the refusal, from port start
    } cases[] = {
        {0, "I", length, {}},
        {0, "IIIIIII", length, {}},
        {0, "IIIIIIIII", length, {}},
        {1, "OOOOOOOOOOOO", length, {}},
        {0, std::string(15, 'I'), length, {}},
        {0, std::string(17, 'O'), length, {}},
        {0, std::string(23, 'I'), length, {}},
        {0, std::string(25, 'I'), length, {}},
        {0, std::string(32, 'I'), length, {}},
        {0, "AIIIIIII", letter, {}},
        {1, "IIIIIIIU", letter, {}},
        {2, "IIICIIII", letter, {}},
        {0, "IIIIRIII", letter, {}},
        {0, "iIIIIIII", letter, {}},
        {0, "IIIIIIIo", letter, {}},
        {0, "IIIIIII ", letter, {}},
        {0, "OOOOOOOOIIIIAIII", letter, {0xFF}},
        {1, "IIIIOOOOIIIIIIIX", letter, {0xF0}},
        {0, "OIOIOIOIIIIIIIIIIIIIIIIA", letter, {0x55, 0x00}},
        {3, "IIIIIIII", start, {}},
        {2, std::string(16, 'I'), start, {}},
        {1, std::string(24, 'O'), start, {}},
        {0x80000000u, "IIIIIIII", start, {}},
        {0xFFFFFFFFu, std::string(16, 'I'), start, {}},
        {0xFFFFFFFEu, std::string(24, 'I'), start, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.start << " \"" << c.letters << "\"");
        machine.clearTrace();
        EXPECT_TRUE(throwsExactly<std::logic_error>(
            [&] { IOTrack track(card, c.start, c.letters.c_str()); }, c.text));
        Trace expected;
        for (unsigned i = 0; i < c.programmed.size(); ++i)
            programming(expected, c.start + i, c.programmed[i]);
        EXPECT_EQ(expected, machine.portTrace());
    }

    // The last ports that exist are fine.
    IOTrack port2(card, 2, "IIIIIIII");
    IOTrack ports12(card, 1, std::string(16, 'I').c_str());
    IOTrack all(card, 0, std::string(24, 'I').c_str());
}

TEST_F(AC5CardTest, InputsAreActiveLow) {
    IOTrack track(card, 1, "IIIIIIII");
    struct Case {
        std::uint8_t lines;
        std::vector<long> values;
    } cases[] = {
        {0xFF, {0, 0, 0, 0, 0, 0, 0, 0}},
        {0xFE, {1, 0, 0, 0, 0, 0, 0, 0}},
        {0x7F, {0, 0, 0, 0, 0, 0, 0, 1}},
        {0x00, {1, 1, 1, 1, 1, 1, 1, 1}},
        {0xA5, {0, 1, 0, 1, 1, 0, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.lines));
        board.setInputLines(1, c.lines);
        machine.clearTrace();
        track.updateInputs();
        EXPECT_EQ(c.values, values(track));
        EXPECT_EQ(Trace(1, in(2, c.lines)), machine.portTrace());
        EXPECT_EQ(0, track.trackState());
    }
}

TEST_F(AC5CardTest, OutputsAreActiveLowAndMasked) {
    IOTrack track(card, 0, "OOOOIIII");
    const long v[] = {1, 0, 1, 0, 1, 1, 1, 1};   // the inputs' values are not driven
    for (unsigned i = 0; i < 8; ++i)
        track[i] = v[i];
    machine.clearTrace();
    track.updateOutputs();
    EXPECT_EQ(Trace(1, out(0, 0xFA)), machine.portTrace());
    EXPECT_TRUE(board.outputOn(0, 0));
    EXPECT_FALSE(board.outputOn(0, 1));
    EXPECT_TRUE(board.outputOn(0, 2));
    EXPECT_FALSE(board.outputOn(0, 3));
    EXPECT_EQ(0xFA, board.drivenLevels(0));

    // Any non-zero value switches a point on.
    const long w[] = {-1, 0x7FFFFFFF, 2, -2147483647 - 1, 0, 0, 0, 0};
    for (unsigned i = 0; i < 8; ++i)
        track[i] = w[i];
    machine.clearTrace();
    track.updateOutputs();
    EXPECT_EQ(Trace(1, out(0, 0xF0)), machine.portTrace());
}

// A value keeps its 32-bit meaning where long is wider: only its low 32
// bits decide, so 0x100000000 is off on a 64-bit build, as on Windows.
TEST_F(AC5CardTest, OnlyTheLow32BitsOfAnOutputValueCount) {
    if (sizeof(long) <= 4)
        GTEST_SKIP() << "long has 32 bits here";
    IOTrack track(card, 0, "OOOOOOOO");
    const long long v[] = {0x100000000LL, -0x100000000LL, 0x7FFFFFFF00000000LL, 0x100000001LL,
                           0,             0,              0,                    0};
    for (unsigned i = 0; i < 8; ++i)
        track[i] = static_cast<long>(v[i]);
    machine.clearTrace();
    track.updateOutputs();
    EXPECT_EQ(Trace(1, out(0, 0xF7)), machine.portTrace()) << "only point 3 is on";
}

TEST_F(AC5CardTest, EachUpdateTouchesOnlyThePortsThatNeedIt) {
    IOTrack track(card, 0, "OOOOOOOOIIIIIIIIOOOOIIII");   // all out, all in, mixed
    board.setInputLines(1, 0x0F).setInputLines(2, 0x3F);
    for (unsigned i = 0; i < 24; ++i)
        track[i] = (i % 3) == 0;

    machine.clearTrace();
    track.updateOutputs();
    // Port 0: points 0, 3, 6 on.  Port 2: point 18 (bit 2) on; point 21
    // (bit 5) is an input and is not driven.
    EXPECT_EQ((Trace{out(0, 0xB6), out(4, 0xFB)}), machine.portTrace());

    machine.clearTrace();
    track.updateInputs();
    // Port 2 reads its outputs back: the latch 0xFB on bits 0-3, lines on 4-7.
    const std::uint8_t port2 = (0xFB & 0x0F) | (0x3F & 0xF0);
    EXPECT_EQ((Trace{in(2, 0x0F), in(4, port2)}), machine.portTrace());
    std::vector<long> expected(8, 1);   // port 0 is not read: its values stay 1,0,0,1,...
    for (unsigned i = 0; i < 8; ++i)
        expected[i] = (i % 3) == 0;
    for (unsigned j = 0; j < 8; ++j)
        expected.push_back((0x0F >> j) & 1 ? 0 : 1);
    for (unsigned j = 0; j < 8; ++j)
        expected.push_back((port2 >> j) & 1 ? 0 : 1);
    EXPECT_EQ(expected, values(track));
}

TEST_F(AC5CardTest, TheLastTrackOverAPortDecides) {
    IOTrack lamps(card, 1, "OOOOOOOO");
    for (unsigned i = 0; i < 8; ++i)
        lamps[i] = 1;
    lamps.updateOutputs();
    EXPECT_EQ(0x00, board.outputLatch(1));

    IOTrack switches(card, 1, "IIIIIIII");
    EXPECT_EQ(0x00, board.directionMask(1));
    EXPECT_EQ(2u, board.programmingCount(1));
    machine.clearTrace();
    lamps.updateOutputs();                      // now all inputs: not written
    EXPECT_TRUE(machine.portTrace().empty());
    board.setInputLines(1, 0xF0);
    lamps.updateInputs();                       // and read instead
    EXPECT_EQ((std::vector<long>{1, 1, 1, 1, 0, 0, 0, 0}), values(lamps));

    // A track refused in its second port has already reprogrammed its first.
    EXPECT_THROW(IOTrack(card, 0, "OOOOOOOOIIIIIIIA"), std::logic_error);
    EXPECT_EQ(0xFF, board.directionMask(0));
    EXPECT_EQ(0x00, board.directionMask(1));
}
