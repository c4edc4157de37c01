// What each kind of card takes and does, in one table: where it sits, the
// starting points and letters of its tracks, how its analog points and
// counters code a value, and what building a card or a track does to the
// plant.  tavex info prints it, the help texts list the side effects, and
// write checks every value against it before anything is built.
#ifndef TAVEX_TOOLS_CARDFACTS_H
#define TAVEX_TOOLS_CARDFACTS_H

#include <string>

#include "CardArguments.h"

namespace Tavex {
namespace Tool {

// How the track values of one point type are coded on a card.  A value
// fits when it lies from min to max and is a multiple of step.
struct Encoding {
    bool known;         // false: the card has no such points (or any value goes)
    long min, max, step;
    bool fullScale;     // the value is a share of full scale: shown in per cent
    const char* text;   // one line for people
};

struct CardFacts {
    CardArguments::Kind kind;
    const char* word;         // "ac5": the CARD string's first word
    const char* name;         // "AC5 digital I/O board"
    const char* syntax;       // "ac5:PORT"
    const char* where;        // the ports or addresses it accepts
    const char* starts;       // what a track's starting point counts
    const char* points;       // the letters it takes
    const char* lengths;      // the track lengths it takes
    const char* readBack;     // which outputs read shows
    const char* sideEffects;  // what building the card and a track does; 0: nothing
    Encoding analogInput, analogOutput, counter;
};

const CardFacts& cardFacts(CardArguments::Kind kind);
// Every kind, in the order of the help text.
const CardFacts* const* allCardFacts();
// The kind a CARD string's first word names, or 0.
const CardFacts* cardFactsByWord(const std::string& word);

// The encoding of points of this letter on the card; unknown for digital
// letters and for letters the card refuses.
const Encoding& encodingOf(const CardFacts& facts, char letter);

// Why value does not fit point `point` (letter) of a track on this card, or
// an empty string when it fits.  Digital outputs take 0 or 1; inputs and
// unused points take nothing and are not checked here.
std::string valueMisfit(const CardFacts& facts, char letter, unsigned point, long value);

// The value closest to percent of full scale that the encoding can hold.
long fromPercent(const Encoding& encoding, double percent);
// The value as a share of full scale: "+50.0%".
std::string percentText(long value);

// "tavex info CARD": everything above about one kind, as lines.
std::string describeCard(const CardFacts& facts);

// The side effects of every kind, for the help of read, write and watch.
std::string sideEffectsHelp();

}  // namespace Tool
}  // namespace Tavex

#endif
