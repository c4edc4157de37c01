// A plant file read through the installed plant library, its cards and
// tracks built on a simulated AC5.
#include <cstdio>

#include "tavex/plant/Plant.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AC5Board.h"
#include "tavex/tavex.h"

int main() {
    Tavex::Sim::ScopedMachine machine;
    Tavex::Sim::AC5Board& board = machine.add<Tavex::Sim::AC5Board>(0x300);
    board.setInputLine(0, 1, false);   // eye 2 sees a bottle: its line pulled low

    const Tavex::Plant plant = Tavex::Plant::parse(
        "[cards.line]\n"
        "card = \"ac5:0x300\"\n"
        "[tracks.eyes]\n"
        "card = \"line\"\n"
        "track = \"0:IIIIIIII\"\n"
        "points = [\"eye1\", \"eye2\"]\n"
        "[tracks.lamps]\n"
        "card = \"line\"\n"
        "track = \"1:OOOOOOOO\"\n",
        "line.toml");
    Tavex::PlantIO io(plant);
    Tavex::IOTrack& eyes = io.track("eyes");
    Tavex::IOTrack& lamps = io.track("lamps");
    eyes.updateInputs();
    const long eye2 = eyes[plant.findTrack("eyes")->pointIndex("eye2")];
    lamps[0] = eye2;
    lamps.updateOutputs();
    const bool ok = eye2 == 1 && board.outputOn(1, 0) && !board.outputOn(1, 1);
    std::printf("consumer: %s\n", ok ? "the plant file's lamp follows its eye" : "WRONG");
    return ok ? 0 : 1;
}
