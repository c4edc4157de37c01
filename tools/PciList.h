// tavex pci: the PCI functions that the library's own scan finds, one line
// each, in scan order, in the forms a user of lspci knows: names
// ("BB:DD.F class: vendor device"), numbers (-n), both (-nn), and the
// machine-readable form of -mm.  Names come from the system's PCI ID
// database through libpci where the tool was built with it.  A board that a
// card of the library serves gets the CARD string that reaches it.
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
    std::string subsystemName(unsigned vendorId, unsigned deviceId, unsigned subVendorId,
                              unsigned subSystemId) const;

private:
    struct Database;
    std::unique_ptr<Database> database_;
};

struct PciListing {
    PciListing() : numeric(0), verbose(false), machine(false), json(false) {}
    unsigned numeric;   // -n: 0 names, 1 numbers, 2 (-nn) both
    bool verbose;       // -v: base address registers, interrupt, subsystem
    bool machine;       // -mm: lspci's machine-readable form
    bool json;          // one JSON document
};

// -s [[[domain]:]bus:][dev][.func] and -d [vendor]:[device][:class], in
// hex; an empty part matches anything.
struct PciFilter {
    PciFilter();
    void slot(const std::string& text);     // UsageError when malformed
    void device(const std::string& text);
    bool matches(const PCIDeviceInfo& info) const;

    int bus, dev, func, vendor, deviceId, classWord;   // -1: any; bus 0x100: none
                                                        // (a domain other than 0)
};

// The CARD string that reaches the function, or empty: pci72xx:N for the
// PCI-7248/7296 boards in the order the card counts them, pfb:...,N for
// the 5136-PFB-PCI.
std::string cardFor(const PCIDeviceInfo& info);

// One function's line (and with verbose, its indented detail lines).
std::string describeFunction(const PCIDeviceInfo& info, const PciNames& names,
                             const PciListing& how);

// Every function of the scan that the filter lets through; returns how many.
unsigned listPci(std::ostream& out, const PciNames& names, const PciListing& how,
                 const PciFilter& filter = PciFilter());

}  // namespace Tool
}  // namespace Tavex

#endif
