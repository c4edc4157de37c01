// Tracks by name: the demo plant's file on --sim, a plant file of one's
// own with --plant, several tracks watched at once at the file's period,
// points written by name, and a bad file pointed at.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DemoPlant.h"
#include "support/TempDir.h"
#include "ToolRun.h"

using Tavex::Tool::DemoPlant;

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// Two tracks on the demo PC's AC5, scanned four times a second.
const char* const linePlant =
    "period = \"250ms\"\n"
    "[cards.line]\n"
    "card = \"ac5:0x300\"\n"
    "[tracks.eyes]\n"
    "card = \"line\"\n"
    "track = \"0:IIIIIIII\"\n"
    "points = [\"first\"]\n"
    "[tracks.lamps]\n"
    "card = \"line\"\n"
    "track = \"2:OOOOOOOO\"\n"
    "points = [\"red\", \"green\", \"horn\"]\n"
    "safe = { horn = 1 }\n";

}  // namespace

TEST(ToolPlant, TheDemoPlantsTracksByNameOnTheSimulator) {
    DemoPlant plant;
    const ToolRun read = runTool({"read", "--sim", "level-switches"}, &plant);
    EXPECT_EQ(0, read.code) << read.err;
    EXPECT_EQ("level-switches: AC28 at 0x100, reset port 0xE0, track 0:IIIIIIII\n"
              "  0-7     I 0  I 0  I 0  I 0  I 0  I 0  I 0  I 0\n"
              "state 0 (ok)\n"
              "values 0,0,0,0,0,0,0,0\n",
              read.out);

    // Points by name; the outputs not named take the file's safe values.
    const ToolRun write = runTool({"write", "--sim", "eyes", "conveyor=1", "lamp4=1"}, &plant);
    EXPECT_EQ(0, write.code) << write.err;
    EXPECT_EQ("tavex: outputs not named are written at their safe values: points 9-14\n", write.err);
    EXPECT_EQ(0x7E, plant.ac5().drivenLevels(1));   // active low: points 8 and 15 on

    const struct {
        std::vector<std::string> arguments;
        const char* error;
    } mistakes[] = {
        {{"write", "--sim", "eyes", "motor=1"},
         "tavex: no point named 'motor'; the points are eye0, eye1, eye2, eye3, filler, eye5, eye6, "
         "eye7, conveyor, nozzle, filling, lamp0, lamp1, lamp2, lamp3, lamp4"},
        {{"write", "--sim", "eyes", "filler=1"},
         "tavex: point 4 (I) is no output: write sets O, U, C and R points"},
        {{"read", "--sim", "eye"},
         "tavex: no track named 'eye' in demo-plant.toml; the tracks are eyes, encoder, "
         "level-switches, tank-valves, tank-level, cylinders, test-plug, rack2, rack4, station3, "
         "station9, slave3-in, slave3-out, slave12, scans"},
        {{"read", "--sim", "eyes", "encoder"}, "tavex: The following argument was not expected: encoder"},
        {{"write", "--sim", "eyes"}, "tavex: VALUES is required"},
    };
    for (const auto& c : mistakes) {
        const ToolRun run = runTool(c.arguments, &plant);
        EXPECT_EQ(Tavex::Tool::ExitUsage, run.code) << words(c.arguments);
        EXPECT_EQ(c.error, firstLine(run.err)) << words(c.arguments);
    }

    // Every track of the demo plant when none is named.
    const ToolRun all = runTool({"watch", "--sim", "--count", "1"}, &plant);
    EXPECT_EQ(0, all.code) << all.err;
    EXPECT_EQ(30u, linesOf(all.out).size());   // a header and a scan line for each of 15 tracks
    EXPECT_EQ(0u, all.out.find("eyes: AC5 at 0x300, track 0:IIIIIIIIOOOOOOOO\n"));
}

TEST(ToolPlant, APlantFileOfOnesOwn) {
    TempDir folder("tavex-tool-plant");
    const std::string file = folder.write("line.toml", bytesOf(linePlant));

    DemoPlant plant;
    plant.ac5().setInputLines(0, 0xFE);
    // Both tracks at once, at the file's period, one card for both.
    const ToolRun watch = runTool({"watch", "--sim", "--plant", file, "--count", "3", "lamps", "eyes"}, &plant);
    EXPECT_EQ(0, watch.code) << watch.err;
    EXPECT_EQ("lamps: AC5 at 0x300, track 2:OOOOOOOO\n"
              "eyes: AC5 at 0x300, track 0:IIIIIIII\n"
              "scan 1  t=0.000s  lamps  state 0 (ok)  values -,-,-,-,-,-,-,-\n"
              "scan 1  t=0.000s  eyes  state 0 (ok)  values 1,0,0,0,0,0,0,0\n"
              "scan 2  t=0.250s  lamps  state 0 (ok)  values -,-,-,-,-,-,-,-\n"
              "scan 2  t=0.250s  eyes  state 0 (ok)  values 1,0,0,0,0,0,0,0\n"
              "scan 3  t=0.500s  lamps  state 0 (ok)  values -,-,-,-,-,-,-,-\n"
              "scan 3  t=0.500s  eyes  state 0 (ok)  values 1,0,0,0,0,0,0,0\n",
              watch.out);
    EXPECT_EQ(500u, watch.realSleeps);

    const ToolRun write = runTool({"write", "--sim", "--plant", file, "lamps", "green=1"}, &plant);
    EXPECT_EQ(0, write.code) << write.err;
    EXPECT_EQ(0xF9, plant.ac5().drivenLevels(2));   // green, and the horn at its safe value

    const ToolRun json = runTool({"read", "--sim", "--json", "--plant", file, "eyes"}, &plant);
    EXPECT_EQ(0u, json.out.find("{\"name\":\"eyes\",\"card\":\"ac5:0x300\",\"description\":\"AC5 at 0x300\","
                                "\"track\":\"0:IIIIIIII\",\"state\":0,\"state_text\":\"ok\",\"points\":[{"
                                "\"point\":0,\"name\":\"first\",\"type\":\"I\",\"value\":1},{\"point\":1,"
                                "\"type\":\"I\",\"value\":0}"))
        << json.out;

    // Off the simulator: what each card of the tracks would do, and nothing done.
    plant.machine().setTracing(true);
    plant.machine().clearTrace();
    const ToolRun refused = runTool({"watch", "--plant", file}, &plant);
    EXPECT_EQ(Tavex::Tool::ExitUsage, refused.code);
    EXPECT_EQ("tavex: watch eyes lamps would act on the plant:\n"
              "  card line (ac5:0x300): building a track sets the direction of every port it covers: a "
              "port named as inputs lets its lines go, a port named as outputs drives them\n"
              "nothing done: give --yes (-y) to go ahead, or --sim to try it on the demo plant\n",
              refused.err);
    EXPECT_TRUE(plant.machine().trace().empty());
}

TEST(ToolPlant, ABadFileIsPointedAt) {
    TempDir folder("tavex-tool-plant");
    const std::string file = folder.write("bad.toml", bytesOf("[cards.line]\ncard = \"ac5:300x\"\n"));
    const ToolRun run = runTool({"read", "--sim", "--plant", file, "eyes"});
    EXPECT_EQ(Tavex::Tool::ExitUsage, run.code);
    EXPECT_EQ("tavex: " + file + ":2:8: base port '300x' is not a number (decimal or 0x hex)\n", run.err);

    const ToolRun missing = runTool({"read", "--sim", "--plant", folder.file("none.toml"), "eyes"});
    EXPECT_EQ(Tavex::Tool::ExitUsage, missing.code);
    EXPECT_EQ(0u, missing.err.find("tavex: " + folder.file("none.toml") + ": ")) << missing.err;
}
