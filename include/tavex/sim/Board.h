// Board: the interface of a simulated board model.  A board claims I/O
// ports and owns regions of physical memory on the machine it is plugged
// into; port accesses reach it at once, and every sleep of the library lets
// it run (tick) as its own processor or logic would.
#ifndef TAVEX_SIM_BOARD_H
#define TAVEX_SIM_BOARD_H

#include <cstdint>

namespace Tavex {
namespace Sim {

class Machine;

class Board {
public:
    virtual ~Board();

    virtual const char* name() const = 0;

    // A port access of width 1, 2 or 4 bytes to a port the board claimed,
    // never wider than busWidth().
    virtual std::uint32_t readPort(std::uint16_t port, unsigned width);
    virtual void writePort(std::uint16_t port, unsigned width, std::uint32_t value);

    // The width in bytes of the board's registers.  An 8-bit ISA board, or
    // any board built of byte-wide registers, answers 1: the machine then
    // splits a word or double-word access into byte accesses at ascending
    // ports, each reaching whoever decodes that port, as the bus does for
    // such a board.  The default, 4, hands every access to the board whole.
    virtual unsigned busWidth() const;

    // The virtual clock moved on by elapsedMs milliseconds (0 for a sleep of
    // less than a millisecond, which still lets the board run once).
    virtual void tick(unsigned long elapsedMs);

    // The machine the board is plugged into; valid once plugged.
    Machine& machine() const { return *machine_; }
    bool isPlugged() const { return machine_ != 0; }

protected:
    Board();

    // Called once when the board is plugged into a machine: claim ports and
    // add regions here.
    virtual void plugged();

private:
    friend class Machine;
    Board(const Board&);
    Board& operator=(const Board&);

    Machine* machine_;
};

}  // namespace Sim
}  // namespace Tavex

#endif
