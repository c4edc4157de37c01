#include "TavexTool.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "CardArguments.h"
#include "Demo.h"
#include "DemoPlant.h"
#include "OpenCard.h"
#include "PciList.h"
#include "ScanCommand.h"
#include "TrackView.h"
#include "tavex/model/IOTrack.h"
#include "tavex/platform/OSInterface.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#ifndef TAVEX_VERSION
#define TAVEX_VERSION "unknown"
#endif

namespace Tavex {
namespace Tool {

namespace {

const char* const exitCodes =
    "Exit status:\n"
    "  0  done\n"
    "  1  the library refused or failed; its message is printed\n"
    "  2  the command line is wrong\n"
    "  3  read, write: done, but the track state is not 0 (2: card or network\n"
    "     down, 3: station, slave or module not answering)\n";

const char* const trackSyntax =
    "TRACK is START:LETTERS: the starting point (decimal or 0x hex, in the card's\n"
    "own unit: port, group, bank, channel, station, or slave * 0x10000 + byte)\n"
    "and one letter per point: I digital input, O digital output, A analog input,\n"
    "U analog output, C counter, R reverse counter, N not used.\n";

const char* const simNote =
    "run on the demo plant, a simulated PC with one board of every kind, instead of "
    "this PC's hardware";

// The plant a run uses: the environment's, or one of its own while needed.
class PlantInUse {
public:
    PlantInUse(bool wanted, DemoPlant* given)
        : own_(wanted && !given ? new DemoPlant : 0), plant_(wanted ? (given ? given : own_.get()) : 0) {}
    DemoPlant* get() const { return plant_; }

private:
    std::unique_ptr<DemoPlant> own_;
    DemoPlant* plant_;
};

struct TrackCommand {
    TrackCommand() : sim(false), rate("10"), count("0") {}
    std::string card, track, values;
    bool sim;
    std::string rate, count;
};

// --rate: a number of scans per second, decimal with an optional fraction.
double parseRate(const std::string& text) {
    const std::string::size_type dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    const bool digits = !whole.empty() && whole.find_first_not_of("0123456789") == std::string::npos &&
                        (dot == std::string::npos ||
                         (!fraction.empty() &&
                          fraction.find_first_not_of("0123456789") == std::string::npos));
    const double rate = digits ? std::stod(text) : 0;
    if (!digits || !(rate > 0) || rate > 1000)
        throw UsageError("rate '" + text + "' is not a number of scans per second from 0.001 to 1000");
    return rate;
}

std::string header(const OpenCard& card, const std::string& track) {
    return card.description() + ", track " + track;
}

int readCommand(const TrackCommand& c, std::ostream& out, const Environment& env) {
    const CardArguments cardArguments = parseCard(c.card);
    const TrackArguments trackArguments = parseTrack(c.track);
    PlantInUse plant(c.sim, env.plant);
    OpenCard card(cardArguments, plant.get());
    long state;
    {
        IOTrack track(card.card(), trackArguments.start, trackArguments.letters.c_str());
        if (card.settleTime())
            OSInterface::sleep(card.settleTime());
        track.updateInputs();
        state = track.trackState();
        out << header(card, c.track) << '\n';
        for (const std::string& row : pointRows(track))
            out << row << '\n';
        out << stateText(state) << '\n' << "values " << valueList(track) << '\n';
    }
    card.close();
    return state == 0 ? ExitDone : ExitTrackState;
}

int writeCommand(const TrackCommand& c, std::ostream& out, const Environment& env) {
    const CardArguments cardArguments = parseCard(c.card);
    const TrackArguments trackArguments = parseTrack(c.track);
    const std::vector<long> values = parseValues(c.values);
    if (values.size() != trackArguments.letters.size())
        throw UsageError("VALUES has " + std::to_string(values.size()) + " values for " +
                         std::to_string(trackArguments.letters.size()) + " points");
    PlantInUse plant(c.sim, env.plant);
    OpenCard card(cardArguments, plant.get());
    long state;
    {
        IOTrack track(card.card(), trackArguments.start, trackArguments.letters.c_str());
        // An encoder card writes only the counts that changed since it last
        // read them: it must know them, or a count equal to the one it last
        // preset would silently not be written.
        if (track.hasPointOfType(IOTrack::Counter) || track.hasPointOfType(IOTrack::ReverseCounter))
            track.updateInputs();
        for (unsigned i = 0; i < track.numberOfPoints(); ++i)
            track[i] = values[i];
        track.updateOutputs();
        // An intelligent board sends the outputs on by itself; give it the
        // time before the card goes.
        if (card.settleTime())
            OSInterface::sleep(card.settleTime());
        state = track.trackState();
        out << header(card, c.track) << '\n'
            << "wrote " << valueList(track) << '\n'
            << stateText(state) << '\n';
    }
    card.close();
    return state == 0 ? ExitDone : ExitTrackState;
}

int watchCommand(const TrackCommand& c, std::ostream& out, const Environment& env) {
    const CardArguments cardArguments = parseCard(c.card);
    const TrackArguments trackArguments = parseTrack(c.track);
    const double rate = parseRate(c.rate);
    const unsigned long count = parseUnsigned(c.count, 0xFFFFFFFFu, "count");
    const unsigned long period = static_cast<unsigned long>(1000000.0 / rate + 0.5);   // us
    PlantInUse plant(c.sim, env.plant);
    OpenCard card(cardArguments, plant.get());
    {
        IOTrack track(card.card(), trackArguments.start, trackArguments.letters.c_str());
        Screen screen(out, env.terminal);
        if (!screen.terminal())
            out << header(card, c.track) << '\n';
        if (card.settleTime())
            OSInterface::sleep(card.settleTime());
        for (unsigned long n = 0; count == 0 || n < count; ++n) {
            if (n > 0) {
                OSInterface::sleep(period);
                if (c.sim && env.terminal && env.realSleep)
                    env.realSleep((period + 500) / 1000);
            }
            track.updateInputs();
            const unsigned long ms = static_cast<unsigned long>(n * (period / 1000.0) + 0.5);
            char when[64];
            std::snprintf(when, sizeof when, "scan %lu  t=%lu.%03lus", n + 1, ms / 1000, ms % 1000);
            if (screen.terminal()) {
                std::vector<std::string> lines{header(card, c.track), when};
                for (const std::string& row : pointRows(track))
                    lines.push_back(row);
                lines.push_back("state " + screen.state(track.trackState()));
                screen.frame(lines);
            } else {
                out << when << "  " << stateText(track.trackState()) << "  values "
                    << valueList(track) << std::endl;
            }
        }
    }
    card.close();
    return ExitDone;
}

int pciCommand(bool numeric, bool verbose, bool sim, std::ostream& out, std::ostream& err,
               const Environment& env) {
    PlantInUse plant(sim, env.plant);
    PciNames names;
    if (!numeric && !names.available())
        err << PciNames::missing() << '\n';
    PciListing how = {numeric, verbose};
    listPci(out, names, how);
    return ExitDone;
}

int demoCommand(const std::string& secondsText, std::ostream& out, const Environment& env) {
    const unsigned seconds = parseUnsigned(secondsText, 86400, "seconds");
    if (seconds == 0)
        throw UsageError("seconds must be 1 or more");
    PlantInUse plant(true, env.plant);
    runDemo(out, env, *plant.get(), seconds);
    return ExitDone;
}

void sleepForReal(unsigned long milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace

Environment::Environment() : terminal(false), realSleep(&sleepForReal), plant(0) {}

bool isTerminal(const std::ostream& out) {
    if (&out != &std::cout)
        return false;
#if defined(_WIN32)
    if (!_isatty(_fileno(stdout)))
        return false;
    // A console shows escape sequences only once asked to.
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(console, &mode) &&
           SetConsoleMode(console, mode | 0x0004 /* ENABLE_VIRTUAL_TERMINAL_PROCESSING */);
#else
    return isatty(STDOUT_FILENO) != 0;
#endif
}

int runTavexTool(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Environment environment;
    environment.terminal = isTerminal(out);
    return runTavexTool(argc, argv, out, err, environment);
}

int runTavexTool(int argc, char** argv, std::ostream& out, std::ostream& err,
                 const Environment& environment) {
    CLI::App app("tavex: reads and writes the I/O points of the boards in this PC, or of a "
                 "simulated one",
                 "tavex");
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("tavex ") + TAVEX_VERSION);
    app.footer(std::string("CARD is one of:\n") + cardSyntax() + trackSyntax + "\n" + exitCodes);

    bool numeric = false, verbose = false, pciSim = false;
    CLI::App* pci = app.add_subcommand("pci", "list the PCI functions that the library's scan finds");
    pci->add_flag("-n,--numeric", numeric, "numbers only, no names");
    pci->add_flag("-v,--verbose", verbose,
                  "also base address registers, interrupt line and subsystem IDs");
    pci->add_flag("--sim", pciSim, simNote);
    pci->footer(exitCodes);

    TrackCommand readArgs, writeArgs, watchArgs;
    CLI::App* read = app.add_subcommand("read", "build the card and a track, read its inputs once");
    CLI::App* write =
        app.add_subcommand("write", "build the card and a track, write its outputs once");
    CLI::App* watch = app.add_subcommand(
        "watch", "build the card and a track and keep reading it: in a terminal the table is "
                 "redrawn in place, elsewhere one line per scan");
    for (auto& [command, args] : {std::pair<CLI::App*, TrackCommand*>{read, &readArgs},
                                  {write, &writeArgs}, {watch, &watchArgs}}) {
        command->add_option("CARD", args->card, "the card, e.g. ac5:0x300")->required()->type_name("");
        command->add_option("TRACK", args->track, "the track, e.g. 0:IIIIIIII")
            ->required()
            ->type_name("");
        if (command == write)
            command->add_option("VALUES", args->values,
                                "one value per point, separated by commas, e.g. 1,0,0,1 "
                                "(decimal or 0x hex, negative allowed; inputs are ignored)")
                ->required()
                ->type_name("");
        command->add_flag("--sim", args->sim, simNote);
        command->footer(std::string("CARD is one of:\n") + cardSyntax() + trackSyntax + "\n" +
                        exitCodes);
    }
    watch->add_option("--rate", watchArgs.rate, "scans per second (default 10)")->type_name("HZ");
    watch->add_option("--count", watchArgs.count, "stop after N scans (default: go on until stopped)")
        ->type_name("N");

    std::string seconds = "6";
    CLI::App* demo = app.add_subcommand(
        "demo", "run a bottling line on the demo plant, a simulated PC with one board of every "
                "kind, and show every track; it ends by itself");
    demo->add_option("--seconds", seconds, "how long, in seconds of plant time (default 6)")
        ->type_name("N");
    demo->footer(exitCodes);

    ScanArguments scanArgs;
    CLI::App* scan = addScanCommand(app, scanArgs);

    // A mistyped subcommand would otherwise be reported as a missing one.
    if (argc > 1 && argv[1][0] != '-') {
        const std::string word = argv[1];
        bool known = false;
        for (const CLI::App* command : {pci, read, write, watch, demo, scan})
            known = known || command->get_name() == word;
        if (!known) {
            err << "tavex: unknown subcommand '" << word << "' (pci, read, write, watch, demo, scan)\n"
                << "Run with --help for more information.\n";
            return ExitUsage;
        }
    }

    std::vector<std::string> arguments;
    for (int i = argc - 1; i > 0; --i)
        arguments.push_back(argv[i]);
    try {
        app.parse(arguments);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            app.exit(e, out, err);
            return ExitDone;
        }
        err << "tavex: " << e.what() << '\n' << "Run with --help for more information.\n";
        return ExitUsage;
    }

    try {
        if (*pci)
            return pciCommand(numeric, verbose, pciSim, out, err, environment);
        if (*read)
            return readCommand(readArgs, out, environment);
        if (*write)
            return writeCommand(writeArgs, out, environment);
        if (*watch)
            return watchCommand(watchArgs, out, environment);
        if (*scan)
            return scanCommand(scanArgs, out, err, environment);
        return demoCommand(seconds, out, environment);
    } catch (const UsageError& e) {
        out.flush();
        err << "tavex: " << e.what() << '\n';
        return ExitUsage;
    } catch (const std::exception& e) {
        out.flush();
        err << "tavex: " << e.what() << '\n';
        return ExitRefused;
    }
}

}  // namespace Tool
}  // namespace Tavex
