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

// Comm OK, then board OK, each read afresh.
inline bool healthy(unsigned int base) {
    return statusHolds(base, commNotOK) && statusHolds(base, boardNotOK);
}

inline bool present(const PhysicalMemory& memory, unsigned int station) {
    return byteAt(memory, stationTable + stationEntrySize * station + entryPresent) == 1;
}

// The state of a track on the station: 2 for a channel that is not
// healthy, 3 for a station that is not on the bus.
inline long stationState(unsigned int base, const PhysicalMemory& memory, unsigned int station) {
    if (!healthy(base))
        return 2;
    return present(memory, station) ? 0 : 3;
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

bool GEMicroGENI::isHealthy() const { return healthy(baseIOAddress_); }

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

bool GEMicroGENI::stationExists(unsigned int station) const { return present(memory_, station); }

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

namespace {

// A track is digital (I, O and N points) or analog (A, U and N points),
// never both (addTrack): a track whose first point is analog has no digital
// point.  The first point usually settles the look-up.
bool hasDigitalPoint(const char* letters, unsigned int points, char letter) {
    if (letters[0] == letter)
        return true;
    if (letters[0] == IOTrack::AnalogInput || letters[0] == IOTrack::AnalogOutput)
        return false;
    return DigitalBank::hasLetter(letters, points, letter);
}

// The update paths below take what they need from the card and the track;
// the station's masks (the last digital track added over each byte decides
// them) for the digital points, the track's own letters for the analog ones.

// Points marked as outputs keep their values.
void readDigitalInputs(const PhysicalMemory& memory, unsigned long block,
                       const unsigned char* masks, unsigned int banks, long* values) {
    for (unsigned int i = 0; i < banks; ++i)
        DigitalBank::unpackExcept(byteAt(memory, block + i), masks[i],
                                  values + i * DigitalBank::points);
}

// The whole byte is written: points that are not outputs go out as 0.
void writeDigitalOutputs(PhysicalMemory& memory, unsigned long block,
                         const unsigned char* masks, unsigned int banks, const long* values) {
    for (unsigned int i = 0; i < banks; ++i) {
        if (masks[i] == 0)
            continue;
        const unsigned int bits = DigitalBank::pack(values + i * DigitalBank::points);
        memory.writeChar(block + i, static_cast<char>(bits & masks[i]));
    }
}

// The letters are looked at eight at a time: eight inputs are read one after
// the other, eight without an input are passed over at once.
void readAnalogInputs(const PhysicalMemory& memory, unsigned long block, const char* letters,
                      unsigned int points, long* values) {
    unsigned int p = 0;
    for (; p + DigitalBank::points <= points; p += DigitalBank::points) {
        const unsigned long words = block + 2 * p;
        long* const v = values + p;
        if (DigitalBank::allLetters(letters + p, IOTrack::AnalogInput)) {
            for (unsigned int j = 0; j < DigitalBank::points; ++j)
                v[j] = analogInput(wordAt(memory, words + 2 * j));
            continue;
        }
        if (!DigitalBank::hasLetter(letters + p, DigitalBank::points, IOTrack::AnalogInput))
            continue;
        const unsigned int inputs = DigitalBank::letterMask(letters + p, IOTrack::AnalogInput);
        for (unsigned int j = 0; j < DigitalBank::points; ++j)
            if ((inputs >> j & 1u) != 0)
                v[j] = analogInput(wordAt(memory, words + 2 * j));
    }
    for (; p < points; ++p)
        if (letters[p] == IOTrack::AnalogInput)
            values[p] = analogInput(wordAt(memory, block + 2 * p));
}

void writeAnalogOutputs(PhysicalMemory& memory, unsigned long block, const char* letters,
                        unsigned int points, const long* values) {
    unsigned int p = 0;
    for (; p + DigitalBank::points <= points; p += DigitalBank::points) {
        const unsigned long words = block + 2 * p;
        const long* const v = values + p;
        if (DigitalBank::allLetters(letters + p, IOTrack::AnalogOutput)) {
            for (unsigned int j = 0; j < DigitalBank::points; ++j)
                memory.writeShort(words + 2 * j, analogOutput(v[j]));
            continue;
        }
        if (!DigitalBank::hasLetter(letters + p, DigitalBank::points, IOTrack::AnalogOutput))
            continue;
        const unsigned int outputs = DigitalBank::letterMask(letters + p, IOTrack::AnalogOutput);
        for (unsigned int j = 0; j < DigitalBank::points; ++j)
            if ((outputs >> j & 1u) != 0)
                memory.writeShort(words + 2 * j, analogOutput(v[j]));
    }
    for (; p < points; ++p)
        if (letters[p] == IOTrack::AnalogOutput)
            memory.writeShort(block + 2 * p, analogOutput(values[p]));
}

}  // namespace

// Health and presence go to the track state; the data move whatever they
// say.  A track with a digital input reads the station's bytes, any other
// its analog inputs, if it has any: a digital track has none, so one that
// starts with the other direction's digital letter looks no further (and
// the same for the outputs).
IOCard& GEMicroGENI::updateInputs(const IOTrack& track, long* values, long& trackState) {
    const unsigned int station = track.startingPoint();
    trackState = stationState(baseIOAddress_, memory_, station);
    const char* const letters = pointTypes(track);
    const unsigned int points = track.numberOfPoints();
    if (hasDigitalPoint(letters, points, IOTrack::DigitalInput))
        readDigitalInputs(memory_, inputBlock(station), outputMasks_ + masksPerStation * station,
                          points / DigitalBank::points, values);
    else if (letters[0] != IOTrack::DigitalOutput)
        readAnalogInputs(memory_, inputBlock(station), letters, points, values);
    return *this;
}

IOCard& GEMicroGENI::updateOutputs(const IOTrack& track, const long* const values,
                                   long& trackState) {
    const unsigned int station = track.startingPoint();
    trackState = stationState(baseIOAddress_, memory_, station);
    const char* const letters = pointTypes(track);
    const unsigned int points = track.numberOfPoints();
    if (hasDigitalPoint(letters, points, IOTrack::DigitalOutput))
        writeDigitalOutputs(memory_, outputBlock(station),
                            outputMasks_ + masksPerStation * station,
                            points / DigitalBank::points, values);
    else if (letters[0] != IOTrack::DigitalInput)
        writeAnalogOutputs(memory_, outputBlock(station), letters, points, values);
    return *this;
}

}  // namespace Tavex
