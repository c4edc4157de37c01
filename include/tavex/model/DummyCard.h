// DummyCard: a card without hardware that accepts every track.
#ifndef TAVEX_MODEL_DUMMYCARD_H
#define TAVEX_MODEL_DUMMYCARD_H

#include "tavex/Export.h"
#include "tavex/model/IOCard.h"

namespace Tavex {

class TAVEX_API DummyCard : public IOCard {
public:
    DummyCard();
    ~DummyCard() noexcept(false) override;

    DummyCard(const DummyCard&) = delete;
    DummyCard& operator=(const DummyCard&) = delete;

protected:
    IOCard& updateInputs(const IOTrack& track, long* values, long& trackState) override;
    IOCard& updateOutputs(const IOTrack& track, const long* const values,
                          long& trackState) override;
    IOCard& addTrack(IOTrack& track) override;
};

}  // namespace Tavex

#endif
