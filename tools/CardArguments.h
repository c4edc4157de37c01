// The words of the tavex command line that name hardware: CARD (a card
// class and its constructor arguments), TRACK (a starting point and one
// letter per point) and VALUES (a comma-separated list for write).
//
// Numbers are decimal or 0x hexadecimal and are read strictly: no sign
// where none belongs, no trailing junk, and a number too large for what
// it names is refused instead of wrapping.  Every mistake is a UsageError,
// whose text says what was wrong; whether the card accepts what was asked
// is left to the library.
#ifndef TAVEX_TOOLS_CARDARGUMENTS_H
#define TAVEX_TOOLS_CARDARGUMENTS_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace Tavex {
namespace Tool {

// A mistake on the command line, reported with the usage exit code.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& text) : std::runtime_error(text) {}
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
    std::string text;          // as given on the command line
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
    // so each one is said back ("base port '300' is decimal: 0x12C").
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
    std::string letters;   // may be empty: the library says what it thinks of that
};

// TRACK: START:LETTERS.  Letters other than I O A U C R N are refused here,
// by name, before a card could take them for a type it does not serve.
TrackArguments parseTrack(const std::string& text);

}  // namespace Tool
}  // namespace Tavex

#endif
