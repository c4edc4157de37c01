// PCI72xxCard: the PCI-7248 (2 groups) and PCI-7296 (4 groups) digital I/O
// boards; each group is laid out as an 8255 in mode 0, lines active low.
#ifndef TAVEX_CARDS_PCI72XXCARD_H
#define TAVEX_CARDS_PCI72XXCARD_H

#include <cstdint>

#include "tavex/Export.h"
#include "tavex/model/IOCard.h"
#include "tavex/model/IOTrack.h"

namespace Tavex {

class TAVEX_API PCI72xxCard : public IOCard {
public:
    explicit PCI72xxCard(unsigned cardIndex = 0);
    ~PCI72xxCard() noexcept(false) override;

    PCI72xxCard(const PCI72xxCard&) = delete;
    PCI72xxCard& operator=(const PCI72xxCard&) = delete;

protected:
    IOCard& updateInputs(const IOTrack& track, long* values, long& trackState) override;
    IOCard& updateOutputs(const IOTrack& track, const long* const values,
                          long& trackState) override;
    IOCard& addTrack(IOTrack& track) override;

private:
    std::uint16_t modelId_;
    std::uint32_t registerBase_;
    unsigned groupCount_;
    unsigned char* outputMasks_;
};

}  // namespace Tavex

#endif
