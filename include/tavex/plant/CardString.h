// The words that name hardware in every front end: CARD (a card class and
// its constructor arguments), TRACK (a starting point and one letter per
// point) and VALUES (a comma-separated list of point values).
//
// Numbers are decimal or 0x hexadecimal and are read strictly: no sign
// where none belongs, no trailing junk, and a number too large for what
// it names is refused instead of wrapping.  Every mistake is a
// CardStringError, whose text says what was wrong; whether the card
// accepts what was asked is left to the card.
#ifndef TAVEX_PLANT_CARDSTRING_H
#define TAVEX_PLANT_CARDSTRING_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace Tavex {

// A CARD, TRACK, VALUES or number text that does not say what it must.
class CardStringError : public std::invalid_argument {
public:
    explicit CardStringError(const std::string& text) : std::invalid_argument(text) {}
};

// An unsigned number, decimal or 0x hexadecimal, not above max.  what
// names the number in the error text ("base port", ...).
std::uint32_t parseUnsigned(const std::string& text, std::uint32_t max, const std::string& what);
// A count of things (scans, seconds) from min to max, said in decimal.
std::uint32_t parseCount(const std::string& text, std::uint32_t min, std::uint32_t max,
                         const std::string& what);
// A point value: an optional minus sign, then decimal or 0x hexadecimal,
// within the signed 32 bits a track value carries.
long parseValue(const std::string& text);
// VALUES: point values separated by commas, none left empty.
std::vector<long> parseValues(const std::string& text);

struct CardArguments {
    enum Kind { AC5, PCI72xx, LPT, PC7166, AC28, KTx, Genius, PFB, Dummy };

    Kind kind;
    std::string text;          // as given
    std::uint32_t port;        // ac5, pc7166, ac28, genius: base I/O port; lpt: base port
    std::uint32_t resetPort;   // ac28
    bool resetLevel;           // ac28
    std::uint32_t address;     // ktx: base memory address; genius: memory address
    std::uint32_t code;        // ktx: link speed; pfb: baud rate code
    std::uint32_t index;       // pci72xx, pfb: card index
    bool byName;               // lpt: named (name below) or by its base port
    std::string name;          // lpt: port name (empty: LPT1)
    std::string path;          // ktx: firmware path; pfb: module prefix
    // Ports and addresses given in decimal: boards are documented in hex,
    // so a front end says each one back ("base port '300' is decimal: 0x12C").
    std::vector<std::string> warnings;
};

// CARD, one of
//   ac5:PORT  pci72xx[:INDEX]  lpt[:NAME|:PORT]  pc7166:PORT
//   ac28:PORT,RESETPORT,LEVEL  ktx:ADDRESS,PATH,SPEED  genius:PORT,ADDRESS
//   pfb:PREFIX,BAUD,INDEX  dummy
// A path or prefix may hold commas of its own: it is everything between
// the first and the last comma (ktx) or before the last two (pfb).
CardArguments parseCard(const std::string& text);

// The card kinds and their syntax, one per line, for help texts.
std::string cardSyntax();

struct TrackArguments {
    std::uint32_t start;
    std::string letters;   // may be empty: the card says what it thinks of that
};

// TRACK: START:LETTERS.  A letter other than I O A U C R N is refused here,
// the first one by its point, before a card could take it for a type it
// does not serve.
TrackArguments parseTrack(const std::string& text);

}  // namespace Tavex

#endif
