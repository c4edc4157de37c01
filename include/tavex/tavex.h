// Tavex: every public class of the library.
#ifndef TAVEX_TAVEX_H
#define TAVEX_TAVEX_H

#include "tavex/model/IOCard.h"
#include "tavex/model/IOTrack.h"
#include "tavex/model/DummyCard.h"
#include "tavex/model/asString.h"

#include "tavex/platform/Platform.h"
#include "tavex/platform/OSInterface.h"
#include "tavex/platform/IOPort.h"
#include "tavex/platform/PhysicalMemory.h"
#include "tavex/platform/FirmwareFileBuffer.h"

#include "tavex/pci/PCIConfig.h"
#include "tavex/pci/PCIBus.h"

#include "tavex/cards/AC5Card.h"
#include "tavex/cards/PCI72xxCard.h"
#include "tavex/cards/ParallelPort.h"
#include "tavex/cards/PC7166Card.h"
#include "tavex/cards/AC28Card.h"

#include "tavex/rio/AB1784Card.h"

#include "tavex/genius/GEMicroGENI.h"
#include "tavex/genius/GEPCIMCard.h"

#include "tavex/profibus/SST5136PFBPCI.h"

#include "tavex/scan/Scan.h"

#endif
