#include "ScanCommand.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include <CLI/CLI.hpp>

#include "CardArguments.h"
#include "Demo.h"
#include "DemoPlant.h"
#include "DemoPlantFile.h"
#include "Json.h"
#include "OpenCard.h"
#include "tavex/model/IOTrack.h"
#include "tavex/plant/Plant.h"
#include "tavex/plant/PlantScan.h"
#include "tavex/platform/OSInterface.h"
#include "tavex/platform/Platform.h"
#include "tavex/scan/Scan.h"
#include "tavex/sim/Machine.h"

namespace Tavex {
namespace Tool {

namespace {

const char* const scanExitCodes =
    "Exit status:\n"
    "  0  done\n"
    "  1  the library refused or failed (a card, a refused real-time request); its\n"
    "     message is printed\n"
    "  2  the command line is wrong\n"
    "  3  done, but a track reported a state other than 0 in some cycle\n";

// The scan a signal stops; SIGINT and SIGTERM are caught only while it runs.
std::atomic<Scan*> signalled(nullptr);
std::atomic<int> signalSeen(0);
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler sets it");

extern "C" void stopOnSignal(int number) {
    signalSeen = number;
    if (Scan* scan = signalled.load())
        scan->stop();
}

class SignalsStopScan {
public:
    explicit SignalsStopScan(Scan& scan) {
        signalSeen = 0;
        signalled.store(&scan);
        int_ = std::signal(SIGINT, stopOnSignal);
        term_ = std::signal(SIGTERM, stopOnSignal);
    }
    ~SignalsStopScan() {
        std::signal(SIGINT, int_ == SIG_ERR ? SIG_DFL : int_);
        std::signal(SIGTERM, term_ == SIG_ERR ? SIG_DFL : term_);
        signalled.store(nullptr);
    }
    SignalsStopScan(const SignalsStopScan&) = delete;
    SignalsStopScan& operator=(const SignalsStopScan&) = delete;

private:
    void (*int_)(int);
    void (*term_)(int);
};

// The demo plant's machine for the run: no trace (it would grow by every
// access of every cycle), and from pace() on woken by the given clock.
class RunMachine {
public:
    explicit RunMachine(Sim::Machine& machine) : machine_(machine) {
        machine.setTracing(false);
    }
    ~RunMachine() {
        machine_.paceWith(0);
        machine_.setTracing(true);
    }
    RunMachine(const RunMachine&) = delete;
    RunMachine& operator=(const RunMachine&) = delete;

    void pace(Platform* clock) { machine_.paceWith(clock); }

private:
    Sim::Machine& machine_;
};

std::string microseconds(std::uint64_t ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%03llu", static_cast<unsigned long long>(ns / 1000),
                  static_cast<unsigned long long>(ns % 1000));
    return text;
}

std::string periodText(std::uint64_t ns) {
    if (ns % 1000000000u == 0)
        return std::to_string(ns / 1000000000u) + " s";
    if (ns % 1000000u == 0)
        return std::to_string(ns / 1000000u) + " ms";
    if (ns % 1000u == 0)
        return std::to_string(ns / 1000u) + " us";
    return std::to_string(ns) + " ns";
}

void printFigures(std::ostream& out, const char* label, const Scan::Figures& f) {
    char line[160];
    std::snprintf(line, sizeof line, "%-17s%10s%10s%10s%10s%10s%10s\n", label,
                  microseconds(f.min).c_str(), microseconds(f.p50).c_str(),
                  microseconds(f.p99).c_str(), microseconds(f.p999).c_str(),
                  microseconds(f.max).c_str(), microseconds(f.mean).c_str());
    out << line;
}

void jsonFigures(std::ostream& out, const char* name, const Scan::Figures& f) {
    out << '"' << name << "\":{\"min\":" << f.min << ",\"p50\":" << f.p50 << ",\"p99\":" << f.p99
        << ",\"p999\":" << f.p999 << ",\"max\":" << f.max << ",\"mean\":" << f.mean << '}';
}

}  // namespace

ScanArguments::ScanArguments()
    : sim(false), yes(false), seconds("10"), lockMemory(false), bestEffort(false), json(false) {}

std::uint64_t parsePeriod(const std::string& text) {
    const std::string::size_type unitAt = text.find_first_not_of("0123456789.");
    const std::string number = text.substr(0, unitAt);
    const std::string unit = unitAt == std::string::npos ? "" : text.substr(unitAt);
    static const std::map<std::string, std::uint64_t> units = {
        {"ns", 1}, {"us", 1000}, {"ms", 1000000}, {"s", 1000000000}};
    const std::map<std::string, std::uint64_t>::const_iterator scale = units.find(unit);
    const std::string::size_type dot = number.find('.');
    const std::string whole = number.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? "" : number.substr(dot + 1);
    const bool wellFormed = scale != units.end() && !whole.empty() && whole.size() <= 10 &&
                            fraction.find('.') == std::string::npos &&
                            (dot == std::string::npos || !fraction.empty()) &&
                            fraction.size() <= 9;
    std::uint64_t ns = 0;
    if (wellFormed) {
        ns = std::stoull(whole) * scale->second;
        std::uint64_t part = scale->second;
        for (char digit : fraction) {
            part /= 10;
            ns += static_cast<std::uint64_t>(digit - '0') * part;
        }
    }
    if (!wellFormed || ns < 1000 || ns > 10000000000ull)
        throw UsageError("period '" + text +
                         "' is not a time from 1us to 10s with its unit (ns, us, ms or s), "
                         "e.g. 1ms");
    return ns;
}

CLI::App* addScanCommand(CLI::App& app, ScanArguments& a) {
    CLI::App* scan = app.add_subcommand(
        "scan", "run a plant's tracks in a periodic scan with an empty logic and print its "
                "figures (wake-up latency, scan duration, overruns): a latency test of the I/O "
                "path");
    scan->add_option("--period", a.period,
                     "the scan's period (default: the plant file's, else 1ms)")
        ->type_name("TIME");
    scan->add_option("--seconds", a.seconds, "how long (default 10)")->type_name("N");
    scan->add_option("--priority", a.priority,
                     "run at this real-time priority, 1-99 (Linux SCHED_FIFO; Windows: a "
                     "time-critical thread)")
        ->type_name("P");
    scan->add_option("--cpu", a.cpu, "run on this processor only")->type_name("N");
    scan->add_flag("--lock-memory", a.lockMemory, "lock the process's memory (mlockall)");
    scan->add_flag("--best-effort", a.bestEffort,
                   "where a real-time request is refused, warn and run without it");
    scan->footer(scanExitCodes);
    return scan;
}

namespace {

struct Measured {
    Scan::Statistics figures;
    const char* stoppedBy;
};

// Settles the boards, switches to real time, runs the empty logic until
// the time is up or a signal comes, and takes the figures.
Measured measure(Scan& scan, unsigned long settle, RunMachine* machine, Platform* realClock,
                 const Scan::RealTime& realTime, unsigned seconds, std::ostream& err) {
    // The intelligent boards pass the first data between memory and field.
    // On the demo plant the cards started and settle on the plant's own
    // time; the scan's wake-ups, and its real-time requests, are this PC's.
    if (settle)
        OSInterface::sleep(settle);
    if (machine)
        machine->pace(realClock);
    if (realTime.priority != 0 || realTime.cpu >= 0 || realTime.lockMemory)
        for (const std::string& warning : scan.enterRealTime(realTime))
            err << "tavex: warning: " << warning << '\n';

    Platform& clock = Platform::current();
    const std::uint64_t end =
        clock.monotonicNanoseconds() + static_cast<std::uint64_t>(seconds) * 1000000000u;
    bool byTime = false;
    {
        SignalsStopScan signals(scan);
        scan.run([&] {
            if (clock.monotonicNanoseconds() >= end) {
                byTime = true;
                scan.stop();
            }
        });
    }
    if (machine)
        machine->pace(0);   // the cards go on the plant's own time
    Measured m;
    m.figures = scan.statistics();
    m.stoppedBy = byTime ? "time" : (signalSeen == SIGTERM ? "SIGTERM" : "SIGINT");
    return m;
}


}  // namespace

int scanCommand(const ScanArguments& a, std::ostream& out, std::ostream& err,
                const Environment& env) {
    if (!a.sim && a.plant.empty())
        throw UsageError("scan needs --plant FILE, --sim, or both");
    if (!a.sim && !a.yes)
        throw UsageError("scan --plant drives the outputs of this PC's boards (it holds them at "
                         "their safe values); add --yes to let it, or --sim for the demo plant");
    const unsigned seconds = parseUnsigned(a.seconds, 86400, "seconds");
    if (seconds == 0)
        throw UsageError("seconds must be 1 or more");
    Scan::RealTime realTime;
    realTime.priority =
        a.priority.empty() ? 0 : static_cast<int>(parseUnsigned(a.priority, 99, "priority"));
    realTime.cpu = a.cpu.empty() ? -1 : static_cast<int>(parseUnsigned(a.cpu, 1023, "cpu"));
    realTime.lockMemory = a.lockMemory;
    realTime.bestEffort = a.bestEffort;
    std::uint64_t period = a.period.empty() ? 0 : parsePeriod(a.period);
    // --sim alone runs the demo plant's own file.
    const std::unique_ptr<Plant> plantFile(
        a.plant.empty() ? new Plant(Plant::parse(demoPlantFile(), demoPlantFileName()))
                        : new Plant(Plant::load(a.plant)));
    if (period == 0)
        period = a.plant.empty() ? 1000000u : static_cast<std::uint64_t>(plantFile->period()) * 1000u;

    // The clock from before the demo plant: this PC's, unless a simulated
    // one is already in place.
    Platform& before = Platform::current();
    const bool realClock = dynamic_cast<Sim::Machine*>(&before) == 0;
    std::unique_ptr<DemoPlant> own;
    DemoPlant* demo = a.sim ? env.plant : 0;
    if (a.sim && !demo) {
        own.reset(new DemoPlant);
        demo = own.get();
    }
    std::unique_ptr<RunMachine> machine(demo ? new RunMachine(demo->machine()) : 0);
    Platform* const pacer = realClock ? &before : 0;
    const std::chrono::nanoseconds periodTime(static_cast<std::chrono::nanoseconds::rep>(period));

    Measured m;
    std::size_t count = 0;
    {
        PlantIO io(*plantFile, openOptions(demo));
        count = io.trackCount();
        {
            // The empty logic leaves every output at its safe value.
            io.setSafeValues();
            PlantScan scan(io, periodTime);
            m = measure(scan, io.settleTime(), machine.get(), pacer, realTime, seconds, err);
        }
        io.close();
    }

    const Scan::Statistics& figures = m.figures;
    const bool byTime = std::string(m.stoppedBy) == "time";
    if (a.json) {
        out << "{\"plant\":" << (a.plant.empty() ? std::string("null") : jsonString(a.plant))
            << ",\"sim\":" << (a.sim ? "true" : "false") << ",\"period_ns\":" << period
            << ",\"seconds\":" << seconds << ",\"tracks\":" << count << ",\"clock\":\""
            << (realClock ? "real" : "virtual") << "\",\"stopped_by\":\"" << m.stoppedBy
            << "\",\"cycles\":" << figures.cycles << ",\"overruns\":" << figures.overruns
            << ",\"missed_periods\":" << figures.missedPeriods
            << ",\"bad_cycles\":" << figures.badCycles << ',';
        jsonFigures(out, "latency_ns", figures.latency);
        out << ',';
        jsonFigures(out, "duration_ns", figures.duration);
        out << "}\n";
    } else {
        const std::string what = a.plant.empty() ? " tracks of the demo plant" : " tracks of " + a.plant;
        const std::string where =
            a.sim ? !a.plant.empty() ? " on the demo plant (simulated PC, " : " (simulated PC, "
                  : " (this PC's boards, ";
        out << "tavex scan: " << count << what << where << (realClock ? "real" : "virtual")
            << " time), period " << periodText(period) << ", " << seconds << " s"
            << (byTime ? "" : std::string(", stopped by ") + m.stoppedBy) << '\n'
            << "cycles " << figures.cycles << "  overruns " << figures.overruns
            << "  missed periods " << figures.missedPeriods << "  bad cycles "
            << figures.badCycles << '\n';
        char head[160];
        std::snprintf(head, sizeof head, "%-17s%10s%10s%10s%10s%10s%10s\n", "microseconds", "min",
                      "p50", "p99", "p99.9", "max", "mean");
        out << head;
        printFigures(out, "wake-up latency", figures.latency);
        printFigures(out, "scan duration", figures.duration);
    }
    out.flush();
    return figures.badCycles == 0 ? ExitDone : ExitTrackState;
}

}  // namespace Tool
}  // namespace Tavex
