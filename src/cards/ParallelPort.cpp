#include "tavex/cards/ParallelPort.h"

#include <cstring>
#include <stdexcept>

#include "model/DigitalBank.h"
#include "platform/BoardMemory.h"
#include "tavex/platform/IOPort.h"
#include "tavex/platform/PhysicalMemory.h"

namespace Tavex {

namespace {

// The BIOS data area lists the base ports of LPT1 to LPT4 as words at 0x408,
// 0x40A, 0x40C and 0x40E; a word of 0 means that printer is not fitted.
const unsigned long biosDataArea = 0x400;
const unsigned long biosWindowSize = 0x11C;
const unsigned long printerWords = 0x08;
const unsigned int printerCount = 4;

const unsigned int dataRegister = 0, statusRegister = 1, controlRegister = 2;

// The port inverts STROBE, AUTOFEED and SELECT IN (control bits 0, 1, 3) and
// BUSY (status bit 7) between register and connector; INIT (control bit 2)
// and the other status lines it passes straight.  Flipping the bits it does
// not invert makes every point active low at the connector.
const unsigned int controlStraight = 0x04, statusInverted = 0x80, firstStatusBit = 3;

// Points of the one track shape: 0-7 data, 8-11 control, 12-16 status.
const unsigned int controlPoint = 8, controlPoints = 4, statusPoint = 12, trackPoints = 17;
const unsigned int allStatusPoints = 0x1F;

// DOS device names and the printer they name (0 for LPT1).
const struct {
    const char* name;
    unsigned int printer;
} printerNames[] = {{"prn", 0},  {"lpt1", 0}, {"PRN", 0},  {"LPT1", 0}, {"lpt2", 1},
                    {"LPT2", 1}, {"lpt3", 2}, {"LPT3", 2}, {"lpt4", 3}, {"LPT4", 3}};

std::uint16_t biosWord(const PhysicalMemory& bios, unsigned int printer) {
    return wordAt(bios, printerWords + 2 * printer);
}

}  // namespace

ParallelPort::ParallelPort(const char* name) : IOCard("LPT"), baseIOPort_(0) {
    {
        // The window lives only while the table is read.
        const PhysicalMemory bios(biosDataArea, biosWindowSize, false);
        for (const auto& entry : printerNames) {
            if (name == 0 || std::strcmp(name, entry.name) == 0) {
                baseIOPort_ = biosWord(bios, entry.printer);
                break;
            }
        }
    }
    if (baseIOPort_ == 0)
        throw std::logic_error("ParallelPort: specified parallel port does not exists.");
}

ParallelPort::ParallelPort(unsigned short baseIOPort) : IOCard("LPT"), baseIOPort_(baseIOPort) {
    bool listed = false;
    {
        const PhysicalMemory bios(biosDataArea, biosWindowSize, false);
        for (unsigned int p = 0; p < printerCount && !listed; ++p)
            listed = baseIOPort != 0 && biosWord(bios, p) == baseIOPort;
    }
    if (!listed)
        throw std::logic_error(
            "ParallelPort: invalid base IO port number specified or port does not exist.");
}

ParallelPort::~ParallelPort() noexcept(false) {}

IOCard& ParallelPort::addTrack(IOTrack& track) {
    if (DigitalBank::hasAnalogOrCounterPoints(track))
        throw std::logic_error("ParallelPort:  does not support analog I/O and counters.");
    // Every track covers the whole port; its starting point means nothing.
    if (track.numberOfPoints() != trackPoints)
        throw std::logic_error("ParallelPort track can be only 17 points long.");
    for (unsigned int i = 0; i < trackPoints; ++i) {
        const IOTrack::PointTypes type = track.pointType(i);
        if (i < controlPoint && type == IOTrack::DigitalInput)
            throw std::logic_error("ParallelPort track first 8 points can not be Inputs.");
        if (i > controlPoint && i < statusPoint && type != track.pointType(i - 1))
            throw std::logic_error(
                "ParallelPort track points 8-12 can be only Inputs or outputs at the same time.");
        if (i >= statusPoint && type == IOTrack::DigitalOutput)
            throw std::logic_error("ParallelPort track points 13-17 can not be Outputs.");
    }
    if (track.pointType(controlPoint) == IOTrack::DigitalInput) {
        // The control lines are open collector: release all four (every line
        // high) so that the field can pull them low.  Bits 4 to 7 stay.
        IOPort control(baseIOPort_ + controlRegister, true);
        const unsigned int bits = static_cast<unsigned char>(control.readChar());
        control.writeChar(static_cast<char>((bits & 0xF0) | controlStraight));
    }
    return *this;
}

// addTrack leaves the letters in three groups: the data points are never
// inputs, the control points share one letter, the status points are never
// outputs.  Each update finds its points from those facts alone.
IOCard& ParallelPort::updateInputs(const IOTrack& track, long* values, long&) {
    const char* const letters = pointTypes(track);
    // Bits 3 to 7 of the mask of points 9 to 16: the status points.
    const unsigned int statusInputs =
        DigitalBank::letterMask(letters + controlPoint + 1, IOTrack::DigitalInput) >>
        (statusPoint - controlPoint - 1);
    const bool controlInputs = letters[controlPoint] == IOTrack::DigitalInput;
    if (!controlInputs && statusInputs == 0)
        return *this;
    if (controlInputs)
        DigitalBank::unpackNibble(static_cast<unsigned char>(IOPort(baseIOPort_ + controlRegister,
                                                                    false).readChar()) ^
                                      controlStraight,
                                  values + controlPoint);
    // Read whenever the track has an input, also when only the control
    // points are.
    const unsigned int status = static_cast<unsigned char>(
        IOPort(baseIOPort_ + statusRegister, false).readChar());
    const unsigned int bits = ~((status ^ statusInverted) >> firstStatusBit);
    if (statusInputs == allStatusPoints) {
        DigitalBank::unpackNibble(bits, values + statusPoint);
        values[trackPoints - 1] = static_cast<long>((bits >> 4) & 1u);
        return *this;
    }
    for (unsigned int j = 0; j < trackPoints - statusPoint; ++j)
        if ((statusInputs >> j & 1u) != 0)
            values[statusPoint + j] = static_cast<long>((bits >> j) & 1u);
    return *this;
}

IOCard& ParallelPort::updateOutputs(const IOTrack& track, const long* const values, long&) {
    const char* const letters = pointTypes(track);
    const unsigned int dataOutputs = DigitalBank::allLetters(letters, IOTrack::DigitalOutput)
                                         ? 0xFFu
                                         : DigitalBank::letterMask(letters, IOTrack::DigitalOutput);
    const bool controlOutputs = letters[controlPoint] == IOTrack::DigitalOutput;
    if (dataOutputs == 0 && !controlOutputs)
        return *this;
    const unsigned int data = DigitalBank::pack(values) & dataOutputs;
    IOPort(baseIOPort_ + dataRegister, true).writeChar(static_cast<char>(~data));
    if (letters[controlPoint] == IOTrack::DigitalInput)
        return *this;
    unsigned int control = 0;
    if (controlOutputs)
        for (unsigned int j = 0; j < controlPoints; ++j)
            if (static_cast<std::uint32_t>(values[controlPoint + j]) != 0)
                control |= 1u << j;
    // Bits 4 to 7 (interrupt enable, data direction) go out as 0.
    IOPort(baseIOPort_ + controlRegister, true)
        .writeChar(static_cast<char>(control ^ controlStraight));
    return *this;
}

}  // namespace Tavex
