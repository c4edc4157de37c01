#include "tavex/sim/boards/ParallelPortBoard.h"

#include <stdexcept>

#include "tavex/sim/Machine.h"

namespace Tavex {
namespace Sim {

namespace {

const std::uint8_t powerUpData = 0x00;
const std::uint8_t powerUpControl = ParallelPortBoard::Init | ParallelPortBoard::SelectIn;
const std::uint8_t controlPins = 0x0F;
// Status bits 0-2 and control bits 6-7 are not implemented and read 1.
const std::uint8_t statusNoPins = 0x07;
const std::uint8_t controlUnimplemented = 0xC0;

enum Group { DataGroup, ControlGroup, StatusGroup, Ground };
struct Pin {
    Group group;
    unsigned bit;
};

// Pins 1-25 of the DB-25 connector.
const Pin connector[ParallelPortBoard::Pins] = {
    {ControlGroup, 0},  // 1  STROBE
    {DataGroup, 0},     // 2  D0
    {DataGroup, 1},     {DataGroup, 2}, {DataGroup, 3}, {DataGroup, 4},
    {DataGroup, 5},     {DataGroup, 6}, {DataGroup, 7},  // 9  D7
    {StatusGroup, 6},   // 10 ACK
    {StatusGroup, 7},   // 11 BUSY
    {StatusGroup, 5},   // 12 PAPER END
    {StatusGroup, 4},   // 13 SELECT
    {ControlGroup, 1},  // 14 AUTOFEED
    {StatusGroup, 3},   // 15 ERROR
    {ControlGroup, 2},  // 16 INIT
    {ControlGroup, 3},  // 17 SELECT IN
    {Ground, 0},        {Ground, 0}, {Ground, 0}, {Ground, 0},
    {Ground, 0},        {Ground, 0}, {Ground, 0}, {Ground, 0}};

const Pin& pinAt(unsigned pin) {
    if (pin < 1 || pin > ParallelPortBoard::Pins)
        throw std::out_of_range("Sim::ParallelPortBoard: no such pin");
    return connector[pin - 1];
}

const Pin& signalPin(unsigned pin) {
    const Pin& p = pinAt(pin);
    if (p.group == Ground)
        throw std::out_of_range("Sim::ParallelPortBoard: a ground pin carries no signal");
    return p;
}

unsigned pinOf(Group group, unsigned bit) {
    for (unsigned pin = 1; pin <= ParallelPortBoard::Pins; ++pin)
        if (connector[pin - 1].group == group && connector[pin - 1].bit == bit)
            return pin;
    throw std::out_of_range("Sim::ParallelPortBoard: that register bit has no pin");
}

}  // namespace

ParallelPortBoard::ParallelPortBoard(std::uint16_t basePort)
    : base_(basePort),
      bidirectional_(true),
      drive_(OpenCollector),
      controlLatch_(powerUpControl),
      data_(powerUpData, 0xFF, DigitalPort::ActiveLow),
      control_(0xFF, 0x00, DigitalPort::ActiveLow),
      status_(0xFF, 0x00, DigitalPort::ActiveLow) {
    for (unsigned r = 0; r < RegisterCount; ++r)
        reads_[r] = writes_[r] = 0;
    driveLines();
}

const char* ParallelPortBoard::name() const { return "parallel port"; }

void ParallelPortBoard::plugged() { machine().claimPorts(*this, base_, RegisterCount); }

// The latches decide what the port drives.  An open-collector control line
// is driven only while it pulls low; released, it is an input like any other.
void ParallelPortBoard::driveLines() {
    data_.setOutputs(dataDriven() ? 0xFF : 0x00);
    const std::uint8_t levels = static_cast<std::uint8_t>(
        ((controlLatch_ ^ ControlInverted) & controlPins) | ~controlPins);
    control_.setLatch(levels);
    control_.setOutputs(drive_ == PushPull ? controlPins
                                           : static_cast<std::uint8_t>(~levels & controlPins));
}

bool ParallelPortBoard::dataDriven() const {
    return !(bidirectional_ && (controlLatch_ & DataInput));
}

// --- connector --------------------------------------------------------------

unsigned ParallelPortBoard::dataPin(unsigned bit) { return pinOf(DataGroup, bit); }
unsigned ParallelPortBoard::controlPin(unsigned bit) { return pinOf(ControlGroup, bit); }
unsigned ParallelPortBoard::statusPin(unsigned bit) { return pinOf(StatusGroup, bit); }

bool ParallelPortBoard::pinLevel(unsigned pin) const {
    const Pin& p = pinAt(pin);
    switch (p.group) {
    case DataGroup: return data_.lineLevel(p.bit);
    case ControlGroup: return control_.lineLevel(p.bit);
    case StatusGroup: return status_.lineLevel(p.bit);
    case Ground: break;
    }
    return false;
}

ParallelPortBoard& ParallelPortBoard::setPinLevel(unsigned pin, bool high) {
    const Pin& p = signalPin(pin);
    DigitalPort& lines = p.group == DataGroup ? data_ : p.group == ControlGroup ? control_ : status_;
    lines.setFieldLine(p.bit, high);
    return *this;
}

bool ParallelPortBoard::appliedLevel(unsigned pin) const {
    const Pin& p = signalPin(pin);
    const DigitalPort& lines =
        p.group == DataGroup ? data_ : p.group == ControlGroup ? control_ : status_;
    return (lines.fieldLevels() >> p.bit) & 1u;
}

bool ParallelPortBoard::drivesLow(unsigned pin) const {
    const Pin& p = signalPin(pin);
    if (p.group == StatusGroup)
        return false;
    const DigitalPort& lines = p.group == DataGroup ? data_ : control_;
    return lines.isOutput(p.bit) && !((lines.drivenLevels() >> p.bit) & 1u);
}

std::uint8_t ParallelPortBoard::controlLevels() const {
    return static_cast<std::uint8_t>(control_.lineLevels() & controlPins);
}

std::uint8_t ParallelPortBoard::statusLevels() const {
    return static_cast<std::uint8_t>(status_.lineLevels() & StatusPins);
}

ParallelPortBoard& ParallelPortBoard::setDataApplied(std::uint8_t levels) {
    data_.setFieldLevels(levels);
    return *this;
}

ParallelPortBoard& ParallelPortBoard::setControlApplied(std::uint8_t levels) {
    control_.setFieldLevels(static_cast<std::uint8_t>(levels | ~controlPins));
    return *this;
}

ParallelPortBoard& ParallelPortBoard::setStatusApplied(std::uint8_t levels) {
    status_.setFieldLevels(static_cast<std::uint8_t>(levels | statusNoPins));
    return *this;
}

// --- kind of port -----------------------------------------------------------

ParallelPortBoard& ParallelPortBoard::setBidirectional(bool bidirectional) {
    bidirectional_ = bidirectional;
    driveLines();
    return *this;
}

ParallelPortBoard& ParallelPortBoard::setControlDrive(ControlDrive drive) {
    drive_ = drive;
    driveLines();
    return *this;
}

// --- registers --------------------------------------------------------------

std::uint8_t ParallelPortBoard::dataRegister() const { return data_.lineLevels(); }

std::uint8_t ParallelPortBoard::statusRegister() const {
    return static_cast<std::uint8_t>((statusLevels() | statusNoPins) ^ StatusInverted);
}

std::uint8_t ParallelPortBoard::controlRegister() const {
    std::uint8_t value = static_cast<std::uint8_t>((controlLevels() ^ ControlInverted) |
                                                   (controlLatch_ & InterruptEnable) |
                                                   controlUnimplemented);
    if (!bidirectional_ || (controlLatch_ & DataInput))
        value = static_cast<std::uint8_t>(value | DataInput);
    return value;
}

std::uint32_t ParallelPortBoard::readPort(std::uint16_t port, unsigned) {
    const unsigned offset = static_cast<std::uint16_t>(port - base_);
    if (offset >= RegisterCount)
        return 0xFF;
    ++reads_[offset];
    switch (offset) {
    case DataRegister: return dataRegister();
    case StatusRegister: return statusRegister();
    default: return controlRegister();
    }
}

void ParallelPortBoard::writePort(std::uint16_t port, unsigned, std::uint32_t value) {
    const unsigned offset = static_cast<std::uint16_t>(port - base_);
    if (offset >= RegisterCount)
        return;
    ++writes_[offset];
    const std::uint8_t byte = static_cast<std::uint8_t>(value);
    if (offset == DataRegister) {
        data_.setLatch(byte);
    } else if (offset == ControlRegister) {
        controlLatch_ = byte;
        driveLines();
    }
}

}  // namespace Sim
}  // namespace Tavex
