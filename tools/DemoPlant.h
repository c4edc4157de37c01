// DemoPlant: a simulated PC with one board of every kind the library
// serves, each at its usual address, and a small bottling line behind them.
// It is what `tavex demo` runs and what `--sim` puts under read, write,
// watch and pci.  Making one installs its machine (Sim::ScopedMachine) for
// as long as it lives: cards must be made after it and destroyed before it.
//
// The PC:
//   AC5            ports 0x300-0x305
//   PC7166         ports 0x340-0x347
//   AC28           ports 0x100-0x13F, reset port 0xE0 (reset level 1):
//                  digital brainboards at banks 0 and 1, an analog one at 2-3
//   parallel port  0x378, listed by the BIOS as LPT1
//   MicroGENI      channel A of a Genius PCIM: ports 0x3E0-0x3E1, memory
//                  0xD0000; stations 3 (inputs and outputs) and 9 (analog)
//   1784-KTx       memory 0xC8000; its protocol files are stand-ins that the
//                  plant writes to a scratch folder of its own
//                  (firmwarePath())
//   PCI, mechanism #1: 00:00.0 host bridge, 00:01.0 ISA bridge with its IDE
//                  function 00:01.1, 00:0b.0 PCI-7248 (registers at 0xE000),
//                  00:0c.0 5136-PFB-PCI (memory 0xFEA00000), already running
//                  its module, so no module file is needed; slaves 3 and 12
//
// The line, which runs on every tick of the machine (sleeps of the library):
//   conveyor    motor on AC5 port 1 point 0; while it runs the PC7166
//               channel 0 encoder turns and bottles pass the eight photo-eyes
//               of AC5 port 0 (bottle seen = point 1)
//   tank        fill valve AC28 bank 1 point 0, filling nozzle point 1; the
//               level is AC28 analog channel 0 (bank 2), with switches for
//               low and high level at bank 0 points 0 and 1
//   cylinders   eight valves on PCI-7248 group 0 port B; each one's
//               extended switch on port A closes 300 ms after its valve opens
//   test plug   on the parallel port, status lines 12-16 follow data lines 0-4
//   racks       1784-KTx: bank 2 inputs follow bank 3 outputs, bank 5
//               inputs follow bank 4 outputs
//   stations    Genius station 3: input byte 0 follows output byte 1;
//               station 9: input word 0, a temperature, creeps towards the
//               heater setting in output word 2
//   slaves      Profibus slave 3 (2 input bytes, 1 output byte): input byte
//               0 follows output byte 0, input byte 1 counts bottles seen at
//               the last eye; slave 12 (1 input byte, 2 output bytes): input
//               byte 0 follows output byte 1
#ifndef TAVEX_TOOLS_DEMOPLANT_H
#define TAVEX_TOOLS_DEMOPLANT_H

#include <cstdint>
#include <memory>
#include <string>

#include "tavex/sim/Machine.h"
#include "tavex/sim/PCIHostBridge.h"
#include "tavex/sim/boards/AB1784KTxBoard.h"
#include "tavex/sim/boards/AC28Board.h"
#include "tavex/sim/boards/AC5Board.h"
#include "tavex/sim/boards/BiosDataArea.h"
#include "tavex/sim/boards/GEMicroGENIBoard.h"
#include "tavex/sim/boards/GEPCIMBoard.h"
#include "tavex/sim/boards/PC7166Board.h"
#include "tavex/sim/boards/PCI72xxBoard.h"
#include "tavex/sim/boards/ParallelPortBoard.h"
#include "tavex/sim/boards/SST5136PFBBoard.h"

namespace Tavex {
namespace Tool {

class PlantProcess;

class DemoPlant {
public:
    // The usual addresses, as the CARD strings of the README name them.
    enum : std::uint32_t {
        AC5Port = 0x300,
        PC7166Port = 0x340,
        AC28Port = 0x100,
        AC28ResetPort = 0xE0,
        LptPort = 0x378,
        GeniusPort = 0x3E0,
        GeniusMemory = 0xD0000,
        KTxMemory = 0xC8000,
        PCI7248Registers = 0xE000,
        PFBMemory = 0xFEA00000u
    };
    enum { PCI7248Device = 11, PFBDevice = 12 };
    enum { ConveyorSlave = 3, PanelSlave = 12, PanelStation = 3, AnalogStation = 9 };

    DemoPlant();
    ~DemoPlant();
    DemoPlant(const DemoPlant&) = delete;
    DemoPlant& operator=(const DemoPlant&) = delete;

    Sim::Machine& machine() { return machine_; }
    // The folder of the 1784-KTx stand-in protocol files, with a trailing
    // separator, as a ktx CARD string names it.
    const std::string& firmwarePath() const { return firmwarePath_; }

    Sim::AC5Board& ac5() { return *ac5_; }
    Sim::PC7166Board& pc7166() { return *pc7166_; }
    Sim::AC28Board& ac28() { return *ac28_; }
    Sim::ParallelPortBoard& lpt() { return *lpt_; }
    Sim::GEMicroGENIBoard& genius() { return *genius_; }
    Sim::AB1784KTxBoard& ktx() { return *ktx_; }
    Sim::PCIHostBridge& pciBridge() { return *bridge_; }
    Sim::PCI72xxBoard& pci7248() { return *pci7248_; }
    Sim::SST5136PFBBoard& pfb() { return *pfb_; }

    // The process: the tank level (0 to 1), the bottles the last eye has
    // seen, and whether the conveyor runs.
    double tankLevel() const;
    unsigned bottlesSeen() const;
    bool conveyorRunning() const;

private:
    struct ScratchFolder {
        ScratchFolder();
        ~ScratchFolder();
        std::string path;
    };

    ScratchFolder scratch_;   // first made, last gone: the machine's boards never read it
    std::string firmwarePath_;
    Sim::ScopedMachine machine_;
    Sim::AC5Board* ac5_;
    Sim::PC7166Board* pc7166_;
    Sim::AC28Board* ac28_;
    Sim::ParallelPortBoard* lpt_;
    Sim::GEMicroGENIBoard* genius_;
    Sim::AB1784KTxBoard* ktx_;
    Sim::PCIHostBridge* bridge_;
    Sim::PCI72xxBoard* pci7248_;
    Sim::SST5136PFBBoard* pfb_;
    PlantProcess* process_;
};

}  // namespace Tool
}  // namespace Tavex

#endif
