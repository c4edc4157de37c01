#include "CardFacts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace Tavex {
namespace Tool {

namespace {

const long lowest = -2147483647L - 1;
const long highest = 2147483647L;

const Encoding none = {false, 0, 0, 1, false, ""};
const Encoding anyValue = {false, lowest, highest, 1, false, "any 32-bit value; the card keeps it"};

// An AC28 analog brainboard carries a 12-bit code in the top 12 bits of the
// value; the two directions offset it differently (the card converts).
const Encoding ac28Input = {true, lowest, highest - 0xFFFFF, 0x100000, true,
                            "12-bit offset binary (code 0x800 reads as 0): the value is "
                            "(code - 0x800) * 0x100000"};
const Encoding ac28Output = {true, lowest, highest - 0xFFFFF, 0x100000, true,
                             "12-bit two's complement, the value's top 12 bits: a multiple of "
                             "0x100000 from -2147483648 to 2146435072"};
// A Genius analog point is one 16-bit word.
const Encoding geniusInput = {true, lowest, highest - 0xFFFF, 0x10000, true,
                              "16-bit word, offset binary (word 0x8000 reads as 0): the value is "
                              "(word - 0x8000) * 0x10000"};
const Encoding geniusOutput = {true, lowest, highest - 0xFFFF, 0x10000, true,
                               "16-bit word in two's complement, the value's upper half: a "
                               "multiple of 0x10000 from -2147483648 to 2147418112"};
// The PC7166 presets its 24-bit counters; reads go on counting in 32 bits,
// but a count preset by one run is read back by the next as 24 bits signed.
const Encoding pc7166Counter = {true, -0x800000L, 0x7FFFFFL, 1, false,
                                "signed counts; a preset is 24 bits: -8388608 to 8388607 "
                                "(R counts the other way)"};

const CardFacts facts[] = {
    {CardArguments::AC5, "ac5", "AC5 digital I/O board", "ac5:PORT",
     "base port 0x220 to 0x3E0 in steps of 0x10, not 0x270",
     "the port (0, 1 or 2)", "I, O, N", "8, 16 or 24 points (one to three ports)",
     "outputs in ports that mix inputs and outputs; not those of a port of outputs only",
     "building a track sets the direction of every port it covers: a port named as inputs "
     "lets its lines go, a port named as outputs drives them",
     none, none, none},
    {CardArguments::PCI72xx, "pci72xx", "PCI-7248/7296 digital I/O board", "pci72xx[:INDEX]",
     "the INDEX-th such board in the PCI scan (tavex pci names it)",
     "the group (0-1 on a PCI-7248, 0-3 on a PCI-7296)", "I, O, N",
     "24 points: ports A and B all inputs or all outputs, port C in halves of four",
     "outputs in a half of port C beside inputs; not whole output ports",
     "building a track writes its group's control word: lines that become outputs are driven "
     "low (on) until outputs are written",
     none, none, none},
    {CardArguments::LPT, "lpt", "parallel port", "lpt[:NAME|:PORT]",
     "LPT1 to LPT4 (or lpt1-lpt4, PRN, prn), or a base port the BIOS lists",
     "not used (any)", "I, O, N",
     "17 points: 0-7 data lines (O), 8-11 control lines (all I or all O), 12-16 status "
     "lines (I)",
     "none: its outputs are not read back",
     "a track with the control lines as inputs lets them go (pins 1, 14, 16 and 17 go high)",
     none, none, none},
    {CardArguments::PC7166, "pc7166", "PC7166 encoder counter", "pc7166:PORT",
     "base port 0x220, 0x240, 0x250, 0x260, 0x300, 0x310, 0x330, 0x340, 0x350 or 0x360",
     "the channel (0-3)", "C, R, N", "1 to 4 points, one per channel",
     "every counter is read",
     "building a track presets its counters to 0 (an R point then reads -1)",
     none, none, pc7166Counter},
    {CardArguments::AC28, "ac28", "Opto 22 AC28 adapter", "ac28:PORT,RESETPORT,LEVEL",
     "base port 0x100, 0x140, 0x180 or 0x280; reset port 0xE0, 0x1E0, 0x2E0 or 0x3E0; "
     "LEVEL 0 or 1, as the adapter's jumper sets it",
     "the bank (0-63); an analog brainboard takes two banks",
     "I, O, N or A, U, N (digital or analog, not both)",
     "a multiple of 8 points; an analog brainboard has 16 channels",
     "digital outputs in a bank beside inputs; no analog output",
     "building the card resets the brainboards: a 30 ms pulse that switches every output "
     "off; a track with analog outputs makes those channels outputs",
     ac28Input, ac28Output, none},
    {CardArguments::KTx, "ktx", "1784-KTx Remote I/O scanner", "ktx:ADDRESS,PATH,SPEED",
     "memory 0xC0000 to 0xEF000 in steps of 0x1000; PATH the folder of clrram.bin, "
     "loadpcl.bin and scanner.bin; SPEED 0xFC, 0xFD or 0xFE",
     "the bank (0-255) of the image tables", "I, O, N", "a multiple of 8 points",
     "none: its outputs are not read back",
     "building the card loads and starts the scanner, which takes over the Remote I/O link "
     "(2 s or more); closing it resets the board, and the racks lose their outputs",
     none, none, none},
    {CardArguments::Genius, "genius", "MicroGENI channel of a Genius PCIM",
     "genius:PORT,ADDRESS", "base port and 16 KiB memory window of the channel",
     "the station (0-31)", "I, O, N or A, U, N (digital or analog, not both)",
     "digital: 8 to 32 points in steps of 8; analog: one 16-bit word per point",
     "none: its outputs are not read back",
     "building the card resets a channel that is not healthy and waits for it (up to 50 s); "
     "a track with outputs lets the station take outputs",
     geniusInput, geniusOutput, none},
    {CardArguments::PFB, "pfb", "5136-PFB-PCI Profibus DP master", "pfb:PREFIX,BAUD,INDEX",
     "PREFIX before pciprofi.ss1 (the module file); BAUD a code 0 to 0xFF; the INDEX-th such "
     "board in the PCI scan",
     "the slave address * 0x10000 + a byte offset into its data", "I, O, N",
     "a multiple of 8 points",
     "none: its outputs are not read back",
     "building the card brings the Profibus network online with the module's "
     "configuration: the slaves start exchanging data and take the outputs they are sent",
     none, none, none},
    {CardArguments::Dummy, "dummy", "a card with no hardware", "dummy", "nothing",
     "any", "any", "any length from 1", "every value stays as it was set",
     0, anyValue, anyValue, anyValue},
};

const CardFacts* const ordered[] = {&facts[0], &facts[1], &facts[2], &facts[3], &facts[4],
                                    &facts[5], &facts[6], &facts[7], &facts[8], 0};

std::string number(long value) { return std::to_string(value); }

}  // namespace

const CardFacts& cardFacts(CardArguments::Kind kind) {
    for (const CardFacts& f : facts)
        if (f.kind == kind)
            return f;
    return facts[sizeof facts / sizeof facts[0] - 1];
}

const CardFacts* const* allCardFacts() { return ordered; }

const CardFacts* cardFactsByWord(const std::string& word) {
    for (const CardFacts& f : facts)
        if (word == f.word)
            return &f;
    return 0;
}

const Encoding& encodingOf(const CardFacts& f, char letter) {
    switch (letter) {
    case 'A':
        return f.analogInput;
    case 'U':
        return f.analogOutput;
    case 'C':
    case 'R':
        return f.counter;
    default:
        return none;
    }
}

std::string valueMisfit(const CardFacts& f, char letter, unsigned point, long value) {
    const std::string where = "point " + std::to_string(point) + " (" + letter + ")";
    if (letter == 'O')
        return value == 0 || value == 1
                   ? std::string()
                   : where + ": " + number(value) + " is not a digital value (0 or 1)";
    const Encoding& e = encodingOf(f, letter);
    if (!e.known)
        return std::string();
    if (value < e.min || value > e.max || value % e.step != 0) {
        std::string text = where + ": " + number(value) + " does not fit the " + f.name + ": " +
                           e.text;
        if (e.fullScale)
            text += ", or a per cent of full scale such as 50%";
        return text;
    }
    return std::string();
}

long fromPercent(const Encoding& e, double percent) {
    const double steps = std::floor(percent / 100.0 * 2147483648.0 / e.step + 0.5);
    double value = steps * e.step;
    if (value > e.max)
        value = e.max;
    if (value < e.min)
        value = e.min;
    return static_cast<long>(value);
}

std::string percentText(long value) {
    char text[24];
    std::snprintf(text, sizeof text, "%+.1f%%", value / 2147483648.0 * 100.0);
    return text;
}

std::string describeCard(const CardFacts& f) {
    std::string text = std::string(f.word) + ": " + f.name + "\n" +
                       "  CARD            " + f.syntax + "\n" +
                       "  accepts         " + f.where + "\n" +
                       "  starting point  " + f.starts + "\n" +
                       "  point types     " + f.points + "\n" +
                       "  track length    " + f.lengths + "\n" +
                       "  read shows      " + f.readBack + "\n";
    const struct {
        const char* label;
        const Encoding& e;
    } codes[] = {{"analog inputs   ", f.analogInput},
                 {"analog outputs  ", f.analogOutput},
                 {"counters        ", f.counter}};
    for (const auto& c : codes)
        if (c.e.text[0])
            text += std::string("  ") + c.label + c.e.text + "\n";
    text += std::string("  side effects    ") +
            (f.sideEffects ? f.sideEffects : "none: it touches no hardware") + "\n";
    if (f.kind != CardArguments::Dummy)
        text += "  write           writes every output point of the track\n";
    return text;
}

namespace {

// The words of text in lines of at most width, the first after first, the
// others after indent.
std::string wrapped(const std::string& first, const std::string& text, const std::string& indent,
                    std::size_t width) {
    std::string result = first, line = first;
    std::string::size_type at = 0;
    while (at < text.size()) {
        const std::string::size_type end = std::min(text.find(' ', at), text.size());
        const std::string word = text.substr(at, end - at);
        if (line.size() > indent.size() && line.size() + 1 + word.size() > width) {
            result += "\n" + indent;
            line = indent;
        } else if (line.size() > first.size() || (line != first && line.size() > indent.size())) {
            result += ' ';
            line += ' ';
        }
        result += word;
        line += word;
        at = end + 1;
    }
    return result + "\n";
}

}  // namespace

std::string sideEffectsHelp() {
    std::string text = "What a command does to the plant, by card (off --sim it needs --yes):\n";
    for (const CardFacts* const* f = allCardFacts(); *f; ++f)
        if ((*f)->sideEffects)
            text += wrapped(std::string("  ") + (*f)->word + ": ", (*f)->sideEffects, "      ", 79);
    return text + wrapped("  ", "write, on every card but dummy: writes every output point of the track",
                          "      ", 79);
}

}  // namespace Tool
}  // namespace Tavex
