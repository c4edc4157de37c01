// The two PC configuration mechanisms, reached through I/O ports.  Internal
// to the library: clients see them as PCIConfig.
#ifndef TAVEX_SRC_PCI_PCIPORTCONFIG_H
#define TAVEX_SRC_PCI_PCIPORTCONFIG_H

#include "tavex/pci/PCIConfig.h"
#include "tavex/platform/IOPort.h"

namespace Tavex {

// Scans the bus hierarchy on top of the access operations.
class PCIPortConfig : public PCIConfig {
public:
    virtual ~PCIPortConfig();
    virtual void scanAllBuses();

protected:
    // Devices a bus can address through this mechanism.
    virtual unsigned devicesPerBus() const { return 32; }
    virtual void scanBus(unsigned char bus);
};

// Mechanism #1: address register at 0xCF8, data window at 0xCFC to 0xCFF.
class PCIConfig1 : public PCIPortConfig {
public:
    PCIConfig1();
    virtual ~PCIConfig1();

    virtual bool isPresent();
    virtual unsigned char readChar(unsigned char bus, unsigned char slot, unsigned char offset);
    virtual unsigned short readShort(unsigned char bus, unsigned char slot, unsigned char offset);
    virtual std::uint32_t readLong(unsigned char bus, unsigned char slot, unsigned char offset);
    virtual void writeChar(unsigned char bus, unsigned char slot, unsigned char offset,
                           unsigned char value);
    virtual void writeShort(unsigned char bus, unsigned char slot, unsigned char offset,
                            unsigned short value);
    virtual void writeLong(unsigned char bus, unsigned char slot, unsigned char offset,
                           std::uint32_t value);

private:
    IOPort select(unsigned char bus, unsigned char slot, unsigned char offset);

    IOPort address_;
};

// Mechanism #2: enable register at 0xCF8, forward register at 0xCFA,
// configuration window at 0xC000 to 0xCFFF (16 devices per bus).
class PCIConfig2 : public PCIPortConfig {
public:
    PCIConfig2();
    virtual ~PCIConfig2();

    virtual bool isPresent();
    virtual unsigned char readChar(unsigned char bus, unsigned char slot, unsigned char offset);
    virtual unsigned short readShort(unsigned char bus, unsigned char slot, unsigned char offset);
    virtual std::uint32_t readLong(unsigned char bus, unsigned char slot, unsigned char offset);
    virtual void writeChar(unsigned char bus, unsigned char slot, unsigned char offset,
                           unsigned char value);
    virtual void writeShort(unsigned char bus, unsigned char slot, unsigned char offset,
                            unsigned short value);
    virtual void writeLong(unsigned char bus, unsigned char slot, unsigned char offset,
                           std::uint32_t value);

protected:
    virtual unsigned devicesPerBus() const { return 16; }

private:
    IOPort open(unsigned char bus, unsigned char slot, unsigned char offset);
    void close();

    IOPort enable_;
    IOPort forward_;
};

// Returns the mechanism the machine answers to (#1 tried first), or null.
PCIConfig* detectPCIConfig();

}  // namespace Tavex

#endif
