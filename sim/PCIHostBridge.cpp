#include "tavex/sim/PCIHostBridge.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "tavex/sim/Machine.h"

namespace Tavex {
namespace Sim {

namespace {

const std::uint16_t addressPort = 0xCF8;   // #1 address, #2 enable register
const std::uint16_t forwardPort = 0xCFA;   // #2 forward register
const std::uint16_t dataPort = 0xCFC;      // #1 data window 0xCFC-0xCFF
const std::uint16_t windowFirst = 0xC000;  // #2 window 0xC000-0xCFFF
const unsigned windowSize = 0x1000;

const std::uint32_t enableBit = 0x80000000u;
// Bits 24-30 and 0-1 of the #1 address register are reserved and read 0.
const std::uint32_t addressBits = 0x80FFFFFCu;

std::uint8_t lane(std::uint32_t value, unsigned i) {
    return static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

// ---------------------------------------------------------------------------
// PCIFunction

PCIFunction::PCIFunction() {
    std::memset(space_, 0, sizeof space_);
    std::memset(barSize_, 0, sizeof barSize_);
    std::memset(overridden_, 0, sizeof overridden_);
    std::memset(override_, 0, sizeof override_);
}

PCIFunction::PCIFunction(std::uint16_t vendorId, std::uint16_t deviceId) {
    std::memset(space_, 0, sizeof space_);
    std::memset(barSize_, 0, sizeof barSize_);
    std::memset(overridden_, 0, sizeof overridden_);
    std::memset(override_, 0, sizeof override_);
    setIds(vendorId, deviceId);
}

PCIFunction::~PCIFunction() {}

std::uint8_t PCIFunction::configRead(std::uint8_t offset) const { return space_[offset]; }

void PCIFunction::configWrite(std::uint8_t offset, std::uint8_t value) {
    // Status: the error bits are cleared by writing 1 to them.
    if (offset == 0x07 && !overridden_[offset]) {
        space_[offset] = static_cast<std::uint8_t>(space_[offset] & ~(value & 0xF9));
        return;
    }
    const std::uint8_t mask = writeMask(offset);
    space_[offset] = static_cast<std::uint8_t>((space_[offset] & ~mask) | (value & mask));
}

std::uint8_t PCIFunction::writeMask(std::uint8_t offset) const {
    if (overridden_[offset])
        return override_[offset];
    switch (offset) {
    case 0x04: return 0xFF;   // command, bits 0-7
    case 0x05: return 0x07;   // command, bits 8-10
    case 0x0C:                // cache line size
    case 0x0D:                // latency timer
    case 0x3C:                // interrupt line
        return 0xFF;
    default:
        break;
    }
    const unsigned type = space_[0x0E] & 0x7F;
    // Bus numbers and secondary latency timer of a bridge.
    if ((type == 1 || type == 2) && offset >= 0x18 && offset <= 0x1B)
        return 0xFF;
    const unsigned bars = type == 0 ? 6 : (type == 1 ? 2 : 1);
    if (offset >= 0x10 && offset < 0x10 + 4 * bars) {
        const unsigned n = (offset - 0x10) / 4;
        const std::uint32_t size = barSize_[n];
        if (size == 0)
            return 0;
        const std::uint32_t typeBits = (space_[0x10 + 4 * n] & 1) ? 0x3u : 0xFu;
        const std::uint32_t mask = ~(size - 1) & ~typeBits;
        return lane(mask, (offset - 0x10) % 4);
    }
    return 0;
}

PCIFunction& PCIFunction::set8(std::uint8_t offset, std::uint8_t value) {
    space_[offset] = value;
    return *this;
}

PCIFunction& PCIFunction::set16(std::uint8_t offset, std::uint16_t value) {
    for (unsigned i = 0; i < 2; ++i)
        space_[(offset + i) & 0xFF] = lane(value, i);
    return *this;
}

PCIFunction& PCIFunction::set32(std::uint8_t offset, std::uint32_t value) {
    for (unsigned i = 0; i < 4; ++i)
        space_[(offset + i) & 0xFF] = lane(value, i);
    return *this;
}

std::uint16_t PCIFunction::get16(std::uint8_t offset) const {
    return static_cast<std::uint16_t>(space_[offset] | (space_[(offset + 1) & 0xFF] << 8));
}

std::uint32_t PCIFunction::get32(std::uint8_t offset) const {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(space_[(offset + i) & 0xFF]) << (8 * i);
    return value;
}

PCIFunction& PCIFunction::setIds(std::uint16_t vendorId, std::uint16_t deviceId) {
    set16(0x00, vendorId);
    return set16(0x02, deviceId);
}

PCIFunction& PCIFunction::setClassCode(std::uint8_t baseClass, std::uint8_t subClass,
                                       std::uint8_t progIf) {
    set8(0x09, progIf);
    set8(0x0A, subClass);
    return set8(0x0B, baseClass);
}

PCIFunction& PCIFunction::setMultiFunction(bool multiFunction) {
    const std::uint8_t type = space_[0x0E];
    return set8(0x0E, static_cast<std::uint8_t>(multiFunction ? (type | 0x80) : (type & 0x7F)));
}

PCIFunction& PCIFunction::setBaseAddress(unsigned n, std::uint32_t value, std::uint32_t size) {
    if (n > 5)
        throw std::logic_error("Sim::PCIFunction: base address register number above 5");
    if (size != 0 && ((size & (size - 1)) != 0 || size < 4))
        throw std::logic_error("Sim::PCIFunction: base address size not a power of two");
    barSize_[n] = size;
    return set32(static_cast<std::uint8_t>(0x10 + 4 * n), value);
}

PCIFunction& PCIFunction::setSubsystem(std::uint16_t subVendorId, std::uint16_t subSystemId) {
    set16(0x2C, subVendorId);
    return set16(0x2E, subSystemId);
}

PCIFunction& PCIFunction::setInterrupt(std::uint8_t line, std::uint8_t pin) {
    set8(0x3C, line);
    return set8(0x3D, pin);
}

PCIFunction& PCIFunction::setBusNumbers(std::uint8_t primary, std::uint8_t secondary,
                                        std::uint8_t subordinate) {
    set8(0x18, primary);
    set8(0x19, secondary);
    return set8(0x1A, subordinate);
}

PCIFunction& PCIFunction::setWritable(std::uint8_t offset, std::uint8_t mask) {
    overridden_[offset] = true;
    override_[offset] = mask;
    return *this;
}

// ---------------------------------------------------------------------------
// PCIHostBridge

bool PCIHostBridge::ConfigAccess::operator==(const ConfigAccess& other) const {
    return kind == other.kind && bus == other.bus && slot == other.slot &&
           offset == other.offset && width == other.width && value == other.value;
}

PCIHostBridge::ConfigAccess PCIHostBridge::configRead(std::uint8_t bus, std::uint8_t slot,
                                                      std::uint8_t offset, unsigned width,
                                                      std::uint32_t value) {
    ConfigAccess access = {ConfigAccess::Read, bus, slot, offset, width, value};
    return access;
}

PCIHostBridge::ConfigAccess PCIHostBridge::configWrite(std::uint8_t bus, std::uint8_t slot,
                                                       std::uint8_t offset, unsigned width,
                                                       std::uint32_t value) {
    ConfigAccess access = {ConfigAccess::Write, bus, slot, offset, width, value};
    return access;
}

PCIHostBridge::PCIHostBridge(Mechanism mechanism)
    : mechanism_(mechanism),
      address_(0),
      enable_(0),
      forward_(0),
      cycles_(0),
      runawayLimit_(0) {
    if (mechanism != NoMechanism && mechanism != Mechanism1 && mechanism != Mechanism2)
        throw std::logic_error("Sim::PCIHostBridge: no such configuration mechanism");
}

PCIHostBridge::~PCIHostBridge() {}

const char* PCIHostBridge::name() const { return "PCI host bridge"; }

void PCIHostBridge::plugged() {
    if (mechanism_ == Mechanism1)
        machine().claimPorts(*this, addressPort, 8);
    else if (mechanism_ == Mechanism2) {
        machine().claimPorts(*this, addressPort, 4);
        machine().claimPorts(*this, windowFirst, windowSize);
    }
}

void PCIHostBridge::place(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                          PCIFunction& pciFunction) {
    if (device > 31 || function > 7)
        throw std::logic_error("Sim::PCIHostBridge: device above 31 or function above 7");
    const unsigned where = key(bus, device, function);
    if (functions_.count(where) != 0)
        throw std::logic_error("Sim::PCIHostBridge: two functions at one place");
    functions_[where] = &pciFunction;
}

PCIFunction& PCIHostBridge::addFunction(std::uint8_t bus, std::uint8_t device,
                                        std::uint8_t function, std::uint16_t vendorId,
                                        std::uint16_t deviceId) {
    std::unique_ptr<PCIFunction> owned(new PCIFunction(vendorId, deviceId));
    place(bus, device, function, *owned);
    owned_.push_back(std::move(owned));
    return *owned_.back();
}

PCIFunction& PCIHostBridge::addBridge(std::uint8_t bus, std::uint8_t device,
                                      std::uint8_t function, std::uint8_t secondaryBus,
                                      std::uint8_t headerType) {
    const bool cardBus = (headerType & 0x7F) == 2;
    // An Intel PCI-to-PCI bridge or a TI CardBus controller.
    PCIFunction& bridge = cardBus ? addFunction(bus, device, function, 0x104C, 0xAC56)
                                  : addFunction(bus, device, function, 0x8086, 0x244E);
    bridge.setHeaderType(headerType)
        .setClassCode(0x06, cardBus ? 0x07 : 0x04)
        .setBusNumbers(bus, secondaryBus, secondaryBus);
    return bridge;
}

void PCIHostBridge::attach(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                           PCIFunction& pciFunction) {
    place(bus, device, function, pciFunction);
}

PCIFunction* PCIHostBridge::functionAt(std::uint8_t bus, std::uint8_t device,
                                       std::uint8_t function) const {
    std::map<unsigned, PCIFunction*>::const_iterator found =
        functions_.find(key(bus, device, function));
    return found == functions_.end() ? 0 : found->second;
}

void PCIHostBridge::record(const ConfigAccess& access) {
    if (runawayLimit_ != 0 && cycles_ >= runawayLimit_)
        throw std::logic_error("Sim::PCIHostBridge: runaway configuration scan");
    ++cycles_;
    accesses_.push_back(access);
}

void PCIHostBridge::setAddressRegister(std::uint32_t value) { address_ = value & addressBits; }

std::vector<PCIHostBridge::ConfigAccess> PCIHostBridge::configWrites() const {
    std::vector<ConfigAccess> writes;
    for (std::size_t i = 0; i < accesses_.size(); ++i)
        if (accesses_[i].kind == ConfigAccess::Write)
            writes.push_back(accesses_[i]);
    return writes;
}

std::uint32_t PCIHostBridge::readPort(std::uint16_t port, unsigned width) {
    if (mechanism_ == Mechanism1)
        return readMechanism1(port, width);
    if (mechanism_ == Mechanism2)
        return readMechanism2(port, width);
    return Board::readPort(port, width);
}

void PCIHostBridge::writePort(std::uint16_t port, unsigned width, std::uint32_t value) {
    if (mechanism_ == Mechanism1)
        writeMechanism1(port, width, value);
    else if (mechanism_ == Mechanism2)
        writeMechanism2(port, width, value);
}

// --- mechanism #1 ------------------------------------------------------------

std::uint32_t PCIHostBridge::readMechanism1(std::uint16_t port, unsigned width) {
    if (port == addressPort && width == 4)
        return address_;
    if (port < dataPort || (address_ & enableBit) == 0)
        return Board::readPort(port, width);   // not a configuration cycle
    const std::uint8_t bus = lane(address_, 2);
    const std::uint8_t slot = lane(address_, 1);
    const std::uint8_t reg = static_cast<std::uint8_t>(address_ & 0xFC);
    std::uint32_t value = 0;
    PCIFunction* target = functionAt(bus, slot >> 3, slot & 7);
    for (unsigned i = 0; i < width; ++i) {
        const unsigned at = port + i;
        // Byte lanes past 0xCFF leave the data window and float.
        std::uint8_t byte = 0xFF;
        if (at <= 0xCFF && target)
            byte = target->configRead(static_cast<std::uint8_t>(reg + (at - dataPort)));
        value |= static_cast<std::uint32_t>(byte) << (8 * i);
    }
    ConfigAccess access = configRead(bus, slot, static_cast<std::uint8_t>(reg + (port - dataPort)),
                                     width, value);
    record(access);
    return value;
}

void PCIHostBridge::writeMechanism1(std::uint16_t port, unsigned width, std::uint32_t value) {
    if (port == addressPort && width == 4) {
        address_ = value & addressBits;
        return;
    }
    // Byte and word writes to 0xCF8-0xCFB (the probe's 0xCFB among them)
    // pass to the bus unclaimed; so do data writes with the window closed.
    if (port < dataPort || (address_ & enableBit) == 0)
        return;
    const std::uint8_t bus = lane(address_, 2);
    const std::uint8_t slot = lane(address_, 1);
    const std::uint8_t reg = static_cast<std::uint8_t>(address_ & 0xFC);
    ConfigAccess access = configWrite(bus, slot, static_cast<std::uint8_t>(reg + (port - dataPort)),
                                      width, value);
    record(access);
    if (PCIFunction* target = functionAt(bus, slot >> 3, slot & 7))
        for (unsigned i = 0; i < width; ++i) {
            const unsigned at = port + i;
            if (at <= 0xCFF)
                target->configWrite(static_cast<std::uint8_t>(reg + (at - dataPort)),
                                    lane(value, i));
        }
}

// --- mechanism #2 ------------------------------------------------------------

std::uint32_t PCIHostBridge::readMechanism2(std::uint16_t port, unsigned width) {
    const bool open = (enable_ & 0xF0) != 0;
    const std::uint8_t function = (enable_ >> 1) & 7;
    std::uint32_t value = 0;
    bool config = false;
    for (unsigned i = 0; i < width; ++i) {
        const unsigned at = port + i;
        std::uint8_t byte = 0xFF;
        if (at == addressPort) {
            byte = enable_;
        } else if (at == forwardPort) {
            byte = forward_;
        } else if (at >= addressPort && at <= addressPort + 3) {
            // 0xCF9 and 0xCFB: nothing of the bridge's.
        } else if (open && at >= windowFirst && at < windowFirst + windowSize) {
            config = true;
            if (PCIFunction* target = functionAt(forward_, (at >> 8) & 0x0F, function))
                byte = target->configRead(static_cast<std::uint8_t>(at & 0xFF));
        }
        value |= static_cast<std::uint32_t>(byte) << (8 * i);
    }
    if (config) {
        ConfigAccess access = configRead(forward_, slot((port >> 8) & 0x0F, function),
                                         static_cast<std::uint8_t>(port & 0xFF), width, value);
        record(access);
    }
    return value;
}

void PCIHostBridge::writeMechanism2(std::uint16_t port, unsigned width, std::uint32_t value) {
    const bool open = (enable_ & 0xF0) != 0;
    const std::uint8_t function = (enable_ >> 1) & 7;
    bool config = false;
    for (unsigned i = 0; i < width; ++i) {
        const unsigned at = port + i;
        if (at == addressPort) {
            enable_ = lane(value, i);
        } else if (at == forwardPort) {
            forward_ = lane(value, i);
        } else if (at >= addressPort && at <= addressPort + 3) {
            // 0xCF9 and 0xCFB: nothing of the bridge's.
        } else if (open && at >= windowFirst && at < windowFirst + windowSize) {
            config = true;
            if (PCIFunction* target = functionAt(forward_, (at >> 8) & 0x0F, function))
                target->configWrite(static_cast<std::uint8_t>(at & 0xFF), lane(value, i));
        }
    }
    if (config) {
        ConfigAccess access = configWrite(forward_, slot((port >> 8) & 0x0F, function),
                                          static_cast<std::uint8_t>(port & 0xFF), width, value);
        record(access);
    }
}

}  // namespace Sim
}  // namespace Tavex
