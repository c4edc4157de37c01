// sim_demo: a small control program, run on the simulated PC.
//
// An AC5 digital I/O board sits at port 0x300: port 0 carries a stop switch
// (point 0), port 1 eight lamps.  Each scan of the control loop reads the
// switch, moves a running light along the lamps unless the switch is
// closed, writes the lamps and waits for the next scan.
//
// Tavex::Sim::ScopedMachine installs a simulated PC for as long as it
// lives, with the AC5 board model plugged in; the program needs no board
// and no driver, and its waits run on the machine's virtual clock: twelve
// scans of 100 ms take no time.  Between scans the program plays the
// field: it closes the stop switch for a few scans.  Lines are active low:
// a closed switch pulls its line low and reads 1; a lamp that is on has its
// line driven low.
//
// A DummyCard track runs beside it: a card without hardware, as a client
// uses where no board is fitted.
#include <cstdio>
#include <exception>

#include "tavex/tavex.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AC5Board.h"

namespace {

const unsigned scans = 12;
const unsigned long scanTime = 100000;   // microseconds

void printPoints(const Tavex::IOTrack& track) {
    for (unsigned i = 0; i < track.numberOfPoints(); ++i)
        std::printf("%ld", track[i]);
}

void printLines(const Tavex::Sim::AC5Board& board, unsigned port) {
    for (unsigned j = 0; j < 8; ++j)
        std::printf("%c", board.lineLevel(port, j) ? 'H' : 'L');
}

}  // namespace

int main() {
    try {
        Tavex::Sim::ScopedMachine machine;
        Tavex::Sim::AC5Board& board = machine.add<Tavex::Sim::AC5Board>(0x300);

        Tavex::AC5Card card(0x300);
        Tavex::IOTrack switches(card, 0, "IIIIIIII");
        Tavex::IOTrack lamps(card, 1, "OOOOOOOO");

        Tavex::DummyCard spare;
        Tavex::IOTrack counter(spare, 0, "U");

        std::printf("card %s at 0x%X: %u switches, %u lamps; card %s beside it\n", card.type(),
                    card.baseIOPort(), switches.numberOfPoints(), lamps.numberOfPoints(),
                    spare.type());
        std::printf("scan  time/ms  switches  lamps     lamp lines  moves\n");

        unsigned position = 0;
        for (unsigned scan = 0; scan < scans; ++scan) {
            // The field: the stop switch is closed during scans 4 to 7.
            board.setInputLine(0, 0, !(scan >= 4 && scan < 8));

            switches.updateInputs();
            const bool stopped = switches[0] != 0;
            if (!stopped && scan > 0)
                position = (position + 1) % lamps.numberOfPoints();
            for (unsigned i = 0; i < lamps.numberOfPoints(); ++i)
                lamps[i] = i == position ? 1 : 0;
            lamps.updateOutputs();
            if (!stopped)
                ++counter[0];
            counter.updateOutputs();

            std::printf("%4u  %7lu  ", scan, machine.now());
            printPoints(switches);
            std::printf("  ");
            printPoints(lamps);
            std::printf("  ");
            printLines(board, 1);
            std::printf("    %ld%s\n", counter[0], stopped ? "  (stopped)" : "");

            Tavex::OSInterface::sleep(scanTime);
        }

        std::printf("%u scans in %lu ms of virtual time, %lu port accesses\n", scans,
                    machine.now(), machine.portAccessCount());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sim_demo: %s\n", e.what());
        return 1;
    }
}
