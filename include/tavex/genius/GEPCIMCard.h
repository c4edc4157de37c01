// GEPCIMCard: the Genius PCIM motherboard.  It owns its MicroGENI channels
// (one, or two on a type 2 motherboard) and touches no hardware itself;
// tracks are built on the channels.
#ifndef TAVEX_GENIUS_GEPCIMCARD_H
#define TAVEX_GENIUS_GEPCIMCARD_H

#include "tavex/Export.h"
#include "tavex/genius/GEMicroGENI.h"

namespace Tavex {

class TAVEX_API GEPCIMCard {
public:
    GEPCIMCard(unsigned int baseIOAddress, unsigned int motherboardType);
    // Deletes channel A, then channel B.
    virtual ~GEPCIMCard() noexcept(false);

    GEPCIMCard(const GEPCIMCard&) = delete;
    GEPCIMCard& operator=(const GEPCIMCard&) = delete;

    // Builds the next channel: A, then B on a type 2 motherboard.  A channel
    // that fails to come up leaves its slot empty.
    GEPCIMCard& addMicroGENI(unsigned int baseIOAddress, unsigned long memoryAddress);

    GEMicroGENI* channelA() { return channelA_; }
    GEMicroGENI* channelB() { return channelB_; }

    unsigned int baseIOAddress() const { return baseIOAddress_; }
    unsigned int motherboardType() const { return motherboardType_; }

private:
    unsigned int baseIOAddress_;
    unsigned int motherboardType_;
    GEMicroGENI* channelA_;
    GEMicroGENI* channelB_;
};

}  // namespace Tavex

#endif
