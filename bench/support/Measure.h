// The one way the benchmarks and the soak scan a scene and count what a
// scan did: port accesses (the machine's count), heap allocations (the
// whole program's, through the replaced operator new), and, for the check
// of card against hand, every port access and every access to the mapped
// window in order.
#ifndef TAVEX_BENCH_SUPPORT_MEASURE_H
#define TAVEX_BENCH_SUPPORT_MEASURE_H

#include <cstddef>
#include <string>
#include <vector>

#include "Scenes.h"
#include "support/AllocationCounter.h"

namespace Bench {

// Scene::scanCard or Scene::scanHand.
typedef void (Scene::*Scan)();
inline Scan scanOf(bool hand) { return hand ? &Scene::scanHand : &Scene::scanCard; }

// Port accesses and allocations since the meter was made.
class Meter {
public:
    explicit Meter(const Tavex::Sim::Machine& machine)
        : machine_(machine), ports_(machine.portAccessCount()) {}
    unsigned long ports() const { return machine_.portAccessCount() - ports_; }
    std::size_t allocations() const { return allocations_.allocated(); }
    long liveAllocations() const { return allocations_.leaked(); }

private:
    const Tavex::Sim::Machine& machine_;
    unsigned long ports_;
    AllocationCounter::Window allocations_;
};

// What the scans of a fresh scene did: scan 0 after stir(0), scan 1 after
// stir(1), then two scans with nothing changed (the steady state that the
// benchmarks time).  Per scan: every port access, every access to the
// mapped window by its offset (where the system lets them be recorded),
// and every value and track state the client sees afterwards.
struct Observation {
    static const unsigned scans = 4;
    std::vector<std::vector<Tavex::Sim::Machine::Event> > ports;
    std::vector<std::vector<std::size_t> > memory;
    std::vector<std::vector<long> > views;
    bool windowed;         // the card works on a mapped window
    bool memoryRecorded;   // and its accesses were recorded
    std::size_t steadyPorts() const { return ports.back().size(); }
    std::size_t steadyMemory() const { return memory.back().size(); }
};

Observation observe(const ScenePlan& plan, bool hand);

// Empty when card and hand did the same; otherwise the first difference.
std::string difference(const Observation& card, const Observation& hand);

// Resident memory of the process in bytes (Linux: /proc/self/statm), and
// the page size; 0 where it cannot be read.
std::size_t residentBytes();
std::size_t pageBytes();

}  // namespace Bench

#endif
