#include "tavex/pci/PCIConfig.h"

#include "tavex/pci/PCIBus.h"

namespace Tavex {

PCIConfig::PCIConfig() {}

PCIConfig::~PCIConfig() {}

void PCIConfig::addDevice(unsigned char bus, unsigned char slot, void* header) {
    PCIBus::pciBus().addDevice(bus, slot, header);
}

}  // namespace Tavex
