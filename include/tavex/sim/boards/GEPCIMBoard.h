// GEPCIMBoard: model of the PCIM motherboard, the PC board that carries
// one or two MicroGENI daughterboards (GEMicroGENIBoard.h), each one Genius
// bus channel with its own two ports and its own 16 KiB window of RAM.
//
// Type 2 is the motherboard with two daughterboard places; a motherboard of
// any other type has one.  Nothing on the board tells the PC the type or
// where the channels are: the client gives the motherboard type and each
// channel's base port and memory address to the library.  The motherboard
// answers at no port and holds no memory of its own; its base port is
// kept for the scene only, so the first channel may share it.
//
// Channels are fitted in order, A then B (addMicroGENI); fitting one more
// than the motherboard has places for, or one whose ports or window another
// board already decodes, is a scene error (logic_error).  Each channel runs
// on its own: its registers reach it at once, and every tick runs each
// channel's processor.
#ifndef TAVEX_SIM_BOARDS_GEPCIMBOARD_H
#define TAVEX_SIM_BOARDS_GEPCIMBOARD_H

#include <cstdint>
#include <memory>

#include "tavex/sim/Board.h"
#include "tavex/sim/boards/GEMicroGENIBoard.h"

namespace Tavex {
namespace Sim {

class GEPCIMBoard : public Board {
public:
    enum { TwoChannelType = 2 };

    explicit GEPCIMBoard(std::uint16_t basePort, unsigned type = TwoChannelType);
    ~GEPCIMBoard() override;

    const char* name() const override;
    std::uint16_t basePort() const { return base_; }
    unsigned type() const { return type_; }
    unsigned places() const { return type_ == TwoChannelType ? 2 : 1; }

    // Fits the next daughterboard: its status register at basePort, its
    // control register at basePort + 1, its RAM at memoryAddress.
    GEMicroGENIBoard& addMicroGENI(std::uint16_t basePort, std::uint32_t memoryAddress,
                                   GEMicroGENIBoard::PowerUp powerUp = GEMicroGENIBoard::Running);
    GEMicroGENIBoard* channelA() const { return channels_[0].get(); }
    GEMicroGENIBoard* channelB() const { return channels_[1].get(); }

    // --- Board --------------------------------------------------------------
    std::uint32_t readPort(std::uint16_t port, unsigned width) override;
    void writePort(std::uint16_t port, unsigned width, std::uint32_t value) override;
    unsigned busWidth() const override { return 1; }
    void tick(unsigned long elapsedMs) override;

protected:
    void plugged() override;

private:
    GEMicroGENIBoard* decoder(std::uint16_t port) const;

    std::uint16_t base_;
    unsigned type_;
    std::unique_ptr<GEMicroGENIBoard> channels_[2];
};

}  // namespace Sim
}  // namespace Tavex

#endif
