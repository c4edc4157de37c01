// IOTrack: construction through the card's addTrack, index checks, point
// types, and the update calls that hand the track's own values to its card.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/AllocationCounter.h"
#include "support/ExpectThrow.h"
#include "tavex/model/IOCard.h"
#include "tavex/model/IOTrack.h"

using Tavex::IOCard;
using Tavex::IOTrack;

namespace {

const char recordingCardName[] = "RECORDER";

// What addTrack could see of the track being built.
struct SeenTrack {
    unsigned int points;
    unsigned int start;
    std::string letters;
    bool hasInput;
    const IOCard* card;
    long state;
};

// A card's own exception type, with something a plain copy would lose.
struct CardFault : std::range_error {
    CardFault(const char* text, int code) : std::range_error(text), code(code) {}
    int code;
};

// A card that records every call IOTrack makes and, when told to, refuses
// tracks with its own exception.
class RecordingCard : public IOCard {
public:
    enum Refusal { Accept, RefuseWithCardFault, RefuseWithLogicError, RefuseWithInt };

    RecordingCard() : IOCard(recordingCardName), addTrackCalls(0), inputCalls(0), outputCalls(0) {}

    int addTrackCalls;
    int inputCalls;
    int outputCalls;
    bool recording = true;               // off where allocations are counted
    Refusal refusal = Accept;
    std::vector<SeenTrack> seen;
    const IOTrack* lastTrack = 0;
    long* lastInputValues = 0;
    const long* lastOutputValues = 0;
    std::vector<long> outputsSent;

protected:
    IOCard& addTrack(IOTrack& track) override {
        ++addTrackCalls;
        switch (refusal) {
        case Accept: break;
        case RefuseWithCardFault: throw CardFault("RECORDER: starting point out of range.", 42);
        case RefuseWithLogicError: throw std::logic_error("AC5 card only supports digital IO.");
        case RefuseWithInt: throw 17;
        }
        if (!recording)
            return *this;
        SeenTrack s;
        s.points = track.numberOfPoints();
        s.start = track.startingPoint();
        for (unsigned int i = 0; i < track.numberOfPoints(); ++i)
            s.letters += static_cast<char>(track.pointType(i));
        s.hasInput = track.hasPointOfType('I');
        s.card = &track.card();
        s.state = track.trackState();
        seen.push_back(s);
        return *this;
    }

    // Inputs: point k reads 100 + k, and the board reports the station down.
    IOCard& updateInputs(const IOTrack& track, long* values, long& trackState) override {
        ++inputCalls;
        lastTrack = &track;
        lastInputValues = values;
        for (unsigned int k = 0; k < track.numberOfPoints(); ++k)
            values[k] = 100 + static_cast<long>(k);
        trackState = 3;
        return *this;
    }

    IOCard& updateOutputs(const IOTrack& track, const long* const values,
                          long& trackState) override {
        ++outputCalls;
        lastTrack = &track;
        lastOutputValues = values;
        outputsSent.assign(values, values + track.numberOfPoints());
        trackState = 2;
        return *this;
    }
};

}  // namespace

TEST(IOTrack, EmptyTypeStringIsRefusedBeforeTheCardIsAsked) {
    RecordingCard card;
    AllocationCounter::Window window;
    TAVEX_EXPECT_THROW_TEXT(IOTrack(card, 0, ""), std::logic_error,
                            "IOTrack must have at least one IO point.");
    EXPECT_EQ(0, card.addTrackCalls);
    EXPECT_EQ(0, window.leaked());
}

TEST(IOTrack, AcceptedTrackStartsWithZeroValuesAndState) {
    struct Case {
        unsigned int start;
        std::string letters;
    };
    const Case cases[] = {
        {0, "I"},
        {7, "OOOOOOOO"},
        {2, "IOAUCRN"},
        {0xFFFFFFFFu, "xyz?"},     // letters no card knows are kept as they are
        {4, std::string(300, 'I')},
        {1, "iI oO\x7f"},
        {3, "\x80\xFF\x01I"},   // bytes above 0x7F are letters too, for DummyCard
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("letters \"" + c.letters + "\"");
        RecordingCard card;
        IOTrack track(card, c.start, c.letters.c_str());
        const IOTrack& constTrack = track;

        EXPECT_EQ(c.letters.size(), track.numberOfPoints());
        EXPECT_EQ(c.start, track.startingPoint());
        EXPECT_EQ(&card, &track.card());
        EXPECT_EQ(0, track.trackState());
        for (unsigned int i = 0; i < track.numberOfPoints(); ++i) {
            EXPECT_EQ(0, track[i]) << "point " << i;
            EXPECT_EQ(0, constTrack[i]) << "point " << i;
            EXPECT_EQ(static_cast<int>(c.letters[i]), static_cast<int>(track.pointType(i)))
                << "point " << i;
        }

        // addTrack ran once, on a track whose shape was already complete.
        ASSERT_EQ(1, card.addTrackCalls);
        EXPECT_EQ(c.letters.size(), card.seen[0].points);
        EXPECT_EQ(c.start, card.seen[0].start);
        EXPECT_EQ(c.letters, card.seen[0].letters);
        EXPECT_EQ(c.letters.find('I') != std::string::npos, card.seen[0].hasInput);
        EXPECT_EQ(&card, card.seen[0].card);
        EXPECT_EQ(0, card.seen[0].state);
    }
}

TEST(IOTrack, PointTypeEnumeratorsAreTheirLetters) {
    const struct {
        IOTrack::PointTypes type;
        char letter;
    } cases[] = {
        {IOTrack::DigitalInput, 'I'},  {IOTrack::DigitalOutput, 'O'},
        {IOTrack::AnalogInput, 'A'},   {IOTrack::AnalogOutput, 'U'},
        {IOTrack::Counter, 'C'},       {IOTrack::ReverseCounter, 'R'},
        {IOTrack::NotUsed, 'N'},
    };
    RecordingCard card;
    IOTrack track(card, 0, "IOAUCRN");
    for (unsigned int i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        EXPECT_EQ(static_cast<int>(cases[i].letter), static_cast<int>(cases[i].type));
        EXPECT_EQ(cases[i].type, track.pointType(i));
    }
}

TEST(IOTrack, TypeStringIsCopied) {
    RecordingCard card;
    char letters[] = "IIOO";
    IOTrack track(card, 0, letters);
    std::memcpy(letters, "AAAA", 4);
    EXPECT_EQ(IOTrack::DigitalInput, track.pointType(0));
    EXPECT_EQ(IOTrack::DigitalOutput, track.pointType(3));
    EXPECT_EQ(4u, track.numberOfPoints());
}

TEST(IOTrack, IndexBeyondTheLastPointIsARangeError) {
    RecordingCard card;
    IOTrack track(card, 0, "IOI");
    const IOTrack& constTrack = track;
    const unsigned int indexes[] = {3, 4, 0x80000000u, UINT_MAX};
    for (unsigned int index : indexes) {
        SCOPED_TRACE(index);
        TAVEX_EXPECT_THROW_TEXT(track[index], std::range_error,
                                "IOTrack::operator[] (..) Invalid io point number");
        TAVEX_EXPECT_THROW_TEXT(constTrack[index], std::range_error,
                                "IOTrack::operator[] (..) const Invalid io point number");
        TAVEX_EXPECT_THROW_TEXT(track.pointType(index), std::range_error,
                                "IOTrack::pointType (..) Invalid io point number");
    }
    // The last point itself is fine.
    EXPECT_NO_THROW(track[2]);
    EXPECT_NO_THROW(constTrack[2]);
    EXPECT_EQ(IOTrack::DigitalInput, track.pointType(2));
}

TEST(IOTrack, HasPointOfTypeLooksAtEveryLetter) {
    const struct {
        const char* letters;
        char wanted;
        bool expected;
    } cases[] = {
        {"OOOO", 'I', false}, {"IOOO", 'I', true},  {"OOIO", 'I', true},
        {"OOOI", 'I', true},  {"iiii", 'I', false}, {"IIII", 'i', false},
        {"OOOO", '\0', false}, {"xyz", 'z', true},  {"A", 'A', true},
    };
    RecordingCard card;
    for (const auto& c : cases) {
        IOTrack track(card, 0, c.letters);
        EXPECT_EQ(c.expected, track.hasPointOfType(c.wanted))
            << "\"" << c.letters << "\" asked for '" << c.wanted << "'";
    }
}

TEST(IOTrack, UpdatesHandTheTracksOwnValuesToTheCardAndChain) {
    RecordingCard card;
    IOTrack track(card, 5, "IIOO");
    IOTrack other(card, 9, "OO");

    IOTrack& afterInputs = track.updateInputs();
    EXPECT_EQ(&track, &afterInputs);
    EXPECT_EQ(1, card.inputCalls);
    EXPECT_EQ(&track, card.lastTrack);
    EXPECT_EQ(&track[0], card.lastInputValues);
    for (unsigned int k = 0; k < 4; ++k)
        EXPECT_EQ(100 + static_cast<long>(k), track[k]);
    EXPECT_EQ(3, track.trackState());
    EXPECT_EQ(0, other[0]);   // another track's values are its own
    EXPECT_EQ(0, other.trackState());

    track[2] = -7;
    track[3] = 0x7FFFFFFF;
    IOTrack& afterOutputs = track.updateOutputs();
    EXPECT_EQ(&track, &afterOutputs);
    EXPECT_EQ(1, card.outputCalls);
    EXPECT_EQ(&track[0], card.lastOutputValues);
    EXPECT_EQ((std::vector<long>{100, 101, -7, 0x7FFFFFFF}), card.outputsSent);
    EXPECT_EQ(2, track.trackState());

    // Calls chain on the track.
    track.updateInputs().updateOutputs().updateInputs();
    EXPECT_EQ(3, card.inputCalls);
    EXPECT_EQ(2, card.outputCalls);
}

TEST(IOTrack, CardRefusalReachesTheClientUnchangedAndLeaksNothing) {
    RecordingCard card;
    card.recording = false;
    card.refusal = RecordingCard::RefuseWithCardFault;
    AllocationCounter::Window window;
    bool caught = false;
    try {
        IOTrack track(card, 300, "IIII");
        ADD_FAILURE() << "the card's refusal did not reach the client";
    } catch (const CardFault& fault) {
        caught = true;
        EXPECT_STREQ("RECORDER: starting point out of range.", fault.what());
        EXPECT_EQ(42, fault.code);
    }
    EXPECT_TRUE(caught);
    EXPECT_EQ(1, card.addTrackCalls);
    EXPECT_EQ(0, window.leaked());
    if (AllocationCounter::seesLibrary()) {
        EXPECT_GT(window.allocated(), 0u) << "the type string should have been allocated";
    }

    // The standard types keep their exact type and text as well, and so
    // does something that is no exception class at all.
    card.refusal = RecordingCard::RefuseWithLogicError;
    TAVEX_EXPECT_THROW_TEXT(IOTrack(card, 0, "A"), std::logic_error,
                            "AC5 card only supports digital IO.");
    card.refusal = RecordingCard::RefuseWithInt;
    EXPECT_THROW(IOTrack(card, 0, "I"), int);
    EXPECT_EQ(0, window.leaked());
}

TEST(IOTrack, AcceptedTrackReleasesEverythingWithItself) {
    RecordingCard card;
    card.recording = false;
    AllocationCounter::Window window;
    {
        IOTrack track(card, 0, "IIIIIIIIOOOOOOOO");
        track.updateInputs();
    }
    EXPECT_EQ(0, window.leaked());
}

TEST(IOCard, TypeIsTheStoredPointerAndResetChains) {
    RecordingCard card;
    EXPECT_EQ(recordingCardName, card.type());
    IOCard& base = card;
    EXPECT_EQ(&base, &base.reset());
}
