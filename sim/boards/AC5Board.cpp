#include "tavex/sim/boards/AC5Board.h"

#include <stdexcept>

#include "tavex/sim/Machine.h"

namespace Tavex {
namespace Sim {

AC5Board::AC5Board(std::uint16_t basePort) : base_(basePort), stray_(0) {
    for (unsigned p = 0; p < PortCount; ++p) {
        Port& port = ports_[p];
        port.control = DirectionControl;
        port.lines = DigitalPort(0xFF, 0x00, DigitalPort::ActiveLow);
        port.programmed = 0;
        port.reads = 0;
        port.writes = 0;
    }
}

const char* AC5Board::name() const { return "AC5"; }

void AC5Board::plugged() { machine().claimPorts(*this, base_, 2 * PortCount); }

const AC5Board::Port& AC5Board::at(unsigned port) const {
    if (port >= PortCount)
        throw std::out_of_range("Sim::AC5Board: no such port");
    return ports_[port];
}

AC5Board::Port& AC5Board::at(unsigned port) {
    if (port >= PortCount)
        throw std::out_of_range("Sim::AC5Board: no such port");
    return ports_[port];
}

AC5Board::Mode AC5Board::modeOf(std::uint8_t control) {
    if (control == DirectionControl)
        return DirectionRegister;
    if (control == DataControl)
        return DataRegister;
    return Undefined;
}

// --- field side -------------------------------------------------------------

AC5Board& AC5Board::setInputLine(unsigned port, unsigned point, bool high) {
    at(port).lines.setFieldLine(point, high);
    return *this;
}

AC5Board& AC5Board::setInputLines(unsigned port, std::uint8_t levels) {
    at(port).lines.setFieldLevels(levels);
    return *this;
}

std::uint8_t AC5Board::fieldLevels(unsigned port) const { return at(port).lines.fieldLevels(); }
std::uint8_t AC5Board::lineLevels(unsigned port) const { return at(port).lines.lineLevels(); }
bool AC5Board::lineLevel(unsigned port, unsigned point) const {
    return at(port).lines.lineLevel(point);
}
std::uint8_t AC5Board::drivenLevels(unsigned port) const { return at(port).lines.drivenLevels(); }
bool AC5Board::isOutput(unsigned port, unsigned point) const {
    return at(port).lines.isOutput(point);
}
bool AC5Board::outputOn(unsigned port, unsigned point) const {
    return at(port).lines.outputOn(point);
}

// --- inspection -------------------------------------------------------------

std::uint8_t AC5Board::directionMask(unsigned port) const { return at(port).lines.outputs(); }
unsigned AC5Board::programmingCount(unsigned port) const { return at(port).programmed; }
std::uint8_t AC5Board::outputLatch(unsigned port) const { return at(port).lines.latch(); }
std::uint8_t AC5Board::controlRegister(unsigned port) const { return at(port).control; }
AC5Board::Mode AC5Board::mode(unsigned port) const { return modeOf(at(port).control); }
unsigned AC5Board::dataReads(unsigned port) const { return at(port).reads; }
unsigned AC5Board::dataWrites(unsigned port) const { return at(port).writes; }

// --- bus side ---------------------------------------------------------------

std::uint32_t AC5Board::readPort(std::uint16_t address, unsigned) {
    const unsigned offset = static_cast<std::uint16_t>(address - base_);
    if (offset >= 2 * PortCount)
        return 0xFF;
    Port& p = ports_[offset / 2];
    if (offset % 2)
        return p.control;
    switch (modeOf(p.control)) {
    case DirectionRegister:
        return p.lines.outputs();
    case DataRegister:
        ++p.reads;
        return p.lines.lineLevels();
    case Undefined:
        break;
    }
    ++stray_;
    return 0xFF;
}

void AC5Board::writePort(std::uint16_t address, unsigned, std::uint32_t data) {
    const unsigned offset = static_cast<std::uint16_t>(address - base_);
    const std::uint8_t value = static_cast<std::uint8_t>(data);
    if (offset >= 2 * PortCount)
        return;
    Port& p = ports_[offset / 2];
    if (offset % 2) {
        p.control = value;
        return;
    }
    switch (modeOf(p.control)) {
    case DirectionRegister:
        p.lines.setOutputs(value);
        ++p.programmed;
        return;
    case DataRegister:
        p.lines.setLatch(value);
        ++p.writes;
        return;
    case Undefined:
        break;
    }
    ++stray_;
}

}  // namespace Sim
}  // namespace Tavex
