// PCI72xxBoard: a PCI-7248 (2 groups of 24 lines) or PCI-7296 (4 groups)
// digital I/O board.  Each group sits at I/O base + 4 * group and looks like
// an 8255 in mode 0: ports A, B and C at offsets 0 to 2, the control
// register at offset 3.
//
// The control register is a direction register: a set bit makes its port
// an input (0x10 port A, 0x02 port B, 0x01 port C lower half, 0x08 port C
// upper half); the other bits are ignored, and a read of it floats.  After
// power-up every port is an input (control 0x1B) and the output latches
// hold 0, as an 8255 leaves them at reset; a control write changes the
// directions only, so lines made outputs go low until the first data write.
//
// Lines are active low: a data bit 0 is a line held low.  Reading a port
// gives the level on each input line and the latch of each output line;
// writing a port loads its latch, which drives only the output lines.
//
// On the PCI side the board shows either its own identity (vendor 0x144A,
// device 0x7248 / 0x7296) or that of its PCI bridge chip (0x10B5 / 0x9050)
// with the board named in the subsystem IDs.  Base address register 2 holds
// the I/O base of the groups (bit 0 set); registers 0 and 1 are the bridge
// chip's own memory and I/O windows, which the model does not decode.
#ifndef TAVEX_SIM_BOARDS_PCI72XXBOARD_H
#define TAVEX_SIM_BOARDS_PCI72XXBOARD_H

#include <cstdint>

#include "tavex/sim/Board.h"
#include "tavex/sim/DigitalPort.h"
#include "tavex/sim/PCIHostBridge.h"

namespace Tavex {
namespace Sim {

class PCI72xxBoard : public Board {
public:
    enum Model { PCI7248 = 0x7248, PCI7296 = 0x7296 };
    enum Port { PortA = 0, PortB = 1, PortC = 2 };

    struct Identity {
        std::uint16_t vendorId;
        std::uint16_t deviceId;
        std::uint16_t subVendorId;
        std::uint16_t subSystemId;
    };
    // Vendor 0x144A, device and subsystem ID = the model.
    static Identity ownIdentity(Model model);
    // The bridge chip's 0x10B5 / 0x9050 with these subsystem IDs.
    static Identity bridgeChipIdentity(std::uint16_t subVendorId, std::uint16_t subSystemId);

    // The board at bus / device / function of the host bridge's buses, its
    // groups at ioBase (a multiple of the decoded range: 8 bytes for 2
    // groups, 16 for 4).  Without an identity it shows its own.
    PCI72xxBoard(PCIHostBridge& bridge, std::uint8_t bus, std::uint8_t device,
                 std::uint8_t function, Model model, std::uint16_t ioBase);
    PCI72xxBoard(PCIHostBridge& bridge, std::uint8_t bus, std::uint8_t device,
                 std::uint8_t function, Model model, std::uint16_t ioBase,
                 const Identity& identity);
    ~PCI72xxBoard() override;

    const char* name() const override;

    Model model() const { return model_; }
    unsigned groups() const { return groups_; }
    std::uint16_t ioBase() const { return ioBase_; }
    PCIFunction& function() { return function_; }
    const PCIFunction& function() const { return function_; }

    // --- field side ---------------------------------------------------------
    // Levels applied to the lines from outside, bit set = line high.  Every
    // line starts pulled high.  They show on the lines that are inputs.
    PCI72xxBoard& setInputLevels(unsigned group, Port port, std::uint8_t levels);
    PCI72xxBoard& setLineLevel(unsigned group, unsigned line, bool high);   // line 0-23
    // The lines the board drives (bit set = output) and the levels it drives
    // on them (bits of input lines read 1 here: the board does not pull them).
    std::uint8_t outputLines(unsigned group, Port port) const;
    std::uint8_t drivenLevels(unsigned group, Port port) const;
    // What is on the wires: driven levels on outputs, applied levels on inputs.
    std::uint8_t lineLevels(unsigned group, Port port) const;
    // The output latch as last written (0 after power-up).
    std::uint8_t latch(unsigned group, Port port) const;

    // The last control word written to the group (0x1B, all inputs, before
    // the first write) and how many times the control register was written.
    std::uint8_t controlWord(unsigned group) const;
    unsigned controlWrites(unsigned group) const;

    // --- Board --------------------------------------------------------------
    // The groups' registers are byte-wide: a wider access reaches consecutive
    // registers, and lanes past the last group float.
    std::uint32_t readPort(std::uint16_t port, unsigned width) override;
    void writePort(std::uint16_t port, unsigned width, std::uint32_t value) override;
    unsigned busWidth() const override { return 1; }

protected:
    void plugged() override;

private:
    enum { maxGroups = 4 };
    struct Group {
        std::uint8_t control;
        unsigned controlWrites;
        DigitalPort lines[3];
    };

    void init(const Identity& identity);
    void check(unsigned group) const;
    std::uint8_t readRegister(unsigned offset) const;
    void writeRegister(unsigned offset, std::uint8_t value);

    PCIHostBridge& bridge_;
    std::uint8_t bus_, device_, functionNumber_;
    Model model_;
    unsigned groups_;
    std::uint16_t ioBase_;
    PCIFunction function_;
    Group group_[maxGroups];
};

}  // namespace Sim
}  // namespace Tavex

#endif
