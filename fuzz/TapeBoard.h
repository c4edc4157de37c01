// TapeBoard: a board whose every answer comes off the tape.  It may claim a
// run of byte-wide ports and own one window of memory; the machine splits
// wider port accesses into bytes.
//
//   port read    the next tape byte (the idle byte once the tape is out);
//                writes are taken and forgotten
//   power-up     the memory is filled with one tape byte, then patched
//   tick         the memory is patched: what a board's processor might have
//                written in that time
//
// A patch set is a count byte, then per patch an offset (two bytes, three
// for memory above 64 KiB, taken modulo the size), a length byte (0 counts
// as 1) and that many bytes, cut at the end of the memory.  A tape that has
// run out patches nothing, so a card that waits for the board waits until
// its own limit.
//
// The memory is exactly the window the card maps, so that the guard page
// behind it (and the poisoned bytes before it under AddressSanitizer)
// catch any access outside the window.
#ifndef TAVEX_FUZZ_TAPEBOARD_H
#define TAVEX_FUZZ_TAPEBOARD_H

#include <cstdint>
#include <string>

#include "Tape.h"
#include "tavex/sim/Board.h"
#include "tavex/sim/Region.h"

namespace TavexFuzz {

class TapeBoard : public Tavex::Sim::Board {
public:
    struct Ports {
        std::uint16_t first;
        unsigned count;   // 0: no ports
    };
    struct Memory {
        std::uint32_t address;
        std::uint32_t size;   // 0: no memory
    };

    TapeBoard(Tape& tape, const char* name, Ports ports, Memory memory);

    const char* name() const override { return name_.c_str(); }
    std::uint32_t readPort(std::uint16_t port, unsigned width) override;
    void writePort(std::uint16_t port, unsigned width, std::uint32_t value) override;
    unsigned busWidth() const override { return 1; }
    void tick(unsigned long elapsedMs) override;

    // The fill byte and the first patch set, before any card is built.
    void powerUp();
    // The answer of a port read once the tape is out.
    void setIdle(std::uint8_t idle) { idle_ = idle; }
    Tavex::Sim::Region* memory() const { return region_; }

protected:
    void plugged() override;

private:
    void patch();

    Tape& tape_;
    std::string name_;
    Ports ports_;
    Memory window_;
    Tavex::Sim::Region* region_;
    std::uint8_t idle_;
};

}  // namespace TavexFuzz

#endif
