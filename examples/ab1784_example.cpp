// ab1784_example: a control program for a 1784-KTx Remote I/O scanner, run
// on the simulated PC with the board model at 0xD0000.
//
// The card downloads its three protocol files at construction.  On real
// hardware they come with the board; here the program writes three small
// stand-ins into a temporary directory and tells the board model their
// bytes, so that the model recognises each program when it is started.
//
// The racks: bank 2 holds eight limit switches (inputs), bank 3 eight
// valves (outputs), banks 4 and 5 a panel of eight lamps and eight push
// buttons.  Each scan opens valve i while switch i is closed and lights
// lamp j while button j is pressed.  Between scans the program plays the field on the model's
// racks, and in one scan it takes the rack holding banks 4 to 7 off the
// link, which shows in that track's state (3).
#include <cstdio>
#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tavex/tavex.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AB1784KTxBoard.h"

namespace {

typedef std::vector<std::uint8_t> Bytes;

Bytes standIn(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + 31 * i);
    return bytes;
}

void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&bytes[0]), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void printPoints(const Tavex::IOTrack& track, unsigned first, unsigned count) {
    for (unsigned i = first; i < first + count; ++i)
        std::printf("%ld", track[i]);
}

// A directory of the program's own; removes it and its files however the program ends.
struct TemporaryDirectory {
    std::filesystem::path path;
    ~TemporaryDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

}  // namespace

int main() {
    try {
        TemporaryDirectory firmware = {
            std::filesystem::temp_directory_path() /
            ("tavex-ab1784-example-" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))};
        std::filesystem::create_directories(firmware.path);
        const Bytes clrram = standIn(32, 0x01);
        const Bytes loadpcl = standIn(64, 0x02);
        const Bytes scanner = standIn(5000, 0x03);   // three blocks
        writeFile(firmware.path / "clrram.bin", clrram);
        writeFile(firmware.path / "loadpcl.bin", loadpcl);
        writeFile(firmware.path / "scanner.bin", scanner);
        const std::string path =
            firmware.path.string() + static_cast<char>(std::filesystem::path::preferred_separator);

        Tavex::Sim::ScopedMachine machine;
        Tavex::Sim::AB1784KTxBoard& board =
            machine.add<Tavex::Sim::AB1784KTxBoard>(0xD0000);
        board.setProtocolImages(clrram, loadpcl, scanner);

        Tavex::AB1784Card card(0xD0000, path.c_str(), 0xFE);
        std::printf("1784-KTx at 0x%X, link speed 0x%X: %s after %lu ms, "
                    "%u blocks, %u commands\n",
                    card.baseMemoryAddress(), card.linkSpeed(),
                    Tavex::Sim::AB1784KTxBoard::phaseName(board.phase()), machine.now(),
                    static_cast<unsigned>(board.blocks().size()),
                    static_cast<unsigned>(board.commands().size()));

        Tavex::IOTrack switches(card, 2, "IIIIIIII");
        Tavex::IOTrack valves(card, 3, "OOOOOOOO");
        Tavex::IOTrack panel(card, 4, "OOOOOOOOIIIIIIII");   // lamps, then buttons

        const unsigned char closed[] = {0x00, 0x81, 0xFF, 0x3C, 0x01};
        const unsigned char pressed[] = {0x00, 0x01, 0x03, 0xF0, 0x80};
        std::printf("scan  switches  valves    buttons   lamps     state  bank 3  bank 4\n");
        for (unsigned scan = 0; scan < sizeof closed; ++scan) {
            board.setInputs(2, closed[scan]).setInputs(5, pressed[scan]);
            board.setEntryGood(1, scan != 3);   // the rack of banks 4-7 drops out once

            switches.updateInputs();
            panel.updateInputs();               // bank 4 holds outputs: only bank 5 is read
            for (unsigned i = 0; i < 8; ++i) {
                valves[i] = switches[i];
                panel[i] = panel[8 + i];
            }
            valves.updateOutputs();
            panel.updateOutputs();

            Tavex::OSInterface::sleep(20000);   // the scanner sends the outputs on
            std::printf("%4u  ", scan);
            printPoints(switches, 0, 8);
            std::printf("  ");
            printPoints(valves, 0, 8);
            std::printf("  ");
            printPoints(panel, 8, 8);
            std::printf("  ");
            printPoints(panel, 0, 8);
            std::printf("  %ld      %02X      %02X\n", panel.trackState(), board.outputs(3),
                        board.outputs(4));
        }
        std::printf("%lu ms of virtual time in all\n", machine.now());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ab1784_example: %s\n", e.what());
        return 1;
    }
}
