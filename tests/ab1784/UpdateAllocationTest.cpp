// The update path allocates nothing: the program's operator new counts every
// allocation, in the library too where the platform lets a program replace
// it for its libraries.
#include <gtest/gtest.h>

#include "KTxScene.h"
#include "support/AllocationCounter.h"
#include "tavex/cards/AC5Card.h"
#include "tavex/sim/boards/AC5Board.h"

namespace {

// Whether the allocations of a track's construction (made inside the
// library) were seen at all; if not, counting proves nothing here.
bool libraryAllocationsVisible(std::size_t before) {
    return AllocationCounter::allocations() > before;
}

}  // namespace

TEST(UpdateAllocation, AC5Card) {
    Tavex::Sim::ScopedMachine machine;
    Tavex::Sim::AC5Board& board = machine.add<Tavex::Sim::AC5Board>(0x300);
    Tavex::AC5Card card(0x300);
    machine.setTracing(false);   // the trace itself allocates
    const std::size_t beforeTrack = AllocationCounter::allocations();
    Tavex::IOTrack track(card, 0, "IIIIIIIIOOOOOOOOIOIOIONN");
    if (!libraryAllocationsVisible(beforeTrack))
        GTEST_SKIP() << "allocations inside the library cannot be counted on this platform";

    const std::size_t before = AllocationCounter::allocations();
    for (unsigned scan = 0; scan < 1000; ++scan) {
        board.setInputLines(0, static_cast<std::uint8_t>(scan));
        track.updateInputs();
        track[8] = scan & 1;
        track.updateOutputs();
    }
    const std::size_t during = AllocationCounter::allocations() - before;
    EXPECT_EQ(0u, during);
    EXPECT_EQ(0xFE, board.outputLatch(1));      // the last scan was odd: point 8 on
    EXPECT_EQ(0, track[0]);                     // lines of the last scan: 0xE7
    EXPECT_EQ(1, track[3]);
}

TEST(UpdateAllocation, AB1784Card) {
    KTxTest::Scene s;
    Tavex::AB1784Card card(0xC0000, s.path().c_str(), 0xFE);
    const std::size_t beforeTrack = AllocationCounter::allocations();
    Tavex::IOTrack inputs(card, 4, "IIIIIIIIIIIIIIII");
    Tavex::IOTrack outputs(card, 8, "OOOOOOOOIIIIOOOO");
    if (!libraryAllocationsVisible(beforeTrack))
        GTEST_SKIP() << "allocations inside the library cannot be counted on this platform";
    std::uint8_t* memory = s.board.memory().data();

    const std::size_t before = AllocationCounter::allocations();
    for (unsigned scan = 0; scan < 1000; ++scan) {
        memory[0x404] = static_cast<std::uint8_t>(scan);
        inputs.updateInputs();
        outputs[0] = inputs[0];
        outputs.updateOutputs();
    }
    EXPECT_EQ(0u, AllocationCounter::allocations() - before);
    EXPECT_EQ(1, inputs[0]);                    // scan 999 is odd
    EXPECT_EQ(0x01, memory[0x608]);
}
