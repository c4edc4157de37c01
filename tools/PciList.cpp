#include "PciList.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "CardArguments.h"
#include "Json.h"
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
std::string PciNames::subsystemName(unsigned vendorId, unsigned deviceId, unsigned subVendorId,
                                    unsigned subSystemId) const {
    if (!database_->loaded)
        return std::string();
    char text[256];
    const char* name = pci_lookup_name(database_->access, text, sizeof text,
                                       PCI_LOOKUP_SUBSYSTEM | PCI_LOOKUP_DEVICE | PCI_LOOKUP_NO_NUMBERS,
                                       vendorId, deviceId, subVendorId, subSystemId);
    return name ? name : std::string();
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
std::string PciNames::subsystemName(unsigned, unsigned, unsigned, unsigned) const {
    return std::string();
}

#endif

PciNames::~PciNames() {}

namespace {

// The PCI-7248/7296 identities in the order the card counts its boards:
// the bridge chip's identity naming the model in its subsystem IDs, then
// the maker's own IDs of the 7248 and of the 7296; each with its groups
// in I/O space behind base address register 2.
int pci72xxRank(const PCIDeviceInfo& info) {
    const std::uint32_t bar = info.baseAddress(2);
    if ((bar & 1u) == 0 || (bar & ~std::uint32_t(3)) == 0)
        return -1;
    if (info.vendorId() == 0x10B5 && info.deviceId() == 0x9050)
        return info.subVendorId() == 0x9999 || info.subSystemId() == 0x7248 ||
                       info.subSystemId() == 0x7296
                   ? 0
                   : -1;
    if (info.vendorId() == 0x144A && info.deviceId() == 0x7248)
        return 1;
    if (info.vendorId() == 0x144A && info.deviceId() == 0x7296)
        return 2;
    return -1;
}

bool isPfb(const PCIDeviceInfo& info) { return info.vendorId() == 0x133D && info.deviceId() == 0x1000; }

bool sameFunction(const PCIDeviceInfo& a, const PCIDeviceInfo& b) {
    return a.busNumber() == b.busNumber() && a.slotNumber() == b.slotNumber();
}

struct Naming {
    std::string cls, vendor, device, subVendor, subDevice;
};

Naming namesOf(const PCIDeviceInfo& info, const PciNames& names) {
    Naming n;
    n.cls = names.className(info.baseClass(), info.subClass());
    n.vendor = names.vendorName(info.vendorId());
    n.device = names.deviceName(info.vendorId(), info.deviceId());
    if (n.cls.empty())
        n.cls = "Class";
    if (n.vendor.empty())
        n.vendor = format("Vendor %04x", info.vendorId());
    if (n.device.empty())
        n.device = format("Device %04x", info.deviceId());
    n.subVendor = names.vendorName(info.subVendorId());
    n.subDevice = names.subsystemName(info.vendorId(), info.deviceId(), info.subVendorId(),
                                      info.subSystemId());
    if (n.subVendor.empty())
        n.subVendor = format("Vendor %04x", info.subVendorId());
    if (n.subDevice.empty())
        n.subDevice = format("Device %04x", info.subSystemId());
    return n;
}

bool hasSubsystem(const PCIDeviceInfo& info) {
    return (info.headerType() & 0x7F) == 0 && info.subVendorId() != 0 && info.subVendorId() != 0xFFFF;
}

// -mm: slot, then quoted class, vendor and device, the revision and
// programming interface when not 0, then quoted subsystem vendor and
// subsystem, empty when there are none.
std::string machineLine(const PCIDeviceInfo& info, const PciNames& names, unsigned numeric) {
    const unsigned slot = info.slotNumber();
    const unsigned classWord = static_cast<unsigned>(info.baseClass() << 8 | info.subClass());
    const bool named = numeric != 1 && names.available();
    const bool numbered = numeric != 0 || !names.available();
    const Naming n = named ? namesOf(info, names) : Naming();
    auto field = [&](const std::string& name, const std::string& number) {
        return " \"" + (named ? name : std::string()) + (named && numbered ? " [" : "") +
               (numbered ? number : std::string()) + (named && numbered ? "]" : "") + "\"";
    };
    std::string line = format("%02x:%02x.%u", info.busNumber(), slot >> 3, slot & 7) +
                       field(n.cls, format("%04x", classWord)) +
                       field(n.vendor, format("%04x", info.vendorId())) +
                       field(n.device, format("%04x", info.deviceId()));
    if (info.revisionId() != 0)
        line += format(" -r%02x", info.revisionId());
    if (info.progIf() != 0)
        line += format(" -p%02x", info.progIf());
    if (hasSubsystem(info))
        line += field(n.subVendor, format("%04x", info.subVendorId())) +
                field(n.subDevice, format("%04x", info.subSystemId()));
    else
        line += " \"\" \"\"";
    return line + "\n";
}

}  // namespace

PciFilter::PciFilter() : bus(-1), dev(-1), func(-1), vendor(-1), deviceId(-1), classWord(-1) {}

namespace {

// One hex field of a filter, empty for any.
int filterField(const std::string& text, unsigned max, const std::string& whole, const char* form) {
    if (text.empty() || text == "*")
        return -1;
    std::uint32_t value = 0;
    try {
        value = parseUnsigned("0x" + text, 0xFFFFFFFFu, "");
    } catch (const UsageError&) {
        throw UsageError("'" + whole + "' is not " + form + " (hex numbers)");
    }
    if (value > max)
        throw UsageError("'" + whole + "' is not " + form + ": " + text + " is above " +
                         format("%x", max));
    return static_cast<int>(value);
}

}  // namespace

void PciFilter::slot(const std::string& text) {
    const char* form = "[[[domain]:]bus:][dev][.func]";
    std::string slotText = text;
    // This PC has one PCI domain, 0: a filter for another matches nothing.
    if (std::count(text.begin(), text.end(), ':') == 2) {
        const std::string::size_type colon = text.find(':');
        if (filterField(text.substr(0, colon), 0xFFFF, text, form) > 0)
            bus = 0x100;
        slotText = text.substr(colon + 1);
    }
    const std::string::size_type colon = slotText.find(':');
    const std::string rest = colon == std::string::npos ? slotText : slotText.substr(colon + 1);
    if (colon != std::string::npos && bus != 0x100)
        bus = filterField(slotText.substr(0, colon), 0xFF, text, form);
    const std::string::size_type dot = rest.find('.');
    dev = filterField(rest.substr(0, dot), 0x1F, text, form);
    if (dot != std::string::npos)
        func = filterField(rest.substr(dot + 1), 7, text, form);
}

void PciFilter::device(const std::string& text) {
    const char* form = "[vendor]:[device][:class]";
    const std::string::size_type colon = text.find(':');
    if (colon == std::string::npos)
        throw UsageError("'" + text + "' is not " + form + " (hex numbers)");
    const std::string rest = text.substr(colon + 1);
    const std::string::size_type second = rest.find(':');
    vendor = filterField(text.substr(0, colon), 0xFFFF, text, form);
    deviceId = filterField(rest.substr(0, second), 0xFFFF, text, form);
    if (second != std::string::npos)
        classWord = filterField(rest.substr(second + 1), 0xFFFF, text, form);
}

bool PciFilter::matches(const PCIDeviceInfo& info) const {
    const unsigned slot = info.slotNumber();
    const int classCode = info.baseClass() << 8 | info.subClass();
    return (bus < 0 || bus == info.busNumber()) && (dev < 0 || dev == static_cast<int>(slot >> 3)) &&
           (func < 0 || func == static_cast<int>(slot & 7)) &&
           (vendor < 0 || vendor == info.vendorId()) && (deviceId < 0 || deviceId == info.deviceId()) &&
           (classWord < 0 || classWord == classCode);
}

std::string cardFor(const PCIDeviceInfo& info) {
    const int rank = pci72xxRank(info);
    if (rank < 0 && !isPfb(info))
        return std::string();
    unsigned index = 0;
    if (rank >= 0) {
        // Boards of a lower rank come first, then those before it in the scan.
        for (int r = 0; r < rank; ++r)
            for (PCICursor cursor; cursor; ++cursor)
                index += pci72xxRank(cursor.deviceAtCursor()) == r;
        for (PCICursor cursor; cursor && !sameFunction(cursor.deviceAtCursor(), info); ++cursor)
            index += pci72xxRank(cursor.deviceAtCursor()) == rank;
        return "pci72xx:" + std::to_string(index);
    }
    for (PCICursor cursor; cursor && !sameFunction(cursor.deviceAtCursor(), info); ++cursor)
        index += isPfb(cursor.deviceAtCursor());
    return "pfb:PREFIX,BAUD," + std::to_string(index);
}

std::string describeFunction(const PCIDeviceInfo& info, const PciNames& names,
                             const PciListing& how) {
    if (how.machine)
        return machineLine(info, names, how.numeric);
    const unsigned slot = info.slotNumber();
    const unsigned classWord = static_cast<unsigned>(info.baseClass() << 8 | info.subClass());
    std::string line = format("%02x:%02x.%u ", info.busNumber(), slot >> 3, slot & 7);
    const std::string ids = format("%04x:%04x", info.vendorId(), info.deviceId());
    const bool named = how.numeric != 1 && names.available();
    if (named) {
        const Naming n = namesOf(info, names);
        line += n.cls + (how.numeric == 2 ? format(" [%04x]: ", classWord) : ": ") + n.vendor + " " +
                n.device + (how.numeric == 2 ? " [" + ids + "]" : "");
    } else {
        line += format("%04x: ", classWord) + ids;
    }
    if (info.revisionId() != 0)
        line += format(" (rev %02x)", info.revisionId());
    const std::string card = cardFor(info);
    if (!how.verbose)
        return line + "\n" + (card.empty() ? "" : "\ttavex CARD: " + card + "\n");


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
    if (!card.empty())
        line += "\ttavex CARD: " + card + "\n";
    return line;
}

namespace {

std::string jsonFunction(const PCIDeviceInfo& info, const PciNames& names) {
    const unsigned slot = info.slotNumber();
    std::string text = "{\"slot\":" + jsonString(format("%02x:%02x.%u", info.busNumber(), slot >> 3, slot & 7)) +
                       ",\"class\":" + jsonString(format("%02x%02x", info.baseClass(), info.subClass())) +
                       ",\"vendor\":" + jsonString(format("%04x", info.vendorId())) +
                       ",\"device\":" + jsonString(format("%04x", info.deviceId())) +
                       ",\"revision\":" + std::to_string(info.revisionId()) +
                       ",\"prog_if\":" + std::to_string(info.progIf());
    if (hasSubsystem(info))
        text += ",\"subsystem_vendor\":" + jsonString(format("%04x", info.subVendorId())) +
                ",\"subsystem\":" + jsonString(format("%04x", info.subSystemId()));
    if (names.available()) {
        const Naming n = namesOf(info, names);
        text += ",\"class_name\":" + jsonString(n.cls) + ",\"vendor_name\":" + jsonString(n.vendor) +
                ",\"device_name\":" + jsonString(n.device);
    }
    const std::string card = cardFor(info);
    text += ",\"card\":" + (card.empty() ? std::string("null") : jsonString(card));
    return text + "}";
}

}  // namespace

unsigned listPci(std::ostream& out, const PciNames& names, const PciListing& how,
                 const PciFilter& filter) {
    unsigned count = 0;
    if (how.json)
        out << "{\"functions\":[";
    for (PCICursor cursor; cursor; ++cursor) {
        if (!filter.matches(cursor.deviceAtCursor()))
            continue;
        if (how.json)
            out << (count ? "," : "") << jsonFunction(cursor.deviceAtCursor(), names);
        else
            out << describeFunction(cursor.deviceAtCursor(), names, how);
        ++count;
    }
    if (how.json)
        out << "]}\n";
    return count;
}

}  // namespace Tool
}  // namespace Tavex
