// parallel_example: a control program on the PC's printer port, run on the
// simulated PC with a parallel port at 0x378 listed by the BIOS as LPT1.
//
// The port serves 17 points: eight lamps on the data lines (pins 2-9),
// four push buttons on the control lines (pins 1, 14, 16, 17) and five
// limit switches on the status lines (pins 15, 13, 12, 10, 11).  Each scan
// lights lamp i while button i is pressed (i = 0-3) and lamp 4 + k while
// limit switch k is made (k = 0-2); lamp 7 shows limit switch 4.  Between
// scans the program plays the field: it presses buttons and makes switches
// by pulling their pins low.  Every point is active low at the connector.
#include <cstdio>
#include <exception>

#include "tavex/tavex.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/BiosDataArea.h"
#include "tavex/sim/boards/ParallelPortBoard.h"

namespace {

const unsigned buttonPins[4] = {1, 14, 16, 17};
const unsigned switchPins[5] = {15, 13, 12, 10, 11};

}  // namespace

int main() {
    try {
        Tavex::Sim::ScopedMachine machine;
        Tavex::Sim::BiosDataArea& bios = machine.add<Tavex::Sim::BiosDataArea>();
        Tavex::Sim::ParallelPortBoard& port = machine.add<Tavex::Sim::ParallelPortBoard>(0x378);
        bios.setLptPort(1, 0x378);

        Tavex::ParallelPort lpt;   // LPT1
        Tavex::IOTrack track(lpt, 0, "OOOOOOOOIIIIIIIII");
        std::printf("LPT1 at 0x%X\n", lpt.baseIOPort());

        // Buttons pressed (bits 0-3) and switches made (bits 0-4) in each scan.
        const unsigned char buttons[] = {0x0, 0x1, 0x3, 0x0, 0xF, 0x8};
        const unsigned char switches[] = {0x00, 0x00, 0x04, 0x10, 0x1F, 0x01};
        std::printf("scan  buttons  switches  lamps     pins 2-9\n");
        for (unsigned scan = 0; scan < sizeof buttons; ++scan) {
            for (unsigned i = 0; i < 4; ++i)
                port.setPinLevel(buttonPins[i], ((buttons[scan] >> i) & 1) == 0);
            for (unsigned k = 0; k < 5; ++k)
                port.setPinLevel(switchPins[k], ((switches[scan] >> k) & 1) == 0);

            track.updateInputs();
            for (unsigned i = 0; i < 4; ++i)
                track[i] = track[8 + i];
            for (unsigned k = 0; k < 3; ++k)
                track[4 + k] = track[12 + k];
            track[7] = track[16];
            track.updateOutputs();

            std::printf("%4u  ", scan);
            for (unsigned i = 8; i < 12; ++i)
                std::printf("%ld", track[i]);
            std::printf("     ");
            for (unsigned i = 12; i < 17; ++i)
                std::printf("%ld", track[i]);
            std::printf("     ");
            for (unsigned i = 0; i < 8; ++i)
                std::printf("%ld", track[i]);
            std::printf("  ");
            for (unsigned pin = 2; pin <= 9; ++pin)
                std::printf("%c", port.pinLevel(pin) ? 'H' : 'L');
            std::printf("\n");

            Tavex::OSInterface::sleep(20000);
        }
        std::printf("%u port accesses in %lu ms of virtual time\n",
                    static_cast<unsigned>(machine.portAccessCount()), machine.now());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "parallel_example: %s\n", e.what());
        return 1;
    }
}
