// Tape: a fuzz input read front to back as the behaviour of the simulated
// PC.  Every decision of a target and every answer of a board takes the
// next bytes, in the order the library asks, so an input is a recording of
// one run: the seeds in fuzz/corpus/ are written that way by
// fuzz/make_corpus.py.  A tape that has run out answers with the default
// the caller names, so every run ends, and ends the same way.
//
// Multi-byte numbers are little-endian.
#ifndef TAVEX_FUZZ_TAPE_H
#define TAVEX_FUZZ_TAPE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace TavexFuzz {

class Tape {
public:
    Tape(const std::uint8_t* data, std::size_t size) : data_(data), size_(size), position_(0) {}

    bool empty() const { return position_ >= size_; }

    std::uint8_t byte(std::uint8_t otherwise = 0) {
        return empty() ? otherwise : data_[position_++];
    }
    std::uint16_t word(std::uint16_t otherwise = 0) {
        if (empty())
            return otherwise;
        const unsigned low = byte();
        return static_cast<std::uint16_t>(low | byte() << 8);
    }
    std::uint32_t dword(std::uint32_t otherwise = 0) {
        if (empty())
            return otherwise;
        const std::uint32_t low = word();
        return low | static_cast<std::uint32_t>(word()) << 16;
    }
    // An n-byte number, n from 1 to 4.
    std::uint32_t number(unsigned bytes) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < bytes; ++i)
            value |= static_cast<std::uint32_t>(byte()) << (8 * i);
        return value;
    }

    // One of n choices, by the next byte (the first when the tape is out).
    template <class T, std::size_t n>
    const T& pick(const T (&choices)[n]) {
        return choices[byte() % n];
    }

    // The letters of a track: a length byte, then one byte per letter,
    // mostly the seven letters the cards know.  Length 0 is the empty
    // string; a length of 0xF0 or more gives 8 * (length - 0xEF) * 16 points
    // (128 to 2048), repeating a pattern of 8 letters, so that the widest
    // tracks cost a few bytes.  A tape that runs out goes on with 'I'.
    std::string letters();

private:
    char letter();

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_;
};

inline char Tape::letter() {
    static const char known[] = "IOAUCRN";
    const std::uint8_t b = byte('I');
    if (b == 'I' || b == 'O' || b == 'A' || b == 'U' || b == 'C' || b == 'R' || b == 'N')
        return static_cast<char>(b);
    // Bytes 0xF8 and above stand for themselves: letters no card knows.
    if (b >= 0xF8)
        return static_cast<char>(b);
    return known[b % 7];
}

inline std::string Tape::letters() {
    const unsigned length = byte();
    std::string text;
    if (length < 0xF0) {
        for (unsigned i = 0; i < length; ++i)
            text += letter();
        return text;
    }
    char pattern[8];
    for (char& c : pattern)
        c = letter();
    const unsigned points = 8 * 16 * (length - 0xEF);
    for (unsigned i = 0; i < points; ++i)
        text += pattern[i % 8];
    return text;
}

}  // namespace TavexFuzz

#endif
