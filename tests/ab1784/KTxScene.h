// The scene of the 1784-KTx card tests: a simulated machine with the board
// model plugged in, and the three protocol files in a fresh temporary
// directory whose bytes the board model knows.
#ifndef TAVEX_TESTS_AB1784_KTXSCENE_H
#define TAVEX_TESTS_AB1784_KTXSCENE_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "support/ExpectThrow.h"
#include "support/RecordingMachine.h"
#include "support/TempDir.h"
#include "tavex/rio/AB1784Card.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AB1784KTxBoard.h"

namespace KTxTest {

typedef std::vector<std::uint8_t> Bytes;
typedef Tavex::Sim::AB1784KTxBoard KTx;

inline Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 13 + (i >> 8));
    return bytes;
}

// Machine, board and protocol files.  The machine is installed for the
// scene's life; cards are made after it and destroyed before it.
class Scene {
public:
    explicit Scene(std::uint32_t boardAddress = 0xC0000, std::size_t scannerSize = 2500)
        : board(machine.add<KTx>(boardAddress)),
          clrram(pattern(48, 0x10)),
          loadpcl(pattern(100, 0x20)),
          scanner(pattern(scannerSize, 0x30)) {
        writeFiles();
    }

    // Writes the three files and tells the board their bytes.
    void writeFiles() {
        dir.write("clrram.bin", clrram);
        dir.write("loadpcl.bin", loadpcl);
        dir.write("scanner.bin", scanner);
        board.setProtocolImages(clrram, loadpcl, scanner);
    }

    std::string path() const { return dir.prefix(); }

    Tavex::Test::RecordingMachine machine;
    KTx& board;
    TempDir dir{"tavex-ktx"};
    Bytes clrram, loadpcl, scanner;
};

// Counts the sleeps of a given length in the machine's trace.
inline unsigned sleepsOf(const Tavex::Sim::Machine& m, unsigned long ms) {
    unsigned count = 0;
    const std::vector<unsigned long> sleeps = m.sleeps();
    for (std::size_t i = 0; i < sleeps.size(); ++i)
        count += sleeps[i] == ms;
    return count;
}

}  // namespace KTxTest

#endif
