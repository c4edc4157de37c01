#include "tavex/sim/boards/PC7166Board.h"

#include <stdexcept>

#include "tavex/sim/Machine.h"

namespace Tavex {
namespace Sim {

namespace {

const long long countRange = 0x1000000;   // 2^24
const unsigned bytesPerCount = 3;

// What the counter chips happen to hold at power-up (per channel, so that
// a mixed-up channel shows).
std::uint32_t powerUpValue(std::uint32_t pattern, unsigned channel) {
    return (pattern ^ (channel * 0x111111u)) & PC7166Board::CountMask;
}

long long floorDiv(long long a, long long b) {
    const long long q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

PC7166Board::PC7166Board(std::uint16_t basePort) : base_(basePort) {
    for (unsigned c = 0; c < Channels; ++c) {
        Channel& ch = channels_[c];
        ch.counter = powerUpValue(0x5A3C96, c);
        ch.preset = powerUpValue(0xA5C369, c);
        ch.latch = powerUpValue(0x3C965A, c);
        ch.pointer = 0;
        ch.icr = ch.ocr = ch.qr = ch.status = 0;
        ch.position = 0;
        ch.masterResets = ch.latches = ch.loads = ch.reads = ch.writes = 0;
        ch.commands.reserve(CommandLogSize);
        ch.commandCount = 0;
    }
}

const char* PC7166Board::name() const { return "PC7166"; }

void PC7166Board::plugged() { machine().claimPorts(*this, base_, Channels * PortsPerChannel); }

const PC7166Board::Channel& PC7166Board::at(unsigned channel) const {
    if (channel >= Channels)
        throw std::out_of_range("Sim::PC7166Board: no such channel");
    return channels_[channel];
}

PC7166Board::Channel& PC7166Board::at(unsigned channel) {
    if (channel >= Channels)
        throw std::out_of_range("Sim::PC7166Board: no such channel");
    return channels_[channel];
}

unsigned PC7166Board::multiplierOf(const Channel& ch) {
    if (!(ch.icr & EnableInputs))
        return 0;
    static const unsigned byMode[4] = {0, 1, 2, 4};
    return byMode[ch.qr & QuadratureMode];
}

// --- field side ---------------------------------------------------------------

// The counts an encoder turn gives depend on which edges it crosses: in x2
// mode every even position, in x1 every fourth.
PC7166Board& PC7166Board::turn(unsigned channel, long long steps) {
    Channel& ch = at(channel);
    const long long from = ch.position;
    const long long to = from + steps;
    ch.position = to;

    long long counts = 0;
    switch (multiplierOf(ch)) {
    case 4: counts = steps; break;
    case 2: counts = floorDiv(to, 2) - floorDiv(from, 2); break;
    case 1: counts = floorDiv(to, 4) - floorDiv(from, 4); break;
    default: return *this;
    }
    if (counts == 0)
        return *this;

    const long long next = static_cast<long long>(ch.counter) + counts;
    const long long wraps = floorDiv(next, countRange);
    ch.counter = static_cast<std::uint32_t>(next - wraps * countRange);
    ch.status = static_cast<std::uint8_t>(counts > 0 ? ch.status | CountingUp
                                                     : ch.status & ~CountingUp);
    if (wraps > 0) {
        if (wraps & 1)
            ch.status = static_cast<std::uint8_t>(ch.status ^ CarryToggle);
        ch.status = static_cast<std::uint8_t>(ch.status | Sign);
    } else if (wraps < 0) {
        if (-wraps & 1)
            ch.status = static_cast<std::uint8_t>(ch.status ^ BorrowToggle);
        ch.status = static_cast<std::uint8_t>(ch.status & ~Sign);
    }
    return *this;
}

long long PC7166Board::encoderPosition(unsigned channel) const { return at(channel).position; }

// --- inspection -----------------------------------------------------------------

std::uint32_t PC7166Board::count(unsigned channel) const { return at(channel).counter; }
std::uint32_t PC7166Board::preset(unsigned channel) const { return at(channel).preset; }
std::uint32_t PC7166Board::outputLatch(unsigned channel) const { return at(channel).latch; }
unsigned PC7166Board::bytePointer(unsigned channel) const { return at(channel).pointer; }
std::uint8_t PC7166Board::inputControl(unsigned channel) const { return at(channel).icr; }
std::uint8_t PC7166Board::outputControl(unsigned channel) const { return at(channel).ocr; }
std::uint8_t PC7166Board::quadrature(unsigned channel) const { return at(channel).qr; }
unsigned PC7166Board::multiplier(unsigned channel) const { return multiplierOf(at(channel)); }
std::uint8_t PC7166Board::status(unsigned channel) const { return at(channel).status; }
unsigned long PC7166Board::commandCount(unsigned channel) const {
    return at(channel).commandCount;
}

PC7166Board& PC7166Board::clearCommands(unsigned channel) {
    at(channel).commands.clear();
    return *this;
}

const std::vector<std::uint8_t>& PC7166Board::commands(unsigned channel) const {
    return at(channel).commands;
}
unsigned PC7166Board::masterResets(unsigned channel) const { return at(channel).masterResets; }
unsigned PC7166Board::latches(unsigned channel) const { return at(channel).latches; }
unsigned PC7166Board::loads(unsigned channel) const { return at(channel).loads; }
unsigned PC7166Board::dataReads(unsigned channel) const { return at(channel).reads; }
unsigned PC7166Board::dataWrites(unsigned channel) const { return at(channel).writes; }

// --- bus side -------------------------------------------------------------------

void PC7166Board::masterReset(Channel& ch) {
    ch.counter = ch.preset = ch.latch = 0;
    ch.pointer = 0;
    ch.icr = ch.ocr = ch.qr = ch.status = 0;
}

void PC7166Board::masterControl(Channel& ch, std::uint8_t actions) {
    if (actions & MasterReset) {
        masterReset(ch);
        ++ch.masterResets;
    }
    if (actions & ResetPointer)
        ch.pointer = 0;
    if (actions & LatchCount) {
        ch.latch = ch.counter;
        ++ch.latches;
    }
    if (actions & ResetCount)
        ch.counter = 0;
    if (actions & LoadPreset) {
        ch.counter = ch.preset;
        ++ch.loads;
    }
    if (actions & ResetFlags)
        ch.status = static_cast<std::uint8_t>(
            ch.status & ~(BorrowToggle | CarryToggle | CompareToggle | Sign));
}

void PC7166Board::command(Channel& ch, std::uint8_t byte) {
    // The log has its room from the start: a board that runs for days
    // neither allocates nor grows on the bus side.
    if (ch.commands.size() < CommandLogSize)
        ch.commands.push_back(byte);
    ++ch.commandCount;
    const std::uint8_t bits = static_cast<std::uint8_t>(byte & ~RegisterSelect);
    switch (byte & RegisterSelect) {
    case MasterControl: masterControl(ch, bits); break;
    case InputControl: ch.icr = bits; break;
    case OutputControl: ch.ocr = bits; break;
    default: ch.qr = bits; break;
    }
}

std::uint32_t PC7166Board::readPort(std::uint16_t port, unsigned) {
    const unsigned offset = static_cast<std::uint16_t>(port - base_);
    if (offset >= Channels * PortsPerChannel)
        return 0xFF;
    Channel& ch = channels_[offset / PortsPerChannel];
    if (offset % PortsPerChannel == ControlPort)
        return ch.status;
    const std::uint8_t byte = static_cast<std::uint8_t>(ch.latch >> (8 * ch.pointer));
    ch.pointer = (ch.pointer + 1) % bytesPerCount;
    ++ch.reads;
    return byte;
}

void PC7166Board::writePort(std::uint16_t port, unsigned, std::uint32_t value) {
    const unsigned offset = static_cast<std::uint16_t>(port - base_);
    if (offset >= Channels * PortsPerChannel)
        return;
    Channel& ch = channels_[offset / PortsPerChannel];
    const std::uint8_t byte = static_cast<std::uint8_t>(value);
    if (offset % PortsPerChannel == ControlPort) {
        command(ch, byte);
        return;
    }
    const unsigned shift = 8 * ch.pointer;
    ch.preset = (ch.preset & ~(0xFFu << shift)) | (static_cast<std::uint32_t>(byte) << shift);
    ch.pointer = (ch.pointer + 1) % bytesPerCount;
    ++ch.writes;
}

}  // namespace Sim
}  // namespace Tavex
