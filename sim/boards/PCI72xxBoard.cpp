#include "tavex/sim/boards/PCI72xxBoard.h"

#include <stdexcept>

#include "tavex/sim/Machine.h"

namespace Tavex {
namespace Sim {

namespace {

// Direction bits of the control register: set = input.
const std::uint8_t inputA = 0x10;
const std::uint8_t inputB = 0x02;
const std::uint8_t inputCLower = 0x01;
const std::uint8_t inputCUpper = 0x08;
const std::uint8_t allInputs = inputA | inputB | inputCLower | inputCUpper;

// The lines of a port (0 = A, 1 = B, 2 = C) that are outputs under a
// control word.
std::uint8_t outputMask(std::uint8_t control, unsigned port) {
    switch (port) {
    case 0: return (control & inputA) ? 0x00 : 0xFF;
    case 1: return (control & inputB) ? 0x00 : 0xFF;
    default:
        return static_cast<std::uint8_t>(((control & inputCLower) ? 0x00 : 0x0F) |
                                         ((control & inputCUpper) ? 0x00 : 0xF0));
    }
}

}  // namespace

PCI72xxBoard::Identity PCI72xxBoard::ownIdentity(Model model) {
    Identity identity = {0x144A, static_cast<std::uint16_t>(model), 0x144A,
                         static_cast<std::uint16_t>(model)};
    return identity;
}

PCI72xxBoard::Identity PCI72xxBoard::bridgeChipIdentity(std::uint16_t subVendorId,
                                                        std::uint16_t subSystemId) {
    Identity identity = {0x10B5, 0x9050, subVendorId, subSystemId};
    return identity;
}

PCI72xxBoard::PCI72xxBoard(PCIHostBridge& bridge, std::uint8_t bus, std::uint8_t device,
                           std::uint8_t function, Model model, std::uint16_t ioBase)
    : PCI72xxBoard(bridge, bus, device, function, model, ioBase, ownIdentity(model)) {}

PCI72xxBoard::PCI72xxBoard(PCIHostBridge& bridge, std::uint8_t bus, std::uint8_t device,
                           std::uint8_t function, Model model, std::uint16_t ioBase,
                           const Identity& identity)
    : bridge_(bridge),
      bus_(bus),
      device_(device),
      functionNumber_(function),
      model_(model),
      groups_(model == PCI7248 ? 2 : 4),
      ioBase_(ioBase) {
    init(identity);
}

void PCI72xxBoard::init(const Identity& identity) {
    if (model_ != PCI7248 && model_ != PCI7296)
        throw std::logic_error("Sim::PCI72xxBoard: no such model");
    const unsigned range = 4 * groups_;
    if (ioBase_ % range != 0)
        throw std::logic_error("Sim::PCI72xxBoard: I/O base not a multiple of its range");

    for (unsigned g = 0; g < maxGroups; ++g) {
        Group& group = group_[g];
        group.control = allInputs;
        group.controlWrites = 0;
        for (unsigned p = 0; p < 3; ++p)
            group.lines[p] = DigitalPort(0x00, outputMask(allInputs, p), DigitalPort::ActiveLow);
    }

    // The bridge chip's local configuration registers in memory (BAR 0) and
    // I/O (BAR 1), then the groups (BAR 2); one interrupt on pin A.
    function_.setIds(identity.vendorId, identity.deviceId)
        .setSubsystem(identity.subVendorId, identity.subSystemId)
        .setClassCode(0x11, 0x80)   // data acquisition controller, other
        .setRevisionId(0x01)
        .setStatus(0x0280)          // medium DEVSEL, fast back-to-back
        .setBaseAddress(0, 0xFEBFF000u, 0x80)
        .setBaseAddress(1, 0x0000FC01u | static_cast<std::uint32_t>(device_ << 7), 0x80)
        .setBaseAddress(2, static_cast<std::uint32_t>(ioBase_) | 1u, range)
        .setInterrupt(0x0B, 0x01);
}

PCI72xxBoard::~PCI72xxBoard() {}

const char* PCI72xxBoard::name() const {
    return model_ == PCI7248 ? "PCI-7248" : "PCI-7296";
}

void PCI72xxBoard::plugged() {
    machine().claimPorts(*this, ioBase_, 4 * groups_);
    bridge_.attach(bus_, device_, functionNumber_, function_);
}

void PCI72xxBoard::check(unsigned group) const {
    if (group >= groups_)
        throw std::logic_error("Sim::PCI72xxBoard: no such group");
}

PCI72xxBoard& PCI72xxBoard::setInputLevels(unsigned group, Port port, std::uint8_t levels) {
    check(group);
    group_[group].lines[port].setFieldLevels(levels);
    return *this;
}

PCI72xxBoard& PCI72xxBoard::setLineLevel(unsigned group, unsigned line, bool high) {
    check(group);
    if (line >= 24)
        throw std::logic_error("Sim::PCI72xxBoard: no such line");
    group_[group].lines[line / 8].setFieldLine(line % 8, high);
    return *this;
}

std::uint8_t PCI72xxBoard::outputLines(unsigned group, Port port) const {
    check(group);
    return group_[group].lines[port].outputs();
}

std::uint8_t PCI72xxBoard::drivenLevels(unsigned group, Port port) const {
    check(group);
    return group_[group].lines[port].drivenLevels();
}

std::uint8_t PCI72xxBoard::lineLevels(unsigned group, Port port) const {
    check(group);
    return group_[group].lines[port].lineLevels();
}

std::uint8_t PCI72xxBoard::latch(unsigned group, Port port) const {
    check(group);
    return group_[group].lines[port].latch();
}

std::uint8_t PCI72xxBoard::controlWord(unsigned group) const {
    check(group);
    return group_[group].control;
}

unsigned PCI72xxBoard::controlWrites(unsigned group) const {
    check(group);
    return group_[group].controlWrites;
}

std::uint8_t PCI72xxBoard::readRegister(unsigned offset) const {
    const Group& g = group_[offset / 4];
    const unsigned reg = offset % 4;
    if (reg == 3)
        return 0xFF;   // the control register cannot be read: the bus floats
    return g.lines[reg].lineLevels();
}

void PCI72xxBoard::writeRegister(unsigned offset, std::uint8_t value) {
    Group& g = group_[offset / 4];
    const unsigned reg = offset % 4;
    if (reg == 3) {
        g.control = value;   // bits other than the direction bits are ignored
        ++g.controlWrites;
        for (unsigned p = 0; p < 3; ++p)
            g.lines[p].setOutputs(outputMask(value, p));
    } else {
        g.lines[reg].setLatch(value);
    }
}

std::uint32_t PCI72xxBoard::readPort(std::uint16_t port, unsigned) {
    const unsigned offset = static_cast<std::uint16_t>(port - ioBase_);
    return offset < 4 * groups_ ? readRegister(offset) : 0xFF;
}

void PCI72xxBoard::writePort(std::uint16_t port, unsigned, std::uint32_t value) {
    const unsigned offset = static_cast<std::uint16_t>(port - ioBase_);
    if (offset < 4 * groups_)
        writeRegister(offset, static_cast<std::uint8_t>(value));
}

}  // namespace Sim
}  // namespace Tavex
