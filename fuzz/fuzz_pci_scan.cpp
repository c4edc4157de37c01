// The PCI scan over arbitrary configuration spaces: the mechanism probes,
// the depth-first walk through bridges and multi-function devices, the
// list it leaves, a walk with PCICursor, the lookups, and a PCI-7248/7296
// card built on whatever the list holds.
//
// Tape: system faults; the mode:
//   0, 1, 2  a host bridge with no mechanism, mechanism #1 or #2, and up
//            to 64 functions, each a place (bus, device, function bytes)
//            and the first n bytes of its configuration space (a length
//            byte, then the bytes); the rest of the space reads 0
//   3        no bridge: every read of the configuration ports (0xCF8 to
//            0xCFF, 0xC000 to 0xCFFF) takes the next tape byte, 0xFF once
//            the tape is out
// then the lookups and the card: an ID pair and index for getDeviceInfo,
// base address register numbers, command values, the card index and its
// track.
#include <cstdint>
#include <memory>

#include "Harness.h"
#include "TapeBoard.h"
#include "tavex/cards/PCI72xxCard.h"
#include "tavex/pci/PCIBus.h"
#include "tavex/sim/PCIHostBridge.h"

using namespace TavexFuzz;
using Tavex::Sim::PCIHostBridge;

namespace {

void placeFunctions(Tape& tape, PCIHostBridge& bridge) {
    for (unsigned n = tape.byte() % 65; n > 0 && !tape.empty(); --n) {
        const std::uint8_t bus = tape.byte();
        const std::uint8_t device = tape.byte() % 32;
        const std::uint8_t function = tape.byte() % 8;
        const unsigned length = tape.byte();
        if (bridge.functionAt(bus, device, function) != 0) {
            for (unsigned i = 0; i < length; ++i)
                tape.byte();
            continue;
        }
        Tavex::Sim::PCIFunction& f = bridge.addFunction(bus, device, function, 0, 0);
        f.setHeaderType(0);
        for (unsigned i = 0; i < length; ++i)
            f.set8(static_cast<std::uint8_t>(i), tape.byte());
    }
}

// Every accessor of every function in the list, through a cursor.
void walk(Tape& tape) {
    unsigned sum = 0;
    for (Tavex::PCICursor cursor; cursor.isValid(); cursor.next()) {
        const Tavex::PCIDeviceInfo& info = cursor.deviceAtCursor();
        sum += info.busNumber() + info.slotNumber() + info.vendorId() + info.deviceId() +
               info.status() + info.revisionId() + info.progIf() + info.subClass() +
               info.baseClass() + info.cacheLineSize() + info.latencyTimer() +
               info.headerType() + info.BIST() + info.CIS() + info.subVendorId() +
               info.subSystemId() + info.ROMBaseAddress() + info.capabilityList() +
               info.interruptLine() + info.interruptPin() + info.minimumGrant() +
               info.maximumLatency();
        const unsigned char n = tape.byte() % 64;
        libraryCall("baseAddress", [&] { sum += info.baseAddress(n); });
        if (tape.byte() & 1)
            info.setCommand(tape.word());
    }
    static volatile unsigned sink;
    sink = sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Tape tape(data, size);
    Scene scene(tape);
    Tavex::Sim::Machine& machine = scene.machine();
    const unsigned mode = tape.byte() % 4;
    if (mode < 3) {
        PCIHostBridge& bridge =
            machine.add<PCIHostBridge>(static_cast<PCIHostBridge::Mechanism>(mode));
        placeFunctions(tape, bridge);
    } else {
        machine.add<TapeBoard>(tape, "configuration ports", TapeBoard::Ports{0xCF8, 8},
                               TapeBoard::Memory{0, 0});
        machine.add<TapeBoard>(tape, "mechanism #2 window", TapeBoard::Ports{0xC000, 0x1000},
                               TapeBoard::Memory{0, 0});
    }

    // A scan that fails keeps what it found; the list stays usable.
    libraryCall("PCI scan", [] { Tavex::PCIBus::pciBus(); });
    walk(tape);
    const unsigned short vendor = tape.word(), device = tape.word();
    const unsigned index = tape.byte();
    Tavex::PCIBus::pciBus().getDeviceInfo(vendor, device, index);

    std::unique_ptr<Tavex::PCI72xxCard> card;
    if (!build(scene, card, [&] { return new Tavex::PCI72xxCard(tape.byte() % 4); }))
        return 0;
    TrackOps ops;
    ops.start = smallStart;
    exerciseTracks(tape, scene, *card, ops);
    destroy(scene, card);
    return 0;
}
