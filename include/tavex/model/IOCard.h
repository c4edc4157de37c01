// IOCard: the abstract base of every board driver.
#ifndef TAVEX_MODEL_IOCARD_H
#define TAVEX_MODEL_IOCARD_H

#include "tavex/Export.h"

namespace Tavex {

class IOTrack;

class TAVEX_API IOCard {
public:
    explicit IOCard(const char* type);
    // A card that owns a memory window may let an unmap failure reach the
    // caller of its destructor, hence noexcept(false).
    virtual ~IOCard() noexcept(false);

    // Re-initialises the board; cards without anything to reset do nothing.
    virtual IOCard& reset();

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
#endif
    const char* const type() const { return type_; }
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

protected:
    friend class IOTrack;

    virtual IOCard& updateInputs(const IOTrack& track, long* values, long& trackState) = 0;
    virtual IOCard& updateOutputs(const IOTrack& track, const long* const values,
                                  long& trackState) = 0;
    virtual IOCard& addTrack(IOTrack& track) = 0;

    // The track's letters, one per point (numberOfPoints of them), for an
    // update path that looks at them point by point: no call and no range
    // check per point, as there is none to make once the track is built.
    static const char* pointTypes(const IOTrack& track);

private:
    IOCard(const IOCard&);
    IOCard& operator=(const IOCard&);

    const char* type_;
};

}  // namespace Tavex

#endif
