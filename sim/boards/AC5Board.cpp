#include "tavex/sim/boards/AC5Board.h"

#include <stdexcept>

#include "tavex/sim/Machine.h"

namespace Tavex {
namespace Sim {

namespace {

std::uint8_t bit(unsigned point) {
    if (point >= AC5Board::PointsPerPort)
        throw std::out_of_range("Sim::AC5Board: no such point");
    return static_cast<std::uint8_t>(1u << point);
}

}  // namespace

AC5Board::AC5Board(std::uint16_t basePort) : base_(basePort), stray_(0) {
    for (unsigned p = 0; p < PortCount; ++p) {
        Port& port = ports_[p];
        port.control = DirectionControl;
        port.direction = 0x00;
        port.latch = 0xFF;
        port.field = 0xFF;
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
    Port& p = at(port);
    const std::uint8_t mask = bit(point);
    p.field = static_cast<std::uint8_t>(high ? (p.field | mask) : (p.field & ~mask));
    return *this;
}

AC5Board& AC5Board::setInputLines(unsigned port, std::uint8_t levels) {
    at(port).field = levels;
    return *this;
}

std::uint8_t AC5Board::fieldLevels(unsigned port) const { return at(port).field; }

std::uint8_t AC5Board::lineLevels(unsigned port) const {
    const Port& p = at(port);
    return static_cast<std::uint8_t>((p.latch & p.direction) | (p.field & ~p.direction));
}

bool AC5Board::lineLevel(unsigned port, unsigned point) const {
    return (lineLevels(port) & bit(point)) != 0;
}

std::uint8_t AC5Board::drivenLevels(unsigned port) const {
    const Port& p = at(port);
    return static_cast<std::uint8_t>((p.latch & p.direction) | ~p.direction);
}

bool AC5Board::isOutput(unsigned port, unsigned point) const {
    return (at(port).direction & bit(point)) != 0;
}

bool AC5Board::outputOn(unsigned port, unsigned point) const {
    return isOutput(port, point) && (at(port).latch & bit(point)) == 0;
}

// --- inspection -------------------------------------------------------------

std::uint8_t AC5Board::directionMask(unsigned port) const { return at(port).direction; }
unsigned AC5Board::programmingCount(unsigned port) const { return at(port).programmed; }
std::uint8_t AC5Board::outputLatch(unsigned port) const { return at(port).latch; }
std::uint8_t AC5Board::controlRegister(unsigned port) const { return at(port).control; }
AC5Board::Mode AC5Board::mode(unsigned port) const { return modeOf(at(port).control); }
unsigned AC5Board::dataReads(unsigned port) const { return at(port).reads; }
unsigned AC5Board::dataWrites(unsigned port) const { return at(port).writes; }

// --- bus side ---------------------------------------------------------------

std::uint8_t AC5Board::readByte(std::uint16_t address) {
    const unsigned offset = static_cast<std::uint16_t>(address - base_);
    if (offset >= 2 * PortCount)
        return 0xFF;
    Port& p = ports_[offset / 2];
    if (offset % 2)
        return p.control;
    switch (modeOf(p.control)) {
    case DirectionRegister:
        return p.direction;
    case DataRegister:
        ++p.reads;
        return static_cast<std::uint8_t>((p.latch & p.direction) | (p.field & ~p.direction));
    case Undefined:
        break;
    }
    ++stray_;
    return 0xFF;
}

void AC5Board::writeByte(std::uint16_t address, std::uint8_t value) {
    const unsigned offset = static_cast<std::uint16_t>(address - base_);
    if (offset >= 2 * PortCount)
        return;
    Port& p = ports_[offset / 2];
    if (offset % 2) {
        p.control = value;
        return;
    }
    switch (modeOf(p.control)) {
    case DirectionRegister:
        p.direction = value;
        ++p.programmed;
        return;
    case DataRegister:
        p.latch = value;
        ++p.writes;
        return;
    case Undefined:
        break;
    }
    ++stray_;
}

std::uint32_t AC5Board::readPort(std::uint16_t port, unsigned width) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i)
        value |= static_cast<std::uint32_t>(readByte(static_cast<std::uint16_t>(port + i)))
                 << (8 * i);
    return value;
}

void AC5Board::writePort(std::uint16_t port, unsigned width, std::uint32_t value) {
    for (unsigned i = 0; i < width; ++i)
        writeByte(static_cast<std::uint16_t>(port + i),
                  static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace Sim
}  // namespace Tavex
