// A control loop on a simulated AC5, built against an installed Tavex.
#include <cstdio>

#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AC5Board.h"
#include "tavex/tavex.h"

int main() {
    Tavex::Sim::ScopedMachine machine;
    Tavex::Sim::AC5Board& board = machine.add<Tavex::Sim::AC5Board>(0x300);
    board.setInputLine(0, 2, false);   // input 2 switched on by the field

    Tavex::AC5Card card(0x300);
    Tavex::IOTrack inputs(card, 0, "IIIIIIII");
    Tavex::IOTrack lamps(card, 1, "OOOOOOOO");
    for (int scan = 0; scan < 3; ++scan) {
        inputs.updateInputs();
        for (unsigned i = 0; i < 8; ++i)
            lamps[i] = inputs[i];
        lamps.updateOutputs();
        Tavex::OSInterface::sleep(100000);
    }
    const bool ok = board.outputOn(1, 2) && !board.outputOn(1, 3) && machine.now() == 300;
    std::printf("consumer: %s\n", ok ? "lamp 2 follows input 2" : "WRONG");
    return ok ? 0 : 1;
}
