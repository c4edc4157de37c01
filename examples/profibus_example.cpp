// profibus_example: a control program for a 5136-PFB-PCI Profibus DP master,
// run on the simulated PC with the board model on the PCI bus.
//
// The board asks for its protocol module at power-up.  On real hardware
// "pciprofi.ss1" and the network's configuration file come with the board
// and its configuration tool; here the program writes stand-ins into a
// temporary folder.  The model does not read the configuration file: the
// program tells it which slaves the configuration holds.
//
// The network: slave 3 is a conveyor station with sixteen sensors (input
// bytes 0 and 1) and eight valves (output byte 0); slave 12 is an operator
// panel with eight buttons (input byte 0) and eight lamps (output byte 1).
// Each scan opens valve i while sensor i or sensor 8 + i sees a part, and
// lights lamp j while button j is pressed.  In one scan the panel drops off
// the network: its track's state is 3, and its data are the last it sent.
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tavex/tavex.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/PCIHostBridge.h"
#include "tavex/sim/boards/SST5136PFBBoard.h"

namespace {

typedef std::vector<std::uint8_t> Bytes;
typedef Tavex::Sim::SST5136PFBBoard Board;

Bytes standIn(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + 29 * i);
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

// A slave address and a byte offset into its data, as a track's starting point.
unsigned slaveByte(unsigned slave, unsigned byte) { return (slave << 16) | byte; }

// A folder of the program's own; removes it and its files however the program ends.
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
        TemporaryDirectory files = {
            std::filesystem::temp_directory_path() /
            ("tavex-profibus-example-" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))};
        std::filesystem::create_directories(files.path);
        const Bytes module = standIn(40000, 0x17);
        const Bytes configuration = standIn(0x4000 + 900, 0x2B);   // two blocks
        writeFile(files.path / "pciprofi.ss1", module);
        writeFile(files.path / "line3.cfg", configuration);
        const std::string prefix =
            files.path.string() + static_cast<char>(std::filesystem::path::preferred_separator);
        const std::string configurationFile = (files.path / "line3.cfg").string();

        Tavex::Sim::ScopedMachine machine;
        Tavex::Sim::PCIHostBridge& bridge =
            machine.add<Tavex::Sim::PCIHostBridge>(Tavex::Sim::PCIHostBridge::Mechanism1);
        bridge.addFunction(0, 0, 0, 0x8086, 0x7190).setClassCode(0x06, 0x00);
        Board& board = machine.add<Board>(bridge, 0, 4);
        board.setExpectedModule(module);
        board.addSlave(3, 2, 1).addSlave(12, 1, 2);

        Tavex::SST5136PFBPCI card(prefix.c_str(), 0x06, 0);
        std::printf("5136-PFB-PCI: %s after %lu ms, baud rate code 0x%02X\n",
                    Board::phaseName(board.phase()), machine.now(), card.baudRate());

        card.configure(configurationFile.c_str()).configurationToFlash().online();
        std::printf("configured in %u blocks, stored in flash, online after %lu ms\n",
                    static_cast<unsigned>(board.blocks().size()), machine.now());

        Tavex::IOTrack sensors(card, slaveByte(3, 0), "IIIIIIIIIIIIIIII");
        Tavex::IOTrack valves(card, slaveByte(3, 0), "OOOOOOOO");
        Tavex::IOTrack panel(card, slaveByte(12, 0), "IIIIIIIIOOOOOOOO");   // buttons, lamps

        const unsigned short parts[] = {0x0000, 0x0101, 0x8001, 0x00F0, 0x0F0F};
        const unsigned char pressed[] = {0x00, 0x01, 0x03, 0xF0, 0x80};
        std::printf("scan  sensors           valves    buttons   lamps     panel state\n");
        for (unsigned scan = 0; scan < sizeof pressed; ++scan) {
            board.setAnswering(12, scan != 3);   // the panel drops out once: its data stand still
            board.setInputs(3, 0, {static_cast<std::uint8_t>(parts[scan] & 0xFF),
                                   static_cast<std::uint8_t>(parts[scan] >> 8)});
            board.setInput(12, 0, pressed[scan]);

            sensors.updateInputs();
            panel.updateInputs();                 // only the buttons are inputs
            for (unsigned i = 0; i < 8; ++i) {
                valves[i] = sensors[i] || sensors[8 + i];
                panel[8 + i] = panel[i];
            }
            valves.updateOutputs();
            panel.updateOutputs();

            Tavex::OSInterface::sleep(10000);   // the master exchanges the data
            std::printf("%4u  ", scan);
            printPoints(sensors, 0, 16);
            std::printf("  ");
            printPoints(valves, 0, 8);
            std::printf("  ");
            printPoints(panel, 0, 8);
            std::printf("  ");
            printPoints(panel, 8, 8);
            std::printf("  %ld (slave 3 took %02X, slave 12 %02X)\n", panel.trackState(),
                        board.output(3, 0), board.output(12, 1));
        }
        std::printf("%lu ms of virtual time in all\n", machine.now());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "profibus_example: %s\n", e.what());
        return 1;
    }
}
