// DummyCard: a card without hardware that accepts every track.
#ifndef TAVEX_MODEL_DUMMYCARD_H
#define TAVEX_MODEL_DUMMYCARD_H

#include "tavex/Export.h"
#include "tavex/model/IOCard.h"

namespace Tavex {

class TAVEX_API DummyCard : public IOCard {
public:
    DummyCard();
    virtual ~DummyCard() noexcept(false);

protected:
    virtual IOCard& updateInputs(const IOTrack& track, long* values, long& trackState);
    virtual IOCard& updateOutputs(const IOTrack& track, const long* const values,
                                  long& trackState);
    virtual IOCard& addTrack(IOTrack& track);
};

}  // namespace Tavex

#endif
