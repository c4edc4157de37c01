// The Genius PCIM motherboard and its MicroGENI channels against channel
// boards that answer from the tape: status reads, reset sequences, the
// health poll, the I/O table size, station tracks and updates.
//
// Tape: system faults; for channels A and B in turn the board's fill byte
// and first patches; the motherboard type; for up to three channel
// additions the channel's port and memory address; then the track
// operations on a channel that came up (a byte picks A or B), the card's
// own being the status reads, reset(flag) and clearReset().  Every status
// read takes a tape byte; every sleep is a tick of both boards, A first.
#include <cstdint>
#include <memory>

#include "Harness.h"
#include "TapeBoard.h"
#include "tavex/genius/GEMicroGENI.h"
#include "tavex/genius/GEPCIMCard.h"

using namespace TavexFuzz;

namespace {

const std::uint16_t portA = 0x3E0, portB = 0x3E4;
const std::uint32_t memoryA = 0xD0000, memoryB = 0xD4000;
const std::uint32_t windowSize = 0x4000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const unsigned ports[] = {portA, portB, portA, portB, 0x3E8};
    static const unsigned long memories[] = {memoryA, memoryB, memoryA, memoryB,
                                             0xD8000};   // no board there
    static const unsigned types[] = {2, 1, 0, 2};

    Tape tape(data, size);
    Scene scene(tape);
    TapeBoard& boardA = scene.machine().add<TapeBoard>(
        tape, "MicroGENI A", TapeBoard::Ports{portA, 2}, TapeBoard::Memory{memoryA, windowSize});
    TapeBoard& boardB = scene.machine().add<TapeBoard>(
        tape, "MicroGENI B", TapeBoard::Ports{portB, 2}, TapeBoard::Memory{memoryB, windowSize});
    boardA.powerUp();
    boardB.powerUp();

    std::unique_ptr<Tavex::GEPCIMCard> pcim(new Tavex::GEPCIMCard(0x3E0, tape.pick(types)));
    for (unsigned n = tape.byte() % 4; n > 0; --n) {
        const unsigned port = tape.pick(ports);
        const unsigned long memory = tape.pick(memories);
        const unsigned mapped = scene.machine().liveMappings();
        if (!libraryCall("addMicroGENI", [&] { pcim->addMicroGENI(port, memory); }) &&
            scene.releasesWindows() && scene.machine().liveMappings() != mapped)
            finding("a channel that failed to come up left its window mapped");
    }

    Tavex::GEMicroGENI* channel = tape.byte() & 1 ? pcim->channelB() : pcim->channelA();
    if (channel == 0)
        channel = pcim->channelA();
    if (channel != 0) {
        TrackOps ops;
        ops.start = smallStart;
        ops.cardOps = 5;
        ops.cardOp = [&](unsigned n) {
            switch (n) {
            case 0: channel->isBoardOK(); break;
            case 1: channel->isCommOK(); break;
            case 2: channel->isReset(); break;
            case 3: channel->reset(tape.byte() & 1); break;
            default: channel->clearReset(); break;
            }
        };
        exerciseTracks(tape, scene, *channel, ops);
    }
    destroy(scene, pcim);
    return 0;
}
