// The scene of the Genius card tests: a simulated machine with a PCIM
// motherboard whose channel A is fitted at port 0x3E0 with its RAM at
// 0xD0000; channel B, when a test fits it, sits at 0x3E4 / 0xD4000.
#ifndef TAVEX_TESTS_GENIUS_GENIUSSCENE_H
#define TAVEX_TESTS_GENIUS_GENIUSSCENE_H

#include <cstdint>
#include <vector>

#include "support/RecordingMachine.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/GEPCIMBoard.h"

namespace GeniusTest {

typedef Tavex::Sim::GEMicroGENIBoard Channel;
typedef std::vector<std::uint8_t> Bytes;

const std::uint16_t portA = 0x3E0, portB = 0x3E4;
const std::uint32_t memoryA = 0xD0000, memoryB = 0xD4000;

struct Scene {
    explicit Scene(Channel::PowerUp powerUp = Channel::Running, unsigned type = 2)
        : pcim(machine.add<Tavex::Sim::GEPCIMBoard>(portA, type)),
          board(pcim.addMicroGENI(portA, memoryA, powerUp)) {}

    // Channel A's RAM as the board sees it.
    std::uint8_t& ram(std::uint32_t offset) { return board.memory().data()[offset]; }
    Bytes window() const {
        return Bytes(board.memory().data(), board.memory().data() + Channel::WindowSize);
    }

    Tavex::Test::RecordingMachine machine;
    Tavex::Sim::GEPCIMBoard& pcim;
    Channel& board;
};

}  // namespace GeniusTest

#endif
