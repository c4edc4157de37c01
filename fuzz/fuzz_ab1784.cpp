// The 1784-KTx scanner card against a board that answers from the tape:
// construction (firmware download, initialisation, the two start-up
// commands), tracks of banks, updates, and further host commands.
//
// Tape: system faults; the board's fill byte and first patches; the base
// address, the firmware set and the link speed; then the track operations,
// the card's own one being a host command (code, parameter count,
// parameters).  Every sleep of the card is a tick of the board.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Harness.h"
#include "TapeBoard.h"
#include "tavex/rio/AB1784Card.h"

using namespace TavexFuzz;

namespace {

const std::uint32_t boardAddress = 0xD0000;
const std::uint32_t windowSize = 0x810;

// The protected host command, as a program built on the card may send it.
class Scanner : public Tavex::AB1784Card {
public:
    using AB1784Card::AB1784Card;
    void command(unsigned char code, const std::vector<unsigned char>& parameters,
                 unsigned length) {
        commandToHost(code, parameters.data(), length);
    }
};

// Firmware sets, by prefix: sizes of clrram.bin, loadpcl.bin and
// scanner.bin (-1: no such file).
struct FirmwareSet {
    const char* prefix;
    long clrram, loadpcl, scanner;
};
const FirmwareSet firmwareSets[] = {
    {"k0-", 64, 64, 100},       // one short block
    {"k1-", 64, 64, 1920},      // exactly one block
    {"k2-", 64, 64, 4000},      // two whole blocks and a short one
    {"k3-", 0x801, 64, 100},    // clrram.bin too big for the shared memory
    {"k4-", 64, 64, -1},        // no scanner.bin
    {"k5-", 64, 64, 0},         // an empty scanner.bin
    {"k6-", 64, 0x800, 3840},   // loadpcl.bin fills the shared memory
};

std::vector<std::string> writeFirmware() {
    std::vector<std::string> prefixes;
    Files& files = Files::instance();
    unsigned char seed = 1;
    for (const FirmwareSet& set : firmwareSets) {
        const std::string prefix = set.prefix;
        files.write(prefix + "clrram.bin", static_cast<std::size_t>(set.clrram), seed++);
        files.write(prefix + "loadpcl.bin", static_cast<std::size_t>(set.loadpcl), seed++);
        if (set.scanner >= 0)
            files.write(prefix + "scanner.bin", static_cast<std::size_t>(set.scanner), seed++);
        prefixes.push_back(files.path(prefix));
    }
    return prefixes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::string> prefixes = writeFirmware();
    static const unsigned bases[] = {boardAddress, boardAddress, boardAddress, boardAddress,
                                     0xD0800,   // not a multiple of 0x1000
                                     0xBF000,   // below the adapter area
                                     0xEF000};  // valid, but no board there
    static const unsigned speeds[] = {0xFE, 0xFD, 0xFC, 0x00, 0xFF};

    Tape tape(data, size);
    Scene scene(tape);
    TapeBoard& board = scene.machine().add<TapeBoard>(
        tape, "1784-KTx", TapeBoard::Ports{0, 0}, TapeBoard::Memory{boardAddress, windowSize});
    board.powerUp();

    const unsigned base = tape.pick(bases);
    const unsigned choice = tape.byte() % (prefixes.size() + 1);
    const char* path = choice < prefixes.size() ? prefixes[choice].c_str() : 0;
    const unsigned speed = tape.pick(speeds);

    std::unique_ptr<Scanner> card;
    if (!build(scene, card, [&] { return new Scanner(base, path, speed); }))
        return 0;

    TrackOps ops;
    ops.start = smallStart;
    ops.cardOps = 1;
    ops.cardOp = [&](unsigned) {
        const unsigned char code = tape.byte();
        const unsigned length = tape.byte();
        std::vector<unsigned char> parameters(256);
        for (unsigned i = 0; i < length && i < parameters.size(); ++i)
            parameters[i] = tape.byte();
        card->command(code, parameters, length);
    };
    exerciseTracks(tape, scene, *card, ops);
    destroy(scene, card);
    return 0;
}
