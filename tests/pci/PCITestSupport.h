// Helpers of the PCI bus tests: readable port and configuration events, the
// list of functions found, exact-exception checks.
#ifndef TAVEX_TESTS_PCI_PCITESTSUPPORT_H
#define TAVEX_TESTS_PCI_PCITESTSUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <ostream>
#include <string>
#include <typeinfo>
#include <vector>

#include "tavex/pci/PCIBus.h"
#include "support/ExpectThrow.h"
#include "support/TraceText.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/PCIHostBridge.h"

namespace pcitest {

typedef Tavex::Sim::Machine::Event Event;
typedef Tavex::Sim::PCIHostBridge Bridge;

inline Event in(std::uint16_t port, unsigned width, std::uint32_t value) {
    return Tavex::Sim::Machine::portRead(port, width, value);
}
inline Event out(std::uint16_t port, unsigned width, std::uint32_t value) {
    return Tavex::Sim::Machine::portWrite(port, width, value);
}

// "b:dd.f vvvv:dddd" for one function of the bus list.
inline std::string describe(const Tavex::PCIDeviceInfo& info) {
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u.%u %04X:%04X", info.busNumber(),
                  info.slotNumber() >> 3, info.slotNumber() & 7, info.vendorId(),
                  info.deviceId());
    return text;
}

inline std::string describe(unsigned bus, unsigned device, unsigned function,
                            std::uint16_t vendorId, std::uint16_t deviceId) {
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u.%u %04X:%04X", bus, device, function, vendorId,
                  deviceId);
    return text;
}

// The bus list in cursor order.
inline std::vector<std::string> listed() {
    std::vector<std::string> entries;
    for (Tavex::PCICursor cursor; cursor.isValid(); cursor.next())
        entries.push_back(describe(cursor.deviceAtCursor()));
    return entries;
}

inline const char* mechanismName(Bridge::Mechanism mechanism) {
    return mechanism == Bridge::Mechanism1 ? "mechanism #1"
           : mechanism == Bridge::Mechanism2 ? "mechanism #2" : "no mechanism";
}

}  // namespace pcitest


#endif
