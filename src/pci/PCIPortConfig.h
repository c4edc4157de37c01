// The two PC configuration mechanisms, reached through I/O ports.  Internal
// to the library: clients see them as PCIConfig.
#ifndef TAVEX_SRC_PCI_PCIPORTCONFIG_H
#define TAVEX_SRC_PCI_PCIPORTCONFIG_H

#include "tavex/pci/PCIConfig.h"
#include "tavex/platform/IOPort.h"

namespace Tavex {

// A configuration mechanism reached through I/O ports: each access opens
// the configuration address of one register, reads or writes the port that
// reaches it, and closes the address again.  The six accesses and the scan
// of the bus hierarchy are written once, here; a mechanism only says how to
// open and close.
class PCIPortConfig : public PCIConfig {
public:
    ~PCIPortConfig() override;
    void scanAllBuses() override;

    unsigned char readChar(unsigned char bus, unsigned char slot, unsigned char offset) override;
    unsigned short readShort(unsigned char bus, unsigned char slot,
                             unsigned char offset) override;
    std::uint32_t readLong(unsigned char bus, unsigned char slot, unsigned char offset) override;
    void writeChar(unsigned char bus, unsigned char slot, unsigned char offset,
                   unsigned char value) override;
    void writeShort(unsigned char bus, unsigned char slot, unsigned char offset,
                    unsigned short value) override;
    void writeLong(unsigned char bus, unsigned char slot, unsigned char offset,
                   std::uint32_t value) override;

protected:
    PCIPortConfig();

    // Devices a bus can address through this mechanism.
    virtual unsigned devicesPerBus() const { return 32; }
    // Programs the configuration address of one register and returns the
    // port through which the register is read or written.
    virtual IOPort open(unsigned char bus, unsigned char slot, unsigned char offset) = 0;
    // Ends an access.
    virtual void close() {}

private:
    void scanBus(unsigned char bus);

    bool scanned_[256];
};

// Mechanism #1: address register at 0xCF8, data window at 0xCFC to 0xCFF.
class PCIConfig1 : public PCIPortConfig {
public:
    PCIConfig1();
    ~PCIConfig1() override;

    bool isPresent() override;

protected:
    IOPort open(unsigned char bus, unsigned char slot, unsigned char offset) override;

private:
    IOPort address_;
};

// Mechanism #2: enable register at 0xCF8, forward register at 0xCFA,
// configuration window at 0xC000 to 0xCFFF (16 devices per bus).
class PCIConfig2 : public PCIPortConfig {
public:
    PCIConfig2();
    ~PCIConfig2() override;

    bool isPresent() override;

protected:
    unsigned devicesPerBus() const override { return 16; }
    IOPort open(unsigned char bus, unsigned char slot, unsigned char offset) override;
    // Disables the configuration window again, so that ports 0xC000 to
    // 0xCFFF reach ordinary I/O devices.
    void close() override;

private:
    IOPort enable_;
    IOPort forward_;
};

// Returns the mechanism the machine answers to (#1 tried first), or null.
PCIConfig* detectPCIConfig();

}  // namespace Tavex

#endif
