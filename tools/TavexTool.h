// The tavex command-line tool: its subcommands pci, read, write, watch,
// info and demo, run in-process on the streams given.  The program tavex
// only calls runTavexTool; the tests drive it the same way.
#ifndef TAVEX_TOOLS_TAVEXTOOL_H
#define TAVEX_TOOLS_TAVEXTOOL_H

#include <chrono>
#include <functional>
#include <ostream>

namespace Tavex {
namespace Tool {

class DemoPlant;

// Stable: scripts test them.
enum ExitCode {
    ExitDone = 0,
    ExitRefused = 1,      // the library refused or failed (its text is printed), or the
                          // output could not be written
    ExitUsage = 2,        // the command line is wrong, a value does not fit its point, or
                          // --yes is missing: nothing was done
    ExitTrackState = 3    // read / write done, but the track state is not 0
};

// Where the tool runs.
struct Environment {
    Environment();
    // The output is a terminal: tables are redrawn in place, and runs on the
    // simulated PC keep pace with real time.
    bool terminal;
    // Waits for real, in milliseconds: the pace of watch, and of a
    // simulated demo in a terminal.
    std::function<void(unsigned long)> realSleep;
    // A steady clock in milliseconds, for the pace of watch.
    std::function<unsigned long()> steadyMs;
    // The time of day, for watch --changes.
    std::function<std::chrono::system_clock::time_point()> wallClock;
    // The plant that --sim and demo run on; null: a fresh one for each run.
    DemoPlant* plant;
    // NO_COLOR is set (and not empty): no colour unless --color=always.
    bool noColor;
    // The terminal's width (80 where it is not known or not a terminal).
    unsigned columns;
};

// Whether out is standard output and that is a terminal (on Windows, a
// console that takes escape sequences).
bool isTerminal(const std::ostream& out);
// The width of the terminal on standard output, else COLUMNS, else 80.
unsigned terminalColumns();

// argv[0] is the program's name.  Returns the exit status.
int runTavexTool(int argc, char** argv, std::ostream& out, std::ostream& err);
int runTavexTool(int argc, char** argv, std::ostream& out, std::ostream& err,
                 const Environment& environment);

}  // namespace Tool
}  // namespace Tavex

#endif
