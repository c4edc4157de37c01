// AC5Board: model of the AC5 ISA digital I/O board.
//
// Three 8-point ports.  Port p has a data address at base + 2p and a
// control register at base + 2p + 1 (six ports claimed in all).  The
// control register selects what the data address reaches:
//   0x00  the direction register: a write sets the port's direction mask
//         (bit set = point is an output), a read returns it;
//   0x34  the data register: a read returns the line levels, a write sets
//         the output latch, which drives the output points' lines.
// Any other control value selects neither: data reads float high (0xFF)
// and data writes go nowhere; such accesses are counted as stray, so a
// driver that programs the board wrongly shows up in a test.
//
// Lines are active low.  A data bit of 0 is a line at low level.  Reading
// the data register gives, for each input point, the level the field puts
// on its line, and for each output point the level the board drives it to
// (read-back of the latch).  An input point is not driven by the board;
// its line is pulled high unless the field pulls it low.
//
// Power-up state: control registers 0x00 (direction register selected),
// every point an input (direction masks 0x00), output latches 0xFF (a point
// that becomes an output starts off, line high), every field line high.
// No port has been programmed yet (programming counts 0).
//
// An 8-bit board: its registers are byte-wide, and the machine splits wider
// port accesses into byte accesses at ascending ports.
#ifndef TAVEX_SIM_BOARDS_AC5BOARD_H
#define TAVEX_SIM_BOARDS_AC5BOARD_H

#include <cstdint>

#include "tavex/sim/Board.h"
#include "tavex/sim/DigitalPort.h"

namespace Tavex {
namespace Sim {

class AC5Board : public Board {
public:
    enum { PortCount = 3, PointsPerPort = 8 };
    enum { DirectionControl = 0x00, DataControl = 0x34 };

    // What the data address of a port reaches, after the last control write.
    enum Mode { DirectionRegister, DataRegister, Undefined };

    explicit AC5Board(std::uint16_t basePort);

    const char* name() const override;
    std::uint16_t basePort() const { return base_; }

    // --- field side: input lines (true / bit set = line high) -----------
    AC5Board& setInputLine(unsigned port, unsigned point, bool high);
    AC5Board& setInputLines(unsigned port, std::uint8_t levels);
    // What the field puts on the lines of a port (outputs ignore it).
    std::uint8_t fieldLevels(unsigned port) const;

    // --- field side: what the board drives --------------------------------
    // The level of a point's line: the latch bit for an output point, the
    // field level for an input point.
    bool lineLevel(unsigned port, unsigned point) const;
    std::uint8_t lineLevels(unsigned port) const;
    // True when the point is an output and the board drives its line low
    // (the point is switched on).
    bool outputOn(unsigned port, unsigned point) const;
    // The levels the output points are driven to; input points read 1
    // (not driven, pulled high).
    std::uint8_t drivenLevels(unsigned port) const;
    bool isOutput(unsigned port, unsigned point) const;

    // --- inspection -------------------------------------------------------
    std::uint8_t directionMask(unsigned port) const;   // last programmed
    unsigned programmingCount(unsigned port) const;    // direction writes
    std::uint8_t outputLatch(unsigned port) const;     // last data written
    std::uint8_t controlRegister(unsigned port) const;
    Mode mode(unsigned port) const;
    unsigned dataReads(unsigned port) const;           // data register reads
    unsigned dataWrites(unsigned port) const;          // data register writes
    unsigned strayAccesses() const { return stray_; }  // data accesses in no mode

    // The lines of a port, as the field sees them.
    const DigitalPort& lines(unsigned port) const { return at(port).lines; }

    // --- Board ------------------------------------------------------------
    std::uint32_t readPort(std::uint16_t port, unsigned width) override;
    void writePort(std::uint16_t port, unsigned width, std::uint32_t value) override;
    unsigned busWidth() const override { return 1; }

protected:
    void plugged() override;

private:
    struct Port {
        std::uint8_t control;
        DigitalPort lines;
        unsigned programmed;
        unsigned reads;
        unsigned writes;
    };

    const Port& at(unsigned port) const;
    Port& at(unsigned port);
    static Mode modeOf(std::uint8_t control);

    std::uint16_t base_;
    Port ports_[PortCount];
    unsigned stray_;
};

}  // namespace Sim
}  // namespace Tavex

#endif
