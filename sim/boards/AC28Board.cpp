#include "tavex/sim/boards/AC28Board.h"

#include <stdexcept>

#include "tavex/sim/Machine.h"

namespace Tavex {
namespace Sim {

namespace {

const std::uint8_t floating = 0xFF;

// Module lines of a digital bank: the brainboard only ever pulls a line
// low, so a line it pulls is an output of the port and a line it leaves is
// an input that the module may pull.
void pull(DigitalPort& lines, std::uint8_t on) {
    lines.setLatch(static_cast<std::uint8_t>(~on)).setOutputs(on);
}

}  // namespace

AC28Board::AC28Board(std::uint16_t basePort, std::uint16_t resetPort, bool resetLevel)
    : base_(basePort),
      resetPort_(resetPort),
      resetLevel_(resetLevel),
      resetLine_(false),
      assertedAt_(0),
      held_(false),
      minimumPulse_(DefaultMinimumResetPulse),
      linkFault_(false),
      forced_(false),
      forcedStatus_(0),
      stray_(0) {
    for (unsigned k = 0; k < Banks; ++k) {
        Bank& b = banks_[k];
        b.kind = Empty;
        b.lines = DigitalPort(0xFF, 0x00, DigitalPort::ActiveLow);
        b.reads = b.writes = 0;
        Analog& a = b.analog;
        for (unsigned c = 0; c < Channels; ++c)
            a.input[c] = MidScale;
        a.refused = false;
        a.delay = 0;
        a.requests = a.grants = a.releases = 0;
    }
    resetBrainboards();
    // The reset latch clears at power-up: with a reset level of 0 the
    // brainboards come up held in reset.
    held_ = resetAsserted();
}

const char* AC28Board::name() const { return "AC28"; }

void AC28Board::plugged() {
    machine().claimPorts(*this, base_, Banks);
    machine().claimPorts(*this, resetPort_, 1);
}

// --- placement --------------------------------------------------------------

const AC28Board::Bank& AC28Board::at(unsigned bank) const {
    if (bank >= Banks)
        throw std::out_of_range("Sim::AC28Board: no such bank");
    return banks_[bank];
}

AC28Board::Bank& AC28Board::at(unsigned bank) {
    if (bank >= Banks)
        throw std::out_of_range("Sim::AC28Board: no such bank");
    return banks_[bank];
}

AC28Board& AC28Board::placeDigital(unsigned bank, unsigned banks) {
    if (banks == 0 || bank >= Banks || banks > Banks - bank)
        throw std::logic_error("Sim::AC28Board: digital brainboard past bank 63");
    for (unsigned k = bank; k < bank + banks; ++k)
        if (banks_[k].kind != Empty)
            throw std::logic_error("Sim::AC28Board: bank already taken");
    for (unsigned k = bank; k < bank + banks; ++k)
        banks_[k].kind = Digital;
    return *this;
}

AC28Board& AC28Board::placeAnalog(unsigned bank) {
    if (bank + 1 >= Banks)
        throw std::logic_error("Sim::AC28Board: analog brainboard past bank 63");
    if (banks_[bank].kind != Empty || banks_[bank + 1].kind != Empty)
        throw std::logic_error("Sim::AC28Board: bank already taken");
    banks_[bank].kind = AnalogData;
    banks_[bank + 1].kind = AnalogCommand;
    return *this;
}

AC28Board::Kind AC28Board::kind(unsigned bank) const { return at(bank).kind; }

const AC28Board::Analog& AC28Board::analogAt(unsigned bank) const {
    const Bank& b = at(bank);
    if (b.kind != AnalogData)
        throw std::logic_error("Sim::AC28Board: no analog brainboard at that bank");
    return b.analog;
}

AC28Board::Analog& AC28Board::analogAt(unsigned bank) {
    return const_cast<Analog&>(static_cast<const AC28Board&>(*this).analogAt(bank));
}

const DigitalPort& AC28Board::lines(unsigned bank) const {
    const Bank& b = at(bank);
    if (b.kind != Digital)
        throw std::logic_error("Sim::AC28Board: no digital brainboard at that bank");
    return b.lines;
}

DigitalPort& AC28Board::digitalAt(unsigned bank) {
    return const_cast<DigitalPort&>(static_cast<const AC28Board&>(*this).lines(bank));
}

void AC28Board::checkChannel(unsigned channel) {
    if (channel >= Channels)
        throw std::out_of_range("Sim::AC28Board: no such channel");
}

// --- field side: digital ----------------------------------------------------

AC28Board& AC28Board::setInputs(unsigned bank, std::uint8_t on) {
    digitalAt(bank).setInputPoints(on);
    return *this;
}

AC28Board& AC28Board::setInput(unsigned bank, unsigned point, bool on) {
    digitalAt(bank).setFieldLine(point, !on);
    return *this;
}

std::uint8_t AC28Board::inputs(unsigned bank) const {
    return static_cast<std::uint8_t>(~lines(bank).fieldLevels());
}

std::uint8_t AC28Board::outputsOn(unsigned bank) const {
    return static_cast<std::uint8_t>(~lines(bank).drivenLevels());
}

std::uint8_t AC28Board::pointsOn(unsigned bank) const {
    return static_cast<std::uint8_t>(~lines(bank).lineLevels());
}

// --- field side: analog -----------------------------------------------------

AC28Board& AC28Board::setInputCode(unsigned bank, unsigned channel, std::uint16_t code) {
    checkChannel(channel);
    if (code > CodeMask)
        throw std::out_of_range("Sim::AC28Board: input codes have 12 bits");
    analogAt(bank).input[channel] = code;
    return *this;
}

std::uint16_t AC28Board::inputCode(unsigned bank, unsigned channel) const {
    checkChannel(channel);
    return analogAt(bank).input[channel];
}

bool AC28Board::isOutputChannel(unsigned bank, unsigned channel) const {
    checkChannel(channel);
    return (analogAt(bank).mask >> channel) & 1u;
}

std::uint16_t AC28Board::outputCode(unsigned bank, unsigned channel) const {
    return isOutputChannel(bank, channel) ? analogAt(bank).word[channel] & CodeMask : 0;
}

std::uint16_t AC28Board::outputWord(unsigned bank, unsigned channel) const {
    checkChannel(channel);
    return analogAt(bank).word[channel];
}

std::uint16_t AC28Board::outputMask(unsigned bank) const { return analogAt(bank).mask; }

// --- fault knobs ------------------------------------------------------------

AC28Board& AC28Board::setAccessDelay(unsigned bank, unsigned busyReads) {
    analogAt(bank).delay = busyReads;
    return *this;
}

AC28Board& AC28Board::setAccessRefused(unsigned bank, bool refused) {
    analogAt(bank).refused = refused;
    return *this;
}

AC28Board& AC28Board::setLinkFault(bool fault) {
    linkFault_ = fault;
    return *this;
}

AC28Board& AC28Board::forceStatus(std::uint8_t status) {
    forced_ = true;
    forcedStatus_ = status;
    return *this;
}

AC28Board& AC28Board::unforceStatus() {
    forced_ = false;
    return *this;
}

AC28Board& AC28Board::setMinimumResetPulse(unsigned long ms) {
    minimumPulse_ = ms;
    return *this;
}

// --- inspection -------------------------------------------------------------

bool AC28Board::resetAsserted() const { return resetLine_ == resetLevel_; }

unsigned AC28Board::resetsTaken() const {
    unsigned taken = 0;
    for (std::size_t i = 0; i < pulses_.size(); ++i)
        taken += pulses_[i].taken;
    return taken;
}

std::uint8_t AC28Board::status() const {
    if (forced_)
        return forcedStatus_;
    if (resetAsserted())
        return StatusInReset;
    if (linkFault_)
        return StatusLinkFault;
    for (unsigned k = 0; k < Banks; ++k)
        if (banks_[k].kind == AnalogData && banks_[k].analog.held)
            return StatusAccessHeld;
    return StatusIdle;
}

bool AC28Board::accessHeld(unsigned bank) const { return analogAt(bank).held; }
unsigned AC28Board::accessRequests(unsigned bank) const { return analogAt(bank).requests; }
unsigned AC28Board::accessGrants(unsigned bank) const { return analogAt(bank).grants; }
unsigned AC28Board::accessReleases(unsigned bank) const { return analogAt(bank).releases; }
std::uint8_t AC28Board::selectedRegister(unsigned bank) const { return analogAt(bank).selected; }
unsigned AC28Board::bankReads(unsigned bank) const { return at(bank).reads; }
unsigned AC28Board::bankWrites(unsigned bank) const { return at(bank).writes; }

// --- reset ------------------------------------------------------------------

// What the brainboards come back with after a reset; field inputs and the
// knobs are not theirs to change.
void AC28Board::resetBrainboards() {
    for (unsigned k = 0; k < Banks; ++k) {
        Bank& b = banks_[k];
        pull(b.lines, 0x00);
        Analog& a = b.analog;
        for (unsigned c = 0; c < Channels; ++c) {
            a.word[c] = 0;
            a.pendingLow[c] = 0;
        }
        a.mask = 0;
        a.selected = 0;
        a.requested = a.held = false;
        a.busyLeft = 0;
    }
}

void AC28Board::setResetLine(bool level) {
    const bool was = resetAsserted();
    resetLine_ = level;
    const bool is = resetAsserted();
    if (!was && is) {
        assertedAt_ = machine().now();
        if (minimumPulse_ == 0) {
            held_ = true;
            resetBrainboards();
        }
    } else if (was && !is) {
        const ResetPulse pulse = {assertedAt_, machine().now(), held_};
        pulses_.push_back(pulse);
        held_ = false;
    }
}

// The brainboards' filter sees the line only as time passes.
void AC28Board::tick(unsigned long) {
    if (resetAsserted() && !held_ && machine().now() - assertedAt_ >= minimumPulse_) {
        held_ = true;
        resetBrainboards();
    }
}

bool AC28Board::answering() const { return !held_ && !linkFault_; }

// --- bus side ---------------------------------------------------------------

std::uint8_t AC28Board::readRegister(unsigned bank, Analog& a) {
    const std::uint8_t address = static_cast<std::uint8_t>(bank & AddressBits);
    if (a.selected == AccessRegister) {
        if (!a.held && a.requested && !a.refused) {
            if (a.busyLeft == 0) {
                a.held = true;
                a.requested = false;
                ++a.grants;
            } else {
                --a.busyLeft;
            }
        }
        return a.held ? address : static_cast<std::uint8_t>(AccessBusy | address);
    }
    if (!a.held) {
        ++stray_;
        return floating;
    }
    if (a.selected < ChannelRegisters) {
        const unsigned c = a.selected / 2;
        const std::uint16_t word = (a.mask >> c) & 1u
                                       ? a.word[c]
                                       : static_cast<std::uint16_t>(a.input[c] | c << 12);
        return static_cast<std::uint8_t>(a.selected & 1 ? word >> 8 : word);
    }
    if (a.selected == OutputMaskLow)
        return static_cast<std::uint8_t>(a.mask);
    if (a.selected == OutputMaskHigh)
        return static_cast<std::uint8_t>(a.mask >> 8);
    ++stray_;
    return floating;
}

void AC28Board::writeRegister(Analog& a, std::uint8_t value) {
    if (a.selected == AccessRegister) {
        if (value != ReleaseAccess) {
            ++stray_;
        } else if (a.held) {
            a.held = false;
            ++a.releases;
        } else {
            a.requested = false;   // a request given up before it was granted
        }
        return;
    }
    if (!a.held) {
        ++stray_;
        return;
    }
    if (a.selected < ChannelRegisters) {
        const unsigned c = a.selected / 2;
        if (!((a.mask >> c) & 1u))
            ++stray_;
        else if (a.selected & 1)
            a.word[c] = static_cast<std::uint16_t>(a.pendingLow[c] | value << 8);
        else
            a.pendingLow[c] = value;
    } else if (a.selected == OutputMaskLow) {
        a.mask = static_cast<std::uint16_t>((a.mask & 0xFF00) | value);
    } else if (a.selected == OutputMaskHigh) {
        a.mask = static_cast<std::uint16_t>((a.mask & 0x00FF) | value << 8);
    } else {
        ++stray_;
    }
}

std::uint8_t AC28Board::readBank(unsigned bank) {
    Bank& b = banks_[bank];
    ++b.reads;
    if (!answering() || b.kind == Empty) {
        ++stray_;
        return floating;
    }
    switch (b.kind) {
    case Digital: return static_cast<std::uint8_t>(~b.lines.lineLevels());
    case AnalogData: return readRegister(bank, b.analog);
    case AnalogCommand: return banks_[bank - 1].analog.selected;
    case Empty: break;
    }
    return floating;
}

void AC28Board::writeBank(unsigned bank, std::uint8_t value) {
    Bank& b = banks_[bank];
    ++b.writes;
    if (!answering() || b.kind == Empty) {
        ++stray_;
        return;
    }
    switch (b.kind) {
    case Digital:
        pull(b.lines, value);
        break;
    case AnalogData:
        writeRegister(b.analog, value);
        break;
    case AnalogCommand: {
        Analog& a = banks_[bank - 1].analog;
        a.selected = value;
        if (value == AccessRegister && !a.held) {
            a.requested = true;
            a.busyLeft = a.delay;
            ++a.requests;
        }
        break;
    }
    case Empty:
        break;
    }
}

std::uint32_t AC28Board::readPort(std::uint16_t port, unsigned) {
    if (port == resetPort_)
        return status();
    const unsigned offset = static_cast<std::uint16_t>(port - base_);
    return offset < Banks ? readBank(offset) : floating;
}

void AC28Board::writePort(std::uint16_t port, unsigned, std::uint32_t value) {
    if (port == resetPort_) {
        setResetLine((value & 1u) != 0);
        return;
    }
    const unsigned offset = static_cast<std::uint16_t>(port - base_);
    if (offset < Banks)
        writeBank(offset, static_cast<std::uint8_t>(value));
}

}  // namespace Sim
}  // namespace Tavex
