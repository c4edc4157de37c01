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

private:
    IOCard(const IOCard&);
    IOCard& operator=(const IOCard&);

    const char* type_;
};

}  // namespace Tavex

#endif
