// PCIConfig: access to PCI configuration space through one of the PC's
// configuration mechanisms.  The slot number is device * 8 + function.
#ifndef TAVEX_PCI_PCICONFIG_H
#define TAVEX_PCI_PCICONFIG_H

#include <cstdint>

#include "tavex/Export.h"

namespace Tavex {

class TAVEX_API PCIConfig {
public:
    virtual ~PCIConfig();

    virtual bool isPresent() = 0;
    virtual void scanAllBuses() = 0;

    virtual unsigned char readChar(unsigned char bus, unsigned char slot,
                                   unsigned char offset) = 0;
    virtual unsigned short readShort(unsigned char bus, unsigned char slot,
                                     unsigned char offset) = 0;
    virtual std::uint32_t readLong(unsigned char bus, unsigned char slot,
                                   unsigned char offset) = 0;
    virtual void writeChar(unsigned char bus, unsigned char slot, unsigned char offset,
                           unsigned char value) = 0;
    virtual void writeShort(unsigned char bus, unsigned char slot, unsigned char offset,
                            unsigned short value) = 0;
    virtual void writeLong(unsigned char bus, unsigned char slot, unsigned char offset,
                           std::uint32_t value) = 0;

protected:
    PCIConfig();
    // Hands one function's 256-byte configuration copy to the bus list,
    // which takes ownership of it.
    void addDevice(unsigned char bus, unsigned char slot, void* header);

private:
    PCIConfig(const PCIConfig&);
    PCIConfig& operator=(const PCIConfig&);
};

}  // namespace Tavex

#endif
