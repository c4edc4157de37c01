// ParallelPort: a PC's standard parallel printer port as a digital card of
// 17 points, one track wide: the eight data lines as outputs, the four
// control lines as one group of inputs or outputs, and five status lines as
// inputs.  Every point is active low at the connector.
#ifndef TAVEX_CARDS_PARALLELPORT_H
#define TAVEX_CARDS_PARALLELPORT_H

#include <cstdint>

#include "tavex/Export.h"
#include "tavex/model/IOCard.h"
#include "tavex/model/IOTrack.h"

namespace Tavex {

class TAVEX_API ParallelPort : public IOCard {
public:
    // name: "prn", "lpt1", "PRN", "LPT1" (or a null pointer) for LPT1,
    // "lpt2"/"LPT2", "lpt3"/"LPT3", "lpt4"/"LPT4"; the base port is the
    // one the BIOS lists for that printer.  ParallelPort(0) is ambiguous
    // between the two constructors: write ParallelPort() for LPT1.
    explicit ParallelPort(const char* name = 0);
    // baseIOPort: one of the base ports the BIOS lists.
    explicit ParallelPort(unsigned short baseIOPort);
    ~ParallelPort() noexcept(false) override;

    ParallelPort(const ParallelPort&) = delete;
    ParallelPort& operator=(const ParallelPort&) = delete;

    unsigned short baseIOPort() const { return baseIOPort_; }

protected:
    IOCard& updateInputs(const IOTrack& track, long* values, long& trackState) override;
    IOCard& updateOutputs(const IOTrack& track, const long* const values,
                          long& trackState) override;
    IOCard& addTrack(IOTrack& track) override;

private:
    std::uint16_t baseIOPort_;
};

}  // namespace Tavex

#endif
