// The cost of one scan (updateInputs + updateOutputs) on each card, on the
// simulated machine.  Besides the time, every benchmark reports the port
// accesses and the heap allocations of one scan; both are also checked, and
// the benchmark fails when a scan allocates or touches more ports than the
// card's update path should.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/AllocationCounter.h"
#include "tavex/tavex.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/PCIHostBridge.h"
#include "tavex/sim/boards/AB1784KTxBoard.h"
#include "tavex/sim/boards/AC5Board.h"
#include "tavex/sim/boards/PCI72xxBoard.h"


namespace {

using namespace Tavex;

// Runs scans of the tracks and reports per-scan port accesses and
// allocations; expectedPorts is what the card's update path may do.
void scan(benchmark::State& state, Sim::Machine& machine, std::vector<IOTrack*> tracks,
          unsigned long expectedPorts) {
    machine.setTracing(false);
    const unsigned long portsBefore = machine.portAccessCount();
    const AllocationCounter::Window allocations;
    unsigned long scans = 0;
    for (auto _ : state) {
        for (IOTrack* track : tracks) {
            track->updateInputs();
            track->updateOutputs();
        }
        ++scans;
    }
    const double ports = double(machine.portAccessCount() - portsBefore) / double(scans);
    const double allocated = double(allocations.allocated()) / double(scans);
    state.counters["ports/scan"] = ports;
    state.counters["allocs/scan"] = allocated;
    if (allocated != 0 || ports != double(expectedPorts))
        state.SkipWithError("the update path allocated or made unexpected port accesses");
}

void DummyScan(benchmark::State& state) {
    Sim::ScopedMachine machine;
    DummyCard card;
    IOTrack track(card, 0, "IIIIOOOOAAAAUUUU");
    scan(state, machine, {&track}, 0);
}
BENCHMARK(DummyScan);

// 24 points over three ports: one mixed port (read and written), one
// input port (read), one output port (written).
void AC5Scan(benchmark::State& state) {
    Sim::ScopedMachine machine;
    machine.add<Sim::AC5Board>(0x300);
    AC5Card card(0x300);
    IOTrack track(card, 0, "IIIIOOOOIIIIIIIIOOOOOOOO");
    scan(state, machine, {&track}, 4);
}
BENCHMARK(AC5Scan);

// Two groups of a PCI-7248: the input group reads A, B and C; the mixed
// group reads B and C and writes A and C.
void PCI7248Scan(benchmark::State& state) {
    Sim::ScopedMachine machine;
    Sim::PCIHostBridge& bridge = machine.add<Sim::PCIHostBridge>(Sim::PCIHostBridge::Mechanism1);
    machine.add<Sim::PCI72xxBoard>(bridge, 0, 5, 0, Sim::PCI72xxBoard::PCI7248, 0xD000);
    PCI72xxCard card;
    IOTrack inputs(card, 0, std::string(24, 'I').c_str());
    IOTrack outputs(card, 1, (std::string(8, 'O') + std::string(8, 'I') +
                              std::string(4, 'I') + std::string(4, 'O')).c_str());
    scan(state, machine, {&inputs, &outputs}, 3 + 4);
}
BENCHMARK(PCI7248Scan);

// Eight banks of inputs and eight of outputs on a running scanner: shared
// memory only, no port access at all.
void AB1784Scan(benchmark::State& state) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "tavex-bench-ktx";
    fs::create_directories(dir);
    const std::vector<std::uint8_t> clrram(64, 0x11), loadpcl(256, 0x22), scanner(5000, 0x33);
    auto write = [&](const char* name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    };
    write("clrram.bin", clrram);
    write("loadpcl.bin", loadpcl);
    write("scanner.bin", scanner);
    {
        Sim::ScopedMachine machine;
        Sim::AB1784KTxBoard& board = machine.add<Sim::AB1784KTxBoard>(0xD0000);
        board.setProtocolImages(clrram, loadpcl, scanner);
        const std::string prefix = dir.string() + char(fs::path::preferred_separator);
        AB1784Card card(0xD0000, prefix.c_str(), 0xFE);
        IOTrack inputs(card, 0, std::string(64, 'I').c_str());
        IOTrack outputs(card, 8, std::string(64, 'O').c_str());
        scan(state, machine, {&inputs, &outputs}, 0);
    }
    fs::remove_all(dir);
}
BENCHMARK(AB1784Scan);

}  // namespace

BENCHMARK_MAIN();
