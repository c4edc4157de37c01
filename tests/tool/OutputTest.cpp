// What the tool prints, whole: the rows of read for the shapes of track
// that lay out differently, the exit status 3 of every card that reports
// track states, JSON, watch --changes, colour, the terminal's width, and
// output that cannot be written.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "DemoPlant.h"
#include "ToolRun.h"

using Tavex::Tool::DemoPlant;
using Tavex::Tool::Environment;

namespace {

void nothing(DemoPlant&) {}

// The Genius bus goes down at the first tick of the plant after the card is
// built: a channel that is down while it is built never comes up.
class BusFaultLater : public Tavex::Sim::Board {
public:
    explicit BusFaultLater(DemoPlant& plant) : plant_(plant) {}
    const char* name() const override { return "bus fault"; }
    void tick(unsigned long) override { plant_.genius().setBusFault(true); }

private:
    DemoPlant& plant_;
};

}  // namespace

TEST(ToolReadOutput, WholeOutputsOfTheShapesThatLayOutDifferently) {
    const struct {
        std::vector<std::string> arguments;
        std::function<void(DemoPlant&)> field;
        unsigned columns;
        const char* out;
    } cases[] = {
        // 17 points: two rows of eight and a row of one; outputs never read back.
        {{"lpt:LPT1", "0:OOOOOOOOIIIIIIIII"}, [](DemoPlant& p) { p.lpt().setPinLevel(14, false); }, 80,
         "LPT1 at 0x378, track 0:OOOOOOOOIIIIIIIII\n"
         "  0-7     O -  O -  O -  O -  O -  O -  O -  O -\n"
         "  8-15    I 0  I 1  I 0  I 0  I 1  I 1  I 1  I 1\n"
         "  16      I 1\n"
         "-: an output that this board does not read back\n"
         "state 0 (ok)\n"
         "values -,-,-,-,-,-,-,-,0,1,0,0,1,1,1,1,1\n"},
        // Two rows: a port of outputs is not read, outputs beside inputs are.
        {{"ac5:0x300", "0:IIIIOOOOOOOOOOOO"}, nothing, 80,
         "AC5 at 0x300, track 0:IIIIOOOOOOOOOOOO\n"
         "  0-7     I 1  I 0  I 0  I 0  O 0  O 0  O 0  O 0\n"
         "  8-15    O -  O -  O -  O -  O -  O -  O -  O -\n"
         "-: an output that this board does not read back\n"
         "state 0 (ok)\n"
         "values 1,0,0,0,0,0,0,0,-,-,-,-,-,-,-,-\n"},
        // Analog: raw and in per cent of full scale.
        {{"genius:0x3E0,0xD0000", "9:AAUU"}, nothing, 80,
         "GE-MicroGENI at 0x3E0, memory 0xD0000, track 9:AAUU\n"
         "  0-1     A -400883712 -18.7%  A 1073741824 +50.0%\n"
         "  2-3     U          -         U          -\n"
         "-: an output that this board does not read back\n"
         "state 0 (ok)\n"
         "values -400883712,1073741824,-,-\n"},
        {{"--raw", "genius:0x3E0,0xD0000", "9:AA"}, nothing, 80,
         "GE-MicroGENI at 0x3E0, memory 0xD0000, track 9:AA\n"
         "  0-1     A -400883712  A 1073741824\n"
         "state 0 (ok)\n"
         "values -400883712,1073741824\n"},
        // Narrow: one point a row, each row labelled with its point alone.
        {{"genius:0x3E0,0xD0000", "9:AAU"}, nothing, 40,
         "GE-MicroGENI at 0x3E0, memory 0xD0000, track 9:AAU\n"
         "  0       A -400883712 -18.7%\n"
         "  1       A 1073741824 +50.0%\n"
         "  2       U          -\n"
         "-: an output that this board does not read back\n"
         "state 0 (ok)\n"
         "values -400883712,1073741824,-\n"},
        {{"ac28:0x100,0xE0,1", "2:AAAAAAAA"}, [](DemoPlant& p) { p.ac28().setInputCode(2, 5, 0x000); }, 132,
         "AC28 at 0x100, reset port 0xE0, track 2:AAAAAAAA\n"
         "  0-3     A  1071644672  +49.9%  A           0   +0.0%  A           0   +0.0%  A           0   +0.0%\n"
         "  4-7     A           0   +0.0%  A -2147483648 -100.0%  A           0   +0.0%  A           0   +0.0%\n"
         "state 0 (ok)\n"
         "values 1071644672,0,0,0,0,-2147483648,0,0\n"},
        {{"pc7166:0x340", "0:CNR"}, nothing, 80,
         "PC7166 at 0x340, track 0:CNR\n"
         "  0-2     C  0  N  0  R -1\n"
         "state 0 (ok)\n"
         "values 0,0,-1\n"},
        {{"-q", "pci72xx:0", "0:IIIIIIIIOOOOOOOOIIIIOOOO"}, nothing, 80,
         // Outputs beside inputs in port C are read back: low since the
         // control word, so on.
         "values 0,0,0,0,0,0,0,0,-,-,-,-,-,-,-,-,0,0,0,0,1,1,1,1\n"},
        {{"--json", "genius:0x3E0,0xD0000", "9:AU"}, nothing, 80,
         "{\"card\":\"genius:0x3E0,0xD0000\",\"description\":\"GE-MicroGENI at 0x3E0, memory 0xD0000\","
         "\"track\":\"9:AU\",\"state\":0,\"state_text\":\"ok\",\"points\":[{\"point\":0,\"type\":\"A\","
         "\"value\":-400883712,\"percent\":-18.668},{\"point\":1,\"type\":\"U\",\"value\":null}]}\n"},
    };
    for (const auto& c : cases) {
        DemoPlant plant;
        c.field(plant);
        std::vector<std::string> arguments{"read", "--sim"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ToolRun run = runTool(arguments, &plant, false, c.columns);
        EXPECT_EQ(0, run.code) << words(arguments) << ": " << run.err;
        EXPECT_EQ(c.out, run.out) << words(arguments);
        for (const std::string& line : linesOf(run.out))
            if (line.compare(0, 2, "  ") == 0) {   // the rows of points
                EXPECT_GE(c.columns, line.size()) << words(arguments) << ": " << line;
            }
    }
}

// Every card that reports a track state: a station, rack or slave that
// does not answer, and a card or network that is down, for read and write.
TEST(ToolTrackState, ReadAndWriteExitThreeWhenTheStateIsNotZero) {
    const struct {
        const char* card;
        const char* readTrack;
        const char* writeTrack;   // 0: write cannot see the fault
        const char* value;
        std::function<void(DemoPlant&)> fault;
        const char* state;
    } cases[] = {
        {"ktx:0xC8000,,0xFE", "4:IIIIIIII", "4:OOOOOOOO", "0=1",
         [](DemoPlant& p) { p.ktx().setEntryGood(1, false); }, "state 3 (NOT ANSWERING)"},
        {"ktx:0xC8000,,0xFE", "2:IIIIIIII", "3:OOOOOOOO", "0=1",
         [](DemoPlant& p) { p.ktx().setScannerRunning(false); }, "state 2 (CARD OR NETWORK DOWN)"},
        {"genius:0x3E0,0xD0000", "5:IIIIIIII", "5:OOOOOOOO", "0=1", nothing, "state 3 (NOT ANSWERING)"},
        {"genius:0x3E0,0xD0000", "9:AAAA", "9:AAUU", "2=50%",
         [](DemoPlant& p) { p.machine().add<BusFaultLater>(p); }, "state 2 (CARD OR NETWORK DOWN)"},
        {"pfb:/opt/pfb/,0,0", "0x30000:IIIIIIII", "0x30000:OOOOOOOO", "7=1",
         [](DemoPlant& p) { p.pfb().setAnswering(DemoPlant::ConveyorSlave, false); },
         "state 3 (NOT ANSWERING)"},
        // The AC28 learns its link's state only when it reads.
        {"ac28:0x100,0xE0,1", "0:IIIIIIII", 0, 0, [](DemoPlant& p) { p.ac28().setLinkFault(true); },
         "state 3 (NOT ANSWERING)"},
        {"ac28:0x100,0xE0,1", "2:AAAAAAAA", 0, 0, [](DemoPlant& p) { p.ac28().setAccessRefused(2, true); },
         "state 3 (NOT ANSWERING)"},
    };
    for (const auto& c : cases) {
        for (const char* command : {"read", "write"}) {
            const bool write = std::string(command) == "write";
            if (write && !c.writeTrack)
                continue;
            DemoPlant plant;
            c.fault(plant);
            std::vector<std::string> arguments{command, "--sim", c.card, write ? c.writeTrack : c.readTrack};
            if (write)
                arguments.push_back(c.value);
            const ToolRun run = runTool(arguments, &plant);
            const std::vector<std::string> lines = linesOf(run.out);
            EXPECT_EQ(Tavex::Tool::ExitTrackState, run.code) << words(arguments) << ": " << run.err;
            EXPECT_EQ(c.state, write ? lastLine(run.out)
                                     : lines.size() < 2 ? std::string("(no state)") : lines[lines.size() - 2])
                << words(arguments) << ":\n" << run.out;
        }
    }
}

TEST(ToolJson, OneDocumentOrOneObjectPerScan) {
    DemoPlant plant;
    const ToolRun write = runTool({"--json", "write", "--sim", "genius:0x3E0,0xD0000", "9:AAUU", "2=50%"}, &plant);
    EXPECT_EQ(0, write.code) << write.err;
    EXPECT_EQ("{\"card\":\"genius:0x3E0,0xD0000\",\"description\":\"GE-MicroGENI at 0x3E0, memory 0xD0000\","
              "\"track\":\"9:AAUU\",\"state\":0,\"state_text\":\"ok\",\"written\":[{\"point\":2,\"type\":"
              "\"U\",\"value\":1073741824},{\"point\":3,\"type\":\"U\",\"value\":0}]}\n",
              write.out);
    // The note about point 3 goes to the error stream, not into the JSON.
    EXPECT_EQ("tavex: outputs not named are written as 0: point 3\n", write.err);

    const ToolRun watch = runTool({"watch", "--sim", "--json", "--count", "2", "dummy", "0:IU"}, &plant);
    EXPECT_EQ(0, watch.code) << watch.err;
    const std::string track =
        "{\"card\":\"dummy\",\"description\":\"DUMMY\",\"track\":\"0:IU\",\"state\":0,\"state_text\":"
        "\"ok\",\"points\":[{\"point\":0,\"type\":\"I\",\"value\":0},{\"point\":1,\"type\":\"U\","
        "\"value\":null}]}";
    EXPECT_EQ("{\"scan\":1,\"t\":0.000,\"tracks\":[" + track + "]}\n{\"scan\":2,\"t\":0.100,\"tracks\":[" +
                  track + "]}\n",
              watch.out);

    const ToolRun info = runTool({"info", "--json", "pc7166:0x340"});
    EXPECT_EQ(0, info.code);
    EXPECT_NE(std::string::npos,
              info.out.find(",\"counters\":{\"text\":\"signed counts; a preset is 24 bits: -8388608 to "
                            "8388607 (R counts the other way)\",\"min\":-8388608,\"max\":8388607,\"step\":1}"));
}

TEST(ToolWatch, ChangesOnlyWithTheTimeOfDay) {
    DemoPlant plant;
    const ToolRun run = runTool({"watch", "--sim", "--changes", "--count", "3", "--rate", "5",
                                 "ac28:0x100,0xE0,1", "2:AAAAAAAA"},
                                &plant);
    EXPECT_EQ(0, run.code) << run.err;
    std::string expected = "AC28 at 0x100, reset port 0xE0, track 2:AAAAAAAA\n"
                           "2026-12-08T10:32:14.000Z  scan 1  2:AAAAAAAA  state 0 (ok)\n"
                           "2026-12-08T10:32:14.000Z  scan 1  2:AAAAAAAA  point 0 A 1071644672 (+49.9%)\n";
    for (int point = 1; point < 8; ++point)
        expected += "2026-12-08T10:32:14.000Z  scan 1  2:AAAAAAAA  point " + std::to_string(point) +
                    " A 0 (+0.0%)\n";
    expected += "2026-12-08T10:32:14.200Z  scan 2  2:AAAAAAAA  point 0 A 1071644672 -> 1063256064 (+49.5%)\n"
                "2026-12-08T10:32:14.400Z  scan 3  2:AAAAAAAA  point 0 A 1063256064 -> 1054867456 (+49.1%)\n";
    EXPECT_EQ(expected,
              run.out);

    DemoPlant other;
    other.ktx().setEntryGood(1, false);
    const ToolRun json = runTool({"watch", "--sim", "--changes", "--json", "--count", "2",
                                  "ktx:0xC8000,,0xFE", "4:IIIIIIII"},
                                 &other);
    std::string changes = "{\"scan\":1,\"t\":0.000,\"time\":\"2026-12-08T10:32:14.000Z\",\"changes\":["
                          "{\"track\":\"4:IIIIIIII\",\"state_from\":null,\"state_to\":3}";
    for (int point = 0; point < 8; ++point)
        changes += ",{\"track\":\"4:IIIIIIII\",\"point\":" + std::to_string(point) +
                   ",\"type\":\"I\",\"from\":null,\"to\":0}";
    EXPECT_EQ(changes + "]}\n", json.out)
        << json.err;   // the second scan changed nothing: no object
}

TEST(ToolColour, OnATerminalUnlessNoColourOrNever) {
    const struct {
        bool terminal;
        const char* color;
        bool noColor;
        bool coloured;
    } cases[] = {
        {true, "auto", false, true},   {true, "auto", true, false},  {true, "never", false, false},
        {true, "always", true, true},  {false, "auto", false, false},
    };
    for (const auto& c : cases) {
        DemoPlant plant;
        plant.ktx().setEntryGood(1, false);
        const ToolRun run = runTool({"watch", "--sim", "--color", c.color, "--count", "1",
                                     "ktx:0xC8000,,0xFE", "4:IIIIIIII"},
                                    &plant, c.terminal, 80,
                                    [&](Environment& e) { e.noColor = c.noColor; });
        const std::string where = std::string(c.color) + (c.terminal ? " terminal" : " pipe") +
                                  (c.noColor ? " NO_COLOR" : "");
        EXPECT_EQ(0, run.code) << where << ": " << run.err;
        EXPECT_EQ(c.coloured, count(run.out, "\x1b[1;30;43m3 NOT ANSWERING\x1b[0m") == 1) << where;
        EXPECT_NE(std::string::npos, run.out.find("NOT ANSWERING")) << where;
    }
}

TEST(ToolDemo, TheTableFitsATerminalOfEightyColumns) {
    const ToolRun run = runTool({"demo", "--seconds", "1"}, 0, true, 80);
    EXPECT_EQ(0, run.code) << run.err;
    // Two lines a track: 3 + 1 + 2 * 15 + 2 lines a frame, each frame over the last.
    EXPECT_EQ(9u, count(run.out, "\x1b[36A"));
    std::string plain;
    for (std::size_t i = 0; i < run.out.size(); ++i) {
        if (run.out[i] == '\x1b') {
            while (i < run.out.size() && !(run.out[i] >= '@' && run.out[i] <= '~' && run.out[i] != '['))
                ++i;
            continue;
        }
        plain += run.out[i];
    }
    const std::vector<std::string> lines = linesOf(plain);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)   // all but the summary after the table
        EXPECT_GE(80u, lines[i].size()) << lines[i];
}

TEST(ToolOutput, OutputThatCannotBeWrittenIsAFailure) {
    const std::vector<std::vector<std::string> > cases = {
        {"read", "--sim", "ac5:0x300", "0:IIIIIIII"},
        {"write", "--sim", "ac5:0x300", "1:OOOOOOOO", "0=1"},
        {"watch", "--sim", "--count", "0", "dummy", "0:I"},   // would go on for ever
        {"pci", "--sim", "-n"},
        {"info", "ac5"},
        {"demo", "--seconds", "1"},
        {"--help"},
    };
    for (const auto& arguments : cases) {
        DemoPlant plant;
        std::vector<std::string> all(1, "tavex");
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : all)
            argv.push_back(&word[0]);
        Environment environment;
        environment.plant = &plant;
        environment.realSleep = [](unsigned long) {};
        std::ostream full(nullptr);   // every write fails, as on a full disk
        std::ostringstream err;
        const int code =
            Tavex::Tool::runTavexTool(static_cast<int>(all.size()), argv.data(), full, err, environment);
        EXPECT_EQ(Tavex::Tool::ExitRefused, code) << words(arguments);
        EXPECT_EQ("tavex: cannot write to standard output", lastLine(err.str())) << words(arguments);
    }
}

TEST(ToolWarnings, DecimalPortsAreSaidBack) {
    const struct {
        std::vector<std::string> arguments;
        const char* err;
    } cases[] = {
        {{"read", "--sim", "ac5:768", "0:IIIIIIII"},
         "tavex: warning: base port '768' is decimal: 0x300 (write 0x768 for hexadecimal)\n"},
        {{"read", "--sim", "-q", "ac5:768", "0:IIIIIIII"}, ""},
        {{"read", "--sim", "ac5:0x300", "0:IIIIIIII"}, ""},
        {{"read", "--sim", "lpt:888", "0:OOOOOOOOIIIIIIIII"},
         "tavex: warning: base port '888' is decimal: 0x378 (write 0x888 for hexadecimal)\n"},
    };
    for (const auto& c : cases) {
        const ToolRun run = runTool(c.arguments);
        EXPECT_EQ(0, run.code) << words(c.arguments) << ": " << run.err;
        EXPECT_EQ(c.err, run.err) << words(c.arguments);
    }
    // The port the library then refuses is the decimal one; the warning says why.
    const ToolRun wrong = runTool({"read", "--sim", "ac5:300", "0:IIIIIIII"});
    EXPECT_EQ(Tavex::Tool::ExitRefused, wrong.code);
    EXPECT_EQ("tavex: warning: base port '300' is decimal: 0x12C (write 0x300 for hexadecimal)\n"
              "tavex: AC5 card: invalid base IO port number specified.\n",
              wrong.err);
}

TEST(ToolInfo, WhatEachCardTakes) {
    const ToolRun ac28 = runTool({"info", "ac28:0x100,0xE0,1"});
    EXPECT_EQ(0, ac28.code);
    EXPECT_EQ(ac28.out, runTool({"info", "ac28"}).out);
    for (const char* line :
         {"ac28: Opto 22 AC28 adapter\n", "  CARD            ac28:PORT,RESETPORT,LEVEL\n",
          "  analog inputs   12-bit offset binary (code 0x800 reads as 0): the value is (code - 0x800) * 0x100000\n",
          "  side effects    building the card resets the brainboards: a 30 ms pulse"})
        EXPECT_NE(std::string::npos, ac28.out.find(line)) << line;
    const ToolRun dummy = runTool({"info", "dummy"});
    EXPECT_NE(std::string::npos, dummy.out.find("  side effects    none: it touches no hardware\n"));

    // Every subcommand that builds cards lists what each one does to the plant.
    for (const char* command : {"read", "write", "watch"}) {
        const ToolRun help = runTool({command, "--help"});
        for (const char* effect : {"  ac28: building the card resets", "  pc7166: building a track presets",
                                   "  ktx: building the card loads", "  pfb: building the card brings"})
            EXPECT_NE(std::string::npos, help.out.find(effect)) << command << ": " << effect;
    }
}
