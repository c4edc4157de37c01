// Tracks on an AB1784Card: validation, track state from the scanner status
// and the status table, bank masks, and the image-table transfers.
#include <gtest/gtest.h>

#include <memory>

#include "KTxScene.h"
#include "support/MemoryAccessRecorder.h"

using namespace KTxTest;
using Tavex::IOTrack;

namespace {

class AB1784CardTrack : public ::testing::Test {
protected:
    AB1784CardTrack() : owned(new Tavex::AB1784Card(0xC0000, s.path().c_str(), 0xFE)), card(*owned) {}

    std::uint8_t& image(std::uint32_t offset) { return s.board.memory().data()[offset]; }

    Scene s;
    // Held by pointer: the card's destructor may throw, a fixture's may not.
    std::unique_ptr<Tavex::AB1784Card> owned;
    Tavex::AB1784Card& card;
};

std::vector<long> values(const IOTrack& track) {
    std::vector<long> v;
    for (unsigned i = 0; i < track.numberOfPoints(); ++i)
        v.push_back(track[i]);
    return v;
}

}  // namespace

TEST_F(AB1784CardTrack, RefusedTracks) {
    const std::string analog = "AB1784KTx: Current implementation does not support analog I/O and counters.";
    const std::string length = "AB1784KTx: track length can only by n*8 points";
    const std::string range = "AB1784KTx: starting point parameter value is too high. AB1784KTx track supports up to 256 banks only.";
    struct Case {
        unsigned start;
        std::string letters;
        bool isRange;
        std::string text;
    } cases[] = {
        {0, "IIIIAIII", false, analog},
        {0, "UOOOOOOO", false, analog},
        {0, "IIIIIIIC", false, analog},
        {0, "RIIIIIII", false, analog},
        {0, "IIAI", false, analog},                  // the length is wrong too
        {255, "IIIIIIIIA", false, analog},           // and so is the range
        {0, "IIIIIIIIIIII", false, length},
        {0, "I", false, length},
        {0, std::string(2049, 'I'), false, length},
        {255, std::string(17, 'I'), false, length},  // length before range
        {255, std::string(16, 'I'), true, range},
        {256, std::string(8, 'I'), true, range},
        {0, std::string(2056, 'O'), true, range},
        {0xFFFFFFFFu, std::string(8, 'I'), true, range},
        {0xFFFFFFF8u, std::string(64, 'I'), true, range},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.start << " " << c.letters.substr(0, 16));
        std::function<void()> make = [&] { IOTrack track(card, c.start, c.letters.c_str()); };
        if (c.isRange)
            EXPECT_TRUE(throwsExactly<std::range_error>(make, c.text));
        else
            EXPECT_TRUE(throwsExactly<std::logic_error>(make, c.text));
    }

    // The edges that fit, and letters the card does not reject.
    IOTrack last(card, 255, "IIIIIIII");
    IOTrack all(card, 0, std::string(2048, 'N').c_str());
    IOTrack top(card, 248, std::string(64, 'X').c_str());
    EXPECT_EQ(2048u, all.numberOfPoints());
}

TEST_F(AB1784CardTrack, TrackState) {
    struct Case {
        std::uint16_t scannerStatus;
        std::uint8_t a, b;
        long state;
    } cases[] = {
        {0x0004, 0x03, 0x20, 0},
        {0xFFFF, 0xFF, 0xFF, 0},
        {0x0004, 0x07, 0x21, 0},
        {0x0000, 0x03, 0x20, 2},
        {0xFFFB, 0x03, 0x20, 2},
        {0x0000, 0x00, 0x00, 2},
        {0x0004, 0x01, 0x20, 3},
        {0x0004, 0x02, 0x20, 3},
        {0x0004, 0x03, 0x00, 3},
        {0x0004, 0x03, 0xDF, 3},
        {0x0004, 0xFC, 0xFF, 3},
    };
    IOTrack inputs(card, 4, "IIIIIIII");
    IOTrack outputs(card, 5, "OOOOOOOO");
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.scannerStatus << " " << int(c.a)
                                          << " " << int(c.b));
        s.board.setScannerStatus(c.scannerStatus).setStatusEntry(1, c.a, c.b, 0xFF);
        // Entries 0 and 2 say the opposite, to catch the wrong entry.
        const bool good = c.state == 0;
        s.board.setEntryGood(0, !good).setEntryGood(2, !good);
        s.board.setInputs(4, 0x81);
        outputs[0] = 1;
        outputs[7] = 1;
        image(0x605) = 0;
        EXPECT_EQ(c.state, inputs.updateInputs().trackState());
        EXPECT_EQ(c.state, outputs.updateOutputs().trackState());
        // The data move whatever the state.
        EXPECT_EQ(1, inputs[0]);
        EXPECT_EQ(1, inputs[7]);
        EXPECT_EQ(0x81, s.board.outputImage(5));
        inputs[0] = inputs[7] = 0;
    }
}

TEST_F(AB1784CardTrack, OneStatusEntryPerFourBanksFromTheFirstBank) {
    s.board.setEntryGood(0, true).setEntryGood(1, false).setEntryGood(2, true);
    const struct {
        unsigned start;
        unsigned points;
        long state;
    } cases[] = {
        {3, 8, 0}, {4, 8, 3}, {5, 8, 3}, {6, 8, 3}, {7, 8, 3}, {8, 8, 0},
        {3, 16, 0},    // banks 3 and 4: entry 0 only
        {7, 16, 3},    // banks 7 and 8: entry 1 only
        {0, 64, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.start << "/" << c.points);
        IOTrack track(card, c.start, std::string(c.points, 'I').c_str());
        EXPECT_EQ(c.state, track.updateInputs().trackState());
        EXPECT_EQ(c.state, track.updateOutputs().trackState());
    }
    s.board.setEntryGood(0, false).setEntryGood(1, true);
    IOTrack across(card, 3, std::string(16, 'I').c_str());
    EXPECT_EQ(3, across.updateInputs().trackState());
}

TEST_F(AB1784CardTrack, Inputs) {
    s.board.setInputs(3, 0xA5).setInputs(10, 0x01).setInputs(11, 0x80).setInputs(12, 0xFF);
    IOTrack bank3(card, 3, "IIIIIIII");
    bank3.updateInputs();
    EXPECT_EQ((std::vector<long>{1, 0, 1, 0, 0, 1, 0, 1}), values(bank3));

    // Every bit of an input bank lands in the values, whatever the letter.
    IOTrack wide(card, 10, "NNNNNNNNIIIIIIIIXXXXXXXX");
    wide.updateInputs();
    std::vector<long> expected(24, 0);
    expected[0] = 1;
    expected[15] = 1;
    for (int i = 16; i < 24; ++i)
        expected[i] = 1;
    EXPECT_EQ(expected, values(wide));

    s.board.setInputs(3, 0x00);
    EXPECT_EQ(std::vector<long>(8, 0), values(bank3.updateInputs()));
}

TEST_F(AB1784CardTrack, BanksWithOutputsAreNotRead) {
    s.board.setInputs(4, 0xFF).setInputs(5, 0xFF);
    IOTrack mixed(card, 4, "IIIIOOOOIIIIIIII");
    for (unsigned i = 0; i < 16; ++i)
        mixed[i] = 7;
    mixed.updateInputs();
    std::vector<long> expected(8, 7);
    expected.insert(expected.end(), 8, 1);
    EXPECT_EQ(expected, values(mixed));
}

TEST_F(AB1784CardTrack, Outputs) {
    IOTrack mixed(card, 4, "IIIIOOOO");
    for (unsigned i = 0; i < 8; ++i)
        mixed[i] = 1;
    mixed.updateOutputs();
    EXPECT_EQ(0xF0, s.board.outputImage(4));
    s.machine.advance(0);
    EXPECT_EQ(0xF0, s.board.outputs(4));   // the rack took it

    // Any non-zero value switches a point on.
    IOTrack wide(card, 20, "OOOOOOOOOOOOOOOO");
    const long v[] = {1, 0, -1, 0, 0x7FFFFFFF, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, -2147483647 - 1};
    for (unsigned i = 0; i < 16; ++i)
        wide[i] = v[i];
    wide.updateOutputs();
    EXPECT_EQ(0x55, s.board.outputImage(20));
    EXPECT_EQ(0x80, s.board.outputImage(21));

    // A bank of inputs only is never written.
    image(0x603) = 0x5A;
    IOTrack in(card, 3, "IIIIIIII");
    for (unsigned i = 0; i < 8; ++i)
        in[i] = 1;
    in.updateOutputs();
    EXPECT_EQ(0x5A, image(0x603));
}

TEST_F(AB1784CardTrack, TheLastTrackOverABankDecides) {
    IOTrack first(card, 6, std::string(16, 'O').c_str());
    for (unsigned i = 0; i < 16; ++i)
        first[i] = 1;
    first.updateOutputs();
    EXPECT_EQ(0xFF, s.board.outputImage(6));
    EXPECT_EQ(0xFF, s.board.outputImage(7));

    IOTrack second(card, 7, "IIIIOOOO");
    image(0x606) = 0;
    image(0x607) = 0;
    first.updateOutputs();
    EXPECT_EQ(0xFF, s.board.outputImage(6));
    EXPECT_EQ(0xF0, s.board.outputImage(7));

    {
        IOTrack third(card, 6, "IIIIIIII");
    }
    // The mask stays with the card after the track is gone.
    image(0x606) = 0;
    first.updateOutputs();
    EXPECT_EQ(0x00, s.board.outputImage(6));
    s.board.setInputs(6, 0x0F);
    first.updateInputs();
    EXPECT_EQ(1, first[0]);
    EXPECT_EQ(0, first[4]);
    EXPECT_EQ(1, first[8]);    // bank 7 still has outputs: not read

    // A refused track changes no mask.
    EXPECT_THROW(IOTrack(card, 6, std::string(12, 'O').c_str()), std::logic_error);
    EXPECT_THROW(IOTrack(card, 6, "OOOOOOOA"), std::logic_error);
    EXPECT_THROW(IOTrack(card, 255, std::string(16, 'O').c_str()), std::range_error);
    IOTrack last(card, 255, "IIIIIIII");
    EXPECT_THROW(IOTrack(card, 255, std::string(16, 'O').c_str()), std::range_error);
    image(0x606) = 0x33;
    first.updateOutputs();
    EXPECT_EQ(0x33, image(0x606));
    s.board.setInputs(255, 0x02);
    EXPECT_EQ(1, last.updateInputs()[1]);
}

TEST_F(AB1784CardTrack, UpdatesTouchOnlyStatusAndTheirBanks) {
    if (!Tavex::Test::MemoryAccessRecorder::isSupported())
        GTEST_SKIP() << "no access recorder on this platform";
    IOTrack track(card, 9, "IIIIIIIIOOOOOOOOIIIIIIII");   // banks 9, 10, 11; entry 2
    const std::uint8_t* window = s.board.memory().data();
    Tavex::Test::MemoryAccessRecorder recorder(window, KTx::WindowSize);
    recorder.start();
    track.updateInputs();
    recorder.stop();
    EXPECT_EQ((std::vector<std::size_t>{0x07E, 0x086, 0x087, 0x409, 0x40B}), recorder.offsets());
    recorder.clear();
    recorder.start();
    track.updateOutputs();
    recorder.stop();
    EXPECT_EQ((std::vector<std::size_t>{0x07E, 0x086, 0x087, 0x60A}), recorder.offsets());
}
