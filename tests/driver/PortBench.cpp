// What a port access costs through tavex.sys, against a direct one.
//
//   tavex_driver_port_bench [accesses]
//
// accesses: through the driver (default 320); the direct path makes 100
// times as many.
//
// Installs the test build of the driver as the driver tests do, then times,
// per port access:
//   - the direct path: an AC5 track on the simulated PC, whose port
//     accesses are calls into a board model.  Under Wine no in/out can run in
//     user mode, so this stands in for the instruction, without the bus
//     cycle the instruction waits for on a real PC;
//   - the library's path through the driver: IOPort on the Windows
//     backend, one request per access, and an AC5 track's updateInputs;
//   - a list request of 16 reads, per access;
//   - a request the driver refuses at once, for the round trip alone.
// The driver's port space is an array, so every figure here is the
// software's cost alone: on a real PC each access also takes its bus cycle
// (about 1 us for an ISA board).  Times come from QueryPerformanceCounter.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "DriverHarness.h"
#include "platform/PortRequest.h"
#include "tavex/cards/AC5Card.h"
#include "tavex/model/IOTrack.h"
#include "tavex/platform/IOPort.h"
#include "tavex/platform/OSInterface.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AC5Board.h"

using namespace DriverHarness;

namespace {

double seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Nanoseconds per access of `accesses` accesses made `per` at a time.
template <class Run>
double perAccess(unsigned accesses, unsigned per, Run run) {
    run();  // the first pays for what is set up once
    const double start = seconds();
    for (unsigned i = 0; i < accesses / per; ++i)
        run();
    return (seconds() - start) * 1e9 / (accesses / per * per);
}

void line(const char* what, double ns) { std::printf("  %-58s %9.0f ns\n", what, ns); }

}  // namespace

int main(int argc, char** argv) {
    const unsigned accesses = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], 0, 0)) : 320;
    std::printf("port access cost, per access: %u through the driver, %u direct\n", accesses,
                100 * accesses);

    double direct, trackDirect;
    {
        Tavex::Sim::ScopedMachine machine;
        machine.add<Tavex::Sim::AC5Board>(0x300);
        Tavex::AC5Card card(0x300);
        Tavex::IOTrack track(card, 0, "IIIIIIIIIIIIIIIIIIIIIIII");
        direct = perAccess(100 * accesses, 1, [] { Tavex::IOPort(0x300, false).readChar(); });
        trackDirect = perAccess(100 * accesses, 3, [&] { track.updateInputs(); });
    }

    installer("remove");
    ProgramRun installed = installer("install \"" + programFolder() + "tavex-test.sys\"");
    if (installed.exitCode != 0) {
        std::printf("cannot install the test driver:\n%s", installed.output.c_str());
        return 1;
    }
    int status = 0;
    try {
        Tavex::OSInterface::osinterface();
        Device device;
        Tavex::AC5Card card(0x300);
        Tavex::IOTrack track(card, 0, "IIIIIIIIIIIIIIIIIIIIIIII");
        const double single =
            perAccess(accesses, 1, [] { Tavex::IOPort(0x300, false).readChar(); });
        const double trackDriver = perAccess(accesses, 3, [&] { track.updateInputs(); });
        std::vector<TavexPortAccess> reads(16, TavexPortAccess{0x300, 1, TAVEX_PORT_IN, 0});
        std::vector<std::uint32_t> values(reads.size());
        const double listed = perAccess(accesses, static_cast<unsigned>(reads.size()), [&] {
            control(device, TAVEX_PORT_LIST, &reads[0],
                    static_cast<ULONG>(reads.size() * sizeof reads[0]), &values[0],
                    static_cast<ULONG>(values.size() * 4));
        });

        const TavexPortAccess none = {0x300, 1, TAVEX_PORT_IN, 0};
        const double roundTrip = perAccess(accesses, 1, [&] {
            control(device, 0x8000E7FCUL, &none, sizeof none, 0, 0);  // no such request
        });

        line("direct: IOPort read (stand-in: the simulated PC)", direct);
        line("direct: AC5 updateInputs, 24 inputs, per port (stand-in)", trackDirect);
        line("tavex.sys: IOPort read, one request", single);
        line("tavex.sys: AC5 updateInputs, 24 inputs, per port", trackDriver);
        line("tavex.sys: list request of 16 reads, per read", listed);
        line("tavex.sys: a request refused at once, the round trip", roundTrip);
        std::printf("Both paths are stand-ins here: Wine runs the driver in a process of\n"
                    "its own, and its port space is an array.  On a real PC add the bus\n"
                    "cycle to every figure: about 1 us for an ISA port.\n");
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        status = 1;
    }
    Tavex::Platform::install(0);
    installer("remove");
    return status;
}
