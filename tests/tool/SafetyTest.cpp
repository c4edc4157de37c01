// What could move the plant: off the simulated PC nothing happens without
// --yes, and a value that does not fit its point is refused before any
// card is built.  The demo plant stands in for "real hardware" here: it is
// installed, but the tool is not told --sim.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "DemoPlant.h"
#include "ToolRun.h"

using Tavex::Tool::DemoPlant;

TEST(ToolConsent, OffTheSimulatorNothingHappensWithoutYes) {
    const struct {
        std::vector<std::string> arguments;
        const char* effect;   // the line that says what would happen
    } cases[] = {
        {{"read", "ac28:0x100,0xE0,1", "0:IIIIIIII"},
         "  building the card resets the brainboards: a 30 ms pulse that switches every output off; "
         "a track with analog outputs makes those channels outputs"},
        {{"watch", "--count", "1", "pc7166:0x340", "0:C"},
         "  building a track presets its counters to 0 (an R point then reads -1)"},
        {{"read", "ktx:0xC8000,/opt/rio/,0xFE", "2:IIIIIIII"},
         "  building the card loads and starts the scanner, which takes over the Remote I/O link (2 s "
         "or more); closing it resets the board, and the racks lose their outputs"},
        {{"read", "pfb:/opt/pfb/,0,0", "0x30000:IIIIIIII"},
         "  building the card brings the Profibus network online with the module's configuration: the "
         "slaves start exchanging data and take the outputs they are sent"},
        {{"read", "genius:0x3E0,0xD0000", "3:IIIIIIII"},
         "  building the card resets a channel that is not healthy and waits for it (up to 50 s); a "
         "track with outputs lets the station take outputs"},
        {{"read", "pci72xx:0", "0:IIIIIIIIIIIIIIIIIIIIIIII"},
         "  building a track writes its group's control word: lines that become outputs are driven "
         "low (on) until outputs are written"},
        {{"read", "lpt:LPT1", "0:OOOOOOOOIIIIIIIII"},
         "  a track with the control lines as inputs lets them go (pins 1, 14, 16 and 17 go high)"},
        {{"read", "ac5:0x300", "0:IIIIIIII"},
         "  building a track sets the direction of every port it covers: a port named as inputs lets "
         "its lines go, a port named as outputs drives them"},
        {{"write", "ac5:0x300", "1:OOOOOOOO", "3=1"}, "  write to track 1:OOOOOOOO: 0=0 1=0 2=0 3=1 4=0 5=0 6=0 7=0"},
        {{"write", "pc7166:0x340", "0:CN", "0=5"}, "  write to track 0:CN: 0=5"},
    };
    for (const auto& c : cases) {
        DemoPlant plant;
        plant.machine().setTracing(true);
        plant.machine().clearTrace();
        const ToolRun run = runTool(c.arguments, &plant);
        const std::string where = words(c.arguments) + ":\n" + run.err;
        EXPECT_EQ(Tavex::Tool::ExitUsage, run.code) << where;
        EXPECT_EQ("", run.out) << where;
        const std::vector<std::string> lines = linesOf(run.err);
        if (lines.size() < 3) {
            ADD_FAILURE() << where;
            continue;
        }
        EXPECT_EQ("tavex: " + c.arguments[0] + " " + c.arguments[c.arguments.size() - (c.arguments[0] == "write" ? 3 : 2)] +
                      " would act on the plant:",
                  lines.front())
            << where;
        EXPECT_TRUE(contains(run.err, std::string(c.effect) + "\n")) << where;
        EXPECT_EQ("nothing done: give --yes (-y) to go ahead, or --sim to try it on the demo plant",
                  lines.back())
            << where;
        // Not a port touched, not a sleep, nothing mapped.
        EXPECT_TRUE(plant.machine().trace().empty()) << where;
        EXPECT_EQ(0u, plant.machine().liveMappings()) << where;
    }
}

TEST(ToolConsent, WithYesItSaysWhatItDoesThenDoesIt) {
    {
        DemoPlant plant;
        const ToolRun run = runTool({"read", "-y", "ac28:0x100,0xE0,1", "0:IIIIIIII"}, &plant);
        EXPECT_EQ(0, run.code) << run.err;
        EXPECT_EQ("tavex: building the card resets the brainboards: a 30 ms pulse that switches every "
                  "output off; a track with analog outputs makes those channels outputs\n",
                  run.err);
        EXPECT_EQ(1u, plant.ac28().resetPulses().size());
    }
    {
        DemoPlant plant;
        const ToolRun run =
            runTool({"--yes", "write", "ac5:0x300", "0:IIIIIIIIOOOOOOOO", "9=1", "15=1"}, &plant);
        EXPECT_EQ(0, run.code) << run.err;
        EXPECT_EQ("tavex: building a track sets the direction of every port it covers: a port named as "
                  "inputs lets its lines go, a port named as outputs drives them\n"
                  "tavex: write to track 0:IIIIIIIIOOOOOOOO: 8=0 9=1 10=0 11=0 12=0 13=0 14=0 15=1\n"
                  "tavex: outputs not named are written as 0: points 8, 10-14\n",
                  run.err);
        EXPECT_EQ(0x7D, plant.ac5().drivenLevels(1));   // active low: points 1 and 7 on
        EXPECT_EQ("wrote 8=0 9=1 10=0 11=0 12=0 13=0 14=0 15=1", linesOf(run.out).at(1));
    }
    {
        // --quiet keeps the notes back, not the consent.
        DemoPlant plant;
        const ToolRun run = runTool({"write", "-q", "-y", "ac5:0x300", "1:OOOOOOOO", "0=1"}, &plant);
        EXPECT_EQ(0, run.code);
        EXPECT_EQ("", run.err);
        EXPECT_EQ("", run.out);
    }
    {
        // A card with no hardware acts on nothing.
        const ToolRun run = runTool({"write", "dummy", "0:OU", "0=1", "1=-7"});
        EXPECT_EQ(0, run.code) << run.err;
        EXPECT_EQ("", run.err);
    }
}

TEST(ToolValues, AValueThatDoesNotFitItsPointIsRefusedBeforeAnyCardIsBuilt) {
    const std::string tail = ", or a per cent of full scale such as 50%";
    const struct {
        std::vector<std::string> arguments;
        std::string error;   // the first line
    } cases[] = {
        {{"ac5:0x300", "1:OOOOOOOO", "2,0,0,0,0,0,0,0"}, "point 0 (O): 2 is not a digital value (0 or 1)"},
        {{"ac5:0x300", "1:OOOOOOOO", "3=-1"}, "point 3 (O): -1 is not a digital value (0 or 1)"},
        {{"ac5:0x300", "1:OOOOOOOO", "3=50%"},
         "point 3 (O): '50%': only analog points of a card that knows their full scale take per cent"},
        {{"genius:0x3E0,0xD0000", "9:AAUU", "2=70000"},
         "point 2 (U): 70000 does not fit the MicroGENI channel of a Genius PCIM: 16-bit word in two's "
         "complement, the value's upper half: a multiple of 0x10000 from -2147483648 to 2147418112" + tail},
        {{"genius:0x3E0,0xD0000", "9:AAUU", "0,0,2147483647,0"},
         "point 2 (U): 2147483647 does not fit the MicroGENI channel of a Genius PCIM: 16-bit word in "
         "two's complement, the value's upper half: a multiple of 0x10000 from -2147483648 to "
         "2147418112" + tail},
        {{"genius:0x3E0,0xD0000", "9:AAUU", "3=100.5%"}, "point 3 (U): '100.5%' is out of range (-100% to 100%)"},
        {{"ac28:0x100,0xE0,1", "2:UUUUUUUU", "7=0x100001"},
         "point 7 (U): 1048577 does not fit the Opto 22 AC28 adapter: 12-bit two's complement, the "
         "value's top 12 bits: a multiple of 0x100000 from -2147483648 to 2146435072" + tail},
        {{"pc7166:0x340", "0:CR", "0=8388608"},
         "point 0 (C): 8388608 does not fit the PC7166 encoder counter: signed counts; a preset is 24 "
         "bits: -8388608 to 8388607 (R counts the other way)"},
        {{"pc7166:0x340", "0:CR", "1=-8388609"},
         "point 1 (R): -8388609 does not fit the PC7166 encoder counter: signed counts; a preset is 24 "
         "bits: -8388608 to 8388607 (R counts the other way)"},
        {{"ac5:0x300", "1:OOOOOOOO", "8=1"}, "point 8 is not in the track (points 0 to 7)"},
        {{"ac5:0x300", "0:IIIIIIIIOOOOOOOO", "0=1"}, "point 0 (I) is no output: write sets O, U, C and R points"},
        {{"ac5:0x300", "1:OOOOOOOO", "3=1", "3=0"}, "point 3 is named twice"},
        {{"ac5:0x300", "1:OOOOOOOO", "x=1"}, "point 'x' is not a number (decimal or 0x hex)"},
    };
    for (const auto& c : cases) {
        DemoPlant plant;
        plant.machine().setTracing(true);
        plant.machine().clearTrace();
        std::vector<std::string> arguments{"write", "--sim"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ToolRun run = runTool(arguments, &plant);
        const std::string where = words(arguments) + ":\n" + run.err;
        EXPECT_EQ(Tavex::Tool::ExitUsage, run.code) << where;
        EXPECT_EQ("tavex: " + c.error, firstLine(run.err)) << where;
        EXPECT_EQ("", run.out) << where;
        EXPECT_TRUE(plant.machine().trace().empty()) << where;
    }
}

TEST(ToolValues, TheEdgesOfEachEncodingReachTheField) {
    const struct {
        std::vector<std::string> arguments;
        std::function<bool(DemoPlant&)> reached;
    } cases[] = {
        {{"genius:0x3E0,0xD0000", "9:AAUU", "2=2147418112", "3=-2147483648"},
         [](DemoPlant& p) {
             return p.genius().outputWord(DemoPlant::AnalogStation, 2) == 0x7FFF &&
                    p.genius().outputWord(DemoPlant::AnalogStation, 3) == 0x8000;
         }},
        {{"genius:0x3E0,0xD0000", "9:AAUU", "2=100%", "3=-100%"},
         [](DemoPlant& p) {
             return p.genius().outputWord(DemoPlant::AnalogStation, 2) == 0x7FFF &&
                    p.genius().outputWord(DemoPlant::AnalogStation, 3) == 0x8000;
         }},
        {{"genius:0x3E0,0xD0000", "9:AAUU", "2=50%", "3=-0.003%"},   // the nearest code: one step below 0
         [](DemoPlant& p) {
             return p.genius().outputWord(DemoPlant::AnalogStation, 2) == 0x4000 &&
                    p.genius().outputWord(DemoPlant::AnalogStation, 3) == 0xFFFF;
         }},
        {{"ac28:0x100,0xE0,1", "2:UUUUUUUU", "0=100%", "1=-100%", "2=0x100000", "3=25%"},
         [](DemoPlant& p) {
             return p.ac28().outputCode(2, 0) == 0x7FF && p.ac28().outputCode(2, 1) == 0x800 &&
                    p.ac28().outputCode(2, 2) == 0x001 && p.ac28().outputCode(2, 3) == 0x200;
         }},
        {{"pc7166:0x340", "0:CR", "0=-8388608", "1=8388607"},
         [](DemoPlant& p) { return p.pc7166().count(0) == 0x800000 && p.pc7166().count(1) == 0x800000; }},
    };
    for (const auto& c : cases) {
        DemoPlant plant;
        std::vector<std::string> arguments{"write", "--sim"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ToolRun run = runTool(arguments, &plant);
        EXPECT_EQ(0, run.code) << words(arguments) << ": " << run.err;
        EXPECT_TRUE(c.reached(plant)) << words(arguments);
    }
}
