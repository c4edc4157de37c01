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

// A directory of its own under the system's temporary directory, removed
// with everything in it at the end.
class TempDir {
public:
    TempDir() {
        namespace fs = std::filesystem;
        static unsigned counter = 0;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (;;) {
            path_ = fs::temp_directory_path() /
                    ("tavex-ktx-" + std::to_string(stamp) + "-" + std::to_string(++counter));
            if (fs::create_directory(path_))
                break;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }
    // The directory as a firmware path: with its trailing separator.
    std::string prefix() const {
        return path_.string() + static_cast<char>(std::filesystem::path::preferred_separator);
    }
    std::string file(const std::string& name) const { return prefix() + name; }

    void write(const std::string& name, const Bytes& bytes) const {
        std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
        if (!bytes.empty())
            out.write(reinterpret_cast<const char*>(&bytes[0]),
                      static_cast<std::streamsize>(bytes.size()));
        if (!out)
            throw std::runtime_error("test scene: cannot write " + file(name));
    }
    void remove(const std::string& name) const { std::filesystem::remove(file(name)); }

private:
    TempDir(const TempDir&);
    TempDir& operator=(const TempDir&);
    std::filesystem::path path_;
};

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

    Tavex::Sim::ScopedMachine machine;
    KTx& board;
    TempDir dir;
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
