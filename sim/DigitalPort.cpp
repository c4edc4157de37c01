#include "tavex/sim/DigitalPort.h"

#include <stdexcept>

namespace Tavex {
namespace Sim {

DigitalPort::DigitalPort(std::uint8_t latch, std::uint8_t outputs, Polarity polarity)
    : latch_(latch), outputs_(outputs), field_(0xFF), polarity_(polarity) {}

std::uint8_t DigitalPort::bit(unsigned line) {
    if (line >= 8)
        throw std::out_of_range("Sim::DigitalPort: no such line");
    return static_cast<std::uint8_t>(1u << line);
}

DigitalPort& DigitalPort::setOutputs(std::uint8_t outputs) {
    outputs_ = outputs;
    return *this;
}

DigitalPort& DigitalPort::setLatch(std::uint8_t latch) {
    latch_ = latch;
    return *this;
}

std::uint8_t DigitalPort::lineLevels() const {
    return static_cast<std::uint8_t>((latch_ & outputs_) | (field_ & ~outputs_));
}

DigitalPort& DigitalPort::setFieldLevels(std::uint8_t levels) {
    field_ = levels;
    return *this;
}

DigitalPort& DigitalPort::setFieldLine(unsigned line, bool high) {
    const std::uint8_t mask = bit(line);
    field_ = static_cast<std::uint8_t>(high ? (field_ | mask) : (field_ & ~mask));
    return *this;
}

DigitalPort& DigitalPort::setInputPoints(std::uint8_t on) {
    field_ = polarity_ == ActiveLow ? static_cast<std::uint8_t>(~on) : on;
    return *this;
}

std::uint8_t DigitalPort::drivenLevels() const {
    return static_cast<std::uint8_t>((latch_ & outputs_) | ~outputs_);
}

bool DigitalPort::lineLevel(unsigned line) const { return (lineLevels() & bit(line)) != 0; }

bool DigitalPort::isOutput(unsigned line) const { return (outputs_ & bit(line)) != 0; }

bool DigitalPort::pointOn(unsigned line) const {
    return lineLevel(line) == (polarity_ == ActiveHigh);
}

bool DigitalPort::outputOn(unsigned line) const { return isOutput(line) && pointOn(line); }

}  // namespace Sim
}  // namespace Tavex
