// The scene of the 5136-PFB-PCI card tests: a simulated PC with a host
// bridge, the board model on the PCI bus, and a temporary folder for the
// module and configuration files.
#ifndef TAVEX_TESTS_PROFIBUS_PFBSCENE_H
#define TAVEX_TESTS_PROFIBUS_PFBSCENE_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ExpectThrow.h"
#include "support/RecordingMachine.h"
#include "support/TempDir.h"
#include "tavex/model/IOTrack.h"
#include "tavex/profibus/SST5136PFBPCI.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/PCIHostBridge.h"
#include "tavex/sim/boards/SST5136PFBBoard.h"

namespace PFBTest {

typedef std::vector<std::uint8_t> Bytes;
typedef Tavex::Sim::SST5136PFBBoard PFB;
typedef Tavex::SST5136PFBPCI Card;

inline Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 9));
    return bytes;
}

// Machine, bridge, one board at bus 0 device 6 and a module file in the
// folder.  A new board waits for its module; running() gives one that runs
// it already.  Cards are made after the scene and destroyed before it.
class Scene {
public:
    explicit Scene(std::size_t moduleSize = 3000)
        : bridge(machine.add<Tavex::Sim::PCIHostBridge>(Tavex::Sim::PCIHostBridge::Mechanism1)),
          board(machine.add<PFB>(bridge, 0, 6)),
          module(pattern(moduleSize, 0x41)) {
        bridge.addFunction(0, 0, 0, 0x8086, 0x7190).setClassCode(0x06, 0x00);
        dir.write("pciprofi.ss1", module);
    }

    std::string prefix() const { return dir.prefix(); }
    std::unique_ptr<Card> card(unsigned long baudRate = 0x06, unsigned index = 0) {
        return std::unique_ptr<Card>(new Card(prefix().c_str(), baudRate, index));
    }
    // The byte of the window at offset, as the board holds it.
    std::uint8_t byte(std::uint32_t offset) const { return board.memory().read8(offset); }
    std::uint8_t state() const { return byte(PFB::StateByte); }

    Tavex::Test::RecordingMachine machine;
    Tavex::Sim::PCIHostBridge& bridge;
    PFB& board;
    TempDir dir{"tavex-pfb"};
    Bytes module;
};

// Counts the sleeps of a given length since the trace was last cleared.
inline unsigned sleepsOf(const Tavex::Sim::Machine& m, unsigned long ms) {
    unsigned count = 0;
    for (unsigned long s : m.sleeps())
        count += s == ms;
    return count;
}

inline std::vector<long> values(const Tavex::IOTrack& track) {
    std::vector<long> v;
    for (unsigned i = 0; i < track.numberOfPoints(); ++i)
        v.push_back(track[i]);
    return v;
}

// The starting point of a track: slave address and byte offset.
inline unsigned at(unsigned slave, unsigned byte) { return (slave << 16) | byte; }

}  // namespace PFBTest

#endif
