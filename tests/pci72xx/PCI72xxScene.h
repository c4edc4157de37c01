// A simulated PC with a host bridge (mechanism #1 unless told otherwise)
// and PCI-7248/7296 boards, and helpers to look at the boards' ports.
#ifndef TAVEX_TESTS_PCI72XX_PCI72XXSCENE_H
#define TAVEX_TESTS_PCI72XX_PCI72XXSCENE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <ostream>
#include <string>
#include <typeinfo>
#include <vector>

#include "support/ExpectThrow.h"
#include "support/TraceText.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/PCIHostBridge.h"
#include "tavex/sim/boards/PCI72xxBoard.h"

namespace pci72xxtest {

typedef Tavex::Sim::Machine::Event Event;
typedef Tavex::Sim::PCIHostBridge Bridge;
typedef Tavex::Sim::PCI72xxBoard Board;

inline Event in(unsigned port, std::uint32_t value) {
    return Tavex::Sim::Machine::portRead(static_cast<std::uint16_t>(port), 1, value);
}
inline Event out(unsigned port, std::uint32_t value) {
    return Tavex::Sim::Machine::portWrite(static_cast<std::uint16_t>(port), 1, value);
}

struct Scene {
    explicit Scene(Bridge::Mechanism mechanism = Bridge::Mechanism1)
        : bridge(machine.add<Bridge>(mechanism)) {
        bridge.addFunction(0, 0, 0, 0x8086, 0x7190).setClassCode(0x06, 0x00);
    }

    Board& board(std::uint8_t bus, std::uint8_t device, Board::Model model,
                 std::uint16_t ioBase) {
        return machine.add<Board>(bridge, bus, device, 0, model, ioBase);
    }
    Board& board(std::uint8_t bus, std::uint8_t device, Board::Model model, std::uint16_t ioBase,
                 const Board::Identity& identity) {
        return machine.add<Board>(bridge, bus, device, 0, model, ioBase, identity);
    }

    // The accesses to ports [first, first + count), in order.
    std::vector<Event> portsIn(unsigned first, unsigned count) const {
        std::vector<Event> events;
        for (const Event& event : machine.portTrace())
            if (event.port >= first && event.port < first + count)
                events.push_back(event);
        return events;
    }
    std::vector<Event> boardPorts(const Board& b) const {
        return portsIn(b.ioBase(), 4 * b.groups());
    }

    Tavex::Sim::ScopedMachine machine;
    Bridge& bridge;
};

// A run of one type letter, to build type strings: run('I', 8) + run('O', 16).
inline std::string run(char letter, unsigned count) { return std::string(count, letter); }

}  // namespace pci72xxtest

#endif
