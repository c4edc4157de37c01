// pci_list: lists the PCI functions of a PC, then reads a PCI-7248.
//
// The PC is simulated: Tavex::Sim::ScopedMachine installs it for as long as
// it lives.  Its host bridge answers configuration mechanism #1; behind it
// sit a host bridge function, a multi-function ISA bridge, a PCI-to-PCI
// bridge with a network controller and a two-function sound device on its
// secondary bus, and a PCI-7248 digital I/O board.  The program walks the
// bus list with a PCICursor, exactly as it would on a real PC, then binds
// the board with a PCI72xxCard and runs a few scans of one track on it:
// the 8 switches wired to port A are read, port B drives 8 lamps that
// mirror them, and port C reads 8 more inputs.
#include <cstdio>
#include <exception>

#include "tavex/tavex.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/PCIHostBridge.h"
#include "tavex/sim/boards/PCI72xxBoard.h"

namespace {

using Tavex::Sim::PCI72xxBoard;
using Tavex::Sim::PCIHostBridge;

// Fits the PC's PCI functions; returns the PCI-7248, whose lines the
// program sets from the field side.
PCI72xxBoard& buildPC(Tavex::Sim::Machine& machine) {
    PCIHostBridge& pci = machine.add<PCIHostBridge>(PCIHostBridge::Mechanism1);
    pci.addFunction(0, 0, 0, 0x8086, 0x7190).setClassCode(0x06, 0x00);
    pci.addFunction(0, 7, 0, 0x8086, 0x7110).setClassCode(0x06, 0x01).setMultiFunction(true);
    pci.addFunction(0, 7, 1, 0x8086, 0x7111).setClassCode(0x01, 0x01, 0x80);
    pci.addFunction(0, 7, 3, 0x8086, 0x7113).setClassCode(0x06, 0x80);
    pci.addBridge(0, 30, 0, 1);
    pci.addFunction(1, 0, 0, 0x8086, 0x100E).setClassCode(0x02, 0x00);
    pci.addFunction(1, 2, 0, 0x1274, 0x5880).setClassCode(0x04, 0x01).setMultiFunction(true);
    pci.addFunction(1, 2, 1, 0x1274, 0x5881).setClassCode(0x09, 0x80);
    return machine.add<PCI72xxBoard>(pci, 0, 11, 0, PCI72xxBoard::PCI7248, 0xE000);
}

void printPoints(const Tavex::IOTrack& track, unsigned first, unsigned count) {
    for (unsigned i = first; i < first + count; ++i)
        std::printf("%ld", track[i]);
}

}  // namespace

int main() {
    try {
        Tavex::Sim::ScopedMachine machine;
        PCI72xxBoard& board = buildPC(machine);

        std::printf("bus dev.fn  vendor:device  class\n");
        unsigned functions = 0;
        for (Tavex::PCICursor cursor; cursor; ++cursor) {
            const Tavex::PCIDeviceInfo& info = cursor.deviceAtCursor();
            std::printf("%3u  %02X.%u   %04X:%04X     %02X%02X%02X\n", info.busNumber(),
                        info.slotNumber() >> 3, info.slotNumber() & 7, info.vendorId(),
                        info.deviceId(), info.baseClass(), info.subClass(), info.progIf());
            ++functions;
        }
        std::printf("%u functions\n\n", functions);

        Tavex::PCI72xxCard card;
        Tavex::IOTrack track(card, 0, "IIIIIIIIOOOOOOOOIIIIIIII");

        // The field: switches on ports A and C, closed = line low.
        const std::uint8_t switches[] = {0xFF, 0xFE, 0xFC, 0x5A};

        std::printf("card %s\n", card.type());
        std::printf("scan  switches  lamps     port C    lamp lines\n");
        for (unsigned scan = 0; scan < sizeof switches; ++scan) {
            board.setInputLevels(0, PCI72xxBoard::PortA, switches[scan]);
            board.setInputLevels(0, PCI72xxBoard::PortC, static_cast<std::uint8_t>(~scan));

            track.updateInputs();
            for (unsigned i = 0; i < 8; ++i)
                track[8 + i] = track[i];
            track.updateOutputs();

            std::printf("%4u  ", scan);
            printPoints(track, 0, 8);
            std::printf("  ");
            printPoints(track, 8, 8);
            std::printf("  ");
            printPoints(track, 16, 8);
            std::printf("  0x%02X\n", board.lineLevels(0, PCI72xxBoard::PortB));
            Tavex::OSInterface::sleep(10000);
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pci_list: %s\n", e.what());
        return 1;
    }
}
