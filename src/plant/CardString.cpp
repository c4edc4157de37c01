#include "tavex/plant/CardString.h"

#include <cstdint>
#include <sstream>

namespace Tavex {

namespace {

const std::uint32_t max8 = 0xFF;
const std::uint32_t max16 = 0xFFFF;
const std::uint32_t max32 = 0xFFFFFFFFu;

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// Digits of one base, accumulated in 64 bits so that an overflow of 32 is seen.
bool digitsValue(const std::string& digits, unsigned base, std::uint64_t limit,
                 std::uint64_t& value) {
    if (digits.empty())
        return false;
    value = 0;
    for (char c : digits) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        value = value * base + d;
        if (value > limit)
            value = limit + 1;   // stays above the limit, whatever follows
    }
    return true;
}

// Decimal or 0x hexadecimal, no sign; false for anything else.
bool magnitude(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return digitsValue(text.substr(2), 16, limit, value);
    return digitsValue(text, 10, limit, value);
}

std::string hex(std::uint32_t value) {
    std::ostringstream s;
    s << "0x" << std::uppercase << std::hex << value;
    return s.str();
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type from = 0;
    for (;;) {
        const std::string::size_type at = text.find(separator, from);
        parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos)
            return parts;
        from = at + 1;
    }
}

// A port or an address: as parseUnsigned, and a word when it was decimal.
std::uint32_t location(const std::string& text, std::uint32_t max, const std::string& what,
                       CardArguments& card) {
    const std::uint32_t value = parseUnsigned(text, max, what);
    const bool hexadecimal = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (!hexadecimal && value >= 10)
        card.warnings.push_back(what + " " + quoted(text) + " is decimal: " + hex(value) +
                                " (write 0x" + text + " for hexadecimal)");
    return value;
}

void expectArguments(const std::string& kind, const std::vector<std::string>& parts,
                     std::size_t count, const std::string& form) {
    if (parts.size() != count)
        throw CardStringError("card " + kind + " takes " + form);
}

}  // namespace

std::uint32_t parseUnsigned(const std::string& text, std::uint32_t max, const std::string& what) {
    std::uint64_t value;
    // A minus sign before a number is a number out of range, not junk.
    const bool negative = text.size() > 1 && text[0] == '-' && magnitude(text.substr(1), max32, value);
    if (!negative && !magnitude(text, max32, value))
        throw CardStringError(what + " " + quoted(text) + " is not a number (decimal or 0x hex)");
    if (negative || value > max)
        throw CardStringError(what + " " + quoted(text) + " is out of range (0 to " + hex(max) + ")");
    return static_cast<std::uint32_t>(value);
}

std::uint32_t parseCount(const std::string& text, std::uint32_t min, std::uint32_t max,
                         const std::string& what) {
    const std::string range = " (" + std::to_string(min) + " to " + std::to_string(max) + ")";
    std::uint64_t value;
    const bool negative = text.size() > 1 && text[0] == '-' && magnitude(text.substr(1), max32, value);
    if (!negative && !magnitude(text, max32, value))
        throw CardStringError(what + " " + quoted(text) + " is not a whole number" + range);
    if (negative || value < min || value > max)
        throw CardStringError(what + " " + quoted(text) + " is out of range" + range);
    return static_cast<std::uint32_t>(value);
}

long parseValue(const std::string& text) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string digits = negative ? text.substr(1) : text;
    // One above the largest magnitude, so that -0x80000000 is allowed.
    const std::uint64_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    std::uint64_t value;
    if (!magnitude(digits, limit, value))
        throw CardStringError("value " + quoted(text) + " is not a number (decimal or 0x hex)");
    if (value > limit)
        throw CardStringError("value " + quoted(text) +
                         " is out of range (-2147483648 to 2147483647)");
    const std::int64_t signedValue =
        negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
    return static_cast<long>(signedValue);
}

std::vector<long> parseValues(const std::string& text) {
    std::vector<long> values;
    for (const std::string& part : split(text, ','))
        values.push_back(parseValue(part));
    return values;
}

CardArguments parseCard(const std::string& text) {
    CardArguments result = CardArguments();
    result.text = text;
    const std::string::size_type colon = text.find(':');
    const std::string kind = text.substr(0, colon);
    const bool hasArguments = colon != std::string::npos;
    const std::string arguments = hasArguments ? text.substr(colon + 1) : std::string();
    const std::vector<std::string> parts =
        hasArguments ? split(arguments, ',') : std::vector<std::string>();

    if (kind == "dummy") {
        if (hasArguments)
            throw CardStringError("card dummy takes no arguments");
        result.kind = CardArguments::Dummy;
    } else if (kind == "ac5" || kind == "pc7166") {
        result.kind = kind == "ac5" ? CardArguments::AC5 : CardArguments::PC7166;
        expectArguments(kind, parts, 1, "one argument: " + kind + ":PORT");
        result.port = location(parts[0], max32, "base port", result);
    } else if (kind == "pci72xx") {
        result.kind = CardArguments::PCI72xx;
        if (hasArguments) {
            expectArguments(kind, parts, 1, "at most one argument: pci72xx:INDEX");
            result.index = parseUnsigned(parts[0], max32, "card index");
        }
    } else if (kind == "lpt") {
        result.kind = CardArguments::LPT;
        result.byName = true;
        if (hasArguments) {
            expectArguments(kind, parts, 1, "at most one argument: lpt:NAME or lpt:PORT");
            if (!parts[0].empty() && parts[0][0] >= '0' && parts[0][0] <= '9') {
                result.byName = false;
                result.port = location(parts[0], max16, "base port", result);
            } else {
                if (parts[0].empty())
                    throw CardStringError("card lpt: the port name is empty");
                result.name = parts[0];
            }
        }
    } else if (kind == "ac28") {
        result.kind = CardArguments::AC28;
        expectArguments(kind, parts, 3, "three arguments: ac28:PORT,RESETPORT,LEVEL");
        result.port = location(parts[0], max32, "base port", result);
        result.resetPort = location(parts[1], max32, "reset port", result);
        if (parts[2] != "0" && parts[2] != "1")
            throw CardStringError("reset level " + quoted(parts[2]) + " is neither 0 nor 1");
        result.resetLevel = parts[2] == "1";
    } else if (kind == "ktx") {
        result.kind = CardArguments::KTx;
        if (parts.size() < 3)
            throw CardStringError("card ktx takes three arguments: ktx:ADDRESS,PATH,SPEED");
        result.address = location(parts.front(), max32, "base memory address", result);
        result.code = parseUnsigned(parts.back(), max32, "link speed");
        const std::string::size_type first = arguments.find(',');
        const std::string::size_type last = arguments.rfind(',');
        result.path = arguments.substr(first + 1, last - first - 1);
    } else if (kind == "genius") {
        result.kind = CardArguments::Genius;
        expectArguments(kind, parts, 2, "two arguments: genius:PORT,ADDRESS");
        result.port = location(parts[0], max32, "base port", result);
        result.address = location(parts[1], max32, "memory address", result);
    } else if (kind == "pfb") {
        result.kind = CardArguments::PFB;
        if (parts.size() < 3)
            throw CardStringError("card pfb takes three arguments: pfb:PREFIX,BAUD,INDEX");
        result.code = parseUnsigned(parts[parts.size() - 2], max8, "baud rate code");
        result.index = parseUnsigned(parts.back(), max32, "card index");
        const std::string::size_type last = arguments.rfind(',');
        const std::string::size_type before = arguments.rfind(',', last - 1);
        result.path = arguments.substr(0, before);
    } else {
        throw CardStringError("unknown card " + quoted(kind) + "; CARD is one of:\n" + cardSyntax());
    }
    return result;
}

std::string cardSyntax() {
    return "  ac5:PORT                   AC5 digital I/O board (ac5:0x300)\n"
           "  pci72xx[:INDEX]            PCI-7248/7296 digital I/O board (pci72xx:0)\n"
           "  lpt[:NAME|:PORT]           parallel port by name or base port (lpt:LPT1, lpt:0x378)\n"
           "  pc7166:PORT                PC7166 encoder counter (pc7166:0x340)\n"
           "  ac28:PORT,RESETPORT,LEVEL  Opto 22 AC28 adapter (ac28:0x100,0xE0,1)\n"
           "  ktx:ADDRESS,PATH,SPEED     1784-KTx Remote I/O scanner (ktx:0xC8000,/opt/rio/,0xFE)\n"
           "  genius:PORT,ADDRESS        MicroGENI channel of a Genius PCIM (genius:0x3E0,0xD0000)\n"
           "  pfb:PREFIX,BAUD,INDEX      5136-PFB-PCI Profibus DP master (pfb:/opt/pfb/,0,0)\n"
           "  dummy                      a card with no hardware\n";
}

TrackArguments parseTrack(const std::string& text) {
    const std::string::size_type colon = text.find(':');
    if (colon == std::string::npos)
        throw CardStringError("track " + quoted(text) + " has no ':' (TRACK is START:LETTERS)");
    TrackArguments result;
    result.start = parseUnsigned(text.substr(0, colon), max32, "starting point");
    result.letters = text.substr(colon + 1);
    const char* const letters = "IOAUCRN";
    const std::string::size_type bad = result.letters.find_first_not_of(letters);
    if (bad != std::string::npos) {
        const char letter = result.letters[bad];
        const bool lower = letter >= 'a' && letter <= 'z' &&
                           std::string(letters).find(static_cast<char>(letter - 'a' + 'A')) != std::string::npos;
        throw CardStringError("point " + std::to_string(bad) + " of track " + quoted(text) + " is " +
                              quoted(std::string(1, letter)) + ", none of I O A U C R N" +
                              (lower ? " (the letters are capitals)" : ""));
    }
    return result;
}

}  // namespace Tavex
