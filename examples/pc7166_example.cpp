// pc7166_example: a control program for a PC7166 encoder board, run on the
// simulated PC with the board model at 0x300.
//
// Channel 0 follows a conveyor's encoder; channel 1 a feed screw whose
// encoder is mounted the other way round, so its count is reversed.  The
// conveyor runs on for many turns and its count goes on past the 24 bits
// the board keeps; the feed screw goes back and forth around 0.  At scan 5
// the program homes the feed screw: it presets its count to 0.  Between
// scans the program plays the field: it turns the encoders.
#include <cstdio>
#include <exception>

#include "tavex/tavex.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/PC7166Board.h"

int main() {
    try {
        Tavex::Sim::ScopedMachine machine;
        Tavex::Sim::PC7166Board& board = machine.add<Tavex::Sim::PC7166Board>(0x300);

        Tavex::PC7166Card card(0x300);
        Tavex::IOTrack encoders(card, 0, "CR");
        encoders.updateInputs();
        std::printf("PC7166 at 0x%X: conveyor %ld, feed %ld after the track is set up\n",
                    card.baseIOPort(), encoders[0], encoders[1]);

        const long feedSteps[] = {100, -250, 400, -1000, 30, 0, -20, 7, 0, -7};
        std::printf("scan  conveyor    board count  feed   board count\n");
        for (unsigned scan = 0; scan < sizeof feedSteps / sizeof feedSteps[0]; ++scan) {
            board.turn(0, 0x500000);   // 5 242 880 edges per scan
            board.turn(1, -feedSteps[scan]);

            encoders.updateInputs();
            if (scan == 5)
                encoders[1] = 0;   // homed: the feed position is 0 from here
            encoders.updateOutputs();

            std::printf("%4u  %10ld  0x%06X     %5ld  0x%06X\n", scan, encoders[0],
                        static_cast<unsigned>(board.count(0)), encoders[1],
                        static_cast<unsigned>(board.count(1)));
            Tavex::OSInterface::sleep(10000);
        }

        card.reset();
        encoders.updateInputs();
        std::printf("after reset: conveyor %ld, feed %ld\n", encoders[0], encoders[1]);
        std::printf("%u port accesses in %lu ms of virtual time\n",
                    static_cast<unsigned>(machine.portAccessCount()), machine.now());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pc7166_example: %s\n", e.what());
        return 1;
    }
}
