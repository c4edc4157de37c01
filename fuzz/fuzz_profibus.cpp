// The 5136-PFB-PCI Profibus master against a board whose 2 MiB window
// answers from the tape: the PCI lookup, the module download, the
// identity check, the start command, the area pages, the configuration
// commands, slave tracks and updates.
//
// Tape: system faults; the type bits of base address register 0; the
// window's fill byte and first patches; the module prefix (a module of 3000
// bytes, an empty one, none, one byte too big, the biggest that fits, or a
// null prefix), the baud rate and the card index; then the track operations, the card's own being
// online, autoconfigure, configure (with one of a few files),
// configurationToFlash, configurationFromFlash, setBaudRate and baudRate.
// Every sleep of the card is a tick of the board.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Harness.h"
#include "TapeBoard.h"
#include "tavex/profibus/SST5136PFBPCI.h"
#include "tavex/sim/PCIHostBridge.h"

using namespace TavexFuzz;

namespace {

const std::uint32_t windowAddress = 0xE0000000u;
const std::uint32_t windowSize = 0x200000;

// The module ends before the loader's handshake byte, the window's last.
const std::uint32_t largestModule = windowSize - 1 - 0x1000;

std::vector<std::string> writeModules() {
    Files& files = Files::instance();
    files.write("p0-pciprofi.ss1", 3000, 0x41);
    files.write("p1-pciprofi.ss1", 0, 0x42);
    // p2- has no module file.
    files.write("p3-pciprofi.ss1", largestModule + 1, 0x43);
    files.write("p4-pciprofi.ss1", largestModule, 0x44);
    return {files.path("p0-"), files.path("p1-"), files.path("p2-"), files.path("p3-"),
            files.path("p4-")};
}

std::vector<std::string> writeConfigurations() {
    Files& files = Files::instance();
    return {files.write("c0.cfg", 100, 0x51), files.write("c1.cfg", 0, 0x52),
            files.write("c2.cfg", 0x4000, 0x53), files.write("c3.cfg", 0x4001, 0x54),
            files.path("missing.cfg")};
}

// A second argument of a card operation that is a string: one of a few
// files, or a null pointer.
const char* pickPath(Tape& tape, const std::vector<std::string>& paths) {
    const unsigned choice = tape.byte() % (paths.size() + 1);
    return choice < paths.size() ? paths[choice].c_str() : 0;
}

// Slave address in the upper 16 bits, byte offset in the lower; now and
// then any number.
unsigned int slaveStart(Tape& tape) {
    const unsigned slave = tape.byte();
    if (slave >= 0xF0)
        return tape.dword();
    return static_cast<unsigned>(slave) << 16 | tape.byte();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::string> modules = writeModules();
    static const std::vector<std::string> configurations = writeConfigurations();

    Tape tape(data, size);
    Scene scene(tape);
    Tavex::Sim::Machine& machine = scene.machine();
    Tavex::Sim::PCIHostBridge& bridge =
        machine.add<Tavex::Sim::PCIHostBridge>(Tavex::Sim::PCIHostBridge::Mechanism1);
    bridge.addFunction(0, 0, 0, 0x8086, 0x7190).setClassCode(0x06, 0x00);
    bridge.addFunction(0, 6, 0, 0x133D, 0x1000)
        .setBaseAddress(0, windowAddress | (tape.byte() & 0xF), windowSize)
        .setInterrupt(11, 1);
    TapeBoard& board = machine.add<TapeBoard>(tape, "5136-PFB-PCI", TapeBoard::Ports{0, 0},
                                              TapeBoard::Memory{windowAddress, windowSize});
    board.powerUp();

    const char* prefix = pickPath(tape, modules);
    const unsigned long baudRate = tape.byte();
    const unsigned index = tape.byte() % 8 == 7 ? 1 : 0;

    std::unique_ptr<Tavex::SST5136PFBPCI> card;
    if (!build(scene, card, [&] { return new Tavex::SST5136PFBPCI(prefix, baudRate, index); }))
        return 0;

    TrackOps ops;
    ops.start = slaveStart;
    ops.cardOps = 7;
    ops.cardOp = [&](unsigned n) {
        switch (n) {
        case 0: card->online(); break;
        case 1: card->autoconfigure(); break;
        case 2: card->configure(pickPath(tape, configurations)); break;
        case 3: card->configurationToFlash(); break;
        case 4: card->configurationFromFlash(); break;
        case 5: card->setBaudRate(tape.byte()); break;
        default: card->baudRate(); break;
        }
    };
    exerciseTracks(tape, scene, *card, ops);
    destroy(scene, card);
    return 0;
}
