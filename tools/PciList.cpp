#include "PciList.h"

#include <cstdio>
#include <string>

#include "tavex/pci/PCICursor.h"

#if defined(TAVEX_TOOL_HAVE_LIBPCI)
extern "C" {
#include <pci/pci.h>
}
#endif

namespace Tavex {
namespace Tool {

namespace {

std::string format(const char* pattern, unsigned a, unsigned b = 0, unsigned c = 0) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

// The decoded meaning of a base address register, as the firmware left it.
std::string describeBar(std::uint32_t bar) {
    if (bar & 1)
        return format("I/O ports at %04x", bar & ~3u);
    const unsigned type = (bar >> 1) & 3;
    return format("memory at %08x", bar & ~0xFu) + (type == 2 ? " (64-bit, low half)" : " (32-bit)") +
           ((bar & 8) ? ", prefetchable" : ", non-prefetchable");
}

}  // namespace

#if defined(TAVEX_TOOL_HAVE_LIBPCI)

struct PciNames::Database {
    Database() : access(pci_alloc()), loaded(false) {
        if (access) {
            access->warning = &quiet;
            access->debug = &quiet;
            loaded = pci_load_name_list(access) != 0;
        }
    }
    ~Database() {
        if (access)
            pci_cleanup(access);
    }
    static void quiet(char*, ...) {}

    std::string lookup(int flags, unsigned a, unsigned b = 0) const {
        if (!loaded)
            return std::string();
        char text[256];
        const char* name = pci_lookup_name(access, text, sizeof text, flags | PCI_LOOKUP_NO_NUMBERS,
                                           a, b);
        return name ? name : std::string();
    }

    pci_access* access;
    bool loaded;
};

PciNames::PciNames() : database_(new Database) {}
bool PciNames::available() const { return database_->loaded; }
const char* PciNames::missing() {
    return "tavex pci: no PCI ID database (pci.ids) found, so numbers only";
}
std::string PciNames::className(unsigned baseClass, unsigned subClass) const {
    return database_->lookup(PCI_LOOKUP_CLASS, baseClass << 8 | subClass);
}
std::string PciNames::vendorName(unsigned vendorId) const {
    return database_->lookup(PCI_LOOKUP_VENDOR, vendorId);
}
std::string PciNames::deviceName(unsigned vendorId, unsigned deviceId) const {
    return database_->lookup(PCI_LOOKUP_DEVICE, vendorId, deviceId);
}

#else

struct PciNames::Database {};

PciNames::PciNames() {}
bool PciNames::available() const { return false; }
const char* PciNames::missing() {
    return "tavex pci: this tavex was built without libpci, so numbers only";
}
std::string PciNames::className(unsigned, unsigned) const { return std::string(); }
std::string PciNames::vendorName(unsigned) const { return std::string(); }
std::string PciNames::deviceName(unsigned, unsigned) const { return std::string(); }

#endif

PciNames::~PciNames() {}

std::string describeFunction(const PCIDeviceInfo& info, const PciNames& names,
                             const PciListing& how) {
    const unsigned slot = info.slotNumber();
    const unsigned classWord = static_cast<unsigned>(info.baseClass() << 8 | info.subClass());
    std::string line = format("%02x:%02x.%u ", info.busNumber(), slot >> 3, slot & 7);
    const std::string ids = format("%04x:%04x", info.vendorId(), info.deviceId());
    const bool named = !how.numeric && names.available();
    if (named) {
        std::string cls = names.className(info.baseClass(), info.subClass());
        std::string vendor = names.vendorName(info.vendorId());
        std::string device = names.deviceName(info.vendorId(), info.deviceId());
        if (cls.empty())
            cls = "Class";
        if (vendor.empty())
            vendor = format("Vendor %04x", info.vendorId());
        if (device.empty())
            device = format("Device %04x", info.deviceId());
        line += cls + format(" [%04x]: ", classWord) + vendor + " " + device + " [" + ids + "]";
    } else {
        line += format("%04x: ", classWord) + ids;
    }
    if (info.revisionId() != 0)
        line += format(" (rev %02x)", info.revisionId());
    if (!how.verbose)
        return line + "\n";

    if (info.progIf() != 0)
        line += format(" (prog-if %02x)", info.progIf());
    line += "\n";
    const unsigned headerType = info.headerType() & 0x7F;
    // Type 0 has six base address registers, a PCI-to-PCI bridge (1) two,
    // a CardBus bridge (2) one; only type 0 keeps its subsystem IDs at 0x2C.
    const unsigned bars = headerType == 0 ? 6 : headerType == 1 ? 2 : headerType == 2 ? 1 : 0;
    if (headerType == 0)
        line += format("\tSubsystem: %04x:%04x\n", info.subVendorId(), info.subSystemId());
    if (headerType <= 1) {
        const unsigned pin = info.interruptPin();
        line += format("\tInterrupt: line %u", info.interruptLine()) +
                (pin >= 1 && pin <= 4 ? std::string(", pin ") + static_cast<char>('A' + pin - 1)
                                      : std::string(", no pin")) + "\n";
    }
    for (unsigned n = 0; n < bars; ++n) {
        const std::uint32_t bar = info.baseAddress(static_cast<unsigned char>(n));
        if (bar == 0)
            continue;
        line += format("\tBAR%u: %08x  ", n, bar) + describeBar(bar) + "\n";
        // The upper half of a 64-bit memory address takes the next register.
        if ((bar & 7) == 4 && n + 1 < bars) {
            ++n;
            line += format("\tBAR%u: %08x  upper half of BAR%u\n", n,
                           info.baseAddress(static_cast<unsigned char>(n)), n - 1);
        }
    }
    return line;
}

unsigned listPci(std::ostream& out, const PciNames& names, const PciListing& how) {
    unsigned count = 0;
    for (PCICursor cursor; cursor; ++cursor) {
        out << describeFunction(cursor.deviceAtCursor(), names, how);
        ++count;
    }
    return count;
}

}  // namespace Tool
}  // namespace Tavex
