// SST5136PFBPCI tracks against the board model: which tracks are refused
// and in what order, where a track's bytes lie in a slave's data, mixed
// input and output bytes, the track states, board data that would put a
// track outside the window, and no allocation on the update path.
#include <gtest/gtest.h>

#include <functional>

#include "PFBScene.h"
#include "support/AllocationCounter.h"

using namespace PFBTest;
using Tavex::IOTrack;

namespace {

// A running board with slaves 0 (16 in, 16 out), 5 (32 in, 32 out) and 126
// (8 in, 8 out), slave 7 on the network but not configured; a card on it,
// online unless told otherwise.
struct Network : Scene {
    explicit Network(bool goOnline = true) {
        board.powerUpRunning()
            .addSlave(0, 16, 16)
            .addSlave(5, 32, 32)
            .addSlave(126, 8, 8)
            .addSlave(7, 4, 4, false);
        prepare();
        owned = card();
        if (goOnline)
            owned->online();
    }
    virtual void prepare() {}
    Card& c() { return *owned; }
    std::uint8_t inputData(unsigned slave, unsigned b) const {
        return byte(board.inputDataOffset(slave) + b);
    }
    std::uint8_t outputData(unsigned slave, unsigned b) const {
        return byte(board.outputDataOffset(slave) + b);
    }
    void setOutputData(unsigned slave, unsigned b, unsigned count, std::uint8_t value) {
        board.memory().fill(board.outputDataOffset(slave) + b, count, value);
    }
    std::unique_ptr<Card> owned;
};

std::vector<long> bitsOf(std::initializer_list<std::uint8_t> bytes) {
    std::vector<long> v;
    for (std::uint8_t b : bytes)
        for (unsigned j = 0; j < 8; ++j)
            v.push_back((b >> j) & 1);
    return v;
}

const char* const analogText =
    "SST-5136-PFB-PCI: Current implementation does not support analog I/O and counters.";
const char* const lengthText = "SST-5136-PFB-PCI: track length can only by n*8 points";
const char* const lowerText =
    "SST-5136-PFB-PCI: starting point parameter lower value is too high. SST5136PFBPCI supports "
    "up to 244 bytes per slave only.";
const char* const upperText =
    "SST-5136-PFB-PCI: starting point parameter upper value is too high. SST5136PFBPCI supports "
    "up to 126 slaves only.";
const char* const notConfiguredText =
    "SST-5136-PFB-PCI: starting point parameter upper value is invalid. Slave is not configured "
    "by Profibus.";

}  // namespace

// The tests run in a fixed order: letters, length, byte range, slave
// address, slave configured.  An accepted track writes nothing to the board.
TEST(SST5136PFBPCITrack, AddTrackChecksInOrder) {
    Network s(false);
    const std::string eight(8, 'I'), sixtyFour(64, 'O');
    struct Case {
        unsigned start;
        std::string letters;
        bool logic;          // logic_error, else range_error
        const char* text;    // 0: accepted
    } cases[] = {
        {at(5, 0), "IIIIIIIU", true, analogText},
        {at(5, 0), "AOOOOOOO", true, analogText},
        {at(5, 0), "IIIICIII", true, analogText},
        {at(5, 0), "RIIIIIII", true, analogText},
        {at(200, 240), "IIIIIIIIIIIA", true, analogText},   // before the length and range
        {at(5, 0), std::string(12, 'I'), true, lengthText},
        {at(200, 250), std::string(4, 'O'), true, lengthText},   // before the range
        {at(5, 236), sixtyFour, false, 0},                        // bytes 236 to 243
        {at(5, 237), sixtyFour, false, lowerText},
        {at(5, 243), eight, false, 0},
        {at(5, 244), eight, false, lowerText},
        {at(5, 0xFFFF), eight, false, lowerText},
        {at(200, 240), sixtyFour, false, lowerText},              // before the address
        {at(126, 0), eight, false, 0},
        {at(127, 0), eight, false, upperText},
        {at(0xFFFF, 0), eight, false, upperText},
        {at(7, 0), eight, false, notConfiguredText},              // on the network only
        {at(8, 0), eight, false, notConfiguredText},              // absent
        {at(0, 0), "NNNNNNNNXXXXXXXX", false, 0},                 // letters it does not refuse
    };
    const Tavex::Sim::Region& memory = s.board.memory();
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.start << " " << c.letters);
        const Bytes before(memory.data(), memory.data() + memory.size());
        if (c.text == 0) {
            IOTrack track(s.c(), c.start, c.letters.c_str());
            EXPECT_EQ(c.letters.size(), track.numberOfPoints());
        } else if (c.logic) {
            TAVEX_EXPECT_THROW_TEXT(IOTrack(s.c(), c.start, c.letters.c_str()), std::logic_error,
                                    c.text);
        } else {
            TAVEX_EXPECT_THROW_TEXT(IOTrack(s.c(), c.start, c.letters.c_str()), std::range_error,
                                    c.text);
        }
        EXPECT_TRUE(before == Bytes(memory.data(), memory.data() + memory.size()));
    }
}

// Slave address in the upper 16 bits, byte offset in the lower: slave 5,
// offset 10, 16 points cover bytes 10 and 11 of slave 5's data.
TEST(SST5136PFBPCITrack, StartingPointPicksSlaveAndByte) {
    Network s;
    Bytes in5 = pattern(32, 0x10);
    in5[10] = 0xA5;
    in5[11] = 0x3C;
    s.board.setInputs(5, 0, in5).setInputs(0, 0, pattern(16, 0x80));
    s.setOutputData(5, 0, 32, 0x00);
    s.setOutputData(0, 0, 16, 0x00);

    IOTrack inputs(s.c(), at(5, 10), "IIIIIIIIIIIIIIII");
    IOTrack outputs(s.c(), at(5, 10), "OOOOOOOOOOOOOOOO");
    EXPECT_EQ(&inputs, &inputs.updateInputs());
    EXPECT_EQ(bitsOf({0xA5, 0x3C}), values(inputs));
    const std::vector<long> on = bitsOf({0x81, 0x7E});
    for (unsigned i = 0; i < 16; ++i)
        outputs[i] = on[i] ? -7 : 0;   // any value but 0 switches a point on
    EXPECT_EQ(&outputs, &outputs.updateOutputs());
    for (unsigned b = 0; b < 32; ++b)
        EXPECT_EQ(b == 10 ? 0x81 : b == 11 ? 0x7E : 0, s.outputData(5, b)) << b;
    for (unsigned b = 0; b < 16; ++b)
        EXPECT_EQ(0, s.outputData(0, b)) << b;

    // The slave takes them at the next exchange.
    s.machine.advance(1);
    EXPECT_EQ(0x81, s.board.output(5, 10));
    EXPECT_EQ(0x7E, s.board.output(5, 11));
}

// Inputs only to input points; every byte of the range written on output,
// bits of points that are not outputs as 0.
TEST(SST5136PFBPCITrack, MixedBytes) {
    struct Case {
        const char* letters;
        std::uint8_t inputs[2];
        std::vector<long> before;   // the client's values before both updates
        std::vector<long> afterInputs;
        int outputs[2];             // -1: the byte is not written
    } cases[] = {
        {"IIIIIIIIOOOOOOOO", {0xF0, 0xFF}, bitsOf({0xFF, 0x3A}), bitsOf({0xF0, 0x3A}),
         {0x00, 0x3A}},
        {"IONNOOIIXXXXXXXX", {0xFF, 0xFF}, bitsOf({0x3C, 0xFF}), bitsOf({0xFD, 0xFF}),
         {0x30, 0x00}},
        {"IIIIIIIIIIIIIIII", {0x12, 0x34}, bitsOf({0xFF, 0xFF}), bitsOf({0x12, 0x34}),
         {-1, -1}},
        {"OOOOOOOONNNNNNNN", {0x12, 0x34}, bitsOf({0x5A, 0xFF}), bitsOf({0x5A, 0xFF}),
         {0x5A, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.letters);
        Network s;
        s.board.setInput(5, 20, c.inputs[0]).setInput(5, 21, c.inputs[1]);
        s.setOutputData(5, 19, 4, 0xEE);
        IOTrack track(s.c(), at(5, 20), c.letters);
        for (unsigned i = 0; i < 16; ++i)
            track[i] = c.before[i];
        track.updateInputs();
        EXPECT_EQ(c.afterInputs, values(track));
        for (unsigned i = 0; i < 16; ++i)
            track[i] = c.before[i];
        track.updateOutputs();
        EXPECT_EQ(0xEE, s.outputData(5, 19));
        EXPECT_EQ(c.outputs[0] < 0 ? 0xEE : c.outputs[0], s.outputData(5, 20));
        EXPECT_EQ(c.outputs[1] < 0 ? 0xEE : c.outputs[1], s.outputData(5, 21));
        EXPECT_EQ(0xEE, s.outputData(5, 22));
    }
}

// State 0 while the slave's data are valid, 3 otherwise; the data are
// copied either way.
TEST(SST5136PFBPCITrack, StatesWithDataStillCopied) {
    struct Case {
        const char* name;
        bool online;
        bool answering;
        long state;
    } cases[] = {
        {"online, answering", true, true, 0},
        {"online, slave silent", true, false, 3},
        {"offline", false, true, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Network s(c.online);
        s.board.setAnswering(5, c.answering);
        s.machine.advance(1);
        IOTrack in(s.c(), at(5, 2), "IIIIIIII");
        IOTrack out(s.c(), at(5, 2), "OOOOOOOO");
        // Poke the board's memory directly: only an exchange would write it.
        s.board.memory().write8(s.board.inputDataOffset(5) + 2, 0x96);
        s.setOutputData(5, 2, 1, 0x00);
        for (unsigned i = 0; i < 8; ++i)
            out[i] = i % 3 == 0;
        in.updateInputs();
        out.updateOutputs();
        EXPECT_EQ(c.state, in.trackState());
        EXPECT_EQ(c.state, out.trackState());
        EXPECT_EQ(bitsOf({0x96}), values(in));
        EXPECT_EQ(0x49, s.outputData(5, 2));
    }
}

// A slave that lost its record since the track was made, or a record that
// would put the track's bytes outside the window: state 3, nothing copied.
TEST(SST5136PFBPCITrack, NothingCopiedWithoutARecordOrOutsideTheWindow) {
    struct Case {
        const char* name;
        std::function<void(PFB&)> beforeCard;
        std::function<void(PFB&)> afterTrack;
        unsigned offset;   // of the tracks in slave 5's data
    } cases[] = {
        {"slave no longer configured", [](PFB&) {},
         [](PFB& b) { b.setConfigured(5, false); }, 0},
        {"data before the window",
         [](PFB& b) { b.setPages(0x05, 0x01, 0x01).setSlaveLayout(5, 0, -0x4001, -0x4001); },
         [](PFB&) {}, 0},
        {"data past the window",
         [](PFB& b) { b.setPages(0x05, 0x7F, 0x7F).setSlaveLayout(5, 0, 0x3FFD, 0x3FFD); },
         [](PFB&) {}, 0},
        {"record past the window",
         [](PFB& b) { b.setPages(0x7F, 0x08, 0x0A).setSlaveLayout(5, 200, 0, 0); },
         [](PFB&) {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        s.board.powerUpRunning().addSlave(5, 32, 32);
        c.beforeCard(s.board);
        std::unique_ptr<Card> card = s.card();
        card->online();
        IOTrack in(*card, at(5, c.offset), "IIIIIIIIIIIIIIIIIIIIIIIIIIIIIIII");
        IOTrack out(*card, at(5, c.offset), "OOOOOOOOOOOOOOOOOOOOOOOOOOOOOOOO");
        c.afterTrack(s.board);
        for (unsigned i = 0; i < 32; ++i) {
            in[i] = 7;
            out[i] = 1;
        }
        const Tavex::Sim::Region& memory = s.board.memory();
        const Bytes before(memory.data(), memory.data() + memory.size());
        in.updateInputs();
        out.updateOutputs();
        EXPECT_EQ(3, in.trackState());
        EXPECT_EQ(3, out.trackState());
        EXPECT_EQ(std::vector<long>(32, 7), values(in));
        EXPECT_TRUE(before == Bytes(memory.data(), memory.data() + memory.size()));
    }
}

// The same layouts moved just inside the window are served.
TEST(SST5136PFBPCITrack, DataAtTheEdgesOfTheWindow) {
    Scene s;
    s.board.powerUpRunning()
        .addSlave(5, 8, 8)
        .setPages(0x05, 0x7F, 0x01)
        .setSlaveLayout(5, 0, 0x3FF8, -0x4000);
    std::unique_ptr<Card> card = s.card();
    card->online();
    IOTrack in(*card, at(5, 0), "IIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIII");
    IOTrack out(*card, at(5, 0), "OOOOOOOO");
    s.board.setInput(5, 7, 0x81);
    for (unsigned i = 0; i < 8; ++i)
        out[i] = 1;
    in.updateInputs();
    out.updateOutputs();
    EXPECT_EQ(0, in.trackState());
    EXPECT_EQ(0, out.trackState());
    EXPECT_EQ(1, in[56]);
    EXPECT_EQ(1, in[63]);
    EXPECT_EQ(0xFF, s.byte(0));
}

TEST(SST5136PFBPCITrack, UpdatesAllocateNothing) {
    Network s;
    const std::size_t beforeTracks = AllocationCounter::allocations();
    IOTrack in(s.c(), at(5, 0), "IIIIIIIIIIIIIIII");
    IOTrack mixed(s.c(), at(0, 4), "OOOOOOOOIIIIOOOO");
    if (AllocationCounter::allocations() == beforeTracks)
        GTEST_SKIP() << "allocations inside the library cannot be counted on this platform";
    s.machine.setTracing(false);

    const std::size_t before = AllocationCounter::allocations();
    for (unsigned scan = 0; scan < 1000; ++scan) {
        s.board.memory().write8(s.board.inputDataOffset(5), static_cast<std::uint8_t>(scan));
        in.updateInputs();
        mixed.updateInputs();
        mixed[0] = in[0];
        mixed.updateOutputs();
    }
    EXPECT_EQ(0u, AllocationCounter::allocations() - before);
    EXPECT_EQ(1, in[0]);   // scan 999 is odd
    EXPECT_EQ(0x01, s.outputData(0, 4));
}
