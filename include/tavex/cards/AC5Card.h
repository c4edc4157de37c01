// AC5Card: the AC5 ISA digital I/O board, three 8-point ports with a
// direction per point, active-low lines.
#ifndef TAVEX_CARDS_AC5CARD_H
#define TAVEX_CARDS_AC5CARD_H

#include "tavex/Export.h"
#include "tavex/model/IOCard.h"
#include "tavex/model/IOTrack.h"

namespace Tavex {

class TAVEX_API AC5Card : public IOCard {
public:
    // Base port: a multiple of 0x10 from 0x220 to 0x3E0, except 0x270.
    explicit AC5Card(unsigned int baseIOPort);
    ~AC5Card() noexcept(false) override;

    AC5Card(const AC5Card&) = delete;
    AC5Card& operator=(const AC5Card&) = delete;

    unsigned int baseIOPort() const { return baseIOPort_; }

protected:
    IOCard& updateInputs(const IOTrack& track, long* values, long& trackState) override;
    IOCard& updateOutputs(const IOTrack& track, const long* const values,
                          long& trackState) override;
    IOCard& addTrack(IOTrack& track) override;

private:
    unsigned int baseIOPort_;
    unsigned char directionMasks_[3];
};

}  // namespace Tavex

#endif
