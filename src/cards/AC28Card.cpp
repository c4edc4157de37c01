#include "tavex/cards/AC28Card.h"

#include <cstring>
#include <stdexcept>

#include "model/DigitalBank.h"
#include "tavex/platform/IOPort.h"
#include "tavex/platform/OSInterface.h"

namespace Tavex {

namespace {

const unsigned int acceptedBasePorts[] = {0x100, 0x140, 0x180, 0x280};
const unsigned int acceptedResetPorts[] = {0xE0, 0x1E0, 0x2E0, 0x3E0};
const unsigned long resetPulseMicroseconds = 30000;

// An analog brainboard at bank k answers on two bank ports: data at
// base + k, command at base + k + 1.  Channel c has its 12-bit code in
// registers 2c (low byte) and 2c + 1 (high byte); registers 0x7E and 0x7F
// take the brainboard's output mask, bit c for channel c.
const unsigned int brainboardChannels = 16;
const unsigned int brainboardBanks = 2;
const char outputMaskLow = 0x7E;
const char outputMaskHigh = 0x7F;

// The host asks for a brainboard with 0x82 on its command port; the
// brainboard holds bit 7 of its data port set while it refuses.  0x82 with
// 0xFF on the data port gives it back.
const char accessCommand = static_cast<char>(0x82);
const char releaseByte = static_cast<char>(0xFF);
const unsigned int accessReads = 10;
const unsigned int accessRefused = 0x80;

const long stateValid = 0;
const long stateNotAnswering = 3;

// The reset port reads back 0xFF, 1 or 2 while the brainboards answer.
bool statusGood(unsigned int status) { return status == 0xFF || status == 1 || status == 2; }

bool isAnalog(const IOTrack& track) {
    return track.hasPointOfType(IOTrack::AnalogInput) ||
           track.hasPointOfType(IOTrack::AnalogOutput);
}

// Bit j set when track point first + j is an analog output ('U').
std::uint8_t analogOutputMask(const IOTrack& track, unsigned int first) {
    unsigned int mask = 0;
    for (unsigned int j = 0; j < DigitalBank::points; ++j)
        if (track.pointType(first + j) == IOTrack::AnalogOutput)
            mask |= 1u << j;
    return static_cast<std::uint8_t>(mask);
}

// Banks a track occupies: one per eight points, or on an analog track two
// per brainboard, the last one included even when the track uses only its
// first eight channels.
unsigned int banksOccupied(const IOTrack& track) {
    const unsigned int points = track.numberOfPoints();
    if (isAnalog(track))
        return brainboardBanks * ((points + brainboardChannels - 1) / brainboardChannels);
    return points / DigitalBank::points;
}

// Inputs are coded offset binary (code 0x800 reads 0), outputs as the top
// 12 bits of the value in two's complement (code 0 is 0); the output's high
// byte carries the sign on above the code.
long analogValue(unsigned int low, unsigned int high) {
    const std::uint32_t code = (low | high << 8) & 0xFFF;
    return static_cast<std::int32_t>((code << 20) - 0x80000000u);
}
char analogLow(long value) {
    return static_cast<char>((static_cast<std::uint32_t>(value) >> 20) & 0xFF);
}
char analogHigh(long value) {
    const std::uint32_t v = static_cast<std::uint32_t>(value);
    return static_cast<char>((v >> 28) | ((v & 0x80000000u) != 0 ? 0xF0 : 0x00));
}

}  // namespace

Opto22AC28Base::Opto22AC28Base(const char* name, bool resetLevel, unsigned int baseIOPort,
                               unsigned int resetPort)
    : IOCard(name), baseIOPort_(baseIOPort), resetPort_(resetPort), resetLevel_(resetLevel) {
    std::memset(bankMasks_, 0, sizeof bankMasks_);
}

Opto22AC28Base::~Opto22AC28Base() noexcept(false) {}

IOCard& Opto22AC28Base::addTrack(IOTrack& track) {
    const unsigned int points = track.numberOfPoints();
    if (points % DigitalBank::points != 0)
        throw std::logic_error("AC28 track can only have n*8 points");
    const bool analog = isAnalog(track);
    if (analog && (track.hasPointOfType(IOTrack::DigitalInput) ||
                   track.hasPointOfType(IOTrack::DigitalOutput)))
        throw std::logic_error(
            "AC28: Mixed digital/analog tracks are not supported in current version. They must "
            "be configured as separate tracks.");
    if (track.hasPointOfType(IOTrack::Counter) || track.hasPointOfType(IOTrack::ReverseCounter))
        throw std::logic_error("AC28 card does not support counters or reverse counters.");
    const unsigned int first = track.startingPoint();
    const unsigned int banks = banksOccupied(track);
    if (first >= bankCount || banks > bankCount - first)
        throw std::logic_error("AC28 track can not reach past bank 63.");

    for (unsigned int b = first; b < first + points / DigitalBank::points; ++b) {
        const unsigned int point = (b - first) * DigitalBank::points;
        bankMasks_[b] =
            analog ? analogOutputMask(track, point) : DigitalBank::outputMask(track, point);
    }
    // A brainboard's output mask: its first bank's mask low, its second's high.
    if (track.hasPointOfType(IOTrack::AnalogOutput))
        for (unsigned int b = first; b < first + banks; b += brainboardBanks)
            configureAnalogBank(static_cast<unsigned char>(b), static_cast<unsigned short>(
                                    bankMasks_[b] | bankMasks_[b + 1] << 8));
    return *this;
}

IOCard& Opto22AC28Base::updateInputs(const IOTrack& track, long* values, long& trackState) {
    if (track.hasPointOfType(IOTrack::AnalogInput))
        readAnalogInputs(track, values, trackState);
    else if (track.hasPointOfType(IOTrack::DigitalInput))
        readDigitalInputs(track, values, trackState);
    return *this;
}

IOCard& Opto22AC28Base::updateOutputs(const IOTrack& track, const long* const values,
                                      long& trackState) {
    if (track.hasPointOfType(IOTrack::AnalogOutput))
        writeAnalogOutputs(track, values, trackState);
    else if (track.hasPointOfType(IOTrack::DigitalOutput))
        writeDigitalOutputs(track, values, trackState);
    return *this;
}

void Opto22AC28Base::readDigitalInputs(const IOTrack& track, long* values, long& trackState) {
    const unsigned int first = track.startingPoint();
    const unsigned int last = first + track.numberOfPoints() / DigitalBank::points;
    for (unsigned int b = first; b < last; ++b) {
        if (bankMasks_[b] == 0xFF)
            continue;
        // Output points of a mixed bank read back too.
        const unsigned int bits =
            static_cast<unsigned char>(IOPort(baseIOPort_ + b, false).readChar());
        const unsigned int status =
            static_cast<unsigned char>(IOPort(resetPort_, false).readChar());
        trackState = statusGood(status) ? stateValid : stateNotAnswering;
        DigitalBank::unpack(bits, values + (b - first) * DigitalBank::points);
    }
}

void Opto22AC28Base::writeDigitalOutputs(const IOTrack& track, const long* const values, long&) {
    const unsigned int first = track.startingPoint();
    const unsigned int last = first + track.numberOfPoints() / DigitalBank::points;
    for (unsigned int b = first; b < last; ++b) {
        const unsigned int mask = bankMasks_[b];
        if (mask == 0)
            continue;
        const unsigned int bits = DigitalBank::pack(values + (b - first) * DigitalBank::points);
        IOPort(baseIOPort_ + b, true).writeChar(static_cast<char>(bits & mask));
    }
}

// Runs exchange(command, bank, first) for each brainboard of an analog
// track, first being the track point of its channel 0, between getting and
// releasing access.  A brainboard that refuses access costs the track its
// state, not the update: the other brainboards of a longer track are still
// served.
template <class Exchange>
void Opto22AC28Base::forEachBrainboard(const IOTrack& track, long& trackState,
                                       Exchange exchange) {
    long state = stateValid;
    for (unsigned int first = 0; first < track.numberOfPoints(); first += brainboardChannels) {
        const unsigned char bank =
            static_cast<unsigned char>(track.startingPoint() + first / DigitalBank::points);
        if (!getAccess(bank)) {
            state = stateNotAnswering;
            continue;
        }
        IOPort command(baseIOPort_ + bank + 1, true);
        exchange(command, bank, first);
        releaseAccess(bank);
    }
    trackState = state;
}

void Opto22AC28Base::readAnalogInputs(const IOTrack& track, long* values, long& trackState) {
    const char* const letters = pointTypes(track);
    forEachBrainboard(track, trackState, [&](IOPort& command, unsigned bank, unsigned first) {
        const IOPort data(baseIOPort_ + bank, false);
        for (unsigned c = 0; c < brainboardChannels && first + c < track.numberOfPoints(); ++c) {
            if (letters[first + c] != IOTrack::AnalogInput)
                continue;
            command.writeChar(static_cast<char>(2 * c));
            const unsigned int low = static_cast<unsigned char>(data.readChar());
            command.writeChar(static_cast<char>(2 * c + 1));
            const unsigned int high = static_cast<unsigned char>(data.readChar());
            values[first + c] = analogValue(low, high);
        }
    });
}

void Opto22AC28Base::writeAnalogOutputs(const IOTrack& track, const long* const values,
                                        long& trackState) {
    const char* const letters = pointTypes(track);
    forEachBrainboard(track, trackState, [&](IOPort& command, unsigned bank, unsigned first) {
        IOPort data(baseIOPort_ + bank, true);
        for (unsigned c = 0; c < brainboardChannels && first + c < track.numberOfPoints(); ++c) {
            if (letters[first + c] != IOTrack::AnalogOutput)
                continue;
            command.writeChar(static_cast<char>(2 * c));
            data.writeChar(analogLow(values[first + c]));
            command.writeChar(static_cast<char>(2 * c + 1));
            data.writeChar(analogHigh(values[first + c]));
        }
    });
}

void Opto22AC28Base::configureAnalogBank(unsigned char bank, unsigned short outputMask) {
    if (outputMask == 0)
        return;
    if (!getAccess(bank))
        throw std::runtime_error("AC28: brainboard access attempt timed out");
    IOPort command(baseIOPort_ + bank + 1, true);
    IOPort data(baseIOPort_ + bank, true);
    command.writeChar(outputMaskLow);
    data.writeChar(static_cast<char>(outputMask & 0xFF));
    command.writeChar(outputMaskHigh);
    data.writeChar(static_cast<char>(outputMask >> 8));
    releaseAccess(bank);
}

// No pause between the reads: the brainboard answers within a few bus cycles
// or not at all.
bool Opto22AC28Base::getAccess(unsigned char bank) {
    IOPort(baseIOPort_ + bank + 1, true).writeChar(accessCommand);
    const IOPort data(baseIOPort_ + bank, false);
    for (unsigned int i = 0; i < accessReads; ++i)
        if ((static_cast<unsigned char>(data.readChar()) & accessRefused) == 0)
            return true;
    return false;
}

void Opto22AC28Base::releaseAccess(unsigned char bank) {
    IOPort(baseIOPort_ + bank + 1, true).writeChar(accessCommand);
    IOPort(baseIOPort_ + bank, true).writeChar(releaseByte);
}

AC28Card::AC28Card(unsigned int baseIOPort, unsigned int resetPort, bool resetLevel)
    : Opto22AC28Base("AC28", resetLevel, baseIOPort, resetPort) {
    bool baseAccepted = false, resetAccepted = false;
    for (unsigned int port : acceptedBasePorts)
        baseAccepted = baseAccepted || port == baseIOPort;
    for (unsigned int port : acceptedResetPorts)
        resetAccepted = resetAccepted || port == resetPort;
    if (!baseAccepted)
        throw std::logic_error("AC28 card: invalid base IO port number specified.");
    if (!resetAccepted)
        throw std::logic_error("AC28 card: invalid reset port number specified.");

    IOPort reset(resetPort, true);
    reset.writeChar(resetLevel ? 1 : 0);
    OSInterface::sleep(resetPulseMicroseconds);
    reset.writeChar(resetLevel ? 0 : 1);
}

AC28Card::~AC28Card() noexcept(false) {}

}  // namespace Tavex
