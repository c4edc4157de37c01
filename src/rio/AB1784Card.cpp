#include "tavex/rio/AB1784Card.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "model/DigitalBank.h"
#include "platform/BoardMemory.h"
#include "platform/PollingWait.h"
#include "tavex/model/asString.h"
#include "tavex/platform/FirmwareFileBuffer.h"
#include "tavex/platform/OSInterface.h"

namespace Tavex {

namespace {

// The board's window: 2 KB of shared memory, then the control registers.
const unsigned long windowSize = 0x810;
const unsigned long sharedMemorySize = 0x800;

const unsigned long startWord = 0x000;
const unsigned long initByte5 = 0x005;
const unsigned long initByte6 = 0x006;
const unsigned long linkSpeedByte = 0x007;
const unsigned long initError = 0x00A;
const unsigned long intStatusToHost = 0x00C;
const unsigned long intStatusFromHost = 0x00D;
const unsigned long downloadLength = 0x072;
const unsigned long downloadResult = 0x074;
const unsigned long downloadDone = 0x075;
const unsigned long scannerStatus = 0x07E;
const unsigned long statusTable = 0x080;
const unsigned long downloadBlock = 0x080;
const unsigned long commandBlock = 0x200;
const unsigned long confirmationBlock = 0x300;
const unsigned long inputImage = 0x400;
const unsigned long outputImage = 0x600;
const unsigned long boardInterrupt = 0x801;
const unsigned long boardStart = 0x802;
const unsigned long boardReset = 0x803;
const unsigned long hostInterruptClear = 0x808;

const unsigned long downloadBlockSize = 1920;

// The two commands the card sends once the scanner runs.  What they select
// is up to the scanner program; its response codes read like an
// autoconfiguration (3, no parameter) and a mode change (1) to Run (2).
const unsigned char autoconfigureCommand = 3;
const unsigned char setModeCommand = 1;
const unsigned char runMode = 2;
const unsigned int maximumParameters = 253;

// Waits are counted in the nominal milliseconds slept.
const unsigned long clrramRunMs = 2000;   // clrram.bin clears the board's RAM meanwhile
const unsigned long downloadPollMs = 10;
const unsigned long downloadLimitMs = 10000;
const unsigned long pollMs = 100;
const unsigned long initLimitMs = 5000;
const unsigned long confirmationLimitMs = 6000;
const unsigned long acknowledgeLimitMs = 2000;

const unsigned int scannerRunning = 0x0004;

const char* responseText(int code) {
    switch (code) {
    case 0x0F: return "AB1784KTx command response: scanner must be in Program mode.";
    case 0x11: return "AB1784KTx command response: a previous Set Scan List is already in progress.";
    case 0x15: return "AB1784KTx command response: command length was not 1.";
    case 0x16: return "AB1784KTx command response: parameter was not Program, Test or Run.";
    case 0x17: return "AB1784KTx command response: can't change mode while setting a new scan list.";
    case 0x18: return "AB1784KTx command response: can't change mode while autoconfiguring.";
    case 0x19: return "AB1784KTx command response: an Autoconfigure command is already in progress.";
    case 0x33: return "AB1784KTx command response: adapter size overlap each other.";
    case 0x82:
        return "AB1784KTx command response: the maximum of 32 unique devices on the RIO link was "
               "exceeded.";
    default: return "AB1784KTx returned unknown response to command.";
    }
}

void clearSharedMemory(PhysicalMemory& memory) {
    static const char zeros[sharedMemorySize] = {0};
    memory.writeMemoryBlock(zeros, sharedMemorySize, 0);
}

// A protocol image that is copied whole to the start of the shared memory.
void copyWholeImage(PhysicalMemory& memory, FirmwareFileBuffer& image, const std::string& name) {
    if (image.size() > sharedMemorySize)
        throw std::runtime_error(asString(
            "AB1784KTx: protocol file %s does not fit the shared memory.", name.c_str()));
    memory.writeMemoryBlock(static_cast<char*>(image), image.size(), 0);
}

}  // namespace

AB1784Card::PathCopy::PathCopy(const char* path) : text(0) {
    if (path == 0)
        throw std::logic_error("AB1784KTx: firmware path not specified.");
    const std::size_t length = std::strlen(path);
    text = new char[length + 1];
    std::memcpy(text, path, length + 1);
}

AB1784Card::PathCopy::~PathCopy() { delete[] text; }

AB1784Card::AB1784Card(unsigned int baseMemoryAddress, const char* const firmwarePath,
                       unsigned int linkSpeed)
    : IOCard("AB1784KTx"),
      baseMemoryAddress_(baseMemoryAddress),
      linkSpeed_(linkSpeed),
      path_(firmwarePath),
      dpm_(baseMemoryAddress, windowSize, true),
      transaction_(0) {
    std::memset(bankOutputMasks_, 0, sizeof bankOutputMasks_);
    if (baseMemoryAddress < 0xC0000 || baseMemoryAddress > 0xEF000 ||
        baseMemoryAddress % 0x1000 != 0)
        throw std::logic_error("AB1784KTx: invalid base memory address specified.");
    if (linkSpeed != 0xFE && linkSpeed != 0xFD && linkSpeed != 0xFC)
        throw std::logic_error("AB1784KTx: invalid link speed specified.");

    loadRIOProtocol();
    init();
    commandToHost(autoconfigureCommand, 0, 0);
    commandToHost(setModeCommand, &runMode, 1);
}

AB1784Card::~AB1784Card() noexcept(false) { dpm_.writeChar(boardReset, 1); }

void AB1784Card::loadRIOProtocol() {
    const std::string path(path_.text);

    dpm_.writeChar(boardReset, 1);
    clearSharedMemory(dpm_);

    const std::string clrramName = path + "clrram.bin";
    FirmwareFileBuffer clrram(clrramName.c_str());
    copyWholeImage(dpm_, clrram, clrramName);
    dpm_.writeChar(boardStart, 1);
    OSInterface::sleep(clrramRunMs * 1000);

    dpm_.writeChar(boardReset, 1);

    const std::string loadpclName = path + "loadpcl.bin";
    FirmwareFileBuffer loadpcl(loadpclName.c_str());
    copyWholeImage(dpm_, loadpcl, loadpclName);

    const std::string scannerName = path + "scanner.bin";
    FirmwareFileBuffer scanner(scannerName.c_str());
    const unsigned long size = scanner.size();
    const char* image = scanner;

    // Every block but the last is 1920 bytes; the last carries the rest.  A
    // file shorter than one block goes as a single block of its own length.
    unsigned long offset = 0;
    unsigned long length = size < downloadBlockSize ? size : downloadBlockSize;
    do {
        dpm_.writeMemoryBlock(image + offset, length, downloadBlock);
        dpm_.writeShort(downloadLength, static_cast<short>(length));
        dpm_.writeChar(downloadDone, 0);
        if (offset == 0)
            dpm_.writeChar(boardStart, 1);

        waitFor([this] { return dpm_.readChar(downloadDone) != 0; }, downloadPollMs,
                downloadLimitMs, "AB1784KTx: protocol Download error: board did not answer.");
        switch (byteAt(dpm_, downloadResult)) {
        case 0:
            break;
        case 1:
            throw std::runtime_error("AB1784KTx: protocol Download error: Block too large.");
        case 2:
            throw std::runtime_error(
                "AB1784KTx: protocol Download error: Z80 RAM too full for the next block.");
        default:
            throw std::runtime_error("AB1784KTx: protocol Download error: Unknown.");
        }

        offset += length;
        if (offset + downloadBlockSize > size)
            length = size % downloadBlockSize;
    } while (offset < size);

    dpm_.writeChar(boardReset, 1);
}

void AB1784Card::init() {
    clearSharedMemory(dpm_);
    dpm_.writeLong(startWord, 0xC3);
    dpm_.writeChar(initByte5, static_cast<char>(0xFD));
    dpm_.writeChar(initByte6, 0x06);
    dpm_.writeChar(linkSpeedByte, static_cast<char>(linkSpeed_ & 0xFF));
    dpm_.writeChar(boardStart, 1);

    waitFor([this] { return byteAt(dpm_, intStatusToHost) == 1; }, pollMs, initLimitMs,
            "AB1784KTx: initialization timed out.");
    if (byteAt(dpm_, initError) != 0)
        throw std::runtime_error("AB1784KTx: initialization error.");
}

unsigned char AB1784Card::getCurrentTransaction() {
    transaction_ = static_cast<unsigned char>(transaction_ + 1);
    return transaction_;
}

void AB1784Card::commandToHost(unsigned char command, const unsigned char* parameters,
                               unsigned int length) {
    if (length > maximumParameters)
        throw std::logic_error("AB1784KTx: command parameters too long.");
    const unsigned char transaction = getCurrentTransaction();
    const unsigned char count = static_cast<unsigned char>(length & 0xFF);
    if (count != 0 && parameters == 0)
        throw std::logic_error("AB1784KTx host command parameters not provided");

    unsigned char block[256] = {0};
    block[0] = command;
    block[1] = transaction;
    block[2] = count;
    if (count != 0)
        std::memcpy(block + 3, parameters, count);
    dpm_.writeMemoryBlock(block, sizeof block, commandBlock);
    dpm_.writeChar(intStatusFromHost, 1);
    dpm_.writeChar(boardInterrupt, 1);

    const int response = getConfirmation();
    acknowledgeConfirmation();
    if (response != 0)
        throw std::runtime_error(responseText(response));
}

int AB1784Card::getConfirmation() {
    waitFor([this] { return byteAt(dpm_, intStatusToHost) == 2; }, pollMs,
            confirmationLimitMs, "AB1784KTx confirmation timed out.");
    if (byteAt(dpm_, confirmationBlock + 1) != transaction_)
        throw std::runtime_error("AB1784KTx transaction number mismatch");
    return byteAt(dpm_, confirmationBlock + 2);
}

namespace {

void waitForCommandTaken(const PhysicalMemory& memory) {
    waitFor([&memory] { return byteAt(memory, intStatusFromHost) == 0; }, pollMs,
            acknowledgeLimitMs, "AB1784KTx did not clear int_status_from_host in 2 seconds.");
}

}  // namespace

void AB1784Card::acknowledgeConfirmation() {
    waitForCommandTaken(dpm_);
    dpm_.writeChar(confirmationBlock, 0);
    dpm_.writeChar(intStatusToHost, 0);
    dpm_.writeChar(hostInterruptClear, 1);
    dpm_.writeChar(intStatusFromHost, 2);
    dpm_.writeChar(boardInterrupt, 1);
    waitForCommandTaken(dpm_);
}

IOCard& AB1784Card::addTrack(IOTrack& track) {
    if (DigitalBank::hasAnalogOrCounterPoints(track))
        throw std::logic_error(
            "AB1784KTx: Current implementation does not support analog I/O and counters.");
    const unsigned int points = track.numberOfPoints();
    if (points % 8 != 0)
        throw std::logic_error("AB1784KTx: track length can only by n*8 points");
    const unsigned int first = track.startingPoint();
    const unsigned long long end = static_cast<unsigned long long>(first) + points / 8;
    if (end > 256)
        throw std::range_error(
            "AB1784KTx: starting point parameter value is too high. AB1784KTx track supports "
            "up to 256 banks only.");

    for (unsigned int b = first; b < end; ++b)
        bankOutputMasks_[b] = DigitalBank::outputMask(track, (b - first) * DigitalBank::points);
    return *this;
}

// Scanner running, and the status entry of the track's first bank good
// (one entry serves four banks).
long AB1784Card::trackStatus(unsigned int firstBank) const {
    if ((static_cast<unsigned int>(static_cast<unsigned short>(dpm_.readShort(scannerStatus))) &
         scannerRunning) == 0)
        return 2;
    const unsigned long entry = statusTable + 3 * (firstBank / 4);
    const unsigned char a = byteAt(dpm_, entry);
    const unsigned char b = byteAt(dpm_, entry + 1);
    return ((a & 0x03) == 0x03 && (b & 0x20) != 0) ? 0 : 3;
}

IOCard& AB1784Card::updateInputs(const IOTrack& track, long* values, long& trackState) {
    const unsigned int first = track.startingPoint();
    trackState = trackStatus(first);
    const unsigned int last = first + track.numberOfPoints() / 8;
    for (unsigned int b = first; b < last; ++b) {
        if (bankOutputMasks_[b] != 0)
            continue;
        DigitalBank::unpack(byteAt(dpm_, inputImage + b),
                            values + (b - first) * DigitalBank::points);
    }
    return *this;
}

IOCard& AB1784Card::updateOutputs(const IOTrack& track, const long* const values,
                                  long& trackState) {
    const unsigned int first = track.startingPoint();
    trackState = trackStatus(first);
    const unsigned int last = first + track.numberOfPoints() / 8;
    for (unsigned int b = first; b < last; ++b) {
        const unsigned char mask = bankOutputMasks_[b];
        if (mask == 0)
            continue;
        const unsigned int bits = DigitalBank::pack(values + (b - first) * DigitalBank::points);
        dpm_.writeChar(outputImage + b, static_cast<char>(bits & mask));
    }
    return *this;
}

}  // namespace Tavex
