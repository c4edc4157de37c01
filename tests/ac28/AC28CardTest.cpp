// AC28Card against the AC28 model: port validation, the reset pulse in
// virtual time, refused tracks, output masks of digital banks, the track
// state from the status byte, the brainboard access handshake and both
// analog codings at their extremes.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/AllocationCounter.h"
#include "support/ExpectThrow.h"
#include "support/TraceText.h"
#include "tavex/cards/AC28Card.h"
#include "tavex/model/IOTrack.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AC28Board.h"

using Tavex::AC28Card;
using Tavex::IOTrack;
using Tavex::Sim::AC28Board;
using Tavex::Sim::Machine;

namespace {

typedef std::vector<Machine::Event> Trace;
const std::uint16_t base = 0x180;
const std::uint16_t resetPort = 0x2E0;
const long minimum = -2147483647L - 1;

Machine::Event out(unsigned bank, std::uint32_t value) {
    return Machine::portWrite(static_cast<std::uint16_t>(base + bank), 1, value);
}
Machine::Event in(unsigned bank, std::uint32_t value) {
    return Machine::portRead(static_cast<std::uint16_t>(base + bank), 1, value);
}
Machine::Event status(std::uint32_t value) { return Machine::portRead(resetPort, 1, value); }

// The handshake with the brainboard at bank k, granted at the last of
// busyReads + 1 reads (or refused after ten busy reads).
void request(Trace& t, unsigned bank, unsigned busyReads) {
    t.push_back(out(bank + 1, 0x82));
    for (unsigned i = 0; i < busyReads && i < 10; ++i)
        t.push_back(in(bank, 0x80 | bank));
    if (busyReads < 10)
        t.push_back(in(bank, bank));
}
void release(Trace& t, unsigned bank) {
    t.push_back(out(bank + 1, 0x82));
    t.push_back(out(bank, 0xFF));
}

std::string run(char letter, unsigned count) { return std::string(count, letter); }

// Banks 0-3 digital, analog brainboards at 4, 6 and 8, banks 10-61
// digital, an analog brainboard at 62.
class AC28CardTest : public ::testing::Test {
protected:
    AC28CardTest() : board(machine.add<AC28Board>(base, resetPort, true)) {
        board.placeDigital(0, 4).placeAnalog(4).placeAnalog(6).placeAnalog(8);
        board.placeDigital(10, 52).placeAnalog(62);
        owned.reset(new AC28Card(base, resetPort, true));
        machine.clearTrace();
    }

    Tavex::Sim::ScopedMachine machine;
    AC28Board& board;
    // Held by pointer: the card's destructor may throw, a fixture's may not.
    std::unique_ptr<AC28Card> owned;
    AC28Card& card() { return *owned; }
};

}  // namespace

TEST(AC28CardPorts, BasePortFirstThenResetPortAndNothingWrittenOnRefusal) {
    Tavex::Sim::ScopedMachine machine;
    const char* badBase = "AC28 card: invalid base IO port number specified.";
    const char* badReset = "AC28 card: invalid reset port number specified.";
    std::vector<unsigned> bases, resets;
    for (unsigned p = 0; p < 0x1000; ++p) {
        for (int pass = 0; pass < 2; ++pass) {
            const unsigned b = pass == 0 ? p : 0x100;
            const unsigned r = pass == 0 ? 0xE0 : p;
            const unsigned long accesses = machine.portAccessCount();
            try {
                AC28Card card(b, r, true);
                EXPECT_EQ(b, card.baseIOPort());
                EXPECT_EQ(r, card.resetPort());
                EXPECT_TRUE(card.resetLevel());
                EXPECT_STREQ("AC28", card.type());
                (pass == 0 ? bases : resets).push_back(p);
            } catch (const std::logic_error& e) {
                EXPECT_STREQ(pass == 0 ? badBase : badReset, e.what()) << std::hex << p;
                EXPECT_EQ(accesses, machine.portAccessCount()) << std::hex << p;
            }
        }
    }
    EXPECT_EQ((std::vector<unsigned>{0x100, 0x140, 0x180, 0x280}), bases);
    EXPECT_EQ((std::vector<unsigned>{0xE0, 0x1E0, 0x2E0, 0x3E0}), resets);

    machine.clearTrace();
    TAVEX_EXPECT_THROW_TEXT(AC28Card(0x200, 0xF0, false), std::logic_error, badBase);
    TAVEX_EXPECT_THROW_TEXT(AC28Card(0x10100, 0xE0, false), std::logic_error, badBase);
    TAVEX_EXPECT_THROW_TEXT(AC28Card(0x280, 0x100E0, false), std::logic_error, badReset);
    EXPECT_TRUE(machine.trace().empty());
}

TEST(AC28CardPorts, ResetPulseOf30Milliseconds) {
    for (bool level : {true, false}) {
        SCOPED_TRACE(level);
        Tavex::Sim::ScopedMachine machine;
        AC28Board& board = machine.add<AC28Board>(0x280, 0x3E0, level);
        board.placeDigital(0);
        machine.advance(1000);
        const unsigned resets = board.resetsTaken();
        AC28Card card(0x280, 0x3E0, level);
        const Trace& t = machine.trace();
        ASSERT_EQ(3u, t.size());
        EXPECT_EQ(Machine::portWrite(0x3E0, 1, level ? 1 : 0), t[0]);
        EXPECT_EQ(Machine::sleepEvent(30), t[1]);
        EXPECT_EQ(Machine::portWrite(0x3E0, 1, level ? 0 : 1), t[2]);
        EXPECT_EQ(1000u, t[0].time);
        EXPECT_EQ(1030u, t[2].time);
        EXPECT_EQ(1030u, machine.now());
        // The brainboards took the reset and run again.
        EXPECT_EQ(resets + 1, board.resetsTaken());
        EXPECT_FALSE(board.resetAsserted());
        EXPECT_FALSE(board.inReset());
        EXPECT_EQ(AC28Board::StatusIdle, board.status());
        ASSERT_FALSE(board.resetPulses().empty());
        const AC28Board::ResetPulse& pulse = board.resetPulses().back();
        EXPECT_EQ(1030u, pulse.releasedAt);
        EXPECT_TRUE(pulse.taken);
    }
}

TEST_F(AC28CardTest, RefusedTracksTouchNeitherPortsNorMasks) {
    IOTrack lamps(card(), 2, "OOOOOOOO");
    for (unsigned i = 0; i < 8; ++i)
        lamps[i] = 1;
    machine.clearTrace();

    const char* length = "AC28 track can only have n*8 points";
    const char* mixed =
        "AC28: Mixed digital/analog tracks are not supported in current version. They must be "
        "configured as separate tracks.";
    const char* counters = "AC28 card does not support counters or reverse counters.";
    const char* past = "AC28 track can not reach past bank 63.";
    struct Case {
        unsigned start;
        std::string letters;
        const char* text;
    } cases[] = {
        {2, run('O', 12), length},
        {2, "AAAAIIIICCCC", length},              // the length before the letters
        {2, "I", length},
        {4, run('A', 8) + run('I', 8), mixed},
        {4, "UUUUUUUUOOOOOOOO", mixed},
        {2, "NNNUNNNO", mixed},
        {2, "IIIICCCC", counters},
        {4, "AAAACCCC", counters},                // no digital point: not mixed
        {2, "OOOOOOOR", counters},
        {70, "IIIIIIIC", counters},               // the letters before the banks
        {64, run('I', 8), past},
        {63, run('I', 16), past},
        {2, run('O', 63 * 8), past},
        {0, run('N', 65 * 8), past},
        {0xFFFFFFFFu, run('I', 8), past},
        {0xFFFFFFF8u, run('I', 16), past},        // no 32-bit wrap of start + banks
        {63, run('A', 8), past},                  // the brainboard's command port is bank 64
        {62, run('U', 24), past},                 // a second brainboard at bank 64
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.start << " " << c.letters);
        TAVEX_EXPECT_THROW_TEXT(IOTrack track(card(), c.start, c.letters.c_str()),
                                std::logic_error, c.text);
        EXPECT_TRUE(machine.trace().empty());
    }
    // Bank 2 is still all outputs.
    lamps.updateOutputs();
    EXPECT_EQ(Trace(1, out(2, 0xFF)), machine.portTrace());

    // The last banks themselves are served.
    IOTrack last(card(), 63, "IIIIIIII");
    IOTrack lastBrainboard(card(), 62, run('U', 16).c_str());
    EXPECT_EQ(0xFFFF, board.outputMask(62));
}

TEST_F(AC28CardTest, DigitalBanksFollowTheirOutputMasks) {
    // Each case on banks of its own, so that no output is left on from another.
    struct Case {
        unsigned start;
        std::string letters;
        std::vector<std::uint8_t> masks;   // bank start, start + 1
    } cases[] = {
        {10, "OOOOOOOO", {0xFF}},
        {12, "IIIIOOOO", {0xF0}},
        {14, "IOIOIOIO", {0xAA}},
        {16, "IIIIIIII", {0x00}},
        {18, "NNNNNNNN", {0x00}},
        {20, "OOOOOOOOIIIIIIII", {0xFF, 0x00}},
        {22, "IIIIIIIIOOOONNNN", {0x00, 0x0F}},
        {24, "NOINNNNNXXXXXXXO", {0x02, 0x80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.start << " " << c.letters);
        IOTrack track(card(), c.start, c.letters.c_str());
        EXPECT_TRUE(machine.trace().empty());
        for (unsigned i = 0; i < track.numberOfPoints(); ++i)
            track[i] = 1;
        track.updateOutputs();
        Trace expected;
        for (unsigned k = 0; k < c.masks.size(); ++k)
            if (c.masks[k] != 0 && track.hasPointOfType('O'))
                expected.push_back(out(c.start + k, c.masks[k]));
        EXPECT_EQ(expected, machine.portTrace());
        for (unsigned k = 0; k < c.masks.size(); ++k)
            EXPECT_EQ(c.masks[k], board.outputsOn(c.start + k));
        machine.clearTrace();

        // Banks with an input are read whole: the outputs read back as on.
        for (unsigned k = 0; k < c.masks.size(); ++k)
            board.setInputs(c.start + k, 0x11);
        for (unsigned i = 0; i < track.numberOfPoints(); ++i)
            track[i] = 7;
        track.updateInputs();
        expected.clear();
        std::vector<long> values(track.numberOfPoints(), 7);
        for (unsigned k = 0; k < c.masks.size(); ++k) {
            if (c.masks[k] == 0xFF || !track.hasPointOfType('I'))
                continue;
            const std::uint8_t on = static_cast<std::uint8_t>(0x11 | c.masks[k]);
            expected.push_back(in(c.start + k, on));
            expected.push_back(status(AC28Board::StatusIdle));
            for (unsigned j = 0; j < 8; ++j)
                values[8 * k + j] = (on >> j) & 1;
        }
        EXPECT_EQ(expected, machine.portTrace());
        for (unsigned i = 0; i < track.numberOfPoints(); ++i)
            EXPECT_EQ(values[i], track[i]) << i;
        machine.clearTrace();
    }

    // Only the points switched on reach the bank.
    IOTrack lamps(card(), 2, "OOOOOOOO");
    const long v[] = {1, 0, 0, 0, 0, 0, 0, -5};
    for (unsigned i = 0; i < 8; ++i)
        lamps[i] = v[i];
    lamps.updateOutputs();
    EXPECT_EQ(Trace(1, out(2, 0x81)), machine.portTrace());
}

TEST_F(AC28CardTest, TrackStateComesFromTheStatusByte) {
    IOTrack track(card(), 1, "IIIIIIII");
    board.setInputs(1, 0xA5);
    struct Case {
        std::uint8_t status;
        long state;
    } cases[] = {
        {0xFF, 0}, {0x01, 0}, {0x02, 0}, {0x00, 3}, {0x03, 3}, {0x04, 3}, {0x80, 3}, {0xFE, 3},
        {0x01, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.status));
        board.forceStatus(c.status);
        for (unsigned i = 0; i < 8; ++i)
            track[i] = 7;
        machine.clearTrace();
        track.updateInputs();
        EXPECT_EQ((Trace{in(1, 0xA5), status(c.status)}), machine.portTrace());
        EXPECT_EQ(c.state, track.trackState());
        for (unsigned j = 0; j < 8; ++j)   // stored whatever the status
            EXPECT_EQ((0xA5 >> j) & 1, track[j]);
    }

    // A cable fault: the status says so and the bank floats.
    board.unforceStatus().setLinkFault(true);
    track.updateInputs();
    EXPECT_EQ(3, track.trackState());
    for (unsigned j = 0; j < 8; ++j)
        EXPECT_EQ(1, track[j]);

    // A track whose banks are all outputs now reads nothing and keeps its state.
    board.setLinkFault(false);
    IOTrack lamps(card(), 1, "OOOOOOOO");
    machine.clearTrace();
    track.updateInputs();
    EXPECT_TRUE(machine.trace().empty());
    EXPECT_EQ(3, track.trackState());
}

TEST_F(AC28CardTest, ConfiguringABrainboardGoesThroughTheHandshake) {
    const char* timedOut = "AC28: brainboard access attempt timed out";
    struct Case {
        unsigned bank;
        std::string letters;
        unsigned busyReads;       // 10 or more: refused
        std::uint16_t mask;       // 0: nothing to configure
    } cases[] = {
        {4, run('U', 16), 0, 0xFFFF},
        {4, run('A', 16), 0, 0},
        {6, run('U', 8), 0, 0x00FF},              // bank 7's mask is still 0
        {8, "UUUUAAAAAAAAUUUU", 0, 0xF00F},
        {8, "AAAAAAAAAAAAAAAU", 3, 0x8000},
        {4, "NUNNNNNNNNNNNNNN", 9, 0x0002},       // granted at the tenth read
        {6, run('U', 16), 10, 0xFFFF},            // refused
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bank << " " << c.letters);
        board.setAccessDelay(c.bank, c.busyReads);
        const std::uint16_t before = board.outputMask(c.bank);
        machine.clearTrace();
        Trace expected;
        if (c.mask != 0)
            request(expected, c.bank, c.busyReads);
        if (c.busyReads >= 10) {
            TAVEX_EXPECT_THROW_TEXT(IOTrack track(card(), c.bank, c.letters.c_str()),
                                    std::runtime_error, timedOut);
            EXPECT_EQ(before, board.outputMask(c.bank));
        } else {
            IOTrack track(card(), c.bank, c.letters.c_str());
            if (c.mask != 0) {
                expected.push_back(out(c.bank + 1, 0x7E));
                expected.push_back(out(c.bank, c.mask & 0xFF));
                expected.push_back(out(c.bank + 1, 0x7F));
                expected.push_back(out(c.bank, c.mask >> 8));
                release(expected, c.bank);
                EXPECT_EQ(c.mask, board.outputMask(c.bank));
            }
        }
        EXPECT_EQ(expected, machine.portTrace());
        EXPECT_FALSE(board.accessHeld(c.bank));
        board.setAccessDelay(c.bank, 0);
    }
    EXPECT_EQ(0u, board.strayAccesses());
}

TEST_F(AC28CardTest, InputCodesAreOffsetByHalfTheirRange) {
    IOTrack track(card(), 4, run('A', 16).c_str());
    struct Case {
        std::uint16_t code;
        long value;
    } cases[] = {
        {0x000, minimum},
        {0x001, minimum + 0x100000},
        {0x080, -0x780L * 0x100000},
        {0x7FF, -0x100000},
        {0x800, 0},
        {0x801, 0x100000},
        {0x834, 52L * 0x100000},
        {0xFFF, 0x7FF00000},
    };
    // Each code on one of channels 0-7 and again on 8-15, where the
    // brainboard's channel number shows in the high nibble of the word.
    for (unsigned c = 0; c < 16; ++c)
        board.setInputCode(4, c, cases[c % 8].code);
    machine.clearTrace();
    track.updateInputs();
    Trace expected;
    request(expected, 4, 0);
    for (unsigned c = 0; c < 16; ++c) {
        const std::uint16_t word = static_cast<std::uint16_t>(cases[c % 8].code | c << 12);
        expected.push_back(out(5, 2 * c));
        expected.push_back(in(4, word & 0xFF));
        expected.push_back(out(5, 2 * c + 1));
        expected.push_back(in(4, word >> 8));
    }
    release(expected, 4);
    EXPECT_EQ(expected, machine.portTrace());
    for (unsigned c = 0; c < 16; ++c)
        EXPECT_EQ(cases[c % 8].value, track[c]) << c;
    EXPECT_EQ(0, track.trackState());
    EXPECT_EQ(0u, board.strayAccesses());
}

TEST_F(AC28CardTest, OutputCodesAreTheTopTwelveBitsInTwosComplement) {
    IOTrack track(card(), 6, run('U', 16).c_str());
    struct Case {
        long value;
        std::uint8_t low, high;
    } cases[] = {
        {0, 0x00, 0x00},
        {-1, 0xFF, 0xFF},
        {0x7FF00000, 0xFF, 0x07},
        {minimum, 0x00, 0xF8},
        {0x100000, 0x01, 0x00},
        {0xFFFFF, 0x00, 0x00},
        {-0x100000, 0xFF, 0xFF},
        {0x7FFFFFFF, 0xFF, 0x07},
        {0x12345678, 0x23, 0x01},
        {-0x12345678, 0xDC, 0xFE},
    };
    const unsigned n = sizeof cases / sizeof cases[0];
    for (unsigned c = 0; c < 16; ++c)
        track[c] = c < n ? cases[c].value : 0;
    machine.clearTrace();
    track.updateOutputs();
    Trace expected;
    request(expected, 6, 0);
    for (unsigned c = 0; c < 16; ++c) {
        expected.push_back(out(7, 2 * c));
        expected.push_back(out(6, c < n ? cases[c].low : 0));
        expected.push_back(out(7, 2 * c + 1));
        expected.push_back(out(6, c < n ? cases[c].high : 0));
    }
    release(expected, 6);
    EXPECT_EQ(expected, machine.portTrace());
    for (unsigned c = 0; c < n; ++c) {
        SCOPED_TRACE(cases[c].value);
        EXPECT_EQ(cases[c].high << 8 | cases[c].low, board.outputWord(6, c));
        EXPECT_EQ((cases[c].high & 0x0F) << 8 | cases[c].low, board.outputCode(6, c));
    }
    EXPECT_EQ(0, track.trackState());
    EXPECT_EQ(0u, board.strayAccesses());
}

TEST_F(AC28CardTest, ARefusedBrainboardCostsTheStateNotTheUpdate) {
    IOTrack inputs(card(), 4, run('A', 16).c_str());
    IOTrack outputs(card(), 6, run('U', 16).c_str());
    board.setAccessRefused(4, true).setAccessRefused(6, true);
    for (unsigned c = 0; c < 16; ++c) {
        inputs[c] = 7;
        outputs[c] = 0x7FF00000;
    }

    Trace refused;
    request(refused, 4, 10);
    machine.clearTrace();
    inputs.updateInputs();
    EXPECT_EQ(refused, machine.portTrace());
    EXPECT_EQ(3, inputs.trackState());
    for (unsigned c = 0; c < 16; ++c)
        EXPECT_EQ(7, inputs[c]);

    refused.clear();
    request(refused, 6, 10);
    machine.clearTrace();
    outputs.updateOutputs();
    EXPECT_EQ(refused, machine.portTrace());
    EXPECT_EQ(3, outputs.trackState());
    EXPECT_EQ(0, board.outputCode(6, 0));

    board.setAccessRefused(4, false).setAccessRefused(6, false);
    inputs.updateInputs();
    outputs.updateOutputs();
    EXPECT_EQ(0, inputs.trackState());
    EXPECT_EQ(0, outputs.trackState());
    EXPECT_EQ(0, inputs[0]);
    EXPECT_EQ(0x7FF, board.outputCode(6, 15));
}

TEST_F(AC28CardTest, LongerAnalogTracksServeOneBrainboardPerTwoBanks) {
    // Points 0-15: brainboard 4; points 16-23: channels 0-7 of brainboard 6.
    machine.clearTrace();
    IOTrack track(card(), 4, (run('A', 16) + "UUUUAAAA").c_str());
    Trace expected;
    request(expected, 6, 0);
    expected.push_back(out(7, 0x7E));
    expected.push_back(out(6, 0x0F));
    expected.push_back(out(7, 0x7F));
    expected.push_back(out(6, 0x00));
    release(expected, 6);
    EXPECT_EQ(expected, machine.portTrace());
    EXPECT_EQ(0x000F, board.outputMask(6));
    EXPECT_EQ(0x0000, board.outputMask(4));

    board.setInputCode(4, 15, 0xFFF).setInputCode(6, 7, 0x000);
    track[16] = -1;
    track.updateOutputs();
    EXPECT_EQ(0xFFF, board.outputCode(6, 0));
    track.updateInputs();
    EXPECT_EQ(0x7FF00000, track[15]);
    EXPECT_EQ(minimum, track[23]);
    EXPECT_EQ(-1, track[16]);
    EXPECT_EQ(0, track.trackState());

    // One brainboard refusing: the other is still served.
    board.setAccessRefused(6, true).setInputCode(4, 15, 0x800);
    track.updateInputs();
    EXPECT_EQ(3, track.trackState());
    EXPECT_EQ(0, track[15]);
    EXPECT_EQ(minimum, track[23]);
}

TEST_F(AC28CardTest, UpdatesAllocateNothing) {
    const std::size_t beforeTrack = AllocationCounter::allocations();
    IOTrack digital(card(), 0, "IIIIIIIIOOOOOOOO");
    if (AllocationCounter::allocations() == beforeTrack)
        GTEST_SKIP() << "allocations inside the library cannot be counted on this platform";
    IOTrack analog(card(), 4, "AAAAAAAAUUUUUUUU");
    machine.setTracing(false);
    const unsigned long accesses = machine.portAccessCount();
    AllocationCounter::Window window;
    for (unsigned scan = 0; scan < 1000; ++scan) {
        board.setInputs(0, static_cast<std::uint8_t>(scan));
        digital.updateInputs();
        analog.updateInputs();
        digital[8] = digital[0];
        analog[8] = analog[0];
        digital.updateOutputs();
        analog.updateOutputs();
    }
    EXPECT_EQ(0u, window.allocated());
    // Per scan: one digital bank read with its status, one written; each
    // analog exchange two for the request, four per channel, two for the
    // release.
    EXPECT_EQ(1000u * (2 + 1 + 2 * (2 + 8 * 4 + 2)), machine.portAccessCount() - accesses);
    EXPECT_EQ(1, digital[0]);   // scan 999
    EXPECT_EQ(0x01, board.outputsOn(1));
}
