// genius_example: a control program for a Genius PCIM with two MicroGENI
// channels, run on the simulated PC.
//
// The PC has just been switched on, so channel A is held in reset: the
// channel resets it and waits for it to come up.  Channel A's bus carries
// station 3, a panel of eight push buttons (inputs) and eight lamps
// (outputs), and station 9, an analog block with a temperature and a
// pressure input and two valve positions as outputs.  Channel B's bus
// carries station 0, eight alarm horns.
//
// Each scan lights lamp i while button i is pressed, opens valve 0 as far
// as the temperature is above zero and valve 1 to half the pressure, and
// sounds a horn while the temperature is above half scale.  Between scans
// the program plays the field on the model; in one scan the panel drops
// off the bus, which shows in its track's state (3), and its lamps keep
// what they showed.
#include <cstdio>
#include <exception>

#include "tavex/tavex.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/GEPCIMBoard.h"

namespace {

typedef Tavex::Sim::GEMicroGENIBoard Channel;

void printPoints(const Tavex::IOTrack& track, unsigned first, unsigned count) {
    for (unsigned i = first; i < first + count; ++i)
        std::printf("%ld", track[i]);
}

}  // namespace

int main() {
    try {
        Tavex::Sim::ScopedMachine machine;
        Tavex::Sim::GEPCIMBoard& motherboard =
            machine.add<Tavex::Sim::GEPCIMBoard>(0x3E0, 2);
        Channel& busA = motherboard.addMicroGENI(0x3E0, 0xD0000, Channel::Held);
        Channel& busB = motherboard.addMicroGENI(0x3E4, 0xD4000, Channel::Running);
        busA.placeStation(3, Channel::InputsAndOutputs).placeStation(9, Channel::InputsAndOutputs);
        busB.placeStation(0, Channel::OutputsOnly);

        Tavex::GEPCIMCard pcim(0x3E0, 2);
        pcim.addMicroGENI(0x3E0, 0xD0000).addMicroGENI(0x3E4, 0xD4000);
        Tavex::GEMicroGENI& a = *pcim.channelA();
        Tavex::GEMicroGENI& b = *pcim.channelB();
        std::printf("PCIM type %u: channel A at 0x%X, channel B at 0x%X, up after %lu ms\n",
                    pcim.motherboardType(), a.baseIOAddress(), b.baseIOAddress(), machine.now());

        Tavex::IOTrack panel(a, 3, "IIIIIIIIOOOOOOOO");   // buttons, then lamps
        Tavex::IOTrack process(a, 9, "AAUU");              // temperature, pressure, valves
        Tavex::IOTrack horns(b, 0, "OOOOOOOO");

        // Raw words with 0x8000 as zero.
        const unsigned short temperature[] = {0x8000, 0x9000, 0xC800, 0x7000, 0xF000};
        const unsigned short pressure[] = {0x8000, 0xA000, 0xC000, 0xC000, 0xFFFF};
        const unsigned char pressed[] = {0x00, 0x01, 0x81, 0xFF, 0x3C};
        std::printf("scan  buttons   lamps     state  temperature  valve 0  valve 1  horns\n");
        for (unsigned scan = 0; scan < sizeof pressed; ++scan) {
            if (scan == 3)
                busA.removeStation(3);
            if (scan == 4)
                busA.placeStation(3, Channel::InputsAndOutputs);
            busA.setInputByte(3, 0, pressed[scan]);
            busA.setInputWord(9, 0, temperature[scan]).setInputWord(9, 1, pressure[scan]);

            panel.updateInputs();
            process.updateInputs();
            // Buttons of a panel that does not answer are stale: the lamps stay.
            if (panel.trackState() == 0)
                for (unsigned i = 0; i < 8; ++i)
                    panel[8 + i] = panel[i];
            process[2] = process[0] > 0 ? process[0] : 0;
            process[3] = process[1] / 2;
            const long hot = process[0] > 0x40000000;
            for (unsigned i = 0; i < 8; ++i)
                horns[i] = hot;
            panel.updateOutputs();
            process.updateOutputs();
            horns.updateOutputs();

            Tavex::OSInterface::sleep(20000);   // the channels scan their buses
            std::printf("%4u  ", scan);
            printPoints(panel, 0, 8);
            std::printf("  ");
            printPoints(panel, 8, 8);
            std::printf("  %ld      %11ld  0x%04X   0x%04X   %02X\n", panel.trackState(),
                        process[0], busA.outputWord(9, 2), busA.outputWord(9, 3),
                        busB.outputByte(0, 0));
        }
        std::printf("%lu ms of virtual time in all\n", machine.now());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "genius_example: %s\n", e.what());
        return 1;
    }
}
