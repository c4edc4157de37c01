// PC7166Card: the PC7166 ISA encoder board, four 24-bit up/down counters
// for quadrature encoders.  Each point of a track is one channel, read as a
// signed 32-bit count that goes on counting past the 24 bits of the
// hardware, and written to preset the count.
#ifndef TAVEX_CARDS_PC7166CARD_H
#define TAVEX_CARDS_PC7166CARD_H

#include <cstdint>

#include "tavex/Export.h"
#include "tavex/model/IOCard.h"
#include "tavex/model/IOTrack.h"

namespace Tavex {

class TAVEX_API PC7166Card : public IOCard {
public:
    // Base port: 0x220, 0x240, 0x250, 0x260, 0x300, 0x310, 0x330, 0x340,
    // 0x350 or 0x360.  No port is touched until the first track.
    explicit PC7166Card(unsigned int baseIOPort);
    ~PC7166Card() noexcept(false) override;

    PC7166Card(const PC7166Card&) = delete;
    PC7166Card& operator=(const PC7166Card&) = delete;

    unsigned int baseIOPort() const { return baseIOPort_; }

    // Re-initialises all four counters; the counts of claimed channels
    // start again from 0.
    IOCard& reset() override;

protected:
    IOCard& updateInputs(const IOTrack& track, long* values, long& trackState) override;
    IOCard& updateOutputs(const IOTrack& track, const long* const values,
                          long& trackState) override;
    IOCard& addTrack(IOTrack& track) override;

private:
    static const unsigned int channelCount = 4;

    void initialise(unsigned int channel);
    void preset(unsigned int channel, std::uint32_t count);

    // A channel serves the one track that claimed it, for the card's life.
    struct Channel {
        bool claimed;
        std::int32_t lastCount;   // last read or written for the client
    };

    unsigned int baseIOPort_;
    Channel channels_[channelCount];
};

}  // namespace Tavex

#endif
