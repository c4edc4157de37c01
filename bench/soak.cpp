// soak: a long run of scans over tracks of every card on one simulated PC,
// with resident memory measured at the start and at the end.
//
//   soak [--scans N]        (default 10000000)
//
// Every board sits on the one machine (support/Scenes.h, soakScenes); each
// scan updates every track of every card (inputs, then outputs), then
// sleeps 1 ms of virtual time, so that every board model runs as often as
// the cards scan.  Every 64th scan the field and the client's outputs move.
// The machine's trace is off, as a long-running program would keep it.
//
// After a warm-up of 1000 scans (first use of every page and every lazily
// grown buffer) the resident size is taken; after the N scans it is taken
// again, and the two must be equal within one page.  The program also
// counts the heap allocations of the scans and of the boards' ticks (none
// may happen), those of its own field changes, and the allocations still
// alive at the end.  Exit status 1 when the resident size grew by more than
// a page, when a scan or a tick allocated, or when allocations stayed alive.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "Measure.h"
#include "support/AllocationCounter.h"
#include "Scenes.h"

namespace {

using namespace Bench;

// Allocations of the scans and the boards' ticks, and those of the field
// changes the soak makes itself (some board models' field setters allocate).
struct Allocations {
    std::size_t scans = 0;
    std::size_t field = 0;
};

void scanAll(const std::vector<std::unique_ptr<Scene> >& scenes, unsigned long long scan,
             Allocations& allocations) {
    const std::size_t before = AllocationCounter::allocations();
    for (const auto& scene : scenes)
        scene->scanCard();
    Tavex::OSInterface::sleep(1000);
    const std::size_t scanned = AllocationCounter::allocations();
    allocations.scans += scanned - before;
    if (scan % 64 == 0) {
        for (const auto& scene : scenes)
            scene->stir(static_cast<unsigned>(scan / 64));
        allocations.field += AllocationCounter::allocations() - scanned;
    }
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long long scans = 10000000ULL;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--scans") == 0 && i + 1 < argc)
            scans = std::strtoull(argv[++i], 0, 10);
        else if (std::strncmp(argv[i], "--scans=", 8) == 0)
            scans = std::strtoull(argv[i] + 8, 0, 10);
        else {
            std::fprintf(stderr, "usage: soak [--scans N]\n");
            return 2;
        }
    }
    try {
        const std::size_t page = pageBytes();
        const std::size_t before = residentBytes();
        Rig rig;
        std::vector<std::unique_ptr<Scene> > scenes;
        unsigned points = 0, tracks = 0;
        for (const ScenePlan& plan : soakScenes()) {
            scenes.push_back(plan.make(rig));
            std::printf("  %-20s %s\n", plan.card.c_str(), plan.track.c_str());
            points += scenes.back()->points();
            tracks += static_cast<unsigned>(scenes.back()->trackCount());
        }
        std::printf("soak: %u cards' scenes, %u tracks, %u points, %llu scans\n",
                    static_cast<unsigned>(scenes.size()), tracks, points, scans);

        const unsigned long long warmUp = 1000;
        Allocations warming;
        for (unsigned long long s = 0; s < warmUp; ++s)
            scanAll(scenes, s, warming);
        Allocations allocations;

        const std::size_t start = residentBytes();
        const Meter meter(rig.machine);
        const auto began = std::chrono::steady_clock::now();
        const unsigned long long report = scans >= 10 ? scans / 10 : 1;
        for (unsigned long long s = 0; s < scans; ++s) {
            scanAll(scenes, warmUp + s, allocations);
            if ((s + 1) % report == 0 && s + 1 < scans)
                std::printf("  %3llu%%  %llu scans, resident %zu KiB\n", 100 * (s + 1) / scans,
                            s + 1, residentBytes() / 1024);
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        const std::size_t end = residentBytes();
        const long live = meter.liveAllocations();
        const unsigned long ports = meter.ports();

        const long grown = static_cast<long>(end) - static_cast<long>(start);
        std::printf("soak: %llu scans in %.1f s (%.2f us a scan, %.1f port accesses a scan, "
                    "%lu ms of virtual time)\n",
                    scans, seconds, scans ? 1e6 * seconds / double(scans) : 0.0,
                    scans ? double(ports) / double(scans) : 0.0, rig.machine.now());
        std::printf("soak: resident %zu KiB before the machine, %zu KiB after the warm-up, "
                    "%zu KiB at the end: %+ld bytes (page %zu bytes)\n",
                    before / 1024, start / 1024, end / 1024, grown, page);
        std::printf("soak: %zu heap allocations by the scans and the boards' ticks, %zu by the "
                    "soak's own field changes, %ld still alive at the end\n",
                    allocations.scans, allocations.field, live);
        const bool resident = start != 0 && end != 0 && (grown <= static_cast<long>(page));
        const bool ok = resident && live == 0 && allocations.scans == 0;
        std::printf("soak: %s\n", ok ? "passed" : "FAILED");
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "soak: %s\n", e.what());
        return 1;
    }
}
