// ac28_example: a control program for an Opto 22 AC28 adapter, run on the
// simulated PC with the adapter at 0x100, its reset port at 0xE0, and on its
// cable two digital brainboard banks (0: eight switches, 1: eight valves)
// and an analog brainboard at bank 2 (channels 0-7 inputs, 8-15 outputs).
//
// Each scan opens valve i while switch i is on, and drives analog output
// 8 + c with the negated value of analog input c, clipped: an inverting
// amplifier of gain 1.  Between scans the program plays the field: it
// flips switches and moves the input signals.  At scan 3 the analog
// brainboard stays busy and refuses access: that scan's analog tracks
// report state 3 and move nothing.
#include <cstdio>
#include <exception>

#include "tavex/tavex.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AC28Board.h"

int main() {
    try {
        Tavex::Sim::ScopedMachine machine;
        Tavex::Sim::AC28Board& board =
            machine.add<Tavex::Sim::AC28Board>(0x100, 0xE0, true);
        board.placeDigital(0, 2).placeAnalog(2);

        const unsigned long start = machine.now();
        Tavex::AC28Card card(0x100, 0xE0, true);
        std::printf("AC28 at 0x%X, reset port 0x%X: reset pulse of %lu ms\n", card.baseIOPort(),
                    card.resetPort(), machine.now() - start);

        Tavex::IOTrack switches(card, 0, "IIIIIIII");
        Tavex::IOTrack valves(card, 1, "OOOOOOOO");
        Tavex::IOTrack analog(card, 2, "AAAAAAAAUUUUUUUU");
        std::printf("analog output mask 0x%04X\n", board.outputMask(2));

        const unsigned char on[] = {0x00, 0x81, 0xFF, 0x0F, 0x10};
        const unsigned short code0[] = {0x800, 0xC00, 0xFFF, 0x000, 0x400};
        std::printf("scan  switches  valves  in 0 code  value        out 8 code  state\n");
        for (unsigned scan = 0; scan < sizeof on; ++scan) {
            board.setInputs(0, on[scan]);
            board.setInputCode(2, 0, code0[scan]);
            board.setAccessRefused(2, scan == 3);

            switches.updateInputs();
            analog.updateInputs();
            for (unsigned i = 0; i < 8; ++i)
                valves[i] = switches[i];
            for (unsigned c = 0; c < 8; ++c)
                analog[8 + c] = analog[c] == -2147483647L - 1 ? 2147483647L : -analog[c];
            valves.updateOutputs();
            analog.updateOutputs();

            std::printf("%4u  %02X        %02X      0x%03X      %11ld  0x%03X       %ld\n", scan,
                        on[scan], board.outputsOn(1), code0[scan], analog[0],
                        board.outputCode(2, 8), analog.trackState());
            Tavex::OSInterface::sleep(100000);
        }
        std::printf("%u port accesses in %lu ms of virtual time\n",
                    static_cast<unsigned>(machine.portAccessCount()), machine.now());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ac28_example: %s\n", e.what());
        return 1;
    }
}
