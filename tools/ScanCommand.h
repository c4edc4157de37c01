// tavex scan: runs a plant's tracks in a Tavex::Scan with an empty logic for
// a while and prints the scan's figures (cycles, overruns, wake-up latency,
// scan duration): a latency test of the whole I/O path.
//
// --plant FILE runs the tracks of a plant file with its period and safe
// values, on this PC's boards (with --yes: the outputs are driven, held at
// their safe values) or with --sim on the demo plant.  --sim alone runs the
// demo plant file's tracks, with its safe values.
//
// On --sim the I/O is simulated, in-process,
// but its wake-ups are real: once the cards have started (on the plant's
// own time), the simulated PC is paced by this PC's clock, its boards do
// their work while the scan waits, and the scan sleeps as it would over
// real boards.  Where a simulated PC is already installed (the tool's
// tests) the scan keeps that PC's virtual time.
//
// Output tracks get their safe values when the scan stops: at the end, on
// SIGINT or SIGTERM, or when a card fails.
#ifndef TAVEX_TOOLS_SCANCOMMAND_H
#define TAVEX_TOOLS_SCANCOMMAND_H

#include <cstdint>
#include <ostream>
#include <string>

#include "TavexTool.h"

namespace CLI {
class App;
}

namespace Tavex {
namespace Tool {

struct ScanArguments {
    ScanArguments();
    std::string plant;      // the plant file; empty: the demo plant file (--sim)
    bool sim;
    bool yes;               // consent to drive real outputs
    std::string period;     // "1ms", "250us", ...; empty: the plant's, else 1 ms
    std::string seconds;
    std::string priority;   // empty: none
    std::string cpu;        // empty: any
    bool lockMemory;
    bool bestEffort;
    bool json;
};

// The subcommand and its options, on the tool's command line.
CLI::App* addScanCommand(CLI::App& app, ScanArguments& arguments);

int scanCommand(const ScanArguments& arguments, std::ostream& out, std::ostream& err,
                const Environment& environment);

// A period: a number with an optional fraction and a unit, ns, us, ms or s;
// from 1 us to 10 s.  In nanoseconds.
std::uint64_t parsePeriod(const std::string& text);

}  // namespace Tool
}  // namespace Tavex

#endif
