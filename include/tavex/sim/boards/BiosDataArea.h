// BiosDataArea: the BIOS data area of the simulated PC, in low RAM at
// physical 0x400, as the BIOS leaves it after the power-on self test.
//
// The region covers 0x400-0x5FF: the BIOS's own 256 bytes and the DOS
// communication area after them, so that a program may map a window of up
// to 0x200 bytes at 0x400 and stay inside real memory.
//
// The words a program looks at to find the serial and parallel ports
// (16-bit, little-endian, 0 = no port):
//   0x400 0x402 0x404 0x406  base ports of COM1..COM4
//   0x408 0x40A 0x40C        base ports of LPT1..LPT3
//   0x40E                    LPT4 on the original PC BIOS; since the PS/2
//                            most BIOSes keep the segment of the extended
//                            BIOS data area here instead (setEbdaSegment)
//   0x410                    the equipment word; POST writes the number of
//                            parallel ports it found (LPT1..LPT3) into bits
//                            14-15 and of serial ports into bits 9-11
//
// Power-up state: COM1 0x3F8, COM2 0x2F8, COM3 and COM4 0; no parallel port
// (LPT1..LPT4 0); the equipment word says one floppy drive, a coprocessor,
// 80x25 colour video, two serial ports, no parallel port.  Every other byte
// holds the non-zero power-up pattern: the model does not keep the BIOS's
// other variables, and a program that reads the wrong word gets a wrong,
// non-zero port rather than a harmless 0.
//
// The POST fills the LPT words in the order it finds the ports (0x3BC,
// 0x378, 0x278); a test writes whatever table it needs.  Plug one area per
// machine, next to the parallel ports (ParallelPortBoard) it lists.
#ifndef TAVEX_SIM_BOARDS_BIOSDATAAREA_H
#define TAVEX_SIM_BOARDS_BIOSDATAAREA_H

#include <cstdint>

#include "tavex/sim/Board.h"
#include "tavex/sim/Region.h"

namespace Tavex {
namespace Sim {

class BiosDataArea : public Board {
public:
    // Physical addresses.
    enum : std::uint32_t {
        Address = 0x400,         // first byte of the area
        Size = 0x200,            // BIOS data area and DOS communication area
        ComPortWords = 0x400,    // COM1..COM4, one word each
        LptPortWords = 0x408,    // LPT1..LPT4 (LPT4 shares 0x40E with the EBDA segment)
        EbdaSegmentWord = 0x40E,
        EquipmentWord = 0x410
    };
    enum { ComPorts = 4, LptPorts = 4 };

    BiosDataArea();

    const char* name() const override;

    // --- the port tables (n counts from 1, as DOS names the ports) ----------
    BiosDataArea& setLptPort(unsigned n, std::uint16_t basePort);
    std::uint16_t lptPort(unsigned n) const;   // the word as it is in memory now
    BiosDataArea& setComPort(unsigned n, std::uint16_t basePort);
    std::uint16_t comPort(unsigned n) const;
    // The word at 0x40E as a later BIOS uses it (the same word as LPT4).
    BiosDataArea& setEbdaSegment(std::uint16_t segment);
    std::uint16_t equipmentWord() const;

    // --- inspection ---------------------------------------------------------
    // The memory itself, once plugged; a test may also poke any byte.
    Region& memory() const;
    // The word at a physical address inside the area.
    std::uint16_t word(std::uint32_t physicalAddress) const;

protected:
    void plugged() override;

private:
    void store(std::uint32_t physicalAddress, std::uint16_t value);
    void updateEquipmentWord();

    std::uint16_t com_[ComPorts];
    std::uint16_t lpt_[LptPorts];
    std::uint16_t equipmentBase_;
    Region* memory_;
};

}  // namespace Sim
}  // namespace Tavex

#endif
