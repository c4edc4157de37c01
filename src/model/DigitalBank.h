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

// Bit j set when values[j] switches its point on.  A value keeps its 32-bit
// meaning where long is wider: only its low 32 bits count.
inline std::uint8_t pack(const long* values) {
    unsigned int bits = 0;
    for (unsigned int j = 0; j < points; ++j)
        if (static_cast<std::uint32_t>(values[j]) != 0)
            bits |= 1u << j;
    return static_cast<std::uint8_t>(bits);
}

// values[j] = bit j of the byte (0 or 1).
inline void unpack(unsigned int bits, long* values) {
    for (unsigned int j = 0; j < points; ++j)
        values[j] = static_cast<long>((bits >> j) & 1u);
}

// values[j] = bit j of the byte, except where bit j of keep is set: those
// values stay as they are.
inline void unpackExcept(unsigned int bits, unsigned int keep, long* values) {
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
