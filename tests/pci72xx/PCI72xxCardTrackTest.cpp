// Tracks on the card: what addTrack refuses and in which order, the
// control word and where it goes, which ports the updates touch, and the
// active-low lines.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "PCI72xxScene.h"
#include "tavex/cards/PCI72xxCard.h"
#include "tavex/model/IOTrack.h"

using namespace pci72xxtest;
using Tavex::IOTrack;
using Tavex::PCI72xxCard;

namespace {

const char* const lengthText = "PCI72xx track can be only 24 points long.";
const char* const startText = "PCI72xx track starting point too big.";
const char* const digitalText = "PCI72xx card only supports digital IO.";
const char* const portAText = "PCI72xx track first 8 points can not be mixed.";
const char* const portBText = "PCI72xx track second 8 points can not be mixed.";
const char* const portCText = "PCI72xx track Last 8 points can be mixed only in groups of 4.";

const std::string I8 = run('I', 8), O8 = run('O', 8), I4 = run('I', 4), O4 = run('O', 4);

}  // namespace

TEST(PCI72xxCardTrack, RefusedTracksGiveTheFirstFailingTestsTextAndTouchNothing) {
    Scene scene;
    Board& board = scene.board(0, 4, Board::PCI7248, 0xE000);
    PCI72xxCard card;
    // Tracks already on both groups: their directions must survive.
    IOTrack outputs0(card, 0, run('O', 24).c_str());
    IOTrack outputs1(card, 1, run('O', 24).c_str());

    struct Case {
        std::string types;
        unsigned start;
        const char* text;
    };
    const Case cases[] = {
        {run('I', 23), 5, lengthText},
        {run('I', 25), 0, lengthText},
        {"O", 0, lengthText},
        {run('A', 23), 9, lengthText},
        {run('I', 24), 2, startText},
        {run('I', 24), 0xFFFFFFFF, startText},
        {"A" + run('I', 23), 2, startText},
        {"A" + run('I', 23), 1, digitalText},
        {O8 + O8 + run('O', 7) + "U", 0, digitalText},
        {run('O', 7) + "I" + I8 + "IIIIIIIC", 0, digitalText},
        {run('I', 12) + "R" + run('I', 11), 1, digitalText},
        {"i" + run('I', 23), 0, digitalText},
        {"o" + run('O', 23), 0, digitalText},
        {run('O', 7) + "I" + I8 + I8, 0, portAText},
        {"I" + run('O', 7) + I8 + I8, 1, portAText},
        {run('O', 7) + "I" + I8 + "OOIIIIII", 0, portAText},
        {I8 + "IOIIIIII" + I8, 0, portBText},
        {I8 + "IOIIIIII" + "OOIIIIII", 1, portBText},
        {I8 + I8 + "OOIIIIII", 0, portCText},
        {I8 + I8 + "IIOOOOII", 1, portCText},
        {O8 + O8 + "OOOOOOOI", 0, portCText},
        {O8 + O8 + "NOOOOOOO", 0, portCText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.types << " at " << c.start);
        scene.machine.clearTrace();
        TAVEX_EXPECT_THROW_TEXT(IOTrack track(card, c.start, c.types.c_str()), std::logic_error,
                                  c.text);
        EXPECT_TRUE(scene.machine.portTrace().empty());
    }
    EXPECT_EQ(1u, board.controlWrites(0));
    EXPECT_EQ(1u, board.controlWrites(1));

    // Both groups are still all outputs for the card.
    scene.machine.clearTrace();
    outputs0.updateInputs();
    outputs1.updateInputs();
    EXPECT_TRUE(scene.machine.portTrace().empty());
    outputs0.updateOutputs();
    outputs1.updateOutputs();
    const std::vector<Event> expected = {out(0xE000, 0xFF), out(0xE001, 0xFF), out(0xE002, 0xFF),
                                         out(0xE004, 0xFF), out(0xE005, 0xFF), out(0xE006, 0xFF)};
    EXPECT_EQ(expected, scene.machine.portTrace());
}

TEST(PCI72xxCardTrack, ControlWordAndMasksFollowTheDirectionsOfEachPort) {
    struct Case {
        std::string types;
        unsigned group;
        std::uint8_t control;
        std::vector<unsigned> inputPorts;    // read by updateInputs, in order
        std::vector<unsigned> outputPorts;   // written by updateOutputs, in order
    };
    const Case cases[] = {
        {I8 + O8 + I4 + O4, 0, 0x11, {0, 2}, {1, 2}},
        {run('I', 24), 3, 0x1B, {0, 1, 2}, {}},
        {run('N', 24), 1, 0x1B, {0, 1, 2}, {}},
        {run('O', 24), 2, 0x00, {}, {0, 1, 2}},
        {O8 + I8 + O4 + I4, 3, 0x0A, {1, 2}, {0, 2}},
        {I8 + I8 + O4 + I4, 0, 0x1A, {0, 1, 2}, {2}},
        {run('N', 8) + O8 + run('N', 8), 1, 0x19, {0, 2}, {1}},
        {I8 + "NNNNIIII" + O8, 2, 0x12, {0, 1}, {2}},
        {O8 + O8 + I4 + "NNNN", 0, 0x09, {2}, {0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.types << " on group " << c.group);
        Scene scene;
        Board& board = scene.board(0, 4, Board::PCI7296, 0xE010);
        PCI72xxCard card;
        const unsigned base = 0xE010 + 4 * c.group;

        scene.machine.clearTrace();
        IOTrack track(card, c.group, c.types.c_str());
        EXPECT_EQ(std::vector<Event>{out(base + 3, c.control)}, scene.machine.portTrace());
        EXPECT_EQ(c.control, board.controlWord(c.group));
        EXPECT_EQ(1u, board.controlWrites(c.group));

        // Outputs first: all values 0 write every bit high.  (Read first,
        // an output half of port C would take the complement of its latch.)
        scene.machine.clearTrace();
        track.updateOutputs();
        std::vector<Event> expectedWrites;
        for (unsigned p : c.outputPorts)
            expectedWrites.push_back(out(base + p, 0xFF));
        EXPECT_EQ(expectedWrites, scene.machine.portTrace());

        scene.machine.clearTrace();
        track.updateInputs();
        std::vector<Event> expectedReads;
        for (unsigned p : c.inputPorts)
            expectedReads.push_back(in(base + p, board.lineLevels(c.group, Board::Port(p))));
        EXPECT_EQ(expectedReads, scene.machine.portTrace());
    }
}

TEST(PCI72xxCardTrack, InputLinesHeldLowReadOne) {
    Scene scene;
    Board& board = scene.board(0, 4, Board::PCI7248, 0xE000);
    PCI72xxCard card;
    IOTrack track(card, 1, ("IIIINNNN" + I8 + I8).c_str());
    board.setInputLevels(1, Board::PortA, 0x0E)   // lines 0 and 4 to 7 low
        .setInputLevels(1, Board::PortB, 0xFF)
        .setInputLevels(1, Board::PortC, 0x7F);   // line 23 low
    board.setLineLevel(1, 9, false).setLineLevel(0, 9, false);

    scene.machine.clearTrace();
    track.updateInputs();
    const std::vector<Event> expected = {in(0xE004, 0x0E), in(0xE005, 0xFD), in(0xE006, 0x7F)};
    EXPECT_EQ(expected, scene.machine.portTrace());
    for (unsigned i = 0; i < 24; ++i) {
        const long low = (i == 0 || (i >= 4 && i <= 7) || i == 9 || i == 23) ? 1 : 0;
        EXPECT_EQ(low, track[i]) << "point " << i;
    }
}

TEST(PCI72xxCardTrack, NonZeroOutputsDriveTheirLinesLowAndOtherBitsAreWrittenHigh) {
    Scene scene;
    Board& board = scene.board(0, 4, Board::PCI7248, 0xE000);
    PCI72xxCard card;
    IOTrack track(card, 0, (O8 + O8 + O4 + I4).c_str());

    scene.machine.clearTrace();
    track.updateOutputs();
    EXPECT_EQ((std::vector<Event>{out(0xE000, 0xFF), out(0xE001, 0xFF), out(0xE002, 0xFF)}),
              scene.machine.portTrace());

    track[0] = 5;
    track[3] = 1;
    track[9] = -1;
    track[16] = 1;
    track[20] = 1;   // an input point: its value goes nowhere
    scene.machine.clearTrace();
    track.updateOutputs();
    EXPECT_EQ((std::vector<Event>{out(0xE000, 0xF6), out(0xE001, 0xFD), out(0xE002, 0xFE)}),
              scene.machine.portTrace());
    EXPECT_EQ(0xF6, board.drivenLevels(0, Board::PortA));
    EXPECT_EQ(0xFD, board.drivenLevels(0, Board::PortB));
    EXPECT_EQ(0x0F, board.outputLines(0, Board::PortC));
    EXPECT_EQ(0xFE, board.drivenLevels(0, Board::PortC));
}

TEST(PCI72xxCardTrack, PortCWithOneOutputHalfReadsBackTheOutputLatch) {
    Scene scene;
    Board& board = scene.board(0, 4, Board::PCI7296, 0xE010);
    PCI72xxCard card;
    IOTrack track(card, 2, (I8 + I8 + I4 + O4).c_str());
    board.setInputLevels(2, Board::PortC, 0xF5);   // lines 17 and 19 low
    track[20] = 1;
    track[23] = 7;
    track.updateOutputs();
    EXPECT_EQ(0x6F, board.latch(2, Board::PortC));

    scene.machine.clearTrace();
    track.updateInputs();
    EXPECT_EQ((std::vector<Event>{in(0xE018, 0xFF), in(0xE019, 0xFF), in(0xE01A, 0x65)}),
              scene.machine.portTrace());
    const long expected[8] = {0, 1, 0, 1, 1, 0, 0, 1};
    for (unsigned j = 0; j < 8; ++j)
        EXPECT_EQ(expected[j], track[16 + j]) << "point " << 16 + j;
}

TEST(PCI72xxCardTrack, AnAllOutputTrackReadsNothingAndKeepsItsValues) {
    Scene scene;
    Board& board = scene.board(0, 4, Board::PCI7248, 0xE000);
    board.setInputLevels(0, Board::PortA, 0x00);
    PCI72xxCard card;
    IOTrack track(card, 0, run('O', 24).c_str());
    for (unsigned i = 0; i < 24; ++i)
        track[i] = 7;
    scene.machine.clearTrace();
    track.updateInputs();
    EXPECT_TRUE(scene.machine.portTrace().empty());
    for (unsigned i = 0; i < 24; ++i)
        EXPECT_EQ(7, track[i]) << "point " << i;
    EXPECT_EQ(0, track.trackState());
}

TEST(PCI72xxCardTrack, TheLastTrackAddedOnAGroupDecidesItsDirections) {
    Scene scene;
    Board& board = scene.board(0, 4, Board::PCI7248, 0xE000);
    PCI72xxCard card;
    IOTrack first(card, 1, run('O', 24).c_str());
    IOTrack second(card, 1, (I8 + O8 + I8).c_str());
    EXPECT_EQ(2u, board.controlWrites(1));
    EXPECT_EQ(0x19, board.controlWord(1));

    first[0] = 1;
    first[8] = 1;
    scene.machine.clearTrace();
    first.updateOutputs();
    EXPECT_EQ(std::vector<Event>{out(0xE005, 0xFE)}, scene.machine.portTrace());
    scene.machine.clearTrace();
    first.updateInputs();
    EXPECT_EQ((std::vector<Event>{in(0xE004, 0xFF), in(0xE006, 0xFF)}), scene.machine.portTrace());
}
