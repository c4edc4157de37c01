// A card for the scan's tests: it logs every update in a fixed log (no
// allocation on the update path), keeps what each track last wrote, reports
// a chosen track state and throws when told to.
#ifndef TAVEX_TESTS_SCAN_SCRIPTEDCARD_H
#define TAVEX_TESTS_SCAN_SCRIPTEDCARD_H

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "tavex/model/IOCard.h"
#include "tavex/model/IOTrack.h"

// One entry of the shared log: 'I' inputs or 'O' outputs of track `track`,
// 'L' the logic.
struct Call {
    char what;
    int track;
    bool operator==(const Call& o) const { return what == o.what && track == o.track; }
};

class CallLog {
public:
    CallLog() : calls_(4096), size_(0) {}
    void add(char what, int track) {
        if (size_ < calls_.size())
            calls_[size_++] = Call{what, track};
    }
    std::vector<Call> calls() const {
        return std::vector<Call>(calls_.begin(), calls_.begin() + static_cast<long>(size_));
    }
    void clear() { size_ = 0; }

private:
    std::vector<Call> calls_;
    std::size_t size_;
};

inline std::ostream& operator<<(std::ostream& out, const Call& c) {
    return out << c.what << c.track;
}

class ScriptedCard : public Tavex::IOCard {
public:
    // Numbers the tracks built on it from firstTrack in the order built.
    ScriptedCard(CallLog& log, int firstTrack)
        : IOCard("Scripted"), state(0), throwOnInputs(false), throwOnOutputs(false),
          outputWrites(0), log_(log), firstTrack_(firstTrack) {}
    ~ScriptedCard() noexcept override {}

    // What each track (in build order) last wrote.
    std::vector<std::vector<long> > written;
    long state;
    bool throwOnInputs;
    bool throwOnOutputs;
    unsigned outputWrites;

protected:
    IOCard& updateInputs(const Tavex::IOTrack& track, long* values, long& trackState) override {
        const int n = index(track);
        log_.add('I', firstTrack_ + n);
        if (throwOnInputs)
            throw std::runtime_error("Scripted: inputs failed");
        for (unsigned i = 0; i < track.numberOfPoints(); ++i)
            if (track.pointType(i) == Tavex::IOTrack::DigitalInput)
                values[i] = 1;
        trackState = state;
        return *this;
    }
    IOCard& updateOutputs(const Tavex::IOTrack& track, const long* const values,
                          long& trackState) override {
        const int n = index(track);
        log_.add('O', firstTrack_ + n);
        ++outputWrites;
        if (throwOnOutputs)
            throw std::runtime_error("Scripted: outputs failed");
        for (unsigned i = 0; i < track.numberOfPoints(); ++i)
            written[static_cast<std::size_t>(n)][i] = values[i];
        trackState = state;
        return *this;
    }
    IOCard& addTrack(Tavex::IOTrack& track) override {
        tracks_.push_back(&track);
        written.push_back(std::vector<long>(track.numberOfPoints(), -1));
        return *this;
    }

private:
    int index(const Tavex::IOTrack& track) const {
        for (std::size_t i = 0; i < tracks_.size(); ++i)
            if (tracks_[i] == &track)
                return static_cast<int>(i);
        return -1;
    }

    CallLog& log_;
    int firstTrack_;
    std::vector<const Tavex::IOTrack*> tracks_;
};

#endif
