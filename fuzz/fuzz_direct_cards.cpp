// The cards that drive their boards' registers directly, against ports
// that answer from the tape: the PC7166 encoder card, the AC28 adapter, the
// parallel port (found through a BIOS data area filled from the tape) and
// the AC5.
//
// Tape: system faults; the BIOS data area's fill byte and first patches;
// the card and its constructor's arguments; then the track operations (the
// PC7166's own operation is reset()).  Every port read the card makes takes
// the next tape byte.
#include <cstdint>
#include <memory>

#include "Harness.h"
#include "TapeBoard.h"
#include "tavex/cards/AC28Card.h"
#include "tavex/cards/AC5Card.h"
#include "tavex/cards/PC7166Card.h"
#include "tavex/cards/ParallelPort.h"

using namespace TavexFuzz;

namespace {

// The BIOS data area exactly as far as the parallel port's window reaches.
const std::uint32_t biosAddress = 0x400, biosWindow = 0x11C;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const unsigned isaBases[] = {0x300, 0x300, 0x300, 0x220, 0x270, 0x301};
    static const unsigned ac28Bases[] = {0x100, 0x100, 0x140, 0x101};
    static const unsigned ac28Resets[] = {0xE0, 0xE0, 0x1E0, 0xE1};
    static const char* const names[] = {"lpt1", "LPT2", "lpt3", "LPT4", "prn", 0, "lpt5", ""};

    Tape tape(data, size);
    Scene scene(tape);
    Tavex::Sim::Machine& machine = scene.machine();
    TapeBoard& bios = machine.add<TapeBoard>(tape, "BIOS data area", TapeBoard::Ports{0, 0},
                                             TapeBoard::Memory{biosAddress, biosWindow});
    machine.add<TapeBoard>(tape, "ISA board", TapeBoard::Ports{0x300, 8}, TapeBoard::Memory{0, 0});
    machine.add<TapeBoard>(tape, "AC28 banks", TapeBoard::Ports{0x100, 0x41},
                           TapeBoard::Memory{0, 0});
    machine.add<TapeBoard>(tape, "AC28 reset", TapeBoard::Ports{0xE0, 1}, TapeBoard::Memory{0, 0});
    machine.add<TapeBoard>(tape, "parallel port", TapeBoard::Ports{0x378, 3},
                           TapeBoard::Memory{0, 0});
    bios.powerUp();

    std::unique_ptr<Tavex::IOCard> card;
    TrackOps ops;
    ops.start = smallStart;
    bool built = false;
    switch (tape.byte() % 5) {
    case 0: {
        const unsigned base = tape.pick(isaBases);
        built = build(scene, card, [&] { return new Tavex::PC7166Card(base); });
        ops.cardOps = 1;
        ops.cardOp = [&](unsigned) { card->reset(); };
        break;
    }
    case 1: {
        const unsigned base = tape.pick(ac28Bases), reset = tape.pick(ac28Resets);
        const bool level = tape.byte() & 1;
        built = build(scene, card, [&] { return new Tavex::AC28Card(base, reset, level); });
        break;
    }
    case 2: {
        const char* name = tape.pick(names);
        built = build(scene, card, [&] { return new Tavex::ParallelPort(name); });
        break;
    }
    case 3: {
        const unsigned short port = tape.word();
        built = build(scene, card, [&] { return new Tavex::ParallelPort(port); });
        break;
    }
    default: {
        const unsigned base = tape.pick(isaBases);
        built = build(scene, card, [&] { return new Tavex::AC5Card(base); });
        break;
    }
    }
    if (!built)
        return 0;
    exerciseTracks(tape, scene, *card, ops);
    destroy(scene, card);
    return 0;
}
