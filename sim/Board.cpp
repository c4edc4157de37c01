#include "tavex/sim/Board.h"

namespace Tavex {
namespace Sim {

Board::Board() : machine_(0) {}

Board::~Board() {}

// A claimed port that the board does not decode floats high.
std::uint32_t Board::readPort(std::uint16_t, unsigned width) {
    return width >= 4 ? 0xFFFFFFFFu : ((1u << (8 * width)) - 1);
}

void Board::writePort(std::uint16_t, unsigned, std::uint32_t) {}

unsigned Board::busWidth() const { return 4; }

void Board::tick(unsigned long) {}

void Board::plugged() {}

}  // namespace Sim
}  // namespace Tavex
