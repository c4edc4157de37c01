// PCIHostBridge: the PC's host-to-PCI bridge as the processor sees it
// through the configuration ports, with the buses, devices and functions
// behind it.  PCIFunction: the 256-byte configuration space of one
// function, as its device decodes configuration cycles.
//
// Mechanism #1: a 32-bit address register at 0xCF8 (enable bit 31, bus in
// bits 16-23, device 11-15, function 8-10, register 2-7) that only a
// double-word access reaches, and a data window at 0xCFC-0xCFF.  Byte and
// word accesses to 0xCF8-0xCFB are ordinary I/O cycles that nobody claims.
//
// Mechanism #2: the configuration space enable register at 0xCF8 (key in
// bits 4-7, function in bits 1-3) and the forward register at 0xCFA (bus),
// both byte registers, and while the key is non-zero a window at
// 0xC000-0xCFFF: device in bits 8-11 of the port, register in bits 0-7.
//
// With no mechanism the bridge claims no port: both probes read the
// floating bus.
//
// Functions are placed by bus, device and function number; a bus number is
// reached directly, whatever the bridges in the scene say.  An absent
// function does not answer: its configuration reads return all ones.
#ifndef TAVEX_SIM_PCIHOSTBRIDGE_H
#define TAVEX_SIM_PCIHOSTBRIDGE_H

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "tavex/sim/Board.h"

namespace Tavex {
namespace Sim {

class PCIFunction {
public:
    // Header type 0, single function, everything else 0.
    PCIFunction();
    PCIFunction(std::uint16_t vendorId, std::uint16_t deviceId);
    virtual ~PCIFunction();

    // --- the bus side: one byte lane of a configuration cycle -------------
    // Reads return the register; writes change only the writable bits
    // (command, cache line size, latency timer, interrupt line, the bits of
    // a sized base address register, bridge bus numbers) and clear the
    // status bits written with 1.
    virtual std::uint8_t configRead(std::uint8_t offset) const;
    virtual void configWrite(std::uint8_t offset, std::uint8_t value);

    // --- the scene side: registers set as the device's hardware has them,
    //     whatever is writable ------------------------------------------
    PCIFunction& set8(std::uint8_t offset, std::uint8_t value);
    PCIFunction& set16(std::uint8_t offset, std::uint16_t value);
    PCIFunction& set32(std::uint8_t offset, std::uint32_t value);
    std::uint8_t get8(std::uint8_t offset) const { return space_[offset]; }
    std::uint16_t get16(std::uint8_t offset) const;
    std::uint32_t get32(std::uint8_t offset) const;

    PCIFunction& setIds(std::uint16_t vendorId, std::uint16_t deviceId);
    PCIFunction& setStatus(std::uint16_t status) { return set16(0x06, status); }
    PCIFunction& setRevisionId(std::uint8_t revision) { return set8(0x08, revision); }
    PCIFunction& setClassCode(std::uint8_t baseClass, std::uint8_t subClass,
                              std::uint8_t progIf = 0);
    // The whole header type byte, the multi-function bit 7 included.
    PCIFunction& setHeaderType(std::uint8_t headerType) { return set8(0x0E, headerType); }
    PCIFunction& setMultiFunction(bool multiFunction);
    // Base address register n (0 to 5) with its type bits.  size is the
    // decoded range in bytes (a power of two; 0 = not implemented): the
    // address bits below it read back as 0 after a write of all ones.
    PCIFunction& setBaseAddress(unsigned n, std::uint32_t value, std::uint32_t size = 0);
    PCIFunction& setSubsystem(std::uint16_t subVendorId, std::uint16_t subSystemId);
    PCIFunction& setInterrupt(std::uint8_t line, std::uint8_t pin);
    // Header types 1 and 2: primary, secondary and subordinate bus numbers.
    PCIFunction& setBusNumbers(std::uint8_t primary, std::uint8_t secondary,
                               std::uint8_t subordinate);
    // Overrides the writable bits of one byte.
    PCIFunction& setWritable(std::uint8_t offset, std::uint8_t mask);

    std::uint16_t vendorId() const { return get16(0x00); }
    std::uint16_t deviceId() const { return get16(0x02); }
    std::uint16_t command() const { return get16(0x04); }
    std::uint16_t status() const { return get16(0x06); }
    std::uint8_t headerType() const { return space_[0x0E]; }
    std::uint8_t secondaryBus() const { return space_[0x19]; }

private:
    std::uint8_t writeMask(std::uint8_t offset) const;

    std::uint8_t space_[256];
    std::uint32_t barSize_[6];
    bool overridden_[256];
    std::uint8_t override_[256];
};

class PCIHostBridge : public Board {
public:
    enum Mechanism { NoMechanism = 0, Mechanism1 = 1, Mechanism2 = 2 };

    // One configuration cycle as a bridge port access started it.  Under
    // mechanism #1 the offset is the register of the address register plus
    // the byte of the data window; under #2 the low byte of the port.
    struct ConfigAccess {
        enum Kind { Read, Write };
        Kind kind;
        std::uint8_t bus;
        std::uint8_t slot;      // device * 8 + function
        std::uint8_t offset;
        unsigned width;         // 1, 2 or 4 bytes
        std::uint32_t value;

        bool operator==(const ConfigAccess& other) const;
        bool operator!=(const ConfigAccess& other) const { return !(*this == other); }
    };
    static ConfigAccess configRead(std::uint8_t bus, std::uint8_t slot, std::uint8_t offset,
                                   unsigned width, std::uint32_t value);
    static ConfigAccess configWrite(std::uint8_t bus, std::uint8_t slot, std::uint8_t offset,
                                    unsigned width, std::uint32_t value);

    static std::uint8_t slot(unsigned device, unsigned function) {
        return static_cast<std::uint8_t>(((device & 0x1F) << 3) | (function & 7));
    }

    explicit PCIHostBridge(Mechanism mechanism);
    ~PCIHostBridge() override;

    const char* name() const override;
    Mechanism mechanism() const { return mechanism_; }

    // --- topology ---------------------------------------------------------
    // A function owned by the bridge: header type 0, single function.
    PCIFunction& addFunction(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                             std::uint16_t vendorId, std::uint16_t deviceId);
    // A PCI-to-PCI bridge (header type 1) or CardBus bridge (2), class code
    // to match, primary bus = bus, subordinate = secondary.  Pass a header
    // type with bit 7 set for a multi-function device.
    PCIFunction& addBridge(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                           std::uint8_t secondaryBus, std::uint8_t headerType = 1);
    // Board models plug their own functions; the board keeps ownership and
    // outlives the scans.  A place taken twice is a scene error
    // (logic_error); device above 31 or function above 7 too.
    void attach(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                PCIFunction& pciFunction);
    PCIFunction* functionAt(std::uint8_t bus, std::uint8_t device, std::uint8_t function) const;

    // --- the bridge's registers -------------------------------------------
    // Mechanism #1: the address register, as firmware left it before the
    // program started (0 on a new bridge).
    std::uint32_t addressRegister() const { return address_; }
    void setAddressRegister(std::uint32_t value);
    // Mechanism #2: the enable and forward registers.
    std::uint8_t enableRegister() const { return enable_; }
    std::uint8_t forwardRegister() const { return forward_; }

    // --- inspection -------------------------------------------------------
    const std::vector<ConfigAccess>& configAccesses() const { return accesses_; }
    unsigned long configCycles() const { return cycles_; }
    std::vector<ConfigAccess> configWrites() const;
    void clearConfigAccesses() { accesses_.clear(); }

    // Fault knob for scans that never end: after this many configuration
    // cycles the next one throws logic_error (0, the default: no limit).
    void setRunawayLimit(unsigned long cycles) { runawayLimit_ = cycles; }

    // --- Board --------------------------------------------------------------
    std::uint32_t readPort(std::uint16_t port, unsigned width) override;
    void writePort(std::uint16_t port, unsigned width, std::uint32_t value) override;

protected:
    void plugged() override;

private:
    static unsigned key(unsigned bus, unsigned device, unsigned function) {
        return (bus << 8) | ((device & 0x1F) << 3) | (function & 7);
    }
    void record(const ConfigAccess& access);
    void place(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
               PCIFunction& pciFunction);

    std::uint32_t readMechanism1(std::uint16_t port, unsigned width);
    void writeMechanism1(std::uint16_t port, unsigned width, std::uint32_t value);
    std::uint32_t readMechanism2(std::uint16_t port, unsigned width);
    void writeMechanism2(std::uint16_t port, unsigned width, std::uint32_t value);

    Mechanism mechanism_;
    std::uint32_t address_;
    std::uint8_t enable_;
    std::uint8_t forward_;
    std::map<unsigned, PCIFunction*> functions_;
    std::vector<std::unique_ptr<PCIFunction> > owned_;
    std::vector<ConfigAccess> accesses_;
    unsigned long cycles_;
    unsigned long runawayLimit_;
};

}  // namespace Sim
}  // namespace Tavex

#endif
