// IOTrack: a run of consecutive I/O points of one card.
#ifndef TAVEX_MODEL_IOTRACK_H
#define TAVEX_MODEL_IOTRACK_H

#include "tavex/Export.h"
#include "tavex/model/IOCard.h"

namespace Tavex {

class TAVEX_API IOTrack {
public:
    // One letter per point; the enumerator's value is the letter itself.
    // The underlying type is char, so that every byte a type string may hold
    // is a value of the type, also those no card knows.
    enum PointTypes : char {
        DigitalInput = 'I',
        DigitalOutput = 'O',
        AnalogInput = 'A',
        AnalogOutput = 'U',
        Counter = 'C',
        ReverseCounter = 'R',
        NotUsed = 'N'
    };

    IOTrack(IOCard& card, unsigned int startingPoint, const char* const pointTypes);
    ~IOTrack();

    long& operator[](unsigned int index);
    const long& operator[](unsigned int index) const;

    // Inline: cards look at letters on their update paths.
    PointTypes pointType(unsigned int index) const {
        if (index >= numberOfPoints_)
            throwPointTypeRange();
        return static_cast<PointTypes>(pointTypes_[index]);
    }
    bool hasPointOfType(char type) const;

    unsigned int numberOfPoints() const { return numberOfPoints_; }
    unsigned int startingPoint() const { return startingPoint_; }
    IOCard& card() const { return card_; }
    long trackState() const { return trackState_; }

    // Inline: the scan calls them once per track, and the card does the work.
    IOTrack& updateInputs() {
        card_.updateInputs(*this, values_, trackState_);
        return *this;
    }
    IOTrack& updateOutputs() {
        card_.updateOutputs(*this, values_, trackState_);
        return *this;
    }

private:
    friend class IOCard;
    [[noreturn]] static void throwPointTypeRange();

    IOTrack(const IOTrack&);
    IOTrack& operator=(const IOTrack&);

    char* pointTypes_;
    unsigned int numberOfPoints_;
    long* values_;
    unsigned int startingPoint_;
    IOCard& card_;
    long trackState_;
};

inline const char* IOCard::pointTypes(const IOTrack& track) { return track.pointTypes_; }

}  // namespace Tavex

#endif
