#include "tavex/profibus/SST5136PFBPCI.h"

#include <stdexcept>
#include <string>

#include "model/DigitalBank.h"
#include "platform/BoardMemory.h"
#include "platform/PollingWait.h"
#include "tavex/model/asString.h"
#include "tavex/pci/PCIBus.h"
#include "tavex/platform/FirmwareFileBuffer.h"

namespace Tavex {

namespace {

const char* const cardName = "SST-5136-PFB-PCI";
const unsigned short vendorId = 0x133D;
const unsigned short deviceId = 0x1000;

// The board's window: 2 MiB of shared memory behind base address register 0.
const std::uint32_t windowSize = 0x200000;
const unsigned long pageSize = 0x4000;

const unsigned long moduleImage = 0x001000;
const unsigned long stateByte = 0x008000;     // the host writes commands here
const unsigned long statusByte = 0x008001;
const unsigned long cardIdWord = 0x008002;
const unsigned long moduleIdWord = 0x008004;
const unsigned long moduleVersionWord = 0x008006;
const unsigned long onlineParameter0E = 0x00800E;
const unsigned long onlineParameter10 = 0x008010;
const unsigned long baudRateByte = 0x008011;
const unsigned long onlineParameter28 = 0x008028;
const unsigned long slaveRecordPage = 0x00802A;
const unsigned long inputPage = 0x00802B;
const unsigned long outputPage = 0x00802C;
const unsigned long transferPage = 0x008100;
const unsigned long blockNumberByte = 0x008101;
const unsigned long blockLengthByte = 0x008102;
const unsigned long slaveWords = 0x008900;
const unsigned long loaderByte = 0x1FFFFF;

const std::uint16_t cardId = 0xAAD0;
const std::uint16_t moduleId = 0xBB01;
const std::uint16_t autoconfigureVersion = 0x155;

// Loader handshake at the last byte of the window.
const unsigned char loaderWaiting = 0xBA;
const unsigned char moduleInPlace = 1;
const unsigned char loaderAnswer = 0x5A;
const unsigned char loaderDone = 0;

// State codes the module leaves in the state byte.
const unsigned char stateReady = 0x00;
const unsigned char stateIdle = 0xE0;
const unsigned char stateOnline = 0xE1;
const unsigned char stateFailed = 0xEF;
const unsigned char acknowledgeFailure = 0xFF;

const unsigned char commandOnline = 0x01;
const unsigned char commandOffline = 0x02;
const unsigned char commandStart = 0x03;
const unsigned char commandAutoconfigureBegin = 0x04;
const unsigned char commandConfigurationBlock = 0x06;
const unsigned char commandAutoconfigureEnd = 0x09;
const unsigned char commandConfigurationEnd = 0x10;
const unsigned char commandFromFlash = 0x11;
const unsigned char commandToFlash = 0x21;

// Slave words and records.
const unsigned int lastSlave = 126;
const unsigned int bytesPerSlave = 244;
const std::uint16_t dataValid = 0x8000;
const std::uint32_t noRecord = 0xFF;
const std::uint32_t recordSize = 128;
const unsigned long inputDataField = 8;
const unsigned long outputDataField = 10;

// Waits are counted in the nominal milliseconds slept.
const unsigned long loaderPollMs = 1;
const unsigned long loaderLimitMs = 5000;
const unsigned long startPollMs = 20;
const unsigned long startLimitMs = 30000;
const unsigned long acceptPollMs = 10;
const unsigned long acceptLimitMs = 10000;
const unsigned long answerPollMs = 20;
const unsigned long answerLimitMs = 30000;
const unsigned long acknowledgePollMs = 20;
const unsigned long acknowledgeLimitMs = 10000;

const PCIDeviceInfo& findBoard(unsigned int cardIndex) {
    const PCIDeviceInfo* info = PCIBus::pciBus().getDeviceInfo(vendorId, deviceId, cardIndex);
    if (info == 0)
        throw std::runtime_error("SST-5136-PFB-PCI: Card not found in the system.");
    return *info;
}

// The window offset of an area whose page byte is at pageByte.  The page is
// a signed byte; a 2 MiB window holds pages 0 to 127 only.
std::uint32_t areaOffset(const PhysicalMemory& memory, unsigned long pageByte,
                         const char* area) {
    const unsigned char page = byteAt(memory, pageByte);
    if (page > 127)
        throw std::runtime_error(asString(
            "SST-5136-PFB-PCI: page 0x%X of the %s area lies outside the board memory.",
            static_cast<unsigned int>(page), area));
    return static_cast<std::uint32_t>(page * pageSize);
}

}  // namespace

SST5136PFBPCI::SST5136PFBPCI(const char* const modulePrefix, unsigned long baudRate,
                             unsigned int cardIndex)
    : IOCard(cardName),
      // Two walks of the scanned list, so that the window is a member that
      // goes with the card however its constructor ends.
      memoryBaseAddress_(findBoard(cardIndex).baseAddress(0) & ~std::uint32_t(0xF)),
      interruptLine_(findBoard(cardIndex).interruptLine()),
      memory_(memoryBaseAddress_, windowSize, true),
      inputArea_(0),
      outputArea_(0),
      slaveRecordArea_(0),
      baudRate_(static_cast<std::uint8_t>(baudRate & 0xFF)) {
    if (byteAt(memory_, loaderByte) == loaderWaiting)
        loadModule(modulePrefix);
    checkIdentity();
    goOffline();
    executeCommand(commandStart);
    readAreaPages();
}

SST5136PFBPCI::~SST5136PFBPCI() noexcept(false) {}

void SST5136PFBPCI::loadModule(const char* modulePrefix) {
    if (modulePrefix == 0)
        throw std::logic_error("SST-5136-PFB-PCI: module path not specified.");
    const std::string path = std::string(modulePrefix) + "pciprofi.ss1";
    FirmwareFileBuffer module(path.c_str());
    // The module must end before the handshake byte, which the loader reads
    // to learn that the module is in place.
    if (module.size() > loaderByte - moduleImage)
        throw std::runtime_error(asString(
            "SST-5136-PFB-PCI: module file %s does not fit the board memory.", path.c_str()));
    memory_.writeMemoryBlock(static_cast<char*>(module), module.size(), moduleImage);

    memory_.writeChar(loaderByte, static_cast<char>(moduleInPlace));
    waitFor([this] { return byteAt(memory_, loaderByte) == loaderAnswer; }, loaderPollMs,
            loaderLimitMs, "SST-5136-PFB-PCI: the board's loader did not take the module.");
    memory_.writeChar(loaderByte, static_cast<char>(loaderDone));
    waitFor([this] { return state() == stateIdle; }, startPollMs, startLimitMs,
            "SST-5136-PFB-PCI: the module did not start.");
}

void SST5136PFBPCI::checkIdentity() const {
    if (wordAt(memory_, cardIdWord) != cardId || wordAt(memory_, moduleIdWord) != moduleId)
        throw std::runtime_error("SST-5136-PFB-PCI: wrong card id or wrong module id.");
}

void SST5136PFBPCI::readAreaPages() {
    inputArea_ = areaOffset(memory_, inputPage, "input");
    outputArea_ = areaOffset(memory_, outputPage, "output");
    slaveRecordArea_ = areaOffset(memory_, slaveRecordPage, "slave record");
}

unsigned char SST5136PFBPCI::state() const { return byteAt(memory_, stateByte); }

unsigned char SST5136PFBPCI::status() const { return byteAt(memory_, statusByte); }

// The module takes no configuration while the network runs.
void SST5136PFBPCI::goOffline() {
    if (state() == stateOnline)
        executeCommand(commandOffline);
}

void SST5136PFBPCI::executeCommand(unsigned char code) {
    // Going offline is asked only of a module that is online or ready.
    if (code == commandOffline) {
        const unsigned char s = state();
        if (s != stateReady && s != stateOnline)
            return;
    }
    waitForAcceptance(code);
    memory_.writeChar(stateByte, static_cast<char>(code));

    // The module replaces the code by its answer; it is looked at no sooner
    // than one poll after the write.
    OSInterface::sleep(answerPollMs * 1000);
    unsigned char answer = code;
    waitFor(
        [this, &answer] {
            answer = state();
            return answer == stateFailed || answer == stateIdle || answer == stateOnline;
        },
        answerPollMs, answerLimitMs - answerPollMs,
        asString("SST-5136-PFB-PCI: no answer to command 0x%X.", static_cast<unsigned int>(code))
            .c_str());
    if (answer == stateFailed)
        acknowledgeError(code);
}

// Taking the network offline and starting the module are issued whatever
// the state; every other command waits until the module is ready for it.
void SST5136PFBPCI::waitForAcceptance(unsigned char code) const {
    if (code == commandOffline || code == commandStart)
        return;
    waitFor(
        [this] {
            const unsigned char s = state();
            return s == stateReady || s == stateIdle;
        },
        acceptPollMs, acceptLimitMs,
        asString("SST-5136-PFB-PCI: the board did not accept command 0x%X.",
                 static_cast<unsigned int>(code))
            .c_str());
}

// The failure is handed back to the module before it is reported, so that
// the next command can be issued.
void SST5136PFBPCI::acknowledgeError(unsigned char code) {
    const unsigned int detail = status();
    memory_.writeChar(stateByte, static_cast<char>(acknowledgeFailure));
    waitFor([this] { return state() == stateIdle; }, acknowledgePollMs, acknowledgeLimitMs,
            asString("SST-5136-PFB-PCI: the failure of command 0x%X (status 0x%X) was not "
                     "acknowledged by the board.",
                     static_cast<unsigned int>(code), detail)
                .c_str());
    throw std::runtime_error(asString("SST-5136-PFB-PCI: Error executing command 0x%X, status 0x%X",
                                      static_cast<unsigned int>(code), detail));
}

SST5136PFBPCI& SST5136PFBPCI::setBaudRate(unsigned char baudRate) {
    baudRate_ = baudRate;
    memory_.writeChar(baudRateByte, static_cast<char>(baudRate_));
    return *this;
}

unsigned char SST5136PFBPCI::baudRate() const { return byteAt(memory_, baudRateByte); }

void SST5136PFBPCI::writeOnlineParameters() {
    memory_.writeChar(onlineParameter0E, 0);
    memory_.writeChar(onlineParameter10, 1);
    memory_.writeChar(baudRateByte, static_cast<char>(baudRate_));
    memory_.writeChar(onlineParameter28, 10);
}

SST5136PFBPCI& SST5136PFBPCI::online() {
    writeOnlineParameters();
    executeCommand(commandOnline);
    return *this;
}

SST5136PFBPCI& SST5136PFBPCI::autoconfigure() {
    goOffline();
    const unsigned int version = wordAt(memory_, moduleVersionWord);
    if (version < autoconfigureVersion)
        throw std::runtime_error(
            asString("SST-5136-PFB-PCI: your pciprofi.ss1 module version is %X. You need version "
                     "higher than 0155 to use autoconfigure feature",
                     version));
    executeCommand(commandAutoconfigureBegin);
    writeOnlineParameters();
    executeCommand(commandAutoconfigureEnd);
    return *this;
}

SST5136PFBPCI& SST5136PFBPCI::configure(const char* const configurationFile) {
    goOffline();
    FirmwareFileBuffer file(configurationFile);
    sendConfigurationBlocks(file, file.size());
    executeCommand(commandConfigurationEnd);
    return *this;
}

// Blocks of 16 KiB through the transfer buffer, numbered from 0 in 8 bits.
// The length byte holds the low 8 bits of the block's length, so a full
// block shows 0; a short last block leaves the rest of the buffer as it was.
void SST5136PFBPCI::sendConfigurationBlocks(const char* data, unsigned long size) {
    const std::uint32_t buffer = areaOffset(memory_, transferPage, "configuration transfer");
    unsigned char block = 0;
    for (unsigned long position = 0; position < size;) {
        const unsigned long length = size - position < pageSize ? size - position : pageSize;
        memory_.writeMemoryBlock(data + position, length, buffer);
        memory_.writeChar(blockLengthByte, static_cast<char>(length & 0xFF));
        position += length;
        memory_.writeChar(blockNumberByte, static_cast<char>(block));
        executeCommand(commandConfigurationBlock);
        block = static_cast<unsigned char>(block + 1);
    }
}

SST5136PFBPCI& SST5136PFBPCI::configurationToFlash() {
    goOffline();
    executeCommand(commandToFlash);
    return *this;
}

SST5136PFBPCI& SST5136PFBPCI::configurationFromFlash() {
    goOffline();
    executeCommand(commandFromFlash);
    return *this;
}

IOCard& SST5136PFBPCI::addTrack(IOTrack& track) {
    if (DigitalBank::hasAnalogOrCounterPoints(track))
        throw std::logic_error(
            "SST-5136-PFB-PCI: Current implementation does not support analog I/O and counters.");
    const std::uint32_t points = track.numberOfPoints();
    if (points % DigitalBank::points != 0)
        throw std::logic_error("SST-5136-PFB-PCI: track length can only by n*8 points");
    const std::uint32_t start = track.startingPoint();
    if ((start & 0xFFFF) + points / DigitalBank::points > bytesPerSlave)
        throw std::range_error(
            "SST-5136-PFB-PCI: starting point parameter lower value is too high. SST5136PFBPCI "
            "supports up to 244 bytes per slave only.");
    const std::uint32_t slave = start >> 16;
    if (slave > lastSlave)
        throw std::range_error(
            "SST-5136-PFB-PCI: starting point parameter upper value is too high. SST5136PFBPCI "
            "supports up to 126 slaves only.");
    if ((wordAt(memory_, slaveWords + 2 * slave) & 0xFF) == noRecord)
        throw std::range_error(
            "SST-5136-PFB-PCI: starting point parameter upper value is invalid. Slave is not "
            "configured by Profibus.");
    return *this;
}

// Sets the track state from the slave word and finds the window offset of
// the track's first byte in the slave's input or output data.  False when
// there is nothing to copy: the track has no point of the letter, or (with
// state 3) the slave has no record or its record would put the track's
// bytes outside the window.
bool SST5136PFBPCI::locateSlaveData(const IOTrack& track, char letter, unsigned long recordField,
                                    std::uint32_t area, std::uint32_t& first,
                                    long& trackState) const {
    const std::uint32_t start = track.startingPoint();
    const std::uint16_t word = wordAt(memory_, slaveWords + 2 * (start >> 16));
    const std::uint32_t index = word & 0xFFu;
    trackState = (word & dataValid) != 0 && index != noRecord ? 0 : 3;
    if (index == noRecord || !track.hasPointOfType(letter))
        return false;

    const std::uint32_t field = slaveRecordArea_ + index * recordSize + recordField;
    if (field + 2 > windowSize) {
        trackState = 3;
        return false;
    }
    const std::int32_t offset = static_cast<std::int16_t>(wordAt(memory_, field));
    const std::int32_t base =
        static_cast<std::int32_t>(area) + offset + static_cast<std::int32_t>(start & 0xFFFF);
    const std::int32_t bytes =
        static_cast<std::int32_t>(track.numberOfPoints() / DigitalBank::points);
    if (base < 0 || base + bytes > static_cast<std::int32_t>(windowSize)) {
        trackState = 3;
        return false;
    }
    first = static_cast<std::uint32_t>(base);
    return true;
}

IOCard& SST5136PFBPCI::updateInputs(const IOTrack& track, long* values, long& trackState) {
    std::uint32_t first = 0;
    if (!locateSlaveData(track, IOTrack::DigitalInput, inputDataField, inputArea_, first,
                         trackState))
        return *this;
    const char* const letters = pointTypes(track);
    const unsigned int bytes = track.numberOfPoints() / DigitalBank::points;
    for (unsigned int i = 0; i < bytes; ++i) {
        const unsigned int point = i * DigitalBank::points;
        DigitalBank::unpackInputs(letters + point, byteAt(memory_, first + i), values + point);
    }
    return *this;
}

IOCard& SST5136PFBPCI::updateOutputs(const IOTrack& track, const long* const values,
                                     long& trackState) {
    std::uint32_t first = 0;
    if (!locateSlaveData(track, IOTrack::DigitalOutput, outputDataField, outputArea_, first,
                         trackState))
        return *this;
    const char* const letters = pointTypes(track);
    const unsigned int bytes = track.numberOfPoints() / DigitalBank::points;
    for (unsigned int i = 0; i < bytes; ++i) {
        const unsigned int point = i * DigitalBank::points;
        memory_.writeChar(first + i, static_cast<char>(DigitalBank::packOutputs(letters + point,
                                                                                values + point)));
    }
    return *this;
}

}  // namespace Tavex
