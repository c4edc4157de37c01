// DigitalBank: the eight points of one byte of a digital board (a port, a
// bank, a rack slot, a station byte), as every card with 8-point banks
// handles them.  Internal to the library.
//
// Point j of a bank is bit j of its byte.  A card validates and programs its
// banks one at a time, in its own order; these helpers only turn letters into
// a mask and values into bits and back, so that no card packs bytes by hand.
#ifndef TAVEX_SRC_MODEL_DIGITALBANK_H
#define TAVEX_SRC_MODEL_DIGITALBANK_H

#include <cstdint>
#include <cstring>

#include "tavex/model/IOTrack.h"

namespace Tavex {
namespace DigitalBank {

const unsigned int points = 8;

// Bit j set when track point first + j is a digital output ('O').
inline std::uint8_t outputMask(const IOTrack& track, unsigned int first) {
    std::uint8_t mask = 0;
    for (unsigned int j = 0; j < points; ++j)
        if (track.pointType(first + j) == IOTrack::DigitalOutput)
            mask = static_cast<std::uint8_t>(mask | (1u << j));
    return mask;
}

// True when every point of the bank is a digital input, a digital output or
// not used ('I', 'O', 'N').
inline bool isDigital(const IOTrack& track, unsigned int first) {
    for (unsigned int j = 0; j < points; ++j) {
        switch (track.pointType(first + j)) {
        case IOTrack::DigitalInput:
        case IOTrack::DigitalOutput:
        case IOTrack::NotUsed:
            break;
        default:
            return false;
        }
    }
    return true;
}

// True when the track has an analog or counter point anywhere ('U', 'A',
// 'C', 'R'): cards that serve only digital points refuse such a track.
inline bool hasAnalogOrCounterPoints(const IOTrack& track) {
    return track.hasPointOfType(IOTrack::AnalogOutput) ||
           track.hasPointOfType(IOTrack::AnalogInput) || track.hasPointOfType(IOTrack::Counter) ||
           track.hasPointOfType(IOTrack::ReverseCounter);
}

// An update path that must look at a track's own letters (IOCard::pointTypes)
// looks at eight at once, compared as one word.  Bit 7 of byte j of the
// result is set where letters[j] is the letter, and no other bit is: no
// carry crosses a byte.  All eight letters must be the track's.
inline std::uint64_t matchingLetters(const char* letters, char letter) {
    const std::uint64_t ones = 0x0101010101010101ull, low7 = 0x7F7F7F7F7F7F7F7Full;
    std::uint64_t word;
    std::memcpy(&word, letters, sizeof word);
    word ^= ones * static_cast<unsigned char>(letter);   // 0 where the letter is
    return ~(((word & low7) + low7) | word | low7);
}

// Bit j set where letters[j] is the letter, for the eight letters of a bank.
inline std::uint8_t letterMask(const char* letters, char letter) {
#if (defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) || defined(_MSC_VER)
    // letters[j] is byte j of the word.  The multiplication adds bit 8j of
    // the shifted flags into bit 56 + j, and no two flags meet on one bit.
    return static_cast<std::uint8_t>(
        ((matchingLetters(letters, letter) >> 7) * 0x0102040810204080ull) >> 56);
#else
    unsigned int mask = 0;
    for (unsigned int j = 0; j < points; ++j)
        if (letters[j] == letter)
            mask |= 1u << j;
    return static_cast<std::uint8_t>(mask);
#endif
}

// True when all eight letters of a bank are the letter.
inline bool allLetters(const char* letters, char letter) {
    std::uint64_t word;
    std::memcpy(&word, letters, sizeof word);
    return word == 0x0101010101010101ull * static_cast<unsigned char>(letter);
}

// True when one of the count letters from letters is the letter.
inline bool hasLetter(const char* letters, unsigned int count, char letter) {
    unsigned int i = 0;
    for (; i + points <= count; i += points)
        if (matchingLetters(letters + i, letter) != 0)
            return true;
    for (; i < count; ++i)
        if (letters[i] == letter)
            return true;
    return false;
}

// Bit j set when values[j] switches its point on.  A value keeps its 32-bit
// meaning where long is wider: only its low 32 bits count.
inline std::uint8_t pack(const long* values) {
    unsigned int bits = 0;
    for (unsigned int j = 0; j < points; ++j)
        if (static_cast<std::uint32_t>(values[j]) != 0)
            bits |= 1u << j;
    return static_cast<std::uint8_t>(bits);
}

// The four values of each nibble: nibbles.values[n][j] = bit j of n.
struct Nibbles {
    long values[16][4];
};

constexpr Nibbles makeNibbles() {
    Nibbles table{};
    for (unsigned int n = 0; n < 16; ++n)
        for (unsigned int j = 0; j < 4; ++j)
            table.values[n][j] = static_cast<long>((n >> j) & 1u);
    return table;
}

inline constexpr Nibbles nibbles = makeNibbles();

// values[j] = bit j of bits for the four values of a nibble, copied from
// the table.
inline void unpackNibble(unsigned int bits, long* values) {
    std::memcpy(values, nibbles.values[bits & 0xFu], sizeof nibbles.values[0]);
}

// values[j] = bit j of the byte (0 or 1).
inline void unpack(unsigned int bits, long* values) {
    unpackNibble(bits, values);
    unpackNibble(bits >> 4, values + 4);
}

// values[j] = bit j of the byte, except where bit j of keep is set: those
// values stay as they are.
inline void unpackExcept(unsigned int bits, unsigned int keep, long* values) {
    if (keep == 0) {
        unpack(bits, values);
        return;
    }
    if (keep == 0xFF)
        return;
    for (unsigned int j = 0; j < points; ++j)
        if ((keep >> j & 1u) == 0)
            values[j] = static_cast<long>((bits >> j) & 1u);
}

// pack(values) & outputMask(...) in one pass, for a card that keeps no
// masks of its own; letters are the bank's eight letters (IOCard::pointTypes
// of the track, from the bank's first point): bit j set when letters[j] is a
// digital output and values[j] switches it on.
inline std::uint8_t packOutputs(const char* letters, const long* values) {
    unsigned int bits = 0;
    for (unsigned int j = 0; j < points; ++j)
        if (letters[j] == IOTrack::DigitalOutput && static_cast<std::uint32_t>(values[j]) != 0)
            bits |= 1u << j;
    return static_cast<std::uint8_t>(bits);
}

// values[j] = bit j of the byte where letters[j] is a digital input; the
// other values stay as they are.
inline void unpackInputs(const char* letters, unsigned int bits, long* values) {
    for (unsigned int j = 0; j < points; ++j)
        if (letters[j] == IOTrack::DigitalInput)
            values[j] = static_cast<long>((bits >> j) & 1u);
}

}  // namespace DigitalBank
}  // namespace Tavex

#endif
