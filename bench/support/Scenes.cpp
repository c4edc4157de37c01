#include "Scenes.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace Bench {

using namespace Tavex;

namespace {

// ---- what every hand-written loop does the same way -----------------------

// Point j of a bank is bit j of its byte; only the low 32 bits of a value count.
inline void unpack(unsigned bits, long* values) {
    for (unsigned j = 0; j < 8; ++j)
        values[j] = static_cast<long>((bits >> j) & 1u);
}

inline unsigned pack(const long* values) {
    unsigned bits = 0;
    for (unsigned j = 0; j < 8; ++j)
        if (static_cast<std::uint32_t>(values[j]) != 0)
            bits |= 1u << j;
    return bits;
}

#if defined(__GNUC__)
typedef std::uint16_t __attribute__((aligned(1), may_alias)) Word;
#else
typedef std::uint16_t Word;
#endif

inline std::uint16_t wordAt(const volatile std::uint8_t* memory, std::uint32_t offset) {
    return *reinterpret_cast<const volatile Word*>(memory + offset);
}

inline void putWord(volatile std::uint8_t* memory, std::uint32_t offset, std::uint16_t value) {
    *reinterpret_cast<volatile Word*>(memory + offset) = value;
}

// Bit j set where letters[first + j] is the letter.
std::uint8_t maskOf(const std::string& letters, unsigned first, char letter) {
    unsigned mask = 0;
    for (unsigned j = 0; j < 8 && first + j < letters.size(); ++j)
        if (letters[first + j] == letter)
            mask |= 1u << j;
    return static_cast<std::uint8_t>(mask);
}

// The first half of the points of one kind, the rest of the other.
std::string halves(unsigned points, char first, char second) {
    return std::string(points / 2, first) + std::string(points - points / 2, second);
}

std::uint32_t mix(unsigned step, std::size_t track, std::size_t index) {
    std::uint32_t x = static_cast<std::uint32_t>(step) * 0x9E3779B1u ^
                      static_cast<std::uint32_t>(track) * 0x85EBCA77u ^
                      static_cast<std::uint32_t>(index + 1) * 0xC2B2AE3Du;
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    x ^= x >> 12;
    return x;
}

// ---- AC5: three 8-point ports, active low ----------------------------------

class AC5Scene : public Scene {
public:
    AC5Scene(Rig& rig, unsigned points) : board_(rig.ac5), ports_(points / 8) {
        const std::string letters = halves(points, 'I', 'O');
        addTrack(own<AC5Card>(base), 0, letters);
        for (unsigned p = 0; p < ports_; ++p)
            masks_[p] = maskOf(letters, 8 * p, 'O');
    }

    void scanHand() override {
        Platform& pc = Platform::current();
        long* values = hand(0);
        for (unsigned p = 0; p < ports_; ++p)
            if (masks_[p] != 0xFF)
                unpack(~pc.inByte(static_cast<std::uint16_t>(base + 2 * p)), values + 8 * p);
        for (unsigned p = 0; p < ports_; ++p)
            if (masks_[p] != 0)
                pc.outByte(static_cast<std::uint16_t>(base + 2 * p),
                           static_cast<std::uint8_t>(~(pack(values + 8 * p) & masks_[p])));
    }

private:
    static constexpr unsigned base = 0x300;
    void stirField(unsigned step) override {
        for (unsigned p = 0; p < 3; ++p)
            board_.setInputLines(p, static_cast<std::uint8_t>(mix(step, 99, p)));
    }
    Sim::AC5Board& board_;
    unsigned ports_;
    std::uint8_t masks_[3];
};

// ---- PCI-7296: per group ports A, B, C; A in, B out, C half and half ----

class PCI72xxScene : public Scene {
public:
    PCI72xxScene(Rig& rig, unsigned groups) : board_(rig.pci7296), groups_(groups) {
        PCI72xxCard& card = own<PCI72xxCard>(0);
        for (unsigned g = 0; g < groups_; ++g)
            addTrack(card, g, std::string(8, 'I') + std::string(8, 'O') + "IIIIOOOO");
    }

    void scanHand() override {
        Platform& pc = Platform::current();
        for (unsigned g = 0; g < groups_; ++g) {
            const std::uint16_t group = static_cast<std::uint16_t>(base + 4 * g);
            long* values = hand(g);
            unpack(~pc.inByte(group), values);
            unpack(~pc.inByte(static_cast<std::uint16_t>(group + 2)), values + 16);
        }
        for (unsigned g = 0; g < groups_; ++g) {
            const std::uint16_t group = static_cast<std::uint16_t>(base + 4 * g);
            const long* values = hand(g);
            pc.outByte(static_cast<std::uint16_t>(group + 1),
                       static_cast<std::uint8_t>(~pack(values + 8)));
            pc.outByte(static_cast<std::uint16_t>(group + 2),
                       static_cast<std::uint8_t>(~(pack(values + 16) & 0xF0)));
        }
    }

private:
    static constexpr unsigned base = 0xD000;
    void stirField(unsigned step) override {
        for (unsigned g = 0; g < groups_; ++g) {
            board_.setInputLevels(g, Sim::PCI72xxBoard::PortA,
                                  static_cast<std::uint8_t>(mix(step, 98, g)));
            board_.setInputLevels(g, Sim::PCI72xxBoard::PortC,
                                  static_cast<std::uint8_t>(mix(step, 97, g)));
        }
    }
    Sim::PCI72xxBoard& board_;
    unsigned groups_;
};

// ---- parallel port: data out, control lines in, status lines in -----------

class ParallelScene : public Scene {
public:
    explicit ParallelScene(Rig& rig) : board_(rig.lpt) {
        addTrack(own<ParallelPort>(), 0, "OOOOOOOOIIIIIIIII");
    }

    void scanHand() override {
        Platform& pc = Platform::current();
        long* values = hand(0);
        // INIT passes straight, the other control lines are inverted by the
        // port; BUSY is inverted, the other status lines are not.
        unsigned bits = pc.inByte(base + 2) ^ 0x04u;
        for (unsigned i = 8; i < 12; ++i, bits >>= 1)
            values[i] = static_cast<long>(bits & 1);
        bits = ~((pc.inByte(base + 1) ^ 0x80u) >> 3) & 0xFF;
        for (unsigned i = 12; i < 17; ++i, bits >>= 1)
            values[i] = static_cast<long>(bits & 1);
        pc.outByte(base, static_cast<std::uint8_t>(~pack(values)));
    }

private:
    static constexpr std::uint16_t base = 0x378;
    void stirField(unsigned step) override {
        board_.setControlApplied(static_cast<std::uint8_t>(mix(step, 96, 0) & 0x0F));
        board_.setStatusApplied(static_cast<std::uint8_t>(mix(step, 96, 1) & 0xF8));
    }
    Sim::ParallelPortBoard& board_;
};

// ---- PC7166: one 24-bit counter per point, counted on past 24 bits --------

class PC7166Scene : public Scene {
public:
    PC7166Scene(Rig& rig, unsigned channels) : board_(rig.pc7166), channels_(channels) {
        const std::string letters = std::string("CRCR").substr(0, channels);
        addTrack(own<PC7166Card>(base), 0, letters);
        for (unsigned c = 0; c < channels_; ++c) {
            reverse_[c] = letters[c] == 'R';
            last_[c] = 0;
        }
    }

    void scanHand() override {
        Platform& pc = Platform::current();
        long* values = hand(0);
        for (unsigned c = 0; c < channels_; ++c) {
            const std::uint16_t data = static_cast<std::uint16_t>(base + 2 * c);
            const std::uint16_t control = static_cast<std::uint16_t>(data + 1);
            pc.outByte(control, 0x02);   // latch the count
            pc.outByte(control, 0x01);   // reset the byte pointer
            std::uint32_t raw = pc.inByte(data);
            raw |= static_cast<std::uint32_t>(pc.inByte(data)) << 8;
            raw |= static_cast<std::uint32_t>(pc.inByte(data)) << 16;
            if (reverse_[c])
                raw = 0xFFFFFFu - raw;
            std::uint32_t last = static_cast<std::uint32_t>(last_[c]);
            const std::int32_t d =
                static_cast<std::int32_t>(raw) - static_cast<std::int32_t>(last & 0xFFFFFFu);
            if (d >= 0x800000)
                last -= 0x1000000u;
            else if (d <= -0x800000)
                last += 0x1000000u;
            last_[c] = static_cast<std::int32_t>((last & ~0xFFFFFFu) + raw);
            values[c] = last_[c];
        }
        for (unsigned c = 0; c < channels_; ++c) {
            const std::int32_t value = static_cast<std::int32_t>(values[c]);
            if (value == last_[c])
                continue;
            last_[c] = value;
            std::uint32_t count = static_cast<std::uint32_t>(value);
            if (reverse_[c])
                count = 0xFFFFFFu - (count & 0xFFFFFFu);
            const std::uint16_t data = static_cast<std::uint16_t>(base + 2 * c);
            const std::uint16_t control = static_cast<std::uint16_t>(data + 1);
            pc.outByte(control, 0x01);
            pc.outByte(data, static_cast<std::uint8_t>(count));
            pc.outByte(data, static_cast<std::uint8_t>(count >> 8));
            pc.outByte(data, static_cast<std::uint8_t>(count >> 16));
            pc.outByte(control, 0x08);   // load the preset into the counter
        }
    }

private:
    static constexpr unsigned base = 0x340;
    void stirField(unsigned step) override {
        for (unsigned c = 0; c < channels_; ++c)
            board_.turn(c, static_cast<std::int32_t>(mix(step, 95, c)) >> 12);
    }
    Sim::PC7166Board& board_;
    unsigned channels_;
    bool reverse_[4];
    std::int32_t last_[4];
};

// ---- AC28, digital banks: one byte port each, and the status byte -------

const unsigned ac28Base = 0x100, ac28Reset = 0xE0;

class AC28DigitalScene : public Scene {
public:
    AC28DigitalScene(Rig& rig, unsigned points) : board_(rig.ac28), banks_(points / 8) {
        board_.placeDigital(0, banks_);
        const std::string letters = halves(points, 'I', 'O');
        addTrack(own<AC28Card>(ac28Base, ac28Reset, true), 0, letters);
        for (unsigned b = 0; b < banks_; ++b)
            masks_[b] = maskOf(letters, 8 * b, 'O');
    }

    void scanHand() override {
        Platform& pc = Platform::current();
        long* values = hand(0);
        for (unsigned b = 0; b < banks_; ++b) {
            if (masks_[b] == 0xFF)
                continue;
            const unsigned bits = pc.inByte(static_cast<std::uint16_t>(ac28Base + b));
            const unsigned status = pc.inByte(ac28Reset);
            handState(0) = status == 0xFF || status == 1 || status == 2 ? 0 : 3;
            unpack(bits, values + 8 * b);
        }
        for (unsigned b = 0; b < banks_; ++b)
            if (masks_[b] != 0)
                pc.outByte(static_cast<std::uint16_t>(ac28Base + b),
                           static_cast<std::uint8_t>(pack(values + 8 * b) & masks_[b]));
    }

private:
    void stirField(unsigned step) override {
        for (unsigned b = 0; b < banks_; ++b)
            board_.setInputs(b, static_cast<std::uint8_t>(mix(step, 94, b)));
    }
    Sim::AC28Board& board_;
    unsigned banks_;
    std::uint8_t masks_[64];
};

// ---- AC28, analog brainboards: channels 0-7 inputs, 8-15 outputs ------------

class AC28AnalogScene : public Scene {
public:
    AC28AnalogScene(Rig& rig, unsigned points, unsigned firstBank)
        : board_(rig.ac28), brainboards_(points / 16), first_(firstBank) {
        for (unsigned k = 0; k < brainboards_; ++k)
            board_.placeAnalog(first_ + 2 * k);
        std::string letters;
        for (unsigned k = 0; k < brainboards_; ++k)
            letters += "AAAAAAAAUUUUUUUU";
        addTrack(own<AC28Card>(ac28Base, ac28Reset, true), first_, letters);
    }

    void scanHand() override {
        Platform& pc = Platform::current();
        long* values = hand(0);
        long state = 0;
        for (unsigned k = 0; k < brainboards_; ++k) {
            const std::uint16_t data = static_cast<std::uint16_t>(ac28Base + first_ + 2 * k);
            const std::uint16_t command = static_cast<std::uint16_t>(data + 1);
            if (!access(pc, data)) {
                state = 3;
                continue;
            }
            for (unsigned c = 0; c < 8; ++c) {
                pc.outByte(command, static_cast<std::uint8_t>(2 * c));
                const unsigned low = pc.inByte(data);
                pc.outByte(command, static_cast<std::uint8_t>(2 * c + 1));
                const unsigned high = pc.inByte(data);
                // Offset binary: code 0x800 reads 0.
                const std::uint32_t code = (low | high << 8) & 0xFFF;
                values[16 * k + c] = static_cast<std::int32_t>((code << 20) - 0x80000000u);
            }
            release(pc, data);
        }
        handState(0) = state;
        state = 0;
        for (unsigned k = 0; k < brainboards_; ++k) {
            const std::uint16_t data = static_cast<std::uint16_t>(ac28Base + first_ + 2 * k);
            const std::uint16_t command = static_cast<std::uint16_t>(data + 1);
            if (!access(pc, data)) {
                state = 3;
                continue;
            }
            for (unsigned c = 8; c < 16; ++c) {
                const std::uint32_t v = static_cast<std::uint32_t>(values[16 * k + c]);
                pc.outByte(command, static_cast<std::uint8_t>(2 * c));
                pc.outByte(data, static_cast<std::uint8_t>(v >> 20));
                pc.outByte(command, static_cast<std::uint8_t>(2 * c + 1));
                pc.outByte(data, static_cast<std::uint8_t>((v >> 28) | (v >> 31 ? 0xF0 : 0)));
            }
            release(pc, data);
        }
        handState(0) = state;
    }

private:
    static bool access(Platform& pc, std::uint16_t data) {
        pc.outByte(static_cast<std::uint16_t>(data + 1), 0x82);
        for (unsigned i = 0; i < 10; ++i)
            if ((pc.inByte(data) & 0x80) == 0)
                return true;
        return false;
    }
    static void release(Platform& pc, std::uint16_t data) {
        pc.outByte(static_cast<std::uint16_t>(data + 1), 0x82);
        pc.outByte(data, 0xFF);
    }
    void stirField(unsigned step) override {
        for (unsigned k = 0; k < brainboards_; ++k)
            for (unsigned c = 0; c < 8; ++c)
                board_.setInputCode(first_ + 2 * k, c,
                                    static_cast<std::uint16_t>(mix(step, 93 + k, c) & 0xFFF));
    }
    Sim::AC28Board& board_;
    unsigned brainboards_;
    unsigned first_;
};

// ---- 1784-KTx: banks in the image tables of the shared memory -------------

class AB1784Scene : public Scene {
public:
    AB1784Scene(Rig& rig, unsigned points) : board_(rig.ktx), banks_(points / 8) {
        namespace fs = std::filesystem;
        const fs::path dir =
            fs::temp_directory_path() /
            ("tavex-bench-ktx-" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(dir);
        const std::vector<std::uint8_t> clrram(64, 0x11), loadpcl(256, 0x22), scanner(5000, 0x33);
        write(dir / "clrram.bin", clrram);
        write(dir / "loadpcl.bin", loadpcl);
        write(dir / "scanner.bin", scanner);
        board_.setProtocolImages(clrram, loadpcl, scanner);
        const std::string prefix = dir.string() + char(fs::path::preferred_separator);
        try {
            own<AB1784Card>(0xD8000, prefix.c_str(), 0xFE);
        } catch (...) {
            fs::remove_all(dir);
            throw;
        }
        fs::remove_all(dir);   // read only while the card starts the scanner

        const std::string letters = halves(points, 'I', 'O');
        addTrack(card(), 0, letters);
        for (unsigned b = 0; b < banks_; ++b)
            masks_[b] = maskOf(letters, 8 * b, 'O');
        memory_ = board_.memory().data();
        setWindow(memory_, board_.memory().size());
    }

    void scanHand() override {
        volatile std::uint8_t* const memory = memory_;
        long* values = hand(0);
        handState(0) = status(memory);
        for (unsigned b = 0; b < banks_; ++b)
            if (masks_[b] == 0)
                unpack(memory[0x400 + b], values + 8 * b);
        handState(0) = status(memory);
        for (unsigned b = 0; b < banks_; ++b)
            if (masks_[b] != 0)
                memory[0x600 + b] = static_cast<std::uint8_t>(pack(values + 8 * b) & masks_[b]);
    }

private:
    // Scanner running, and the status entry of bank 0 good.
    static long status(const volatile std::uint8_t* memory) {
        if ((wordAt(memory, 0x7E) & 0x0004) == 0)
            return 2;
        const unsigned a = memory[0x80];
        const unsigned b = memory[0x81];
        return (a & 0x03) == 0x03 && (b & 0x20) != 0 ? 0 : 3;
    }
    static void write(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out)
            throw std::runtime_error("bench: cannot write " + path.string());
    }
    void stirField(unsigned step) override {
        for (unsigned b = 0; b < banks_; ++b)
            if (masks_[b] != 0xFF)
                board_.setInputs(b, static_cast<std::uint8_t>(mix(step, 92, b)));
    }
    Sim::AB1784KTxBoard& board_;
    unsigned banks_;
    std::uint8_t masks_[256];
    std::uint8_t* memory_;
};

// ---- MicroGENI: one station's blocks of the I/O table, status at the port --

class GeniusScene : public Scene {
public:
    GeniusScene(Rig& rig, bool digital, unsigned points, unsigned station)
        : board_(rig.genius), digital_(digital), points_(points), station_(station) {
        board_.placeStation(station_, Sim::GEMicroGENIBoard::InputsAndOutputs);
        const std::string letters =
            digital_ ? halves(points, 'I', 'O') : halves(points, 'A', 'U');
        addTrack(own<GEMicroGENI>(port, 0xD0000), station_, letters);
        if (digital_)
            for (unsigned i = 0; i < points / 8; ++i)
                masks_[i] = maskOf(letters, 8 * i, 'O');
        inputBlock_ = 0x2000 + tableSize * station_;
        outputBlock_ = 0x2000 + tableSize * (32 + station_);
        memory_ = board_.memory().data();
        setWindow(memory_, board_.memory().size());
    }

    void scanHand() override {
        Platform& pc = Platform::current();
        volatile std::uint8_t* const memory = memory_;
        long* values = hand(0);
        handState(0) = state(pc, memory);
        if (digital_) {
            for (unsigned i = 0; i < points_ / 8; ++i) {
                const unsigned bits = memory[inputBlock_ + i];
                for (unsigned j = 0; j < 8; ++j)
                    if ((masks_[i] >> j & 1u) == 0)
                        values[8 * i + j] = static_cast<long>((bits >> j) & 1u);
            }
        } else {
            // 0x8000 reads as 0.
            for (unsigned p = 0; p < points_ / 2; ++p)
                values[p] = static_cast<std::int32_t>(
                    (static_cast<std::uint32_t>(wordAt(memory, inputBlock_ + 2 * p)) << 16) -
                    0x80000000u);
        }
        handState(0) = state(pc, memory);
        if (digital_) {
            for (unsigned i = 0; i < points_ / 8; ++i)
                if (masks_[i] != 0)
                    memory[outputBlock_ + i] =
                        static_cast<std::uint8_t>(pack(values + 8 * i) & masks_[i]);
        } else {
            for (unsigned p = points_ / 2; p < points_; ++p)
                putWord(memory, outputBlock_ + 2 * p,
                        static_cast<std::uint16_t>(static_cast<std::uint32_t>(values[p]) >> 16));
        }
    }

    static constexpr unsigned tableSize = 128;

private:
    static constexpr std::uint16_t port = 0x3E0;
    // Comm OK and board OK (status bits 4 and 3 low), then the station's
    // presence byte.
    long state(Platform& pc, const volatile std::uint8_t* memory) const {
        const bool healthy = (pc.inByte(port) & 0x10) == 0 && (pc.inByte(port) & 0x08) == 0;
        if (!healthy)
            return 2;
        return memory[0x1E00 + 8 * station_ + 2] == 1 ? 0 : 3;
    }
    void stirField(unsigned step) override {
        if (digital_)
            for (unsigned i = 0; i < points_ / 8; ++i)
                board_.setInputByte(station_, i, static_cast<std::uint8_t>(mix(step, 91, i)));
        else
            for (unsigned w = 0; w < points_ / 2; ++w)
                board_.setInputWord(station_, w, static_cast<std::uint16_t>(mix(step, 90, w)));
    }
    Sim::GEMicroGENIBoard& board_;
    bool digital_;
    unsigned points_;
    unsigned station_;
    std::uint8_t masks_[4];
    std::uint32_t inputBlock_, outputBlock_;
    std::uint8_t* memory_;
};

// ---- 5136-PFB-PCI: one slave's input and output data ------------------------

class ProfibusScene : public Scene {
public:
    ProfibusScene(Rig& rig, unsigned points) : board_(rig.profibus), bytes_(points / 8) {
        board_.addSlave(slave, 244, 244);
        board_.powerUpRunning(true);
        own<SST5136PFBPCI>("", 0x06, 0).online();
        const std::string letters = halves(points, 'I', 'O');
        addTrack(card(), slave << 16, letters);
        for (unsigned i = 0; i < bytes_; ++i) {
            inputMasks_.push_back(maskOf(letters, 8 * i, 'I'));
            outputMasks_.push_back(maskOf(letters, 8 * i, 'O'));
        }
        memory_ = board_.memory().data();
        setWindow(memory_, board_.memory().size());
        // The card read the page bytes once, when it started.
        records_ = memory_[0x802A] * 0x4000u;
        inputArea_ = memory_[0x802B] * 0x4000u;
        outputArea_ = memory_[0x802C] * 0x4000u;
    }

    void scanHand() override {
        volatile std::uint8_t* const memory = memory_;
        long* values = hand(0);
        std::uint32_t first;
        if (locate(memory, 8, inputArea_, first)) {
            for (unsigned i = 0; i < bytes_; ++i) {
                const unsigned bits = memory[first + i];
                for (unsigned j = 0; j < 8; ++j)
                    if ((inputMasks_[i] >> j & 1u) != 0)
                        values[8 * i + j] = static_cast<long>((bits >> j) & 1u);
            }
        }
        if (locate(memory, 10, outputArea_, first)) {
            for (unsigned i = 0; i < bytes_; ++i)
                memory[first + i] = static_cast<std::uint8_t>(pack(values + 8 * i) & outputMasks_[i]);
        }
    }

private:
    static constexpr unsigned slave = 3;
    static constexpr std::uint32_t windowSize = 0x200000;
    // The slave word gives the state and the record; the record's data
    // offset (signed) places the slave's bytes in the area.
    bool locate(const volatile std::uint8_t* memory, std::uint32_t field, std::uint32_t area,
                std::uint32_t& first) {
        const std::uint16_t word = wordAt(memory, 0x8900 + 2 * slave);
        const std::uint32_t index = word & 0xFFu;
        handState(0) = (word & 0x8000) != 0 && index != 0xFF ? 0 : 3;
        if (index == 0xFF)
            return false;
        const std::uint32_t at = records_ + index * 128 + field;
        if (at + 2 > windowSize) {
            handState(0) = 3;
            return false;
        }
        const std::int32_t base = static_cast<std::int32_t>(area) +
                                  static_cast<std::int16_t>(wordAt(memory, at));
        if (base < 0 || base + static_cast<std::int32_t>(bytes_) > static_cast<std::int32_t>(windowSize)) {
            handState(0) = 3;
            return false;
        }
        first = static_cast<std::uint32_t>(base);
        return true;
    }
    void stirField(unsigned step) override {
        for (unsigned i = 0; i < bytes_; ++i)
            if (inputMasks_[i] != 0)
                board_.setInput(slave, i, static_cast<std::uint8_t>(mix(step, 89, i)));
    }
    Sim::SST5136PFBBoard& board_;
    unsigned bytes_;
    std::vector<std::uint8_t> inputMasks_, outputMasks_;
    std::uint8_t* memory_;
    std::uint32_t records_, inputArea_, outputArea_;
};

template <class S, class... Args>
ScenePlan plan(const char* card, const std::string& track, unsigned points, Args... args) {
    ScenePlan s;
    s.card = card;
    s.track = track;
    s.points = points;
    s.make = [=](Rig& rig) { return std::unique_ptr<Scene>(new S(rig, args...)); };
    return s;
}

std::string tracksOf(unsigned count, unsigned points) {
    return std::to_string(count) + (count == 1 ? " track of " : " tracks of ") +
           std::to_string(points);
}

}  // namespace

// ---- Rig ----------------------------------------------------------------

Rig::Rig()
    : bridge(machine.add<Sim::PCIHostBridge>(Sim::PCIHostBridge::Mechanism1)),
      bios(machine.add<Sim::BiosDataArea>()),
      ac5(machine.add<Sim::AC5Board>(0x300)),
      pci7296(machine.add<Sim::PCI72xxBoard>(bridge, 0, 5, 0, Sim::PCI72xxBoard::PCI7296,
                                             0xD000)),
      lpt(machine.add<Sim::ParallelPortBoard>(0x378)),
      pc7166(machine.add<Sim::PC7166Board>(0x340)),
      ac28(machine.add<Sim::AC28Board>(ac28Base, ac28Reset, true)),
      ktx(machine.add<Sim::AB1784KTxBoard>(0xD8000)),
      pcim(machine.add<Sim::GEPCIMBoard>(0x3E0, 2)),
      genius(pcim.addMicroGENI(0x3E0, 0xD0000, Sim::GEMicroGENIBoard::Running)),
      profibus(machine.add<Sim::SST5136PFBBoard>(bridge, 0, 4)) {
    machine.setTracing(false);
    bios.setLptPort(1, 0x378);
    genius.setIOTableSize(GeniusScene::tableSize);
}

Rig::~Rig() {}

// ---- Scene ----------------------------------------------------------------

// The tracks go first, then their card (the members' order).
Scene::~Scene() {}

void Scene::addTrack(IOCard& card, unsigned startingPoint, const std::string& letters) {
    tracks_.emplace_back(new IOTrack(card, startingPoint, letters.c_str()));
    letters_.push_back(letters);
    handValues_.emplace_back(letters.size(), 0L);
    handStates_.push_back(0);
}

void Scene::scanCard() {
    for (const auto& track : tracks_)
        track->updateInputs();
    for (const auto& track : tracks_)
        track->updateOutputs();
}

void Scene::stir(unsigned step) {
    // Output values of every kind a client may leave: only the low 32 bits
    // of a digital value count.
    static const long digital[] = {0, 1, -1, 2, static_cast<long>(1LL << 32)};
    for (std::size_t t = 0; t < tracks_.size(); ++t) {
        for (std::size_t i = 0; i < letters_[t].size(); ++i) {
            const std::uint32_t x = mix(step, t, i);
            long value;
            switch (letters_[t][i]) {
            case IOTrack::DigitalOutput: value = digital[x % 5]; break;
            case IOTrack::AnalogOutput: value = static_cast<std::int32_t>(x); break;
            case IOTrack::Counter:
            case IOTrack::ReverseCounter: value = static_cast<std::int32_t>(x) >> 4; break;
            default: continue;
            }
            (*tracks_[t])[static_cast<unsigned>(i)] = value;
            handValues_[t][i] = value;
        }
    }
    stirField(step);
}

std::vector<long> Scene::cardView() const {
    std::vector<long> view;
    for (const auto& track : tracks_) {
        for (unsigned i = 0; i < track->numberOfPoints(); ++i)
            view.push_back((*track)[i]);
        view.push_back(track->trackState());
    }
    return view;
}

std::vector<long> Scene::handView() const {
    std::vector<long> view;
    for (std::size_t t = 0; t < handValues_.size(); ++t) {
        view.insert(view.end(), handValues_[t].begin(), handValues_[t].end());
        view.push_back(handStates_[t]);
    }
    return view;
}

unsigned Scene::points() const {
    unsigned points = 0;
    for (const auto& track : tracks_)
        points += track->numberOfPoints();
    return points;
}

// ---- the scenes --------------------------------------------------------------

std::vector<ScenePlan> benchmarkScenes() {
    std::vector<ScenePlan> scenes;
    for (unsigned points : {8u, 16u, 24u})
        scenes.push_back(plan<AC5Scene>("AC5Card", tracksOf(1, points) + ", I then O", points,
                                        points));
    for (unsigned groups : {1u, 2u, 4u})
        scenes.push_back(plan<PCI72xxScene>("PCI72xxCard",
                                            tracksOf(groups, 24) + " (PCI-7296 groups)",
                                            24 * groups, groups));
    scenes.push_back(plan<ParallelScene>("ParallelPort", tracksOf(1, 17) + ", data O, rest I", 17));
    for (unsigned channels : {1u, 2u, 4u})
        scenes.push_back(plan<PC7166Scene>("PC7166Card", tracksOf(1, channels) + ", C and R",
                                           channels, channels));
    for (unsigned points : {64u, 256u, 512u})
        scenes.push_back(plan<AC28DigitalScene>("AC28Card", tracksOf(1, points) + " digital",
                                                points, points));
    for (unsigned points : {16u, 128u, 512u})
        scenes.push_back(plan<AC28AnalogScene>("AC28Card analog",
                                               tracksOf(1, points) + ", 8 A + 8 U a brainboard",
                                               points, points, 0u));
    for (unsigned points : {64u, 256u, 1024u})
        scenes.push_back(plan<AB1784Scene>("AB1784Card", tracksOf(1, points) + ", I then O",
                                           points, points));
    for (unsigned points : {8u, 16u, 32u})
        scenes.push_back(plan<GeniusScene>("GEMicroGENI", tracksOf(1, points) + " digital",
                                           points, true, points, 3u));
    for (unsigned points : {16u, 32u, 64u})
        scenes.push_back(plan<GeniusScene>("GEMicroGENI analog",
                                           tracksOf(1, points) + ", A then U", points, false,
                                           points, 9u));
    for (unsigned points : {64u, 256u, 1024u})
        scenes.push_back(plan<ProfibusScene>("SST5136PFBPCI", tracksOf(1, points) + ", I then O",
                                             points, points));
    return scenes;
}

std::vector<ScenePlan> soakScenes() {
    // All on one rig: the analog brainboards behind the digital banks, built
    // after them, since every AC28 card pulses the brainboards' reset.
    std::vector<ScenePlan> scenes;
    scenes.push_back(plan<AC5Scene>("AC5Card", tracksOf(1, 24), 24, 24u));
    scenes.push_back(plan<PCI72xxScene>("PCI72xxCard", tracksOf(4, 24), 96, 4u));
    scenes.push_back(plan<ParallelScene>("ParallelPort", tracksOf(1, 17), 17));
    scenes.push_back(plan<PC7166Scene>("PC7166Card", tracksOf(1, 4), 4, 4u));
    scenes.push_back(plan<AC28DigitalScene>("AC28Card", tracksOf(1, 256) + " digital", 256, 256u));
    scenes.push_back(plan<AC28AnalogScene>("AC28Card analog", tracksOf(1, 64), 64, 64u, 32u));
    scenes.push_back(plan<AB1784Scene>("AB1784Card", tracksOf(1, 1024), 1024, 1024u));
    scenes.push_back(plan<GeniusScene>("GEMicroGENI", tracksOf(1, 32) + " digital", 32, true, 32u, 3u));
    scenes.push_back(plan<GeniusScene>("GEMicroGENI analog", tracksOf(1, 64), 64, false, 64u, 9u));
    scenes.push_back(plan<ProfibusScene>("SST5136PFBPCI", tracksOf(1, 1024), 1024, 1024u));
    return scenes;
}

}  // namespace Bench
