// PC7166Card against the PC7166 model: base ports, channel claims, the
// command and data sequences, counts carried on past 24 bits in both
// directions, reverse counters, presets and reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/AllocationCounter.h"
#include "support/ExpectThrow.h"
#include "support/TraceText.h"
#include "tavex/cards/PC7166Card.h"
#include "tavex/model/IOTrack.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/PC7166Board.h"

using Tavex::IOTrack;
using Tavex::PC7166Card;
using Tavex::Sim::Machine;
using Tavex::Sim::PC7166Board;

namespace {

typedef std::vector<Machine::Event> Trace;
const std::uint16_t base = 0x300;

Machine::Event control(unsigned channel, std::uint32_t value) {
    return Machine::portWrite(static_cast<std::uint16_t>(base + 2 * channel + 1), 1, value);
}
Machine::Event dataOut(unsigned channel, std::uint32_t value) {
    return Machine::portWrite(static_cast<std::uint16_t>(base + 2 * channel), 1, value);
}
Machine::Event dataIn(unsigned channel, std::uint32_t value) {
    return Machine::portRead(static_cast<std::uint16_t>(base + 2 * channel), 1, value);
}
void initialisation(Trace& t, unsigned channel) {
    for (std::uint32_t command : {0x20u, 0x68u, 0xC3u, 0x04u})
        t.push_back(control(channel, command));
}
void preset(Trace& t, unsigned channel, std::uint32_t count) {
    t.push_back(control(channel, 0x01));
    for (unsigned k = 0; k < 3; ++k)
        t.push_back(dataOut(channel, (count >> (8 * k)) & 0xFF));
    t.push_back(control(channel, 0x08));
}
void capture(Trace& t, unsigned channel, std::uint32_t count) {
    t.push_back(control(channel, 0x02));
    t.push_back(control(channel, 0x01));
    for (unsigned k = 0; k < 3; ++k)
        t.push_back(dataIn(channel, (count >> (8 * k)) & 0xFF));
}

// Whether a channel of the card can still be claimed: a track on it alone is
// tried, and keeps the channel when it can.
bool claimable(PC7166Card& card, unsigned channel) {
    try {
        IOTrack probe(card, channel, "C");
        return true;
    } catch (const std::logic_error&) {
        return false;
    }
}

class PC7166CardTest : public ::testing::Test {
protected:
    PC7166CardTest() : board(machine.add<PC7166Board>(base)), owned(new PC7166Card(base)),
                       card(*owned) {}

    Tavex::Sim::ScopedMachine machine;
    PC7166Board& board;
    // Held by pointer: the card's destructor may throw, a fixture's may not.
    std::unique_ptr<PC7166Card> owned;
    PC7166Card& card;
};

}  // namespace

TEST(PC7166CardBase, TenBasePortsAndNoPortTouched) {
    Tavex::Sim::ScopedMachine machine;
    std::vector<unsigned> candidates;
    for (unsigned p = 0; p < 0x1000; ++p)
        candidates.push_back(p);
    for (unsigned p : {0x10300u, 0x80000220u, 0xFFFFFFFFu})
        candidates.push_back(p);
    std::vector<unsigned> accepted;
    for (unsigned p : candidates) {
        try {
            PC7166Card card(p);
            EXPECT_EQ(p, card.baseIOPort());
            EXPECT_STREQ("PC7166", card.type());
            accepted.push_back(p);
        } catch (const std::logic_error& e) {
            EXPECT_STREQ("PC7166 card: invalid base IO port number specified.", e.what());
        }
    }
    EXPECT_EQ((std::vector<unsigned>{0x220, 0x240, 0x250, 0x260, 0x300, 0x310, 0x330, 0x340,
                                     0x350, 0x360}),
              accepted);
    EXPECT_EQ(0u, machine.portAccessCount());
}

TEST_F(PC7166CardTest, ATrackInitialisesAndZeroesEachChannelItClaims) {
    struct Case {
        unsigned start;
        const char* letters;
        std::vector<unsigned> claimed;
        std::vector<unsigned> free;
    } cases[] = {
        {2, "CR", {2, 3}, {0, 1}},
        {0, "CNR", {0, 2}, {1, 3}},
        {1, "N", {}, {0, 1, 2, 3}},
        {3, "R", {3}, {0, 1, 2}},
        {0, "CCCC", {0, 1, 2, 3}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.start << " " << c.letters);
        PC7166Card fresh(base);
        machine.clearTrace();
        IOTrack track(fresh, c.start, c.letters);
        Trace expected;
        for (unsigned channel : c.claimed) {
            initialisation(expected, channel);
            preset(expected, channel, 0);
        }
        EXPECT_EQ(expected, machine.portTrace());
        for (unsigned channel : c.claimed) {
            EXPECT_TRUE(board.counting(channel));
            EXPECT_EQ(4u, board.multiplier(channel));
            EXPECT_EQ(0u, board.count(channel));
            EXPECT_FALSE(claimable(fresh, channel));
        }
        for (unsigned channel : c.free)
            EXPECT_TRUE(claimable(fresh, channel));
    }
}

TEST_F(PC7166CardTest, RefusedTracksClaimNothingAndKeepOtherClaims) {
    IOTrack owner(card, 1, "C");
    const char* encoders = "PC7166 only supports up to 4 encoders";
    const char* type = "PC7166 point type can only be Counter or Reverse Counter.";
    const char* used = "PC7166: encoder is already used in another track.";
    struct Case {
        unsigned start;
        std::string letters;
        const char* text;
    } cases[] = {
        {3, "CC", encoders},
        {0, "CCCCC", encoders},
        {4, "C", encoders},
        {5, "I", encoders},                 // the length before the letters
        {0xFFFFFFFFu, "C", encoders},       // no 32-bit wrap of start + length
        {0xFFFFFFFDu, "CCCC", encoders},
        {0, "CI", type},
        {2, "A", type},
        {0, "NNNO", type},
        {0, "c", type},
        {0, "CC", used},
        {0, "RCI", used},                   // point 1 fails before point 2 is looked at
        {0, "ICCC", type},
        {1, "N", nullptr},                  // accepted: a place claims nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.start << " " << c.letters);
        machine.clearTrace();
        if (c.text == nullptr) {
            IOTrack track(card, c.start, c.letters.c_str());
        } else {
            TAVEX_EXPECT_THROW_TEXT(IOTrack track(card, c.start, c.letters.c_str()),
                                    std::logic_error, c.text);
        }
        EXPECT_TRUE(machine.trace().empty());
    }
    // Channel 1 is still owned; the others were never taken.
    EXPECT_FALSE(claimable(card, 1));
    EXPECT_TRUE(claimable(card, 0));
    EXPECT_TRUE(claimable(card, 2));
    EXPECT_TRUE(claimable(card, 3));
}

TEST_F(PC7166CardTest, CountsGoOnAcross24BitsInBothDirections) {
    IOTrack track(card, 0, "CR");
    // Both encoders turn together; the reverse channel reads -1 - position.
    struct Step {
        long long turn;
        std::int32_t count;
    } steps[] = {
        {0, 0},
        {0x7FFFF8, 0x7FFFF8},
        {0x7FFFF8, 0xFFFFF0},
        {0x20, 0x1000010},              // up through 0xFFFFFF
        {-0x20, 0xFFFFF0},              // and back down through it
        {-0x7FFFF8, 0x7FFFF8},
        {-0x7FFFF8, 0},
        {-1, -1},                       // one step below 0
        {-0x7FFFFF, -0x800000},
        {-0x7FFFFF, -0xFFFFFF},
        {-2, -0x1000001},
        {0x800000, -0x800001},          // half the range, read across the 24-bit wrap
        {-0x800000, -0x1000001},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(::testing::Message() << s.turn);
        board.turn(0, s.turn);
        board.turn(1, s.turn);
        track.updateInputs();
        EXPECT_EQ(s.count, track[0]);
        EXPECT_EQ(static_cast<std::int32_t>(-1 - s.count), track[1]);
    }
    // The sequence of one read: capture and pointer, three bytes low first.
    // Every byte 0x80: each counts unsigned.
    board.turn(0, 0x404040);
    track.updateInputs();
    board.turn(0, 0x404041);
    machine.clearTrace();
    track.updateInputs();
    Trace expected;
    capture(expected, 0, 0x808080);
    capture(expected, 1, board.count(1));
    EXPECT_EQ(expected, machine.portTrace());
    EXPECT_EQ(-0x7F7F80, track[0]);
}

TEST_F(PC7166CardTest, CountsWrapAt32Bits) {
    IOTrack track(card, 3, "C");
    track[0] = 0x7FFFFFF0;
    track.updateOutputs();
    EXPECT_EQ(0xFFFFF0u, board.count(3));
    board.turn(3, 0x20);
    track.updateInputs();
    EXPECT_EQ(static_cast<std::int32_t>(0x80000010u), track[0]);
    board.turn(3, -0x20);
    track.updateInputs();
    EXPECT_EQ(0x7FFFFFF0, track[0]);
}

TEST_F(PC7166CardTest, ReverseCounterReadsMinusOneUntilZeroIsWritten) {
    IOTrack track(card, 2, "R");
    track.updateInputs();
    EXPECT_EQ(-1, track[0]);
    EXPECT_FALSE(claimable(card, 2));

    track[0] = 0;
    machine.clearTrace();
    track.updateOutputs();
    Trace expected;
    preset(expected, 2, 0xFFFFFF);
    EXPECT_EQ(expected, machine.portTrace());
    EXPECT_EQ(0xFFFFFFu, board.count(2));
    track.updateInputs();
    EXPECT_EQ(0, track[0]);
    board.turn(2, -3);   // backwards counts the reverse channel up
    track.updateInputs();
    EXPECT_EQ(3, track[0]);
}

TEST_F(PC7166CardTest, OutputsLoadOnlyChangedCounts) {
    IOTrack track(card, 0, "CNRC");
    board.turn(0, 100).turn(2, 5);
    track.updateInputs();
    track[1] = 12345;   // a place: never written
    machine.clearTrace();
    track.updateOutputs();
    EXPECT_TRUE(machine.trace().empty());

    struct Case {
        unsigned point;
        long value;
        std::uint32_t hardware;   // what the counter is loaded with
    } cases[] = {
        {0, 0x1234567, 0x234567},
        {0, -5, 0xFFFFFB},
        {2, -5, 0x000004},
        {2, 0x1000000, 0xFFFFFF},
        {3, static_cast<long>(-2147483647L - 1), 0x000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.point << " " << c.value);
        track[c.point] = c.value;
        machine.clearTrace();
        track.updateOutputs();
        Trace expected;
        preset(expected, c.point, c.hardware);
        EXPECT_EQ(expected, machine.portTrace());
        EXPECT_EQ(c.hardware, board.count(c.point));
        track[c.point] = 0x5A5A;
        track.updateInputs();   // the preset value reads back whole
        EXPECT_EQ(c.value, track[c.point]);
        EXPECT_EQ(12345, track[1]);
    }
}

TEST_F(PC7166CardTest, ResetRestartsEveryChannelFromZero) {
    IOTrack track(card, 1, "RC");
    board.turn(1, 0x10).turn(2, 0x7FFFF8);
    track.updateInputs();
    board.turn(2, 0x7FFFF8);
    track.updateInputs();
    board.turn(2, 0x20);
    track.updateInputs();
    ASSERT_EQ(0x1000010, track[1]);

    machine.clearTrace();
    EXPECT_EQ(&card, &card.reset());
    Trace expected;
    for (unsigned channel = 0; channel < 4; ++channel)
        initialisation(expected, channel);
    EXPECT_EQ(expected, machine.portTrace());

    // With the last count still 0x1000010 the new count 0 would read 0x1000000.
    track.updateInputs();
    EXPECT_EQ(-1, track[0]);
    EXPECT_EQ(0, track[1]);
    board.turn(2, -1);
    track.updateInputs();
    EXPECT_EQ(-1, track[1]);
    EXPECT_TRUE(claimable(card, 0));
    EXPECT_TRUE(claimable(card, 3));
    EXPECT_FALSE(claimable(card, 1));
}

TEST_F(PC7166CardTest, UpdatesAllocateNothing) {
    const std::size_t beforeTrack = AllocationCounter::allocations();
    IOTrack track(card, 0, "CRCR");
    if (AllocationCounter::allocations() == beforeTrack)
        GTEST_SKIP() << "allocations inside the library cannot be counted on this platform";
    machine.setTracing(false);
    auto scan = [&](unsigned n) {
        board.turn(n % 4, 0x9000);
        track.updateInputs();
        track[n % 4] = 0;   // always a change: one preset per scan
        track.updateOutputs();
    };

    const unsigned scans = 1000;
    unsigned n = 0;
    scan(n++);
    const unsigned long accesses = machine.portAccessCount();
    AllocationCounter::Window window;
    for (unsigned i = 0; i < scans; ++i)
        scan(n++);
    EXPECT_EQ(0u, window.allocated());
    // Per scan: four captures of five accesses, one preset of five.
    EXPECT_EQ(scans * 25u, machine.portAccessCount() - accesses);
    EXPECT_EQ(0, track[(n - 1) % 4]);
}
