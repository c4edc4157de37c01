#include "tavex/genius/GEMicroGENI.h"

#include <cstring>
#include <stdexcept>

#include "model/DigitalBank.h"
#include "platform/BoardMemory.h"
#include "platform/PollingWait.h"
#include "tavex/platform/IOPort.h"
#include "tavex/platform/OSInterface.h"

namespace Tavex {

namespace {

// The channel's shared RAM.
const unsigned long windowSize = 0x4000;

const unsigned long ioTableSize = 0x0887;        // bytes per station block, 1 to 128
const unsigned long lockoutRequest = 0x0A48;     // host: 1 asks for the lockout, 0 ends it
const unsigned long lockoutState = 0x0A49;       // board: non-zero while it grants it
const unsigned long stationTable = 0x1E00;       // 8 bytes per station
const unsigned long stationEntrySize = 8;
const unsigned long entryOutputs = 1;            // cleared when outputs are added
const unsigned long entryPresent = 2;            // 1: the station answers on the bus
const unsigned long entryConfiguration = 7;      // 1 inputs, 2 outputs, 3 both
const unsigned long ioTable = 0x2000;            // 32 input blocks, then 32 output blocks

const unsigned char largestIOTableSize = 128;
const unsigned int stations = 32;
const unsigned int masksPerStation = 4;
const unsigned int largestDigitalTrack = 32;

// Registers at the base port; the status bits are active low.
const unsigned int statusRegister = 0;
const unsigned int controlRegister = 1;
const unsigned int notInReset = 0x01;
const unsigned int boardNotOK = 0x08;
const unsigned int commNotOK = 0x10;
const unsigned int clearResetBit = 0x02;
const unsigned int resetBit = 0x40;

// A channel that is not healthy is looked at every 10 ms; it has failed
// after the 5000th sleep, 50 s on.
const unsigned long resetPulseUs = 10000;
const unsigned long pollMs = 10;
const unsigned long healthPolls = 5000;   // 50 s

// The lockout waits spin without sleeping, for at most this many looks each.
const unsigned long lockoutLooks = 100000;

const char* const failedToInitialize = "GEMicroGENI: board failed to initialize";

// Each condition holds while its status bit reads 0.
bool statusHolds(unsigned int base, unsigned int bit) {
    return (static_cast<unsigned char>(IOPort(base + statusRegister, false).readChar()) & bit) == 0;
}

template <class Done>
void spinFor(Done done, const char* timeoutText) {
    for (unsigned long look = 0; look < lockoutLooks; ++look)
        if (done())
            return;
    throw std::runtime_error(timeoutText);
}

// The board's word reads with 0x8000 as zero; an output word is the upper
// half of the value.
long analogInput(unsigned int raw) {
    return static_cast<long>(static_cast<std::int32_t>((static_cast<std::uint32_t>(raw) << 16) -
                                                       0x80000000u));
}

short analogOutput(long value) {
    return static_cast<short>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) >> 16));
}

}  // namespace

GEMicroGENI::GEMicroGENI(unsigned int baseIOAddress, unsigned long memoryAddress)
    : IOCard("GE-MicroGENI"),
      memory_(memoryAddress, windowSize, true),
      baseIOAddress_(baseIOAddress),
      sizeOfIOTable_(0) {
    std::memset(outputMasks_, 0, sizeof outputMasks_);
    if (!isHealthy()) {
        clearReset();
        reset(false);
        OSInterface::sleep(resetPulseUs);
        reset(true);
        clearReset();
    }
    // Looked at before each sleep and once after the last one.
    if (!poll([this] { return isHealthy(); }, pollMs, healthPolls, true))
        throw std::runtime_error(failedToInitialize);
    getSizeOfIOTable();
}

GEMicroGENI::~GEMicroGENI() noexcept(false) {}

bool GEMicroGENI::isBoardOK() const { return statusHolds(baseIOAddress_, boardNotOK); }

bool GEMicroGENI::isCommOK() const { return statusHolds(baseIOAddress_, commNotOK); }

bool GEMicroGENI::isReset() const { return statusHolds(baseIOAddress_, notInReset); }

bool GEMicroGENI::isHealthy() const { return isCommOK() && isBoardOK(); }

GEMicroGENI& GEMicroGENI::reset(bool flag) {
    IOPort control(baseIOAddress_ + controlRegister, true);
    const unsigned int v = static_cast<unsigned char>(control.readChar());
    control.writeChar(static_cast<char>(flag ? (v | resetBit) : (v & ~resetBit)));
    return *this;
}

GEMicroGENI& GEMicroGENI::clearReset() {
    IOPort control(baseIOAddress_ + controlRegister, true);
    const unsigned int low = static_cast<unsigned char>(control.readChar()) & ~clearResetBit;
    control.writeChar(static_cast<char>(low));
    control.writeChar(static_cast<char>(low | clearResetBit));
    return *this;
}

void GEMicroGENI::getSizeOfIOTable() {
    const unsigned char size = byteAt(memory_, ioTableSize);
    if (size == 0 || size > largestIOTableSize)
        throw std::range_error("GEMicroGENI: size of IO Table is invalid.");
    sizeOfIOTable_ = size;
}

bool GEMicroGENI::stationExists(unsigned int station) const {
    return byteAt(memory_, stationTable + stationEntrySize * station + entryPresent) == 1;
}

GEMicroGENI& GEMicroGENI::lockout() {
    // A lockout still granted from an earlier request must end first.
    spinFor(
        [this] {
            return byteAt(memory_, lockoutState) == 0 || byteAt(memory_, lockoutRequest) == 0;
        },
        "GEMicroGENI: lockout is already held.");
    memory_.writeChar(lockoutRequest, 1);
    spinFor([this] { return byteAt(memory_, lockoutState) != 0; },
            "GEMicroGENI: board did not grant the lockout.");
    return *this;
}

GEMicroGENI& GEMicroGENI::release() {
    memory_.writeChar(lockoutRequest, 0);
    spinFor([this] { return byteAt(memory_, lockoutState) != 1; },
            "GEMicroGENI: board did not end the lockout.");
    return *this;
}

unsigned long GEMicroGENI::inputBlock(unsigned int station) const {
    return ioTable + static_cast<unsigned long>(sizeOfIOTable()) * station;
}

unsigned long GEMicroGENI::outputBlock(unsigned int station) const {
    return ioTable + static_cast<unsigned long>(sizeOfIOTable()) * (stations + station);
}

// An absent station is taken on trust: its configuration is not known yet.
void GEMicroGENI::checkConfiguration(const IOTrack& track, unsigned int station) const {
    if (!stationExists(station))
        return;
    switch (byteAt(memory_, stationTable + stationEntrySize * station + entryConfiguration)) {
    case 1:
        if (track.hasPointOfType(IOTrack::DigitalOutput) ||
            track.hasPointOfType(IOTrack::AnalogOutput))
            throw std::range_error("GEMicroGENI: station is configured as all Inputs.");
        break;
    case 2:
        if (track.hasPointOfType(IOTrack::DigitalInput) ||
            track.hasPointOfType(IOTrack::AnalogInput))
            throw std::range_error("GEMicroGENI: station is configured as all Outputs.");
        break;
    case 3:
        break;
    default:
        throw std::range_error("GEMicroGENI: station is not configured.");
    }
}

// The masks of the bytes the track covers; the station's other bytes keep
// what earlier tracks set.  True when any point is an output.
bool GEMicroGENI::recordOutputMasks(const IOTrack& track, unsigned int station) {
    unsigned char* masks = outputMasks_ + masksPerStation * station;
    bool hasOutputs = false;
    for (unsigned int i = 0; i < track.numberOfPoints() / DigitalBank::points; ++i) {
        masks[i] = DigitalBank::outputMask(track, i * DigitalBank::points);
        hasOutputs = hasOutputs || masks[i] != 0;
    }
    return hasOutputs;
}

IOCard& GEMicroGENI::addTrack(IOTrack& track) {
    const unsigned int points = track.numberOfPoints();
    const unsigned int station = track.startingPoint();
    const bool digital = track.hasPointOfType(IOTrack::DigitalOutput) ||
                         track.hasPointOfType(IOTrack::DigitalInput);

    if (track.hasPointOfType(IOTrack::Counter) || track.hasPointOfType(IOTrack::ReverseCounter))
        throw std::logic_error("GEMicroGENI: Current implementation does not support counters.");
    if (digital && (points % DigitalBank::points != 0 || points > largestDigitalTrack))
        throw std::logic_error(
            "GEMicroGENI: Digital IO track length can only by n*8 points but no more than 32");
    if (station >= stations)
        throw std::range_error(
            "GEMicroGENI: starting point parameter value is too high. GEMicroGENI supports up "
            "to 32 stations only.");

    checkConfiguration(track, station);

    // Each station owns one block of the I/O table; a track stays inside it.
    bool hasOutputs = false;
    if (digital) {
        if (track.hasPointOfType(IOTrack::AnalogOutput) ||
            track.hasPointOfType(IOTrack::AnalogInput))
            throw std::range_error(
                "GEMicroGENI: Genius station can not be analog and digital mix.");
        if (points / DigitalBank::points > sizeOfIOTable())
            throw std::range_error("GEMicroGENI: digital IO track is longer than the station's "
                                   "block of the IO Table.");
        hasOutputs = recordOutputMasks(track, station);
    } else {
        const bool analog = track.hasPointOfType(IOTrack::AnalogInput) ||
                            track.hasPointOfType(IOTrack::AnalogOutput);
        if (analog && points > sizeOfIOTable() / 2u)
            throw std::range_error("GEMicroGENI: analog IO track is longer than the station's "
                                   "block of the IO Table.");
        hasOutputs = track.hasPointOfType(IOTrack::AnalogOutput);
    }

    // Byte 1 of the entry of a station whose outputs the host drives is
    // cleared; the library writes no other value there.
    if (hasOutputs)
        memory_.writeChar(stationTable + stationEntrySize * station + entryOutputs, 0);
    return *this;
}

long GEMicroGENI::stationState(unsigned int station) const {
    if (!isHealthy())
        return 2;
    return stationExists(station) ? 0 : 3;
}

// Health and presence go to the track state; the data move whatever they say.
IOCard& GEMicroGENI::updateInputs(const IOTrack& track, long* values, long& trackState) {
    trackState = stationState(track.startingPoint());
    if (track.hasPointOfType(IOTrack::DigitalInput))
        readDigitalInputs(track, values, trackState);
    else if (track.hasPointOfType(IOTrack::AnalogInput))
        readAnalogInputs(track, values, trackState);
    return *this;
}

IOCard& GEMicroGENI::updateOutputs(const IOTrack& track, const long* const values,
                                   long& trackState) {
    trackState = stationState(track.startingPoint());
    if (track.hasPointOfType(IOTrack::DigitalOutput))
        writeDigitalOutputs(track, values, trackState);
    else if (track.hasPointOfType(IOTrack::AnalogOutput))
        writeAnalogOutputs(track, values, trackState);
    return *this;
}

// Points marked as outputs keep their values.
GEMicroGENI& GEMicroGENI::readDigitalInputs(const IOTrack& track, long* values, long&) {
    const unsigned int station = track.startingPoint();
    const unsigned char* masks = outputMasks_ + masksPerStation * station;
    const unsigned long block = inputBlock(station);
    for (unsigned int i = 0; i < track.numberOfPoints() / DigitalBank::points; ++i)
        DigitalBank::unpackExcept(byteAt(memory_, block + i), masks[i],
                                  values + i * DigitalBank::points);
    return *this;
}

GEMicroGENI& GEMicroGENI::readAnalogInputs(const IOTrack& track, long* values, long&) {
    const char* const letters = pointTypes(track);
    const unsigned long block = inputBlock(track.startingPoint());
    for (unsigned int p = 0; p < track.numberOfPoints(); ++p)
        if (letters[p] == IOTrack::AnalogInput)
            values[p] = analogInput(static_cast<std::uint16_t>(memory_.readShort(block + 2 * p)));
    return *this;
}

// The whole byte is written: points that are not outputs go out as 0.
GEMicroGENI& GEMicroGENI::writeDigitalOutputs(const IOTrack& track, const long* const values,
                                              long&) {
    const unsigned int station = track.startingPoint();
    const unsigned char* masks = outputMasks_ + masksPerStation * station;
    const unsigned long block = outputBlock(station);
    for (unsigned int i = 0; i < track.numberOfPoints() / DigitalBank::points; ++i) {
        if (masks[i] == 0)
            continue;
        const unsigned int bits = DigitalBank::pack(values + i * DigitalBank::points);
        memory_.writeChar(block + i, static_cast<char>(bits & masks[i]));
    }
    return *this;
}

GEMicroGENI& GEMicroGENI::writeAnalogOutputs(const IOTrack& track, const long* const values,
                                             long&) {
    const char* const letters = pointTypes(track);
    const unsigned long block = outputBlock(track.startingPoint());
    for (unsigned int p = 0; p < track.numberOfPoints(); ++p)
        if (letters[p] == IOTrack::AnalogOutput)
            memory_.writeShort(block + 2 * p, analogOutput(values[p]));
    return *this;
}

}  // namespace Tavex
