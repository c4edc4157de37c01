#include "tavex/sim/boards/GEPCIMBoard.h"

#include <stdexcept>

namespace Tavex {
namespace Sim {

GEPCIMBoard::GEPCIMBoard(std::uint16_t basePort, unsigned type) : base_(basePort), type_(type) {}

GEPCIMBoard::~GEPCIMBoard() {}

const char* GEPCIMBoard::name() const { return "PCIM"; }

void GEPCIMBoard::plugged() {
    for (unsigned i = 0; i < 2; ++i)
        if (channels_[i])
            channels_[i]->attach();
}

GEMicroGENIBoard& GEPCIMBoard::addMicroGENI(std::uint16_t basePort, std::uint32_t memoryAddress,
                                            GEMicroGENIBoard::PowerUp powerUp) {
    const unsigned place = channels_[0] ? 1 : 0;
    if (place >= places() || channels_[place])
        throw std::logic_error("Sim::GEPCIMBoard: no place left for a MicroGENI");
    std::unique_ptr<GEMicroGENIBoard> channel(new GEMicroGENIBoard(
        *this, static_cast<char>('A' + place), basePort, memoryAddress, powerUp));
    if (isPlugged())
        channel->attach();
    channels_[place] = std::move(channel);
    return *channels_[place];
}

GEMicroGENIBoard* GEPCIMBoard::decoder(std::uint16_t port) const {
    for (unsigned i = 0; i < 2; ++i)
        if (channels_[i] && channels_[i]->decodes(port))
            return channels_[i].get();
    return 0;
}

std::uint32_t GEPCIMBoard::readPort(std::uint16_t port, unsigned) {
    GEMicroGENIBoard* channel = decoder(port);
    return channel ? channel->readPort(port) : 0xFFu;
}

void GEPCIMBoard::writePort(std::uint16_t port, unsigned, std::uint32_t value) {
    if (GEMicroGENIBoard* channel = decoder(port))
        channel->writePort(port, static_cast<std::uint8_t>(value));
}

void GEPCIMBoard::tick(unsigned long) {
    for (unsigned i = 0; i < 2; ++i)
        if (channels_[i])
            channels_[i]->tick();
}

}  // namespace Sim
}  // namespace Tavex
