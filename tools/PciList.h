// tavex pci: the PCI functions that the library's own scan finds, one line
// each, in scan order, as "BB:DD.F class: vendor device" with the numbers
// in brackets, or numbers only.  Names come from the system's PCI ID
// database through libpci where the tool was built with it.
#ifndef TAVEX_TOOLS_PCILIST_H
#define TAVEX_TOOLS_PCILIST_H

#include <memory>
#include <ostream>
#include <string>

#include "tavex/pci/PCIBus.h"

namespace Tavex {
namespace Tool {

// Names of PCI classes, vendors and devices.
class PciNames {
public:
    PciNames();
    ~PciNames();
    PciNames(const PciNames&) = delete;
    PciNames& operator=(const PciNames&) = delete;

    // False when the tool has no name database: then every name is empty.
    bool available() const;
    // Why not, in one line.
    static const char* missing();

    // Empty where the database has no name.
    std::string className(unsigned baseClass, unsigned subClass) const;
    std::string vendorName(unsigned vendorId) const;
    std::string deviceName(unsigned vendorId, unsigned deviceId) const;

private:
    struct Database;
    std::unique_ptr<Database> database_;
};

struct PciListing {
    bool numeric;   // -n: numbers only
    bool verbose;   // -v: base address registers, interrupt, subsystem
};

// One function's line (and with verbose, its indented detail lines).
std::string describeFunction(const PCIDeviceInfo& info, const PciNames& names,
                             const PciListing& how);

// Every function of the scan; returns how many.
unsigned listPci(std::ostream& out, const PciNames& names, const PciListing& how);

}  // namespace Tool
}  // namespace Tavex

#endif
