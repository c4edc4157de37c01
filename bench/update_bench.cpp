// The cost of one scan (updateInputs of every track, then updateOutputs of
// every track) of each card on the simulated machine, against a
// hand-written loop that makes the same device accesses through the same
// seam or on the same mapped window (support/Scenes.h).
//
// Before any timing, every scene is checked: a few scans of the card and of
// the hand-written loop, each on a fresh machine, must make the same port
// accesses (port, width, value, in order), the same accesses to the mapped
// window (by offset, in order; recorded on Linux x86) and leave the client
// the same values and track states.  Every benchmark then reports, per
// scan, the port accesses and the heap allocations; the summary at the end
// gives the time of card and hand side by side, their ratio, the accesses
// per scan, and for each card the cost against the number of points.
//
// The program fails (exit status 1) when a check finds a difference, when
// a scan allocates, or when card and hand differ in port accesses per scan.
//
//   update_bench [--check-only] [--instructions=N] [benchmark options]
//
// --check-only      the check and nothing else
// --instructions=N  for valgrind --tool=callgrind: N scans of the card and N
//                   of the hand loop of every scene, each batch dumped as its
//                   own profile named "<card>/<points> card|hand"; no timing
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Measure.h"
#include "Scenes.h"

// Set by the build where valgrind's header is installed.
#if defined(TAVEX_BENCH_CALLGRIND)
#include <valgrind/callgrind.h>
#endif

namespace {

using namespace Bench;

std::string label(const ScenePlan& plan) { return plan.card + "/" + std::to_string(plan.points); }

// One benchmark: a fresh machine and scene, the steady state timed.
void run(benchmark::State& state, const ScenePlan& plan, bool hand) {
    Rig rig;
    std::unique_ptr<Scene> scene = plan.make(rig);
    Scene& s = *scene;
    const Scan scan = scanOf(hand);
    s.stir(0);
    (s.*scan)();
    const Meter meter(rig.machine);
    for (auto _ : state)
        (s.*scan)();
    const double scans = static_cast<double>(state.iterations());
    const double ports = static_cast<double>(meter.ports()) / scans;
    const std::size_t allocations = meter.allocations();
    state.counters["ports/scan"] = ports;
    state.counters["allocs/scan"] = static_cast<double>(allocations) / scans;
    if (allocations != 0)
        state.SkipWithError("a scan allocated");
}

struct Result {
    double ns = 0;   // CPU time per scan, the least of the repetitions
    double ports = 0;
    double allocations = 0;
    bool error = false;
    std::string message;
};

// The console table as usual, and every run kept for the summary.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            const std::string name = run.run_name.function_name;
            const bool first = results.count(name) == 0;
            Result& result = results[name];
            const double ns = run.GetAdjustedCPUTime();
            if (first || ns < result.ns)
                result.ns = ns;
            if (run.error_occurred) {
                result.error = true;
                result.message = run.error_message;
            }
            const auto ports = run.counters.find("ports/scan");
            if (ports != run.counters.end())
                result.ports = ports->second.value;
            const auto allocations = run.counters.find("allocs/scan");
            if (allocations != run.counters.end())
                result.allocations = std::max(result.allocations, allocations->second.value);
        }
    }
    std::map<std::string, Result> results;
};

struct Checked {
    bool same = false;
    std::size_t ports = 0;
    std::size_t memory = 0;
    bool windowed = false;
    bool memoryRecorded = false;
};

// Accesses to the mapped window in a steady scan: none without a window,
// unknown where they cannot be recorded.
std::string memoryText(const Checked& checked) {
    if (!checked.windowed)
        return "0";
    return checked.memoryRecorded ? std::to_string(checked.memory) : "-";
}

Checked check(const ScenePlan& plan) {
    const Observation card = observe(plan, false);
    const Observation hand = observe(plan, true);
    const std::string difference = Bench::difference(card, hand);
    Checked checked;
    checked.same = difference.empty();
    checked.ports = card.steadyPorts();
    checked.memory = card.steadyMemory();
    checked.windowed = card.windowed;
    checked.memoryRecorded = card.memoryRecorded;
    if (checked.same)
        std::printf("check %-28s same accesses and values as the hand loop "
                    "(a steady scan: %zu port, %s memory accesses)\n",
                    label(plan).c_str(), checked.ports, memoryText(checked).c_str());
    else
        std::printf("check %-28s DIFFERS: %s\n", label(plan).c_str(), difference.c_str());
    return checked;
}

int countInstructions(const std::vector<ScenePlan>& scenes, long scans) {
#if defined(TAVEX_BENCH_CALLGRIND)
    if (!RUNNING_ON_VALGRIND)
        std::printf("--instructions: not under valgrind; nothing is counted\n");
    for (const ScenePlan& plan : scenes) {
        Rig rig;
        std::unique_ptr<Scene> scene = plan.make(rig);
        scene->stir(0);
        scene->scanCard();
        scene->scanHand();
        const std::string card = label(plan) + " card", hand = label(plan) + " hand";
        CALLGRIND_ZERO_STATS;
        for (long i = 0; i < scans; ++i)
            scene->scanCard();
        CALLGRIND_DUMP_STATS_AT(card.c_str());
        for (long i = 0; i < scans; ++i)
            scene->scanHand();
        CALLGRIND_DUMP_STATS_AT(hand.c_str());
    }
    return 0;
#else
    (void)scenes;
    (void)scans;
    std::fprintf(stderr, "update_bench: built without valgrind/callgrind.h\n");
    return 2;
#endif
}

// Least squares line through (points, ns), and the largest relative
// distance of a measured point from it.
void printSlope(const std::string& card, const std::vector<std::pair<double, double> >& points) {
    if (points.size() < 2) {
        std::printf("  %-20s one track shape only\n", card.c_str());
        return;
    }
    double mx = 0, my = 0;
    for (const auto& p : points) {
        mx += p.first;
        my += p.second;
    }
    mx /= points.size();
    my /= points.size();
    double sxy = 0, sxx = 0;
    for (const auto& p : points) {
        sxy += (p.first - mx) * (p.second - my);
        sxx += (p.first - mx) * (p.first - mx);
    }
    const double slope = sxy / sxx;
    const double intercept = my - slope * mx;
    double worst = 0;
    for (const auto& p : points)
        worst = std::max(worst, std::fabs(p.second - (intercept + slope * p.first)) / p.second);
    std::printf("  %-20s %8.2f ns + %7.3f ns a point; farthest measurement %4.1f%% off the line\n",
                card.c_str(), intercept, slope, 100 * worst);
}

}  // namespace

int main(int argc, char** argv) {
    bool checkOnly = false;
    long instructions = 0;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check-only") == 0)
            checkOnly = true;
        else if (std::strncmp(argv[i], "--instructions=", 15) == 0)
            instructions = std::atol(argv[i] + 15);
        else
            rest.push_back(argv[i]);
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    if (benchmark::ReportUnrecognizedArguments(restCount, rest.data()))
        return 2;

    const std::vector<ScenePlan> scenes = benchmarkScenes();
    if (instructions > 0)
        return countInstructions(scenes, instructions);

    bool failed = false;
    std::map<std::string, Checked> checked;
    for (const ScenePlan& plan : scenes) {
        checked[label(plan)] = check(plan);
        failed = failed || !checked[label(plan)].same;
    }
    if (checkOnly)
        return failed ? 1 : 0;

    for (const ScenePlan& plan : scenes)
        for (const bool hand : {false, true})
            benchmark::RegisterBenchmark((label(plan) + (hand ? "/hand" : "/card")).c_str(),
                                         [plan, hand](benchmark::State& state) {
                                             run(state, plan, hand);
                                         })
                ->Unit(benchmark::kNanosecond);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    std::printf("\n%-20s %-36s %6s %9s %9s %6s %6s %7s %7s\n", "card", "tracks", "points",
                "card ns", "hand ns", "ratio", "ports", "memory", "allocs");
    std::map<std::string, std::vector<std::pair<double, double> > > costs;
    std::vector<std::string> order;
    for (const ScenePlan& plan : scenes) {
        const auto card = collector.results.find(label(plan) + "/card");
        const auto hand = collector.results.find(label(plan) + "/hand");
        if (card == collector.results.end() || hand == collector.results.end())
            continue;
        const Checked& c = checked[label(plan)];
        const Result& r = card->second;
        const Result& h = hand->second;
        std::printf("%-20s %-36s %6u %9.1f %9.1f %6.3f %6g %7s %7g\n", plan.card.c_str(),
                    plan.track.c_str(), plan.points, r.ns, h.ns, r.ns / h.ns, r.ports,
                    memoryText(c).c_str(), r.allocations);
        if (r.error || h.error) {
            std::printf("  FAILED: %s\n", (r.error ? r.message : h.message).c_str());
            failed = true;
        }
        if (r.ports != h.ports || r.ports != static_cast<double>(c.ports)) {
            std::printf("  FAILED: port accesses per scan: card %g, hand %g, checked %zu\n",
                        r.ports, h.ports, c.ports);
            failed = true;
        }
        if (costs.count(plan.card) == 0)
            order.push_back(plan.card);
        costs[plan.card].push_back(std::make_pair(double(plan.points), r.ns));
    }
    std::printf("\ncost of a card scan against its points (least squares line):\n");
    for (const std::string& card : order)
        printSlope(card, costs[card]);
    std::printf("\n%s\n", failed ? "FAILED" : "all checks passed: no allocation, the same "
                                              "accesses as the hand loops");
    return failed ? 1 : 0;
}
