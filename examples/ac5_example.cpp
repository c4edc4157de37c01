// ac5_example: a control program for an AC5 digital I/O board, run on the
// simulated PC with the AC5 board model plugged in at 0x300.
//
// Port 0 carries eight push buttons (inputs), port 1 eight lamps (outputs),
// port 2 four more buttons and four relays.  Each scan reads the buttons,
// lights lamp i while button i is pressed, and switches relay j while
// buttons j and j + 4 of port 0 are both pressed.  Between scans the
// program plays the field: it presses and releases buttons on the model.
// Lines are active low: a pressed button pulls its line low, a lamp that
// is on has its line driven low.
#include <cstdio>
#include <exception>

#include "tavex/tavex.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AC5Board.h"

namespace {

void printPoints(const Tavex::IOTrack& track, unsigned first, unsigned count) {
    for (unsigned i = first; i < first + count; ++i)
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
        Tavex::IOTrack buttons(card, 0, "IIIIIIII");
        Tavex::IOTrack lamps(card, 1, "OOOOOOOO");
        Tavex::IOTrack mixed(card, 2, "IIIIOOOO");   // four buttons, four relays
        std::printf("AC5 at 0x%X: port directions %02X %02X %02X\n", card.baseIOPort(),
                    board.directionMask(0), board.directionMask(1), board.directionMask(2));

        // Buttons pressed in each scan (bit set = pressed), port 0 and port 2.
        const unsigned char pressed0[] = {0x00, 0x01, 0x11, 0xFF, 0x80};
        const unsigned char pressed2[] = {0x00, 0x02, 0x00, 0x0F, 0x01};
        std::printf("scan  buttons   lamps     relays  port 1 lines  port 2 lines\n");
        for (unsigned scan = 0; scan < sizeof pressed0; ++scan) {
            board.setInputLines(0, static_cast<std::uint8_t>(~pressed0[scan]));
            board.setInputLines(2, static_cast<std::uint8_t>(~pressed2[scan]));

            buttons.updateInputs();
            mixed.updateInputs();
            for (unsigned i = 0; i < 8; ++i)
                lamps[i] = buttons[i];
            for (unsigned j = 0; j < 4; ++j)
                mixed[4 + j] = buttons[j] && buttons[j + 4];
            lamps.updateOutputs();
            mixed.updateOutputs();

            std::printf("%4u  ", scan);
            printPoints(buttons, 0, 8);
            std::printf("  ");
            printPoints(lamps, 0, 8);
            std::printf("  ");
            printPoints(mixed, 4, 4);
            std::printf("    ");
            printLines(board, 1);
            std::printf("      ");
            printLines(board, 2);
            std::printf("\n");

            Tavex::OSInterface::sleep(50000);
        }
        std::printf("%u port accesses in %lu ms of virtual time\n",
                    static_cast<unsigned>(machine.portAccessCount()), machine.now());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ac5_example: %s\n", e.what());
        return 1;
    }
}
