// PCICursor is declared with the bus list it belongs to.
#include "tavex/pci/PCIBus.h"
