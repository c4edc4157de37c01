#include "tavex/cards/PC7166Card.h"

#include <stdexcept>

#include "tavex/platform/IOPort.h"

namespace Tavex {

namespace {

const unsigned int acceptedPorts[] = {0x220, 0x240, 0x250, 0x260, 0x300,
                                      0x310, 0x330, 0x340, 0x350, 0x360};

// Channel c: data register at base + 2c, control register at base + 2c + 1.
// The counter takes the initialisation bytes always all four, in this order.
const unsigned char initialisation[] = {0x20, 0x68, 0xC3, 0x04};
const char transfer = 0x01;   // before every three bytes through the data register
const char capture = 0x02;    // latches the count for reading, before transfer
const char load = 0x08;       // the three bytes just written become the count

const std::uint32_t countMask = 0xFFFFFF;
const std::uint32_t countRange = 0x1000000;
const std::int32_t halfRange = 0x800000;

bool isCounter(char type) {
    return type == IOTrack::Counter || type == IOTrack::ReverseCounter;
}

}  // namespace

PC7166Card::PC7166Card(unsigned int baseIOPort) : IOCard("PC7166"), baseIOPort_(baseIOPort) {
    bool accepted = false;
    for (unsigned int port : acceptedPorts)
        accepted = accepted || port == baseIOPort;
    if (!accepted)
        throw std::logic_error("PC7166 card: invalid base IO port number specified.");
    for (Channel& channel : channels_)
        channel = Channel{false, 0};
}

PC7166Card::~PC7166Card() noexcept(false) {}

void PC7166Card::initialise(unsigned int channel) {
    IOPort control(baseIOPort_ + 2 * channel + 1, true);
    for (unsigned char command : initialisation)
        control.writeChar(static_cast<char>(command));
}

void PC7166Card::preset(unsigned int channel, std::uint32_t count) {
    IOPort control(baseIOPort_ + 2 * channel + 1, true);
    IOPort data(baseIOPort_ + 2 * channel, true);
    control.writeChar(transfer);
    data.writeChar(static_cast<char>(count & 0xFF))
        .writeChar(static_cast<char>((count >> 8) & 0xFF))
        .writeChar(static_cast<char>((count >> 16) & 0xFF));
    control.writeChar(load);
}

IOCard& PC7166Card::addTrack(IOTrack& track) {
    const unsigned int first = track.startingPoint();
    const unsigned int points = track.numberOfPoints();
    if (first > channelCount || points > channelCount - first)
        throw std::logic_error("PC7166 only supports up to 4 encoders");
    // Nothing is touched or claimed unless every point passes.
    for (unsigned int p = 0; p < points; ++p) {
        const IOTrack::PointTypes type = track.pointType(p);
        if (!isCounter(type) && type != IOTrack::NotUsed)
            throw std::logic_error("PC7166 point type can only be Counter or Reverse Counter.");
        if (type != IOTrack::NotUsed && channels_[first + p].claimed)
            throw std::logic_error("PC7166: encoder is already used in another track.");
    }
    for (unsigned int p = 0; p < points; ++p) {
        if (!isCounter(track.pointType(p)))
            continue;
        initialise(first + p);
        preset(first + p, 0);
        channels_[first + p] = Channel{true, 0};
    }
    return *this;
}

IOCard& PC7166Card::reset() {
    for (unsigned int c = 0; c < channelCount; ++c) {
        initialise(c);
        if (channels_[c].claimed)
            channels_[c].lastCount = 0;
    }
    return *this;
}

IOCard& PC7166Card::updateInputs(const IOTrack& track, long* values, long&) {
    const unsigned int first = track.startingPoint();
    const char* const letters = pointTypes(track);
    for (unsigned int p = 0; p < track.numberOfPoints(); ++p) {
        const char type = letters[p];
        if (!isCounter(type))
            continue;
        Channel& channel = channels_[first + p];
        IOPort(baseIOPort_ + 2 * (first + p) + 1, true).writeChar(capture).writeChar(transfer);
        const IOPort data(baseIOPort_ + 2 * (first + p), false);
        std::uint32_t raw = static_cast<unsigned char>(data.readChar());
        raw |= static_cast<std::uint32_t>(static_cast<unsigned char>(data.readChar())) << 8;
        raw |= static_cast<std::uint32_t>(static_cast<unsigned char>(data.readChar())) << 16;
        if (type == IOTrack::ReverseCounter)
            raw = countMask - raw;

        // The hardware keeps 24 bits; the upper 8 follow from the last count,
        // taking the shorter way round: a jump of half the range or more is
        // the count passing through 0.
        std::uint32_t last = static_cast<std::uint32_t>(channel.lastCount);
        const std::int32_t d = static_cast<std::int32_t>(raw) -
                               static_cast<std::int32_t>(last & countMask);
        if (d >= halfRange)
            last -= countRange;
        else if (d <= -halfRange)
            last += countRange;
        channel.lastCount = static_cast<std::int32_t>((last & ~countMask) + raw);
        values[p] = channel.lastCount;
    }
    return *this;
}

IOCard& PC7166Card::updateOutputs(const IOTrack& track, const long* const values, long&) {
    const unsigned int first = track.startingPoint();
    const char* const letters = pointTypes(track);
    for (unsigned int p = 0; p < track.numberOfPoints(); ++p) {
        const char type = letters[p];
        if (!isCounter(type))
            continue;
        // Only a count the client changed since the last update is loaded.
        const std::int32_t value = static_cast<std::int32_t>(values[p]);
        Channel& channel = channels_[first + p];
        if (value == channel.lastCount)
            continue;
        channel.lastCount = value;
        std::uint32_t count = static_cast<std::uint32_t>(value);
        if (type == IOTrack::ReverseCounter)
            count = countMask - (count & countMask);
        preset(first + p, count);
    }
    return *this;
}

}  // namespace Tavex
