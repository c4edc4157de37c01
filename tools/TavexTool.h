// The tavex command-line tool: its subcommands pci, read, write, watch and
// demo, run in-process on the streams given.  The program tavex only calls
// runTavexTool; the tests drive it the same way.
#ifndef TAVEX_TOOLS_TAVEXTOOL_H
#define TAVEX_TOOLS_TAVEXTOOL_H

#include <functional>
#include <ostream>

namespace Tavex {
namespace Tool {

class DemoPlant;

enum ExitCode {
    ExitDone = 0,
    ExitRefused = 1,      // the library refused or failed; its text is printed
    ExitUsage = 2,        // the command line is wrong
    ExitTrackState = 3    // read / write done, but the track state is not 0
};

// Where the tool runs.
struct Environment {
    Environment();
    // The output is a terminal: tables are redrawn in place, and runs on the
    // simulated PC keep pace with real time.
    bool terminal;
    // Waits for real, in milliseconds: the pace of a simulated run in a terminal.
    std::function<void(unsigned long)> realSleep;
    // The plant that --sim and demo run on; null: a fresh one for each run.
    DemoPlant* plant;
};

// Whether out is standard output and that is a terminal (on Windows, a
// console that takes escape sequences).
bool isTerminal(const std::ostream& out);

// argv[0] is the program's name.  Returns the exit status.
int runTavexTool(int argc, char** argv, std::ostream& out, std::ostream& err);
int runTavexTool(int argc, char** argv, std::ostream& out, std::ostream& err,
                 const Environment& environment);

}  // namespace Tool
}  // namespace Tavex

#endif
