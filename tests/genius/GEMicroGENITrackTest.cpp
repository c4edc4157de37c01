// Tracks on a MicroGENI channel: what addTrack refuses and in which order,
// station configuration and presence, the output masks a station's tracks
// share, the two analog codings, and the track states with the data still
// exchanged.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "GeniusScene.h"
#include "support/AllocationCounter.h"
#include "support/ExpectThrow.h"
#include "tavex/genius/GEMicroGENI.h"
#include "tavex/model/IOTrack.h"

using namespace GeniusTest;
using Tavex::GEMicroGENI;
using Tavex::IOTrack;

namespace {

const char* const allInputs = "GEMicroGENI: station is configured as all Inputs.";
const char* const mix = "GEMicroGENI: Genius station can not be analog and digital mix.";
const char* const analogBlock =
    "GEMicroGENI: analog IO track is longer than the station's block of the IO Table.";
const char* const digitalBlock =
    "GEMicroGENI: digital IO track is longer than the station's block of the IO Table.";

std::vector<long> values(const IOTrack& track) {
    std::vector<long> v;
    for (unsigned i = 0; i < track.numberOfPoints(); ++i)
        v.push_back(track[i]);
    return v;
}

void set(IOTrack& track, const std::vector<long>& v) {
    for (unsigned i = 0; i < v.size(); ++i)
        track[i] = v[i];
}

// Stations 0 and 3 with inputs and outputs, 1 inputs only, 2 outputs only,
// 4 present but not configured; 6 absent, with a stale configuration byte
// in its entry that must not count.
struct Bus : Scene {
    explicit Bus(std::uint8_t size = 32) {
        board.setIOTableSize(size);
        board.placeStation(0, Channel::InputsAndOutputs).placeStation(1, Channel::InputsOnly);
        board.placeStation(2, Channel::OutputsOnly).placeStation(3, Channel::InputsAndOutputs);
        board.placeStation(4, 0);
        ram(Channel::entry(6) + Channel::EntryConfiguration) = Channel::InputsOnly;
        card.reset(new GEMicroGENI(portA, memoryA));
    }
    std::uint8_t& out(unsigned station, unsigned byte) {
        return ram(board.outputBlock(station) + byte);
    }
    std::unique_ptr<GEMicroGENI> card;   // its destructor may throw
};

}  // namespace

TEST(GEMicroGENITrack, RefusedInTheOrderOfTheTestsBeforeAnythingIsWritten) {
    const char* const counters = "GEMicroGENI: Current implementation does not support counters.";
    const char* const length =
        "GEMicroGENI: Digital IO track length can only by n*8 points but no more than 32";
    const char* const tooHigh = "GEMicroGENI: starting point parameter value is too high. "
                                "GEMicroGENI supports up to 32 stations only.";
    const char* const allOutputs = "GEMicroGENI: station is configured as all Outputs.";
    const char* const notConfigured = "GEMicroGENI: station is not configured.";
    struct Case {
        unsigned station;
        std::string letters;
        bool isLogic;
        const char* text;
    } cases[] = {
        {40, "IIIC", true, counters},            // length and station are wrong too
        {1, "OOOOOOOR", true, counters},
        {40, "IIIIIIIIIIII", true, length},      // before the station
        {2, std::string(40, 'O'), true, length},
        {32, "IIIIIIII", false, tooHigh},
        {0xFFFFFFFFu, "IIIIAAAA", false, tooHigh},   // before the mix
        {1, "OOOOAAAA", false, allInputs},       // configuration before the mix
        {1, "AAAU", false, allInputs},
        {2, "OOOOIIII", false, allOutputs},
        {2, "UA", false, allOutputs},
        {4, "IIIIAAAA", false, notConfigured},
        {1, "IIIIIIIA", false, mix},
        {6, "OOOOOOOU", false, mix},             // absent
        {3, std::string(17, 'A'), false, analogBlock},
    };
    Bus bus;
    IOTrack sentinel(*bus.card, 3, "OOOOOOOO");
    set(sentinel, std::vector<long>(8, 1));
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.station << " " << c.letters);
        const Bytes before = bus.window();
        if (c.isLogic)
            TAVEX_EXPECT_THROW_TEXT(IOTrack(*bus.card, c.station, c.letters.c_str()),
                                    std::logic_error, c.text);
        else
            TAVEX_EXPECT_THROW_TEXT(IOTrack(*bus.card, c.station, c.letters.c_str()),
                                    std::range_error, c.text);
        EXPECT_TRUE(before == bus.window());
    }
    sentinel.updateOutputs();   // station 3's mask is the sentinel's
    EXPECT_EQ(0xFF, bus.out(3, 0));
}

TEST(GEMicroGENITrack, AcceptedTracksAndTheStationTableZero) {
    struct Case {
        unsigned station;
        std::string letters;
        bool outputs;   // byte 1 of the station's entry written 0, and nothing else
    } cases[] = {
        {1, "IIIIIIII", false},          {1, "AAAA", false},
        {2, "NNNNNNNNOOOOOOOO", true},   {2, "UUUU", true},
        {3, "IIIIIIIIIIIIIIII", false},  {3, "AAUU", true},
        {3, "AAAAAAAAAAAA", false},      // 12 points: the digital length rule does not apply
        {6, "OOOOOOOO", true},           // absent: its stale configuration does not count
        {31, std::string(32, 'I'), false}, {0, std::string(24, 'O'), true},
    };
    Bus bus;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.station << " " << c.letters);
        const std::uint32_t held = Channel::entry(c.station) + Channel::EntryOutputsHeld;
        bus.ram(held) = 0xA5;
        Bytes expected = bus.window();
        IOTrack track(*bus.card, c.station, c.letters.c_str());
        expected[held] = c.outputs ? 0 : 0xA5;
        EXPECT_TRUE(expected == bus.window());
    }
}

TEST(GEMicroGENITrack, DigitalPointsFollowTheirStationsMasks) {
    Bus bus;
    IOTrack inputs(*bus.card, 3, std::string(16, 'I').c_str());
    IOTrack half(*bus.card, 3, "IIIIOOOO");   // takes byte 0 over: mask 0xF0
    set(inputs, std::vector<long>(16, 7));
    set(half, {9, 9, 9, 9, 1, 0, 5, 0});
    half.updateOutputs();
    EXPECT_EQ(0x50, bus.out(3, 0));           // inputs written as 0

    bus.board.setInputByte(3, 0, 0xA5).setInputByte(3, 1, 0x81);
    half.updateInputs();
    EXPECT_EQ((std::vector<long>{1, 0, 1, 0, 1, 0, 5, 0}), values(half));
    inputs.updateInputs();                    // its points 4-7 are outputs now
    EXPECT_EQ((std::vector<long>{1, 0, 1, 0, 7, 7, 7, 7, 1, 0, 0, 0, 0, 0, 0, 1}),
              values(inputs));
    inputs.updateOutputs();                   // no O point: writes nothing
    EXPECT_EQ(0x50, bus.out(3, 0));

    // Any value with a low 32 bit set switches a point on; bytes without
    // outputs are not written; the stations get what was written.
    IOTrack wide(*bus.card, 0, "OOOOOOOOIIIIIIIIOIOIOIOIIIIIIIII");
    bus.out(0, 1) = bus.out(0, 3) = 0x3C;
    std::vector<long> v(32, 0);
    v[0] = -1, v[3] = 0x7FFFFFFF, v[7] = 2, v[16] = -2147483647L - 1, v[17] = 1, v[18] = 1;
    if (sizeof(long) > 4)
        v[20] = static_cast<long>(0x100000000LL);
    set(wide, v);
    wide.updateOutputs();
    bus.machine.advance(10);
    EXPECT_EQ((Bytes{0x89, 0x3C, 0x05, 0x3C}),
              (Bytes{bus.out(0, 0), bus.out(0, 1), bus.out(0, 2), bus.out(0, 3)}));
    EXPECT_EQ(0x89, bus.board.outputByte(0, 0));
    EXPECT_EQ(0x05, bus.board.outputByte(0, 2));
}

TEST(GEMicroGENITrack, AnalogCodingsAtTheirExtremes) {
    Bus bus;
    const long min = -2147483647L - 1;
    const struct {
        std::uint16_t raw;
        long value;
    } in[] = {{0x0000, min}, {0x0001, min + 65536}, {0x7FFF, -65536}, {0x8000, 0},
              {0xFFFF, 2147483647L - 65535}};
    IOTrack inputs(*bus.card, 3, "AAAAAU");
    for (unsigned w = 0; w < 6; ++w)
        bus.board.setInputWord(3, w, w < 5 ? in[w].raw : 0x1234);
    inputs[5] = 42;
    inputs.updateInputs();
    for (unsigned w = 0; w < 5; ++w)
        EXPECT_EQ(in[w].value, inputs[w]) << std::hex << in[w].raw;
    EXPECT_EQ(42, inputs[5]);   // a U point is not read

    const struct {
        long value;
        std::uint16_t raw;
    } out[] = {{0, 0x0000},      {2147483647L - 65535, 0x7FFF}, {2147483647L, 0x7FFF},
               {-65536, 0xFFFF}, {-1, 0xFFFF},                  {min, 0x8000},
               {65535, 0x0000},  {sizeof(long) > 4 ? static_cast<long>(0x700010000LL) : 65536, 1}};
    IOTrack outputs(*bus.card, 0, "UUUUUUUUA");
    bus.ram(bus.board.outputBlock(0) + 16) = 0x3C;
    for (unsigned p = 0; p < 8; ++p)
        outputs[p] = out[p].value;
    outputs.updateOutputs();
    bus.machine.advance(10);
    for (unsigned p = 0; p < 8; ++p)
        EXPECT_EQ(out[p].raw, bus.board.outputWord(0, p)) << out[p].value;
    EXPECT_EQ(0x3C, bus.ram(bus.board.outputBlock(0) + 16));   // an A point is not written
}

// Every A point read and every U point written, and no other, wherever the
// points stand: whole runs of eight, runs broken by other letters, a last
// run shorter than eight, a first point that is neither, and letters one
// bit away from A or U ('@', 'T', and both with bit 7 set) that are neither.
TEST(GEMicroGENITrack, AnalogPointsAreFoundWhereverTheyStand) {
    const std::string layouts[] = {
        std::string(8, 'A') + std::string(8, 'U') + std::string(8, 'A') + std::string(8, 'U'),
        "AUAUAUAU" + std::string(8, 'A') + "UUUUUUUA" + "NA",
        "@ATU\xC1\xD5UT" + std::string("AAAAAAA@") + "UUUUUUUT" + std::string(8, 'A') + "U",
        "A@A@A@A@" + std::string("UTUTUTUT") + "N\xC1\xD5NAU",
        std::string(17, 'N') + "AXU",
        std::string(63, 'U') + "A",
        std::string(64, 'A'),
    };
    for (const std::string& letters : layouts) {
        SCOPED_TRACE(letters);
        Bus bus(128);
        IOTrack track(*bus.card, 3, letters.c_str());
        const unsigned points = track.numberOfPoints();
        const std::uint32_t in = bus.board.inputBlock(3), out = bus.board.outputBlock(3);
        for (unsigned p = 0; p < points; ++p) {
            bus.board.setInputWord(3, p, static_cast<std::uint16_t>(0x8100 + p));
            bus.ram(out + 2 * p) = bus.ram(out + 2 * p + 1) = 0x3C;
            track[p] = 7;
        }
        track.updateInputs();
        for (unsigned p = 0; p < points; ++p)
            EXPECT_EQ(letters[p] == 'A' ? static_cast<long>(0x100 + p) << 16 : 7, track[p]) << p;

        for (unsigned p = 0; p < points; ++p)
            track[p] = static_cast<long>(0x200 + p) << 16;
        track.updateOutputs();
        for (unsigned p = 0; p < points; ++p)
            EXPECT_EQ(letters[p] == 'U' ? 0x200 + p : 0x3C3C, bus.board.memory().read16(out + 2 * p))
                << p;
        EXPECT_EQ(0x8100, bus.board.memory().read16(in));   // inputs are never written
    }
}

// A digital track reads its station's bytes when it has an input and
// writes them when it has an output, wherever that point stands; letters
// one bit away from I or O ('H', 'N', and both with bit 7 set) are neither.
TEST(GEMicroGENITrack, DigitalInputsAndOutputsAreFoundWhereverTheyStand) {
    const struct {
        std::string letters;
        bool reads;
        Bytes written;   // the track's bytes after its outputs, every value 1
    } cases[] = {
        {std::string(24, 'N') + "NNNNNNNI", true, {0x5A, 0x5A, 0x5A, 0x5A}},
        {std::string(31, 'O') + "I", true, {0xFF, 0xFF, 0xFF, 0x7F}},
        {std::string(24, 'N') + "ONONONON", false, {0x5A, 0x5A, 0x5A, 0x55}},
        {"\xC9\xCF\xC9\xCFHHNN" + std::string("IIIIIIII"), true, {0x5A, 0x5A}},
        {"IHIHIHIH" + std::string("\xCF\xCFNONONO"), true, {0x5A, 0xA8}},
        {"XXXXXXXX", false, {0x5A}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.letters);
        Bus bus;
        IOTrack track(*bus.card, 3, c.letters.c_str());
        const unsigned bytes = track.numberOfPoints() / 8;
        for (unsigned b = 0; b < bytes; ++b) {
            bus.board.setInputByte(3, b, 0xA5);
            bus.out(3, b) = 0x5A;
        }
        set(track, std::vector<long>(track.numberOfPoints(), 1));
        track.updateOutputs();
        Bytes written;
        for (unsigned b = 0; b < bytes; ++b)
            written.push_back(bus.out(3, b));
        EXPECT_EQ(c.written, written);

        set(track, std::vector<long>(track.numberOfPoints(), 7));
        track.updateInputs();
        for (unsigned p = 0; p < track.numberOfPoints(); ++p)
            EXPECT_EQ(c.reads && c.letters[p] != 'O' ? (0xA5 >> p % 8) & 1 : 7, track[p]) << p;
    }
}

TEST(GEMicroGENITrack, StatesWithTheDataStillExchanged) {
    struct Case {
        const char* name;
        std::function<void(Scene&)> arrange;
        long state;
    } cases[] = {
        {"healthy, present", [](Scene&) {}, 0},
        {"station left the bus", [](Scene& s) { s.board.removeStation(3).removeStation(9); }, 3},
        {"presence byte not exactly 1",
         [](Scene& s) {
             s.ram(Channel::entry(3) + Channel::EntryPresence) = 0x81;
             s.ram(Channel::entry(9) + Channel::EntryPresence) = 3;
         },
         3},
        {"board fault", [](Scene& s) { s.board.setBoardFault(true); }, 2},
        {"bus down", [](Scene& s) { s.board.setBusFault(true); }, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        s.board.placeStation(3, Channel::InputsAndOutputs)
            .placeStation(9, Channel::InputsAndOutputs);
        GEMicroGENI card(portA, memoryA);
        IOTrack digital(card, 3, "IIIIOOOO");
        IOTrack analog(card, 9, "AU");
        c.arrange(s);
        // What the stations send, also put in the blocks for stations not there to send it.
        s.board.setInputByte(3, 0, 0x06).setInputWord(9, 0, 0xC000);
        s.ram(s.board.inputBlock(3)) = 0x06;
        s.ram(s.board.inputBlock(9) + 1) = 0xC0;
        s.ram(s.board.inputBlock(9)) = 0x00;
        set(digital, {0, 0, 0, 0, 1, 1, 0, 1});
        analog[1] = -65536;

        EXPECT_EQ(c.state, digital.updateInputs().trackState());
        EXPECT_EQ(c.state, analog.updateInputs().trackState());
        EXPECT_EQ((std::vector<long>{0, 1, 1, 0, 1, 1, 0, 1}), values(digital));
        EXPECT_EQ(0x40000000, analog[0]);
        EXPECT_EQ(c.state, digital.updateOutputs().trackState());
        EXPECT_EQ(c.state, analog.updateOutputs().trackState());
        EXPECT_EQ(0xB0, s.ram(s.board.outputBlock(3)));
        EXPECT_EQ(0xFFFF, s.board.memory().read16(s.board.outputBlock(9) + 2));
    }
}

TEST(GEMicroGENITrack, TracksStayInsideTheirStationsBlock) {
    struct Case {
        std::uint8_t size;
        unsigned station;
        std::string letters;
        const char* text;   // 0: accepted
    } cases[] = {
        {1, 3, "IIIIIIII", 0},                   {1, 3, std::string(16, 'O'), digitalBlock},
        {1, 3, "A", analogBlock},                {1, 3, std::string(40, 'N'), 0},
        {3, 3, "U", 0},                          {3, 3, "UU", analogBlock},
        {3, 3, std::string(24, 'O'), 0},         {3, 3, std::string(32, 'I'), digitalBlock},
        {128, 3, std::string(64, 'A'), 0},       {128, 3, std::string(65, 'A'), analogBlock},
        {1, 1, std::string(16, 'O'), allInputs}, {1, 3, std::string(15, 'I') + "A", mix},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.size) << " " << c.letters);
        Bus bus(c.size);
        const Bytes before = bus.window();
        if (c.text) {
            TAVEX_EXPECT_THROW_TEXT(IOTrack(*bus.card, c.station, c.letters.c_str()),
                                    std::range_error, c.text);
            EXPECT_TRUE(before == bus.window());
        } else {
            IOTrack track(*bus.card, c.station, c.letters.c_str());
        }
    }
    // At the largest size the last station's output block ends the window.
    Bus bus(128);
    IOTrack last(*bus.card, 31, std::string(64, 'U').c_str());
    last[63] = 0x12340000;
    last.updateOutputs();
    EXPECT_EQ(0x1234, bus.board.memory().read16(0x3FFE));
}

TEST(GEMicroGENITrack, UpdatesAllocateNothing) {
    if (!AllocationCounter::seesLibrary())
        GTEST_SKIP() << "allocations inside the library cannot be counted on this platform";
    Bus bus;
    IOTrack digital(*bus.card, 3, "IIIIIIIIOOOOOOOOIOIOIOIOIIIIIIII");
    IOTrack analog(*bus.card, 0, "AAUUAAUU");
    bus.machine.setTracing(false);   // the trace itself allocates
    const std::size_t before = AllocationCounter::allocations();
    for (unsigned scan = 0; scan < 1000; ++scan) {
        bus.ram(bus.board.inputBlock(3)) = static_cast<std::uint8_t>(scan);
        digital.updateInputs();
        analog.updateInputs();
        digital[8] = digital[0];
        analog[2] = analog[0];
        digital.updateOutputs();
        analog.updateOutputs();
    }
    EXPECT_EQ(0u, AllocationCounter::allocations() - before);
    EXPECT_EQ(0x01, bus.out(3, 1));   // scan 999 is odd
}
