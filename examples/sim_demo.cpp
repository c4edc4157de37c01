// sim_demo: a small control program, run on the simulated PC.
//
// The program builds a card and two tracks on it, then runs a few scans of
// its control loop: read the inputs, work out the outputs, write them, wait
// for the next scan.  Tavex::Sim::ScopedMachine installs a simulated PC for
// as long as it lives, so the program needs no board and no driver, and its
// waits run on the machine's virtual clock: ten scans of 100 ms take no time.
//
// The card is a DummyCard, which has no hardware behind it: its inputs read
// whatever the track holds (all 0 here) and its outputs go nowhere.  With a
// board model plugged into the machine, the same loop would run unchanged
// on that board's card.
#include <cstdio>
#include <exception>

#include "tavex/tavex.h"
#include "tavex/sim/Machine.h"

namespace {

const unsigned scans = 10;
const unsigned long scanTime = 100000;   // microseconds

// The points of a track as a string of digits, first point first.
void printPoints(const Tavex::IOTrack& track) {
    for (unsigned i = 0; i < track.numberOfPoints(); ++i)
        std::printf("%ld", track[i]);
}

}  // namespace

int main() {
    try {
        Tavex::Sim::ScopedMachine machine;

        Tavex::DummyCard card;
        Tavex::IOTrack inputs(card, 0, "IIII");    // four digital inputs
        Tavex::IOTrack lamps(card, 0, "OOOO");     // four digital outputs

        std::printf("card %s: %u inputs, %u outputs\n", card.type(),
                    inputs.numberOfPoints(), lamps.numberOfPoints());
        std::printf("scan  time/ms  inputs  outputs  state\n");

        for (unsigned scan = 0; scan < scans; ++scan) {
            inputs.updateInputs();

            // A running light; input 0 held high would stop it.
            const unsigned lit = inputs[0] ? 0 : scan % lamps.numberOfPoints();
            for (unsigned i = 0; i < lamps.numberOfPoints(); ++i)
                lamps[i] = (i == lit) ? 1 : 0;
            lamps.updateOutputs();

            std::printf("%4u  %7lu  ", scan, machine.now());
            printPoints(inputs);
            std::printf("    ");
            printPoints(lamps);
            std::printf("     %ld\n", inputs.trackState());

            Tavex::OSInterface::sleep(scanTime);
        }

        std::printf("%u scans in %lu ms of virtual time\n", scans, machine.now());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sim_demo: %s\n", e.what());
        return 1;
    }
}
