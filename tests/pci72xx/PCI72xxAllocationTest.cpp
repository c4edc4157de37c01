// The update path allocates nothing; the counter sees the library's own
// allocations on ELF systems.
#include <gtest/gtest.h>

#include "PCI72xxScene.h"
#include "support/AllocationCounter.h"
#include "tavex/cards/PCI72xxCard.h"
#include "tavex/model/IOTrack.h"

using namespace pci72xxtest;
using Tavex::IOTrack;
using Tavex::PCI72xxCard;

TEST(PCI72xxCardUpdates, AllocateNothing) {
    Scene scene;
    Board& board = scene.board(0, 4, Board::PCI7296, 0xE010);
    PCI72xxCard card(0);

    std::size_t before = AllocationCounter::allocations();
    IOTrack mixed(card, 0, (run('I', 8) + run('O', 8) + run('I', 4) + run('O', 4)).c_str());
    // The track's own copy of its letters and its values come from the
    // library: the counter sees them.
#if !defined(_WIN32)
    EXPECT_GT(AllocationCounter::allocations(), before);
#endif
    IOTrack inputs(card, 1, run('I', 24).c_str());
    IOTrack outputs(card, 3, run('O', 24).c_str());

    // The machine's trace would allocate on every port access.
    scene.machine.setTracing(false);
    const unsigned long accesses = scene.machine.portAccessCount();
    before = AllocationCounter::allocations();
    for (unsigned scan = 0; scan < 100; ++scan) {
        board.setInputLevels(1, Board::PortA, static_cast<std::uint8_t>(scan));
        mixed.updateInputs();
        inputs.updateInputs();
        outputs.updateInputs();
        mixed[8] = outputs[0] = static_cast<long>(scan & 1);
        mixed.updateOutputs();
        inputs.updateOutputs();
        outputs.updateOutputs();
    }
    EXPECT_EQ(0u, AllocationCounter::allocations() - before);
    // Per scan: mixed reads A and C, inputs A, B and C; mixed writes B and
    // C, outputs A, B and C.
    EXPECT_EQ(100u * 10, scene.machine.portAccessCount() - accesses);
    EXPECT_EQ(0xFE, board.drivenLevels(3, Board::PortA));
}
