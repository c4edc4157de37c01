// Every subcommand on the demo plant: read sees what the field shows, write
// reaches the field, watch and demo go on by themselves into a stream that
// is no terminal and keep pace with real time in one, pci lists the plant's
// functions.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "DemoPlant.h"
#include "PciList.h"
#include "ToolRun.h"
#include "tavex/platform/Platform.h"
#include "tavex/sim/Machine.h"

using Tavex::Tool::DemoPlant;
using Tavex::Sim::PCI72xxBoard;

TEST(ToolRead, EveryCardOnThePlantReadsItsField) {
    const struct {
        const char* card;
        const char* track;
        std::function<void(DemoPlant&)> field;
        const char* values;
        const char* state;
    } cases[] = {
        {"ac5:0x300", "2:IIIIIIII", [](DemoPlant& p) { p.ac5().setInputLines(2, 0x5A); },
         "values 1,0,1,0,0,1,0,1", "state 0 (ok)"},
        // Photo-eye 0 sees the first bottle of the line.
        {"ac5:0x300", "0:IIIIIIII", [](DemoPlant&) {}, "values 1,0,0,0,0,0,0,0", "state 0 (ok)"},
        {"pci72xx:0", "0:IIIIIIIIOOOOOOOOIIIIIIII",
         [](DemoPlant& p) { p.pci7248().setInputLevels(0, PCI72xxBoard::PortC, 0xF0); },
         "values 0,0,0,0,0,0,0,0,-,-,-,-,-,-,-,-,1,1,1,1,0,0,0,0", "state 0 (ok)"},
        // The test plug loops the data lines, low since power-up, to the status lines.
        {"lpt:LPT1", "0:OOOOOOOOIIIIIIIII", [](DemoPlant& p) { p.lpt().setPinLevel(14, false); },
         "values -,-,-,-,-,-,-,-,0,1,0,0,1,1,1,1,1", "state 0 (ok)"},
        {"lpt:0x378", "0:OOOOOOOOOOOOIIIII", [](DemoPlant&) {}, "values -,-,-,-,-,-,-,-,-,-,-,-,1,1,1,1,1",
         "state 0 (ok)"},
        {"pc7166:0x340", "0:CR", [](DemoPlant&) {}, "values 0,-1", "state 0 (ok)"},
        {"ac28:0x100,0xE0,1", "0:IIIIIIII", [](DemoPlant& p) { p.ac28().setInput(0, 5, true); },
         "values 0,0,0,0,0,1,0,0", "state 0 (ok)"},
        {"ktx:0xC8000,,0xFE", "6:IIIIIIII", [](DemoPlant& p) { p.ktx().setInputs(6, 0x81); },
         "values 1,0,0,0,0,0,0,1", "state 0 (ok)"},
        {"ktx:0xC8000,,0xFE", "4:IIIIIIII", [](DemoPlant& p) { p.ktx().setEntryGood(1, false); },
         "values 0,0,0,0,0,0,0,0", "state 3 (NOT ANSWERING)"},
        // Station 9 sends a steady half-scale pressure as its word 1.
        {"genius:0x3E0,0xD0000", "9:UA", [](DemoPlant&) {}, "values -,1073741824", "state 0 (ok)"},
        {"pfb:/opt/pfb/,0,0", "0xC0000:IIIIIIII",
         [](DemoPlant& p) { p.pfb().setInput(DemoPlant::PanelSlave, 0, 0x24); },
         "values 0,0,1,0,0,1,0,0", "state 0 (ok)"},
        {"pfb:/opt/pfb/,0,0", "0xC0000:IIIIIIII",
         [](DemoPlant& p) { p.pfb().setAnswering(DemoPlant::PanelSlave, false); },
         "values 0,0,0,0,0,0,0,0", "state 3 (NOT ANSWERING)"},
        {"dummy", "7:IOU", [](DemoPlant&) {}, "values 0,-,-", "state 0 (ok)"},
    };
    for (const auto& c : cases) {
        DemoPlant plant;
        c.field(plant);
        const ToolRun run = runTool({"read", "--sim", c.card, c.track}, &plant);
        const std::string where = std::string(c.card) + " " + c.track + ": " + run.err;
        const std::vector<std::string> lines = linesOf(run.out);
        if (lines.size() < 3) {
            ADD_FAILURE() << "too few lines: " << where;
            continue;
        }
        EXPECT_EQ(c.values, lines.back()) << where;
        EXPECT_EQ(c.state, lines[lines.size() - 2]) << where;
        const std::string letters = std::string(c.track).substr(std::string(c.track).find(':') + 1);
        // A header, rows of eight points, what '-' means where there is one,
        // the state, the values.
        const std::string values = std::string(c.values).substr(7) + ",";
        const bool unread = values.find("-,") == 0 || values.find(",-,") != std::string::npos;
        EXPECT_EQ(3 + (letters.size() + 7) / 8 + unread, lines.size()) << where;
        EXPECT_EQ(std::string(c.state) == "state 0 (ok)" ? 0 : 3, run.code) << where;
        EXPECT_EQ("", run.err) << where;
    }
}

TEST(ToolWrite, ValuesReachTheFieldSide) {
    const struct {
        const char* card;
        const char* track;
        const char* values;
        std::function<bool(DemoPlant&)> reached;
    } cases[] = {
        {"ac5:0x300", "1:OOOOOOOO", "1,0,1,0,0,0,0,1",
         [](DemoPlant& p) { return p.ac5().drivenLevels(1) == 0x7A; }},
        {"pci72xx:0", "0:IIIIIIIIOOOOOOOOIIIIIIII", "0,0,0,0,0,0,0,0,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0",
         [](DemoPlant& p) { return p.pci7248().drivenLevels(0, PCI72xxBoard::PortB) == 0xF0; }},
        {"lpt:LPT1", "0:OOOOOOOOIIIIIIIII", "1,1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0",
         [](DemoPlant& p) { return !p.lpt().pinLevel(2) && !p.lpt().pinLevel(3) && p.lpt().pinLevel(4); }},
        {"pc7166:0x340", "0:C", "123456", [](DemoPlant& p) { return p.pc7166().count(0) == 123456; }},
        {"pc7166:0x340", "1:R", "0", [](DemoPlant& p) { return p.pc7166().count(1) == 0xFFFFFF; }},
        {"ac28:0x100,0xE0,1", "1:OOOOOOOO", "1,0,0,0,0,0,0,1",
         [](DemoPlant& p) { return p.ac28().outputsOn(1) == 0x81; }},
        {"ac28:0x100,0xE0,1", "2:AAAAAAAAUUUUUUUU", "0,0,0,0,0,0,0,0,0x40000000,0,0,0,0,0,0,-0x80000000",
         [](DemoPlant& p) { return p.ac28().outputCode(2, 8) == 0x400 && p.ac28().outputCode(2, 15) == 0x800; }},
        {"ktx:0xC8000,,0xFE", "3:OOOOOOOO", "0,1,0,0,0,0,0,0",
         [](DemoPlant& p) { return p.ktx().outputs(3) == 0x02; }},
        {"genius:0x3E0,0xD0000", "3:IIIIIIIIOOOOOOOO", "0,0,0,0,0,0,0,0,1,0,1,0,0,1,0,1",
         [](DemoPlant& p) { return p.genius().outputByte(DemoPlant::PanelStation, 1) == 0xA5; }},
        {"genius:0x3E0,0xD0000", "9:AAUU", "0,0,0x7FFF0000,-65536",
         [](DemoPlant& p) {
             return p.genius().outputWord(DemoPlant::AnalogStation, 2) == 0x7FFF &&
                    p.genius().outputWord(DemoPlant::AnalogStation, 3) == 0xFFFF;
         }},
        {"pfb:/opt/pfb/,0,0", "0x30000:OOOOOOOO", "1,1,0,0,0,0,0,0",
         [](DemoPlant& p) { return p.pfb().output(DemoPlant::ConveyorSlave, 0) == 0x03; }},
        {"pfb:/opt/pfb/,0,0", "0xC0001:OOOOOOOO", "0,0,0,0,0,0,0,1",
         [](DemoPlant& p) { return p.pfb().output(DemoPlant::PanelSlave, 1) == 0x80; }},
    };
    for (const auto& c : cases) {
        DemoPlant plant;
        const ToolRun run = runTool({"write", "--sim", c.card, c.track, c.values}, &plant);
        const std::string where = std::string(c.card) + " " + c.track + ": " + run.err;
        EXPECT_EQ(0, run.code) << where;
        EXPECT_TRUE(c.reached(plant)) << where;
        EXPECT_EQ("state 0 (ok)", lastLine(run.out)) << where;
    }
}

TEST(ToolWatch, OneLinePerScanIntoAStreamAtTheRate) {
    DemoPlant plant;
    const unsigned long start = plant.machine().now();
    const ToolRun run = runTool({"watch", "--sim", "--count", "3", "--rate", "5",
                                 "ac28:0x100,0xE0,1", "2:AAAAAAAA"},
                                &plant);
    EXPECT_EQ(0, run.code) << run.err;
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_EQ(4u, lines.size()) << run.out;
    EXPECT_EQ("AC28 at 0x100, reset port 0xE0, track 2:AAAAAAAA", lines[0]);
    EXPECT_EQ(0u, lines[1].find("scan 1  t=0.000s  state 0 (ok)  values "));
    EXPECT_EQ(0u, lines[3].find("scan 3  t=0.400s  state 0 (ok)  values "));
    EXPECT_NE(lines[1].substr(lines[1].find("values")), lines[3].substr(lines[3].find("values")))
        << "the tank leaks: its level must move";
    EXPECT_EQ(30u + 2 * 200, plant.machine().now() - start);   // the reset pulse, two periods
    EXPECT_EQ(2u * 200, run.realSleeps);   // at the rate asked for, also into a pipe
    EXPECT_FALSE(contains(run.out, "\x1b"));
}

TEST(ToolWatch, RedrawsInPlaceAndKeepsPaceInATerminal) {
    DemoPlant plant;
    plant.ktx().setEntryGood(1, false);
    const ToolRun run = runTool({"watch", "--sim", "--count", "4", "ktx:0xC8000,,0xFE", "4:IIIIIIIIIIIIIIII"},
                                &plant, true);
    EXPECT_EQ(0, run.code) << run.err;
    EXPECT_EQ(300u, run.realSleeps);   // 10 scans a second: three pauses between four scans
    // Each frame is a header, the time, two rows and the state; the later
    // three each go back up over the one before.
    EXPECT_EQ(3u, count(run.out, "\x1b[5A"));
    EXPECT_EQ(4u, count(run.out, "\x1b[1;30;43m3 NOT ANSWERING\x1b[0m"));
}

TEST(ToolPci, ListsThePlantsFunctionsInScanOrderWithTheCardThatReachesThem) {
    const ToolRun numeric = runTool({"pci", "--sim", "-n"});
    EXPECT_EQ(0, numeric.code);
    EXPECT_EQ("", numeric.err);
    EXPECT_EQ("00:00.0 0600: 8086:1237 (rev 02)\n"
              "00:01.0 0601: 8086:7000\n"
              "00:01.1 0101: 8086:7010\n"
              "00:0b.0 1180: 144a:7248 (rev 01)\n"
              "\ttavex CARD: pci72xx:0\n"
              "00:0c.0 0280: 133d:1000 (rev 01)\n"
              "\ttavex CARD: pfb:PREFIX,BAUD,0\n",
              numeric.out);

    const ToolRun verbose = runTool({"pci", "--sim", "-n", "-v"});
    EXPECT_EQ(0, verbose.code);
    for (const char* detail : {"00:01.1 0101: 8086:7010 (prog-if 80)\n",
                               "00:0b.0 1180: 144a:7248 (rev 01)\n\tSubsystem: 144a:7248\n",
                               "\tBAR2: 0000e001  I/O ports at e000\n\ttavex CARD: pci72xx:0\n",
                               "\tBAR0: fea00000  memory at fea00000 (32-bit), non-prefetchable\n"})
        EXPECT_TRUE(contains(verbose.out, detail)) << detail << "\nin\n" << verbose.out;
    EXPECT_EQ(0u, count(verbose.out, "BAR1: 00000000"));   // unused registers are left out

    // lspci's forms: names; names and numbers with -nn.
    const ToolRun named = runTool({"pci", "--sim"});
    const ToolRun both = runTool({"pci", "--sim", "-nn"});
    EXPECT_EQ(0, named.code);
    EXPECT_EQ(0, both.code);
    const std::vector<std::string> lines = linesOf(named.out);
    const std::vector<std::string> bothLines = linesOf(both.out);
    ASSERT_EQ(7u, lines.size());
    ASSERT_EQ(7u, bothLines.size());
    if (Tavex::Tool::PciNames().available()) {
        EXPECT_EQ("", named.err);
        EXPECT_EQ(0u, lines[0].find("00:00.0 Host bridge: "));
        EXPECT_FALSE(contains(named.out, "[8086:1237]"));
        EXPECT_EQ(0u, bothLines[0].find("00:00.0 Host bridge [0600]: "));
        EXPECT_TRUE(contains(bothLines[0], " [8086:1237] (rev 02)"));
        EXPECT_TRUE(contains(bothLines[3], " [144a:7248] (rev 01)"));
    } else {
        EXPECT_EQ(std::string(Tavex::Tool::PciNames::missing()) + "\n", named.err);
        EXPECT_EQ(numeric.out, named.out);
        EXPECT_EQ(numeric.out, both.out);
    }
}

TEST(ToolPci, MachineReadableFormAndFilters) {
    const struct {
        std::vector<std::string> arguments;
        const char* out;
    } cases[] = {
        {{"-n", "-mm"},
         "00:00.0 \"0600\" \"8086\" \"1237\" -r02 \"\" \"\"\n"
         "00:01.0 \"0601\" \"8086\" \"7000\" \"\" \"\"\n"
         "00:01.1 \"0101\" \"8086\" \"7010\" -p80 \"\" \"\"\n"
         "00:0b.0 \"1180\" \"144a\" \"7248\" -r01 \"144a\" \"7248\"\n"
         "00:0c.0 \"0280\" \"133d\" \"1000\" -r01 \"133d\" \"1000\"\n"},
        {{"-n", "-s", "0b"}, "00:0b.0 1180: 144a:7248 (rev 01)\n\ttavex CARD: pci72xx:0\n"},
        {{"-n", "-s", "00:01.1"}, "00:01.1 0101: 8086:7010\n"},
        {{"-n", "-s", ".1"}, "00:01.1 0101: 8086:7010\n"},
        {{"-n", "-s", "01:"}, ""},
        {{"-n", "-s", "0000:00:0b.0"}, "00:0b.0 1180: 144a:7248 (rev 01)\n\ttavex CARD: pci72xx:0\n"},
        {{"-n", "-s", "0001:00:0b.0"}, ""},
        {{"-n", "-d", "8086:"}, "00:00.0 0600: 8086:1237 (rev 02)\n00:01.0 0601: 8086:7000\n00:01.1 0101: 8086:7010\n"},
        {{"-n", "-d", ":1000"}, "00:0c.0 0280: 133d:1000 (rev 01)\n\ttavex CARD: pfb:PREFIX,BAUD,0\n"},
        {{"-n", "-d", "::0601"}, "00:01.0 0601: 8086:7000\n"},
        {{"-n", "-mm", "-d", "133d:1000", "-s", "0c.0"},
         "00:0c.0 \"0280\" \"133d\" \"1000\" -r01 \"133d\" \"1000\"\n"},
        {{"--json", "-s", "0b"},
         "{\"functions\":[{\"slot\":\"00:0b.0\",\"class\":\"1180\",\"vendor\":\"144a\",\"device\":"
         "\"7248\",\"revision\":1,\"prog_if\":0,\"subsystem_vendor\":\"144a\",\"subsystem\":"
         "\"7248\""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments{"pci", "--sim"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(0, run.code) << words(c.arguments) << ": " << run.err;
        if (c.arguments[0] == "--json")
            EXPECT_EQ(0u, run.out.find(c.out)) << words(c.arguments) << ": " << run.out;   // names follow where known
        else
            EXPECT_EQ(c.out, run.out) << words(c.arguments);
    }
    const ToolRun json = runTool({"pci", "--sim", "--json", "-s", "0b"});
    EXPECT_TRUE(contains(json.out, ",\"card\":\"pci72xx:0\"}]}\n")) << json.out;
}

TEST(ToolDemo, EndsByItselfWithOneLinePerScan) {
    DemoPlant plant;
    const ToolRun run = runTool({"demo", "--seconds", "1"}, &plant);
    EXPECT_EQ(0, run.code) << run.err;
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_EQ(12u, lines.size());
    EXPECT_EQ("tavex demo: 10 scans of 100 ms on a simulated PC, one line each", lines[0]);
    EXPECT_EQ(0u, lines[1].find("t=0.000s  conveyor running"));
    EXPECT_EQ(0u, lines[10].find("t=0.900s  "));
    EXPECT_EQ(0u, lines[11].find("demo: 10 scans in 0.900 s of plant time, 0 bottles filled"));
    EXPECT_EQ(0u, run.realSleeps);
    EXPECT_TRUE(plant.conveyorRunning());
    EXPECT_LT(0, plant.pc7166().encoderPosition(0));
}

TEST(ToolDemo, ShowsTheFieldsTroublesAsTrackStates) {
    const ToolRun run = runTool({"demo", "--seconds", "3"});
    EXPECT_EQ(0, run.code) << run.err;
    // The rack of banks 4-7 is off its link from 1.5 s to 2.5 s; the Genius
    // bus is down from 2.0 s to 2.5 s, and its two stations come back once
    // they have logged in again.
    EXPECT_EQ(10u, count(run.out, "[state 3 (NOT ANSWERING)]"));
    EXPECT_LE(10u, count(run.out, "[state 2 (CARD OR NETWORK DOWN)]"));
    EXPECT_GE(14u, count(run.out, "[state 2 (CARD OR NETWORK DOWN)]"));
    EXPECT_TRUE(contains(run.out, "; track states seen: rack4 3, station3 2, station9 2\n"));
    EXPECT_EQ(0u, lastLine(run.out).find("demo: 30 scans in 2.900 s of plant time, 2 bottles filled"));
}

TEST(ToolDemo, RedrawsTheTableInATerminalAtTheSpeedOfTheClock) {
    const ToolRun run = runTool({"demo", "--seconds", "1"}, 0, true, 132);
    EXPECT_EQ(0, run.code) << run.err;
    EXPECT_EQ(900u, run.realSleeps);
    EXPECT_EQ(10u, count(run.out, "track          CARD                  TRACK"));
    EXPECT_EQ(9u, count(run.out, "\x1b[21A"));   // back over the 21 lines of the last frame
}

namespace {

// A PC whose platform lets no port be reached, as Linux does without iopl.
class NoPortIo : public Tavex::Sim::Machine {
public:
    std::uint8_t inByte(std::uint16_t) override { refuse(); }
    std::uint16_t inWord(std::uint16_t) override { refuse(); }
    std::uint32_t inDword(std::uint16_t) override { refuse(); }
    void outByte(std::uint16_t, std::uint8_t) override { refuse(); }
    void outWord(std::uint16_t, std::uint16_t) override { refuse(); }
    void outDword(std::uint16_t, std::uint32_t) override { refuse(); }

private:
    [[noreturn]] static void refuse() { throw std::runtime_error("port I/O is not permitted here"); }
};

}  // namespace

TEST(ToolPci, WherePortIoIsRefusedItSaysWhyAndPointsAtTheSimulator) {
    NoPortIo machine;
    Tavex::Platform* previous = Tavex::Platform::install(&machine);
    const ToolRun run = runTool({"pci", "-n"});
    Tavex::Platform::install(previous);
    EXPECT_EQ(Tavex::Tool::ExitRefused, run.code);
    EXPECT_EQ("tavex: port I/O is not permitted here\n"
              "(tavex pci --sim lists the functions of the demo plant instead)\n",
              run.err);
}
