#include "tavex/cards/AC5Card.h"

#include <stdexcept>

#include "model/DigitalBank.h"
#include "tavex/platform/IOPort.h"

namespace Tavex {

namespace {

const unsigned int portCount = 3;
const char selectDirection = 0x00;
const char selectData = 0x34;

}  // namespace

AC5Card::AC5Card(unsigned int baseIOPort) : IOCard("AC5"), baseIOPort_(baseIOPort) {
    if (baseIOPort % 0x10 != 0 || baseIOPort < 0x220 || baseIOPort > 0x3E0 ||
        baseIOPort == 0x270)
        throw std::logic_error("AC5 card: invalid base IO port number specified.");
    for (unsigned int p = 0; p < portCount; ++p)
        directionMasks_[p] = 0;
}

AC5Card::~AC5Card() noexcept(false) {}

IOCard& AC5Card::addTrack(IOTrack& track) {
    const unsigned int points = track.numberOfPoints();
    if (points != 8 && points != 16 && points != 24)
        throw std::logic_error("AC5 track can be only 8, 16 or 24 points long.");
    const unsigned int first = track.startingPoint();
    if (first >= portCount || points / 8 > portCount - first)
        throw std::logic_error("AC5 track starting point too big.");

    // Each port is checked and programmed before the next one is looked at.
    for (unsigned int p = first; p < first + points / 8; ++p) {
        const unsigned int bank = (p - first) * DigitalBank::points;
        if (!DigitalBank::isDigital(track, bank))
            throw std::logic_error("AC5 card only supports digital IO.");
        const std::uint8_t mask = DigitalBank::outputMask(track, bank);
        directionMasks_[p] = mask;
        IOPort control(baseIOPort_ + 2 * p + 1, true);
        IOPort data(baseIOPort_ + 2 * p, true);
        control.writeChar(selectDirection);
        data.writeChar(static_cast<char>(mask));
        control.writeChar(selectData);
    }
    return *this;
}

IOCard& AC5Card::updateInputs(const IOTrack& track, long* values, long&) {
    const unsigned int first = track.startingPoint();
    const unsigned int last = first + track.numberOfPoints() / 8;
    for (unsigned int p = first; p < last; ++p, values += DigitalBank::points) {
        if (directionMasks_[p] == 0xFF)
            continue;
        // Lines are active low.
        const unsigned int levels = static_cast<unsigned char>(
            IOPort(baseIOPort_ + 2 * p, false).readChar());
        DigitalBank::unpack(~levels, values);
    }
    return *this;
}

IOCard& AC5Card::updateOutputs(const IOTrack& track, const long* values, long&) {
    const unsigned int first = track.startingPoint();
    const unsigned int last = first + track.numberOfPoints() / 8;
    for (unsigned int p = first; p < last; ++p, values += DigitalBank::points) {
        const unsigned char mask = directionMasks_[p];
        if (mask == 0)
            continue;
        const unsigned int bits = DigitalBank::pack(values);
        IOPort(baseIOPort_ + 2 * p, true).writeChar(static_cast<char>(~(bits & mask)));
    }
    return *this;
}

}  // namespace Tavex
