// tavex scan on the demo plant, in the plant's virtual time: the figures in
// both forms, the outputs at 0 after every kind of end, the refusals.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "CardArguments.h"
#include "DemoPlant.h"
#include "ScanCommand.h"
#include "ToolRun.h"
#include "support/TempDir.h"

using Tavex::Tool::DemoPlant;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(ToolScan, RunsTheDemoTracksForTheSecondsAndPrintsTheFigures) {
    DemoPlant plant;
    plant.ac5().setInputLines(0, 0x0F);
    const unsigned long start = plant.machine().now();
    const ToolRun json = runTool({"scan", "--sim", "--period", "500us", "--seconds", "2", "--json"},
                                 &plant);
    EXPECT_EQ(0, json.code) << json.err;
    EXPECT_EQ("", json.err);
    EXPECT_EQ(0u, json.out.find("{\"plant\":null,\"sim\":true,\"period_ns\":500000,\"seconds\":2,\"tracks\":15,"
                                "\"clock\":\"virtual\",\"stopped_by\":\"time\",\"cycles\":4000,"
                                "\"overruns\":0,\"missed_periods\":0,\"bad_cycles\":0,"
                                "\"latency_ns\":{\"min\":0,\"p50\":0,\"p99\":0,\"p999\":0,"
                                "\"max\":0,\"mean\":0},\"duration_ns\":{\"min\":0,"))
        << json.out;
    EXPECT_EQ(1u, linesOf(json.out).size());
    EXPECT_LE(2000ul, plant.machine().now() - start);   // and the cards' start-up before it
    EXPECT_EQ(0u, json.realSleeps);
    EXPECT_FALSE(plant.ac5().outputOn(1, 0));   // the conveyor's motor stays off

    const ToolRun text = runTool({"scan", "--sim", "--seconds", "1"}, &plant);
    EXPECT_EQ(0, text.code) << text.err;
    const std::vector<std::string> lines = linesOf(text.out);
    ASSERT_EQ(5u, lines.size()) << text.out;
    EXPECT_EQ("tavex scan: 15 tracks of the demo plant (simulated PC, virtual time), period 1 ms, "
              "1 s",
              lines[0]);
    EXPECT_EQ("cycles 1000  overruns 0  missed periods 0  bad cycles 0", lines[1]);
    EXPECT_EQ("microseconds            min       p50       p99     p99.9       max      mean",
              lines[2]);
    EXPECT_EQ("wake-up latency       0.000     0.000     0.000     0.000     0.000     0.000",
              lines[3]);
    EXPECT_EQ(0u, lines[4].find("scan duration "));
}

std::atomic<int> strayInterrupts(0);
extern "C" void countInterrupt(int) { ++strayInterrupts; }

// SIGINT, as Ctrl-C sends it, ends the scan with the outputs at 0.  The
// test's own handler is there before and after the run, so that an
// interrupt that comes after the scan ended does not end the test program.
TEST(ToolScan, ASignalStopsTheScanToItsSafeValues) {
    DemoPlant plant;
    void (*const previous)(int) = std::signal(SIGINT, countInterrupt);
    std::atomic<bool> finished(false);
    std::thread interrupter([&] {
        // Long enough for the scan to have started; the run is a day long.
        for (int i = 0; i < 50 && !finished.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        while (!finished.load()) {
            std::raise(SIGINT);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const ToolRun run = runTool({"scan", "--sim", "--seconds", "86400"}, &plant);
    finished = true;
    interrupter.join();
    EXPECT_EQ(0, run.code) << run.err;
    EXPECT_TRUE(contains(linesOf(run.out).at(0), ", stopped by SIGINT")) << run.out;
    EXPECT_FALSE(plant.ac5().outputOn(1, 0));
    // The tool's handler is gone with the scan.
    EXPECT_EQ(&countInterrupt, std::signal(SIGINT, previous));
}

TEST(ToolScan, RealTimeRequestsAreAskedOfThePlatform) {
    DemoPlant plant;
    const ToolRun granted =
        runTool({"scan", "--sim", "--seconds", "1", "--priority", "80", "--cpu", "1",
                 "--lock-memory"},
                &plant);
    EXPECT_EQ(0, granted.code) << granted.err;
    EXPECT_EQ(80, plant.machine().realTimePriority());
    EXPECT_EQ(1, plant.machine().threadCpu());
    EXPECT_TRUE(plant.machine().memoryLocked());

    plant.machine().faults().realTimeRefused = true;
    const std::string why = std::system_category().message(1);
    const ToolRun refused = runTool({"scan", "--sim", "--seconds", "1", "--priority", "80"}, &plant);
    EXPECT_EQ(1, refused.code);
    EXPECT_EQ("", refused.out);
    EXPECT_EQ("tavex: Tavex::Scan: real-time priority 80 refused: " + why + "\n", refused.err);
    const ToolRun warned = runTool(
        {"scan", "--sim", "--seconds", "1", "--priority", "80", "--best-effort"}, &plant);
    EXPECT_EQ(0, warned.code);
    EXPECT_EQ("tavex: warning: Tavex::Scan: real-time priority 80 refused: " + why +
                  "; running without it\n",
              warned.err);
}

TEST(ToolScan, RefusesAWrongCommandLine) {
    DemoPlant plant;
    const struct {
        std::vector<std::string> arguments;
        const char* error;
    } cases[] = {
        {{"scan", "--period", "1ms"}, "tavex: scan needs --plant FILE, --sim, or both"},
        {{"scan", "--plant", "line.toml"},
         "tavex: scan --plant drives the outputs of this PC's boards (it holds them at their "
         "safe values); add --yes to let it, or --sim for the demo plant"},
        {{"scan", "--sim", "--period", "5"},
         "tavex: period '5' is not a time from 1us to 10s with its unit (ns, us, ms or s), e.g. 1ms"},
        {{"scan", "--sim", "--period", "999ns"},
         "tavex: period '999ns' is not a time from 1us to 10s with its unit (ns, us, ms or s), "
         "e.g. 1ms"},
        {{"scan", "--sim", "--seconds", "0"}, "tavex: seconds must be 1 or more"},
        {{"scan", "--sim", "--priority", "100"}, "tavex: priority "},
    };
    for (const auto& c : cases) {
        const ToolRun run = runTool(c.arguments, &plant);
        EXPECT_EQ(2, run.code) << c.error;
        EXPECT_EQ(0u, run.err.find(c.error)) << run.err;
        EXPECT_EQ("", run.out);
    }
}

// A plant file on the demo plant: its tracks, its period, its safe values
// at the end; a file the plant library refuses is its error, exit 1.
TEST(ToolScan, RunsAPlantFilesTracksWithItsPeriodAndSafeValues) {
    TempDir folder;
    const std::string text = "period = \"20ms\"\n"
                             "[cards.line]\ncard = \"ac5:0x300\"\n"
                             "[tracks.eyes]\ncard = \"line\"\ntrack = \"0:IIIIIIII\"\n"
                             "[tracks.motors]\ncard = \"line\"\ntrack = \"1:OOOOOOOO\"\n"
                             "safe = [1, 0, 0, 0, 0, 0, 0, 1]\n";
    const std::string file =
        folder.write("line.toml", std::vector<std::uint8_t>(text.begin(), text.end()));
    DemoPlant plant;
    const ToolRun run =
        runTool({"scan", "--plant", file, "--sim", "--seconds", "1", "--json"}, &plant);
    EXPECT_EQ(0, run.code) << run.err;
    EXPECT_EQ(0u, run.out.find("{\"plant\":\"" + file + "\",\"sim\":true,\"period_ns\":20000000,"
                               "\"seconds\":1,\"tracks\":2,\"clock\":\"virtual\","
                               "\"stopped_by\":\"time\",\"cycles\":50,"))
        << run.out;
    EXPECT_TRUE(plant.ac5().outputOn(1, 0));   // held at, and left at, the safe values
    EXPECT_TRUE(plant.ac5().outputOn(1, 7));
    EXPECT_FALSE(plant.ac5().outputOn(1, 1));

    const ToolRun faster = runTool(
        {"scan", "--plant", file, "--sim", "--seconds", "1", "--period", "5ms"}, &plant);
    EXPECT_EQ(0, faster.code) << faster.err;
    EXPECT_EQ("tavex scan: 2 tracks of " + file +
                  " on the demo plant (simulated PC, virtual time), period 5 ms, 1 s",
              linesOf(faster.out).at(0));
    EXPECT_EQ("cycles 200  overruns 0  missed periods 0  bad cycles 0", linesOf(faster.out).at(1));

    const ToolRun missing =
        runTool({"scan", "--plant", folder.file("none.toml"), "--sim"}, &plant);
    EXPECT_EQ(1, missing.code);
    EXPECT_EQ(0u, missing.err.find("tavex: " + folder.file("none.toml") + ": ")) << missing.err;
}

TEST(ToolScan, PeriodsHaveAUnitAndMayHaveAFraction) {
    using Tavex::Tool::parsePeriod;
    const struct {
        const char* text;
        std::uint64_t ns;
    } good[] = {{"1ms", 1000000},     {"0.5ms", 500000}, {"250us", 250000},
                {"1000ns", 1000},     {"1.25s", 1250000000}, {"10s", 10000000000ull},
                {"0.001ms", 1000}};
    for (const auto& c : good)
        EXPECT_EQ(c.ns, parsePeriod(c.text)) << c.text;
    for (const char* bad : {"", "ms", "1", "1 ms", "1.ms", ".5ms", "1..5ms", "1.2.3ms", "-1ms",
                            "1m", "11s", "0.0001ms", "99999999999s", "1.0000000001s"})
        EXPECT_THROW(parsePeriod(bad), Tavex::Tool::UsageError) << bad;
}

}  // namespace
