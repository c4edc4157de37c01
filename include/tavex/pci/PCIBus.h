// PCIBus: the process-wide list of every PCI function, scanned once on
// first use; PCIDeviceInfo: one function as found by the scan; PCICursor:
// a walk through the list.
#ifndef TAVEX_PCI_PCIBUS_H
#define TAVEX_PCI_PCIBUS_H

#include <cstdint>
#include <vector>

#include "tavex/Export.h"
#include "tavex/pci/PCIConfig.h"

namespace Tavex {

class PCIBus;

class TAVEX_API PCIDeviceInfo {
public:
    ~PCIDeviceInfo();

    unsigned char busNumber() const { return bus_; }
    unsigned char slotNumber() const { return slot_; }

    unsigned short vendorId() const { return u16(0x00); }
    unsigned short deviceId() const { return u16(0x02); }
    unsigned short status() const { return u16(0x06); }
    unsigned char revisionId() const { return u8(0x08); }
    unsigned char progIf() const { return u8(0x09); }
    unsigned char subClass() const { return u8(0x0A); }
    unsigned char baseClass() const { return u8(0x0B); }
    unsigned char cacheLineSize() const { return u8(0x0C); }
    unsigned char latencyTimer() const { return u8(0x0D); }
    unsigned char headerType() const { return u8(0x0E); }
    unsigned char BIST() const { return u8(0x0F); }
    // Raw base address register n (0 to 5 on a type-0 header), type bits
    // included.  n of 60 or more would read past the copy: range_error.
    std::uint32_t baseAddress(unsigned char n) const;
    std::uint32_t CIS() const { return u32(0x28); }
    unsigned short subVendorId() const { return u16(0x2C); }
    unsigned short subSystemId() const { return u16(0x2E); }
    std::uint32_t ROMBaseAddress() const { return u32(0x30); }
    unsigned char capabilityList() const { return u8(0x34); }
    unsigned char interruptLine() const { return u8(0x3C); }
    unsigned char interruptPin() const { return u8(0x3D); }
    unsigned char minimumGrant() const { return u8(0x3E); }
    unsigned char maximumLatency() const { return u8(0x3F); }

    // Writes the command register (offset 4) of the function; the copy
    // taken during the scan is not updated.
    void setCommand(unsigned short value) const;

protected:
    friend class PCIBus;
    PCIDeviceInfo(unsigned char bus, unsigned char slot, void* header);

private:
    PCIDeviceInfo(const PCIDeviceInfo&);
    PCIDeviceInfo& operator=(const PCIDeviceInfo&);

    unsigned char u8(unsigned offset) const { return header_[offset]; }
    unsigned short u16(unsigned offset) const {
        return static_cast<unsigned short>(header_[offset] | (header_[offset + 1] << 8));
    }
    std::uint32_t u32(unsigned offset) const {
        return static_cast<std::uint32_t>(header_[offset]) |
               (static_cast<std::uint32_t>(header_[offset + 1]) << 8) |
               (static_cast<std::uint32_t>(header_[offset + 2]) << 16) |
               (static_cast<std::uint32_t>(header_[offset + 3]) << 24);
    }

    unsigned char bus_;
    unsigned char slot_;
    unsigned char* header_;
};

class TAVEX_API PCIBus {
public:
    static PCIBus& pciBus();

    ~PCIBus();

    // The index-th function (from 0, in scan order) with these IDs, or null.
    const PCIDeviceInfo* getDeviceInfo(unsigned short vendorId, unsigned short deviceId,
                                       unsigned index) const;

    bool exists() const { return config_ != 0; }
    PCIConfig& config() { return *config_; }
    const PCIConfig& config() const { return *config_; }

private:
    friend class PCIConfig;
    friend class PCICursor;
    friend class Platform;

    PCIBus();
    PCIBus(const PCIBus&);
    PCIBus& operator=(const PCIBus&);

    void scanBus();
    void addDevice(unsigned char bus, unsigned char slot, void* header);
    static void drop();

    typedef std::vector<PCIDeviceInfo*> DeviceList;
    DeviceList devices_;
    PCIConfig* config_;

    static PCIBus* thePCIBus;
};

class TAVEX_API PCICursor {
public:
    PCICursor();

    PCICursor& first();
    bool isValid() const;
    operator bool() const { return isValid(); }
    PCICursor& next();
    PCICursor& operator++() { return next(); }
    // Advances and returns this cursor itself, not a copy of the old position.
    PCICursor& operator++(int) { return next(); }
    const PCIDeviceInfo& deviceAtCursor() const { return **position_; }

private:
    std::vector<PCIDeviceInfo*>::const_iterator position_;
};

}  // namespace Tavex

#endif
