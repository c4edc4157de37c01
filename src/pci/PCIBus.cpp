#include "tavex/pci/PCIBus.h"

#include <stdexcept>

#include "PCIPortConfig.h"

namespace Tavex {

// ---- PCIDeviceInfo ------------------------------------------------------------

PCIDeviceInfo::PCIDeviceInfo(unsigned char bus, unsigned char slot, void* header)
    : bus_(bus), slot_(slot), header_(static_cast<unsigned char*>(header)) {}

PCIDeviceInfo::~PCIDeviceInfo() {
    // The scan hands over the copy as an array of 64 double words.
    delete[] reinterpret_cast<std::uint32_t*>(header_);
}

std::uint32_t PCIDeviceInfo::baseAddress(unsigned char n) const {
    if (n >= 60)
        throw std::range_error(
            "PCIDeviceInfo::baseAddress (..) Invalid base address register number");
    return u32(0x10u + 4u * n);
}

void PCIDeviceInfo::setCommand(unsigned short value) const {
    PCIBus::pciBus().config().writeShort(bus_, slot_, 0x04, value);
}

// ---- PCIBus -------------------------------------------------------------------

PCIBus* PCIBus::thePCIBus = 0;

PCIBus::PCIBus() : config_(0) {}

PCIBus::~PCIBus() {
    delete config_;
    for (DeviceList::reverse_iterator it = devices_.rbegin(); it != devices_.rend(); ++it)
        delete *it;
}

PCIBus& PCIBus::pciBus() {
    if (thePCIBus == 0) {
        // Registered before the scan: the scan reaches the list again
        // through PCIConfig::addDevice.  A failed scan keeps what it found.
        thePCIBus = new PCIBus();
        thePCIBus->scanBus();
    }
    return *thePCIBus;
}

void PCIBus::scanBus() {
    config_ = detectPCIConfig();
    if (config_ != 0)
        config_->scanAllBuses();
}

void PCIBus::addDevice(unsigned char bus, unsigned char slot, void* header) {
    // The list owns the copy from here on, also when it cannot grow.
    PCIDeviceInfo* info = 0;
    try {
        info = new PCIDeviceInfo(bus, slot, header);
        devices_.push_back(info);
    } catch (...) {
        if (info)
            delete info;
        else
            delete[] static_cast<std::uint32_t*>(header);
        throw;
    }
}

const PCIDeviceInfo* PCIBus::getDeviceInfo(unsigned short vendorId, unsigned short deviceId,
                                           unsigned index) const {
    for (DeviceList::const_iterator it = devices_.begin(); it != devices_.end(); ++it) {
        if ((*it)->vendorId() == vendorId && (*it)->deviceId() == deviceId) {
            if (index == 0)
                return *it;
            --index;
        }
    }
    return 0;
}

void PCIBus::drop() {
    delete thePCIBus;
    thePCIBus = 0;
}

// ---- PCICursor ----------------------------------------------------------------

PCICursor::PCICursor() { first(); }

PCICursor& PCICursor::first() {
    position_ = PCIBus::pciBus().devices_.begin();
    return *this;
}

bool PCICursor::isValid() const {
    return position_ != PCIBus::pciBus().devices_.end();
}

PCICursor& PCICursor::next() {
    ++position_;
    return *this;
}

}  // namespace Tavex
