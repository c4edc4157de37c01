// scan_example: a control program written on Tavex::Scan, run on the
// simulated PC.
//
// An AC5 board at port 0x300: port 0 has a start button (point 0) and a
// level switch (point 1), port 1 drives a pump (point 0) and a drain valve
// (point 1).  The logic runs the pump while the button was pressed and the
// tank is not full.  Every 10 ms: the inputs, the logic, the outputs.
//
// When the scan stops, whatever the reason (Ctrl-C, the logic throwing, a
// card failing), the pump is switched off and the drain opened: the
// track's safe values.  Here the logic throws after 50 cycles, as a
// program with a fault would, and the program shows the board's lines
// after it.  On the simulated PC the 50 cycles take no real time.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "tavex/tavex.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AC5Board.h"

namespace {

Tavex::Scan* running = nullptr;

// Ctrl-C and SIGTERM: stop() only sets a flag, safe in a signal handler.
extern "C" void stopScan(int) {
    if (running)
        running->stop();
}

}  // namespace

int main() {
    Tavex::Sim::ScopedMachine machine;   // first: it outlives the card
    Tavex::Sim::AC5Board& board = machine.add<Tavex::Sim::AC5Board>(0x300);
    board.setInputLine(0, 0, false);    // the start button is pressed (active low)

    Tavex::AC5Card card(0x300);
    Tavex::IOTrack switches(card, 0, "IIIIIIII");   // an AC5 track is 8, 16 or 24 points
    Tavex::IOTrack pump(card, 1, "OOOOOOOO");

    Tavex::Scan scan(std::chrono::milliseconds(10));   // after the tracks: it goes first
    scan.add(switches);
    scan.add(pump, {0, 1, 0, 0, 0, 0, 0, 0});   // at any stop: pump off, drain open
    running = &scan;
    std::signal(SIGINT, stopScan);
    std::signal(SIGTERM, stopScan);

    bool started = false;
    try {
        scan.run([&] {
            const bool button = switches[0] != 0;
            const bool full = switches[1] != 0;
            started = (started || button) && !full;
            pump[0] = started;
            pump[1] = 0;
            if (scan.cycle() == 50)
                throw std::runtime_error("level sensor disagrees with the flow meter");
        });
    } catch (const std::exception& e) {
        std::printf("scan stopped: %s\n", e.what());
    }
    running = nullptr;

    const Tavex::Scan::Statistics s = scan.statistics();
    std::printf("%llu cycles in %lu ms of virtual time, %llu overruns\n",
                static_cast<unsigned long long>(s.cycles), machine.now(),
                static_cast<unsigned long long>(s.overruns));
    std::printf("pump %s, drain %s\n", board.outputOn(1, 0) ? "on" : "off",
                board.outputOn(1, 1) ? "open" : "closed");
    return 0;
}
