#include "PCIPortConfig.h"

#include <memory>
#include <stdexcept>

namespace Tavex {

namespace {

const unsigned headerBytes = 256;
const unsigned char headerTypeOffset = 0x0E;
const unsigned char secondaryBusOffset = 0x19;
const unsigned char multiFunction = 0x80;

bool isAbsent(std::uint32_t id) { return id == 0xFFFFFFFFu || id == 0; }

}  // namespace

PCIPortConfig::PCIPortConfig() {}

PCIPortConfig::~PCIPortConfig() {}

void PCIPortConfig::scanAllBuses() {
    if (!isPresent())
        throw std::runtime_error("PCI bus scanning by this Config type is not possible");
    for (unsigned bus = 0; bus < 256; ++bus)
        scanned_[bus] = false;
    scanBus(0);
}

unsigned char PCIPortConfig::readChar(unsigned char bus, unsigned char slot,
                                      unsigned char offset) {
    const unsigned char value = static_cast<unsigned char>(open(bus, slot, offset).readChar());
    close();
    return value;
}

unsigned short PCIPortConfig::readShort(unsigned char bus, unsigned char slot,
                                        unsigned char offset) {
    const unsigned short value =
        static_cast<unsigned short>(open(bus, slot, offset).readShort());
    close();
    return value;
}

std::uint32_t PCIPortConfig::readLong(unsigned char bus, unsigned char slot,
                                      unsigned char offset) {
    const std::uint32_t value = static_cast<std::uint32_t>(open(bus, slot, offset).readLong());
    close();
    return value;
}

void PCIPortConfig::writeChar(unsigned char bus, unsigned char slot, unsigned char offset,
                              unsigned char value) {
    open(bus, slot, offset).writeChar(static_cast<char>(value));
    close();
}

void PCIPortConfig::writeShort(unsigned char bus, unsigned char slot, unsigned char offset,
                               unsigned short value) {
    open(bus, slot, offset).writeShort(static_cast<short>(value));
    close();
}

void PCIPortConfig::writeLong(unsigned char bus, unsigned char slot, unsigned char offset,
                              std::uint32_t value) {
    open(bus, slot, offset).writeLong(static_cast<long>(static_cast<std::int32_t>(value)));
    close();
}

// Depth-first: a bridge's secondary bus is scanned in full before the next
// function of the bridge's own bus.  No bus is scanned twice: two bridges
// that claim one secondary bus would otherwise list its functions twice.
void PCIPortConfig::scanBus(unsigned char bus) {
    scanned_[bus] = true;
    for (unsigned device = 0; device < devicesPerBus(); ++device) {
        bool multi = false;
        for (unsigned function = 0; function < 8; ++function) {
            const unsigned char slot =
                static_cast<unsigned char>(((device & 0x1F) << 3) | (function & 7));
            const std::uint32_t id = readLong(bus, slot, 0);
            if (isAbsent(id)) {
                // A multi-function device may leave gaps among functions 1-7.
                if (function == 0)
                    break;
                continue;
            }

            std::unique_ptr<std::uint32_t[]> copy(new std::uint32_t[headerBytes / 4]);
            copy[0] = id;
            for (unsigned k = 1; k < headerBytes / 4; ++k)
                copy[k] = readLong(bus, slot, static_cast<unsigned char>(4 * k));
            const unsigned char* bytes = reinterpret_cast<const unsigned char*>(copy.get());
            const unsigned char headerType = bytes[headerTypeOffset];
            const unsigned char secondary = bytes[secondaryBusOffset];
            addDevice(bus, slot, copy.release());

            if (function == 0)
                multi = (headerType & multiFunction) != 0;
            switch (headerType & 0x7F) {
            case 0:
                break;
            case 1:
            case 2:
                // An unconfigured or looping bridge would make the scan
                // repeat itself without end.
                if (secondary > bus && !scanned_[secondary])
                    scanBus(secondary);
                break;
            default:
                throw std::runtime_error("Unknown header type");
            }
            if (!multi)
                break;
        }
    }
}

// ---- mechanism #1 -----------------------------------------------------------

PCIConfig1::PCIConfig1() : address_(0xCF8, true) {}

PCIConfig1::~PCIConfig1() {}

bool PCIConfig1::isPresent() {
    IOPort(0xCFB, true).writeChar(0x01);
    const long kept = address_.readLong();
    address_.writeLong(static_cast<long>(0x80000000UL));
    if (static_cast<std::uint32_t>(address_.readLong()) != 0x80000000u)
        return false;
    address_.writeLong(kept);
    return true;
}

IOPort PCIConfig1::open(unsigned char bus, unsigned char slot, unsigned char offset) {
    const std::uint32_t address = 0x80000000u | (static_cast<std::uint32_t>(bus) << 16) |
                                  (static_cast<std::uint32_t>(slot) << 8) | (offset & 0xFCu);
    address_.writeLong(static_cast<long>(static_cast<std::int32_t>(address)));
    return IOPort(0xCFCu + (offset & 3u), true);
}

// ---- mechanism #2 -----------------------------------------------------------

PCIConfig2::PCIConfig2() : enable_(0xCF8, true), forward_(0xCFA, true) {}

PCIConfig2::~PCIConfig2() {}

bool PCIConfig2::isPresent() {
    IOPort(0xCFB, true).writeChar(0x00);
    forward_.writeChar(0x00);
    enable_.writeChar(0x00);
    if (enable_.readChar() != 0)
        return false;
    return forward_.readChar() == 0;
}

IOPort PCIConfig2::open(unsigned char bus, unsigned char slot, unsigned char offset) {
    if (slot & 0x80)
        throw std::runtime_error("PCI config2 supports only 16 devices per bus");
    enable_.writeChar(static_cast<char>(0xF0 | ((slot & 7) << 1)));
    forward_.writeChar(static_cast<char>(bus));
    return IOPort((0xC000u | ((slot & 0x78u) << 5)) + offset, true);
}

void PCIConfig2::close() { enable_.writeChar(0x00); }

// ---- detection ----------------------------------------------------------------

PCIConfig* detectPCIConfig() {
    std::unique_ptr<PCIConfig> config(new PCIConfig1());
    if (config->isPresent())
        return config.release();
    config.reset(new PCIConfig2());
    if (config->isPresent())
        return config.release();
    return 0;
}

}  // namespace Tavex
