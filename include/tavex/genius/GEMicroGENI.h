// GEMicroGENI: one Genius bus channel, a MicroGENI daughterboard of the PCIM.
// The channel has a status and a control register at its base port and 16 KB
// of shared RAM holding the station table and the I/O table.  A track is one
// station (starting point 0 to 31): 8 to 32 digital points, or analog words.
#ifndef TAVEX_GENIUS_GEMICROGENI_H
#define TAVEX_GENIUS_GEMICROGENI_H

#include <cstdint>

#include "tavex/Export.h"
#include "tavex/model/IOCard.h"
#include "tavex/model/IOTrack.h"
#include "tavex/platform/PhysicalMemory.h"

namespace Tavex {

class TAVEX_API GEMicroGENI : public IOCard {
public:
    // Resets a channel that is not healthy and waits up to 50 s for it.
    GEMicroGENI(unsigned int baseIOAddress, unsigned long memoryAddress);
    // Unmaps the shared RAM; the board keeps running.
    ~GEMicroGENI() noexcept(false) override;

    GEMicroGENI(const GEMicroGENI&) = delete;
    GEMicroGENI& operator=(const GEMicroGENI&) = delete;

    // Each reads the status register afresh.
    bool isBoardOK() const;
    bool isCommOK() const;
    bool isReset() const;

    // Bit 6 of the control register; not the IOCard reset, which does nothing.
    GEMicroGENI& reset(bool flag);
    using IOCard::reset;
    // Pulses bit 1 of the control register low.
    GEMicroGENI& clearReset();

    unsigned int baseIOAddress() const { return baseIOAddress_; }

protected:
    IOCard& updateInputs(const IOTrack& track, long* values, long& trackState) override;
    IOCard& updateOutputs(const IOTrack& track, const long* const values,
                          long& trackState) override;
    IOCard& addTrack(IOTrack& track) override;

private:
    void getSizeOfIOTable();
    unsigned char sizeOfIOTable() const { return sizeOfIOTable_; }
    bool stationExists(unsigned int station) const;
    // Arbitration with the board's processor over the shared RAM; the
    // updates do not take it.
    GEMicroGENI& lockout();
    GEMicroGENI& release();

    bool isHealthy() const;
    void checkConfiguration(const IOTrack& track, unsigned int station) const;
    bool recordOutputMasks(const IOTrack& track, unsigned int station);
    unsigned long inputBlock(unsigned int station) const;
    unsigned long outputBlock(unsigned int station) const;

    PhysicalMemory memory_;
    std::uint32_t baseIOAddress_;
    // Four bytes per station, bit j of byte i: point 8i + j is an output.
    unsigned char outputMasks_[256];
    std::uint8_t sizeOfIOTable_;
};

}  // namespace Tavex

#endif
