// The tool's command line: CARD, TRACK and VALUES strings read strictly,
// and every mistake refused with the usage exit code before any card is
// built.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "CardArguments.h"
#include "ToolRun.h"

using Tavex::Tool::CardArguments;
using Tavex::Tool::UsageError;
using Tavex::Tool::parseCard;
using Tavex::Tool::parseTrack;
using Tavex::Tool::parseValues;

namespace {

// The fields of card arguments that matter for its kind, as one line.
std::string fields(const CardArguments& s) {
    std::ostringstream o;
    o << std::hex;
    switch (s.kind) {
    case CardArguments::AC5: o << "ac5 " << s.port; break;
    case CardArguments::PC7166: o << "pc7166 " << s.port; break;
    case CardArguments::PCI72xx: o << "pci72xx " << s.index; break;
    case CardArguments::LPT: o << "lpt " << (s.byName ? "name '" + s.name + "'" : "port") << ' ' << s.port; break;
    case CardArguments::AC28: o << "ac28 " << s.port << ' ' << s.resetPort << ' ' << s.resetLevel; break;
    case CardArguments::KTx: o << "ktx " << s.address << " '" << s.path << "' " << s.code; break;
    case CardArguments::Genius: o << "genius " << s.port << ' ' << s.address; break;
    case CardArguments::PFB: o << "pfb '" << s.path << "' " << s.code << ' ' << s.index; break;
    case CardArguments::Dummy: o << "dummy"; break;
    }
    return o.str();
}

std::string usageError(const std::function<void()>& f) {
    try {
        f();
    } catch (const UsageError& e) {
        return e.what();
    }
    return "(accepted)";
}

}  // namespace

TEST(ToolCardSyntax, EveryKindWithItsArguments) {
    const struct {
        const char* text;
        const char* fields;
    } cases[] = {
        {"ac5:0x300", "ac5 300"},
        {"ac5:768", "ac5 300"},
        {"pc7166:0X340", "pc7166 340"},
        {"pci72xx", "pci72xx 0"},
        {"pci72xx:1", "pci72xx 1"},
        {"lpt", "lpt name '' 0"},
        {"lpt:LPT1", "lpt name 'LPT1' 0"},
        {"lpt:prn", "lpt name 'prn' 0"},
        {"lpt:0x378", "lpt port 378"},
        {"ac28:0x100,0xE0,1", "ac28 100 e0 1"},
        {"ac28:0x280,0x3E0,0", "ac28 280 3e0 0"},
        {"ktx:0xC8000,/opt/rio/,0xFE", "ktx c8000 '/opt/rio/' fe"},
        {"ktx:0xC8000,,0xFE", "ktx c8000 '' fe"},
        {"ktx:0xC8000,C:\\rio,v2\\,252", "ktx c8000 'C:\\rio,v2\\' fc"},   // commas of the path kept
        {"genius:0x3E0,0xD0000", "genius 3e0 d0000"},
        {"pfb:/opt/pfb/,0,0", "pfb '/opt/pfb/' 0 0"},
        {"pfb:,6,1", "pfb '' 6 1"},
        {"pfb:/a,b/,0xFF,2", "pfb '/a,b/' ff 2"},
        {"dummy", "dummy"},
        {"ac5:0xFFFFFFFF", "ac5 ffffffff"},   // the library judges the port, not the tool
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.fields, fields(parseCard(c.text))) << c.text;
}

TEST(ToolCardSyntax, MistakesSayWhatWasWrong) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"ac5:0x300x", "base port '0x300x' is not a number (decimal or 0x hex)"},
        {"ac5: 0x300", "base port ' 0x300' is not a number (decimal or 0x hex)"},
        {"ac5:-768", "base port '-768' is out of range (0 to 0xFFFFFFFF)"},
        {"ac5:0x", "base port '0x' is not a number (decimal or 0x hex)"},
        {"ac5:", "base port '' is not a number (decimal or 0x hex)"},
        {"ac5:0x100000000", "base port '0x100000000' is out of range (0 to 0xFFFFFFFF)"},
        {"ac5:99999999999999999999999", "base port '99999999999999999999999' is out of range (0 to 0xFFFFFFFF)"},
        {"ac5", "card ac5 takes one argument: ac5:PORT"},
        {"ac5:0x300,1", "card ac5 takes one argument: ac5:PORT"},
        {"lpt:0x10000", "base port '0x10000' is out of range (0 to 0xFFFF)"},
        {"lpt:", "card lpt: the port name is empty"},
        {"ac28:0x100,0xE0", "card ac28 takes three arguments: ac28:PORT,RESETPORT,LEVEL"},
        {"ac28:0x100,0xE0,2", "reset level '2' is neither 0 nor 1"},
        {"ktx:0xC8000,0xFE", "card ktx takes three arguments: ktx:ADDRESS,PATH,SPEED"},
        {"ktx:0xC8000,/opt/rio/,fast", "link speed 'fast' is not a number (decimal or 0x hex)"},
        {"genius:0x3E0", "card genius takes two arguments: genius:PORT,ADDRESS"},
        {"pfb:/opt/pfb/,0x100,0", "baud rate code '0x100' is out of range (0 to 0xFF)"},
        {"pfb:0,0", "card pfb takes three arguments: pfb:PREFIX,BAUD,INDEX"},
        {"dummy:1", "card dummy takes no arguments"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error, usageError([&] { parseCard(c.text); })) << c.text;
    EXPECT_EQ(0u, usageError([] { parseCard("AC5:0x300"); }).find("unknown card 'AC5'; CARD is one of:\n"));
}

TEST(ToolTrackAndValues, StartLettersAndValueLists) {
    EXPECT_EQ(0x30000u, parseTrack("0x30000:IIIIIIII").start);
    EXPECT_EQ("IIIIIIII", parseTrack("0x30000:IIIIIIII").letters);
    EXPECT_EQ("CRNAU", parseTrack("0:CRNAU").letters);   // the card judges whether it takes them
    EXPECT_EQ("", parseTrack("4:").letters);
    EXPECT_EQ("point 0 of track '0:iiiiiiii' is 'i', none of I O A U C R N (the letters are capitals)",
              usageError([] { parseTrack("0:iiiiiiii"); }));
    EXPECT_EQ("point 1 of track '4:O:Ix' is ':', none of I O A U C R N",
              usageError([] { parseTrack("4:O:Ix"); }));
    EXPECT_EQ("point 2 of track '0:IIxI' is 'x', none of I O A U C R N",
              usageError([] { parseTrack("0:IIxI"); }));
    EXPECT_EQ("track 'IIII' has no ':' (TRACK is START:LETTERS)",
              usageError([] { parseTrack("IIII"); }));
    EXPECT_EQ("starting point '-1' is out of range (0 to 0xFFFFFFFF)",
              usageError([] { parseTrack("-1:I"); }));

    EXPECT_EQ((std::vector<long>{1, 0, -5, 255, -2147483647L - 1, 2147483647L}),
              parseValues("1,0,-5,0xFF,-0x80000000,2147483647"));
    const struct {
        const char* text;
        const char* error;
    } bad[] = {
        {"1,,0", "value '' is not a number (decimal or 0x hex)"},
        {"1,0,", "value '' is not a number (decimal or 0x hex)"},
        {"+1", "value '+1' is not a number (decimal or 0x hex)"},
        {"1.5", "value '1.5' is not a number (decimal or 0x hex)"},
        {"--1", "value '--1' is not a number (decimal or 0x hex)"},
        {"2147483648", "value '2147483648' is out of range (-2147483648 to 2147483647)"},
        {"0xFFFFFFFF", "value '0xFFFFFFFF' is out of range (-2147483648 to 2147483647)"},
        {"-2147483649", "value '-2147483649' is out of range (-2147483648 to 2147483647)"},
    };
    for (const auto& c : bad)
        EXPECT_EQ(c.error, usageError([&] { parseValues(c.text); })) << c.text;
}

// Usage errors leave no card built: none of these reach the hardware of
// this PC, which the tests may not touch.
TEST(ToolExitCodes, UsageErrorsExitTwoWithTheReason) {
    const struct {
        std::vector<std::string> arguments;
        const char* error;   // the first line on the error stream
    } cases[] = {
        {{}, "tavex: A subcommand is required"},
        {{"frobnicate"}, "tavex: unknown subcommand 'frobnicate' (pci, read, write, watch, info, demo, scan)"},
        {{"--sim", "--color", "never", "frobnicate"},
         "tavex: unknown subcommand 'frobnicate' (pci, read, write, watch, info, demo, scan)"},
        {{"read"}, "tavex: CARD is required"},
        {{"read", "ac5:0x300"}, "tavex: TRACK is required"},
        {{"read", "ac5:0x300", "0:IIIIIIII", "1"}, "tavex: The following argument was not expected: 1"},
        {{"write", "ac5:0x300", "1:OOOOOOOO"}, "tavex: VALUES is required"},
        {{"read", "ac5:0x3OO", "0:IIIIIIII"},
         "tavex: base port '0x3OO' is not a number (decimal or 0x hex)"},
        {{"read", "ac5:0x300", "IIIIIIII"},
         "tavex: track 'IIIIIIII' has no ':' (TRACK is START:LETTERS)"},
        {{"write", "ac5:0x300", "1:OOOOOOOO", "1,0,1"}, "tavex: VALUES has 3 values for 8 points"},
        {{"write", "ac5:0x300", "1:OOOOOOOO", "1,0,1,0,1,0,1,x"},
         "tavex: value 'x' is not a number (decimal or 0x hex)"},
        {{"watch", "ac5:0x300", "0:IIIIIIII", "--rate", "0"},
         "tavex: rate '0' is not a number of scans per second from 0.001 to 1000"},
        {{"watch", "ac5:0x300", "0:IIIIIIII", "--rate", "1e3"},
         "tavex: rate '1e3' is not a number of scans per second from 0.001 to 1000"},
        {{"watch", "ac5:0x300", "0:IIIIIIII", "--count", "-1"},
         "tavex: count '-1' is out of range (0 to 4294967295)"},
        {{"demo", "--seconds", "0"}, "tavex: seconds '0' is out of range (1 to 86400)"},
        {{"demo", "--seconds", "-1"}, "tavex: seconds '-1' is out of range (1 to 86400)"},
        {{"demo", "--seconds", "3s"}, "tavex: seconds '3s' is not a whole number (1 to 86400)"},
        {{"--color", "sometimes", "pci"}, "tavex: --color: sometimes not in {auto,always,never}"},
        {{"pci", "-m"}, "tavex: -m alone is not served; -mm gives the machine-readable form"},
        {{"pci", "-s", "0g"}, "tavex: '0g' is not [[[domain]:]bus:][dev][.func] (hex numbers)"},
        {{"pci", "-s", "00:20"}, "tavex: '00:20' is not [[[domain]:]bus:][dev][.func]: 20 is above 1f"},
        {{"pci", "-d", "8086"}, "tavex: '8086' is not [vendor]:[device][:class] (hex numbers)"},
        {{"info", "ac6"}, "tavex: unknown card 'ac6'; CARD is one of:"},
        {{"read", "ac5:0x300", "0:iiiiiiii"},
         "tavex: point 0 of track '0:iiiiiiii' is 'i', none of I O A U C R N (the letters are "
         "capitals)"},
        {{"write", "ac5:0x300", "1:OOOOOOOO", "1,0", "0"},
         "tavex: VALUES is one list separated by commas (1,0,0,1) or POINT=VALUE pairs (3=1 5=0)"},
        {{"write", "ac5:0x300", "1:OOOOOOOO", "1,0", "3=1"},
         "tavex: '1,0' is no POINT=VALUE pair; give all values as pairs or one list"},
        {{"pci", "-x"}, "tavex: The following argument was not expected: -x"},
    };
    for (const auto& c : cases) {
        const ToolRun run = runTool(c.arguments);
        EXPECT_EQ(Tavex::Tool::ExitUsage, run.code) << words(c.arguments);
        EXPECT_EQ(c.error, firstLine(run.err)) << words(c.arguments);
        EXPECT_EQ("", run.out) << words(c.arguments);
    }
}

TEST(ToolExitCodes, HelpAndVersionExitZeroAndNameTheExitCodes) {
    const ToolRun help = runTool({"--help"});
    EXPECT_EQ(0, help.code);
    EXPECT_EQ("", help.err);
    for (const char* text : {"pci", "read", "write", "watch", "demo", "ac28:PORT,RESETPORT,LEVEL",
                             "  2  the command line is wrong",
                             "  1  the library refused or failed; its message is printed"})
        EXPECT_NE(std::string::npos, help.out.find(text)) << text;

    const ToolRun readHelp = runTool({"read", "--help"});
    EXPECT_EQ(0, readHelp.code);
    EXPECT_NE(std::string::npos, readHelp.out.find("--sim"));

    for (const char* flag : {"--version", "-V"}) {
        const ToolRun version = runTool({flag});
        EXPECT_EQ(0, version.code) << flag;
        EXPECT_EQ(0u, version.out.find("tavex ")) << flag;
    }
}
