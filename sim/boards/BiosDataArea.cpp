#include "tavex/sim/boards/BiosDataArea.h"

#include <stdexcept>

#include "tavex/sim/Machine.h"

namespace Tavex {
namespace Sim {

namespace {

// One floppy drive (bit 0), a coprocessor (bit 1), 80x25 colour (bits 4-5).
const std::uint16_t equipmentFitted = 0x0023;
const unsigned serialCountShift = 9;
const unsigned printerCountShift = 14;

}  // namespace

BiosDataArea::BiosDataArea() : equipmentBase_(equipmentFitted), memory_(0) {
    com_[0] = 0x3F8;
    com_[1] = 0x2F8;
    com_[2] = com_[3] = 0;
    for (unsigned i = 0; i < LptPorts; ++i)
        lpt_[i] = 0;
}

const char* BiosDataArea::name() const { return "BIOS data area"; }

void BiosDataArea::plugged() {
    memory_ = &machine().addRegion(this, Address, Size, name());
    for (unsigned i = 0; i < ComPorts; ++i)
        store(ComPortWords + 2 * i, com_[i]);
    for (unsigned i = 0; i < LptPorts; ++i)
        store(LptPortWords + 2 * i, lpt_[i]);
    updateEquipmentWord();
}

void BiosDataArea::store(std::uint32_t physicalAddress, std::uint16_t value) {
    if (memory_)
        memory_->write16(physicalAddress - Address, value);
}

// POST counts what it found: serial ports in bits 9-11, LPT1..LPT3 in bits
// 14-15 (the word at 0x40E is not counted; later BIOSes use it otherwise).
void BiosDataArea::updateEquipmentWord() {
    unsigned serial = 0, printers = 0;
    for (unsigned i = 0; i < ComPorts; ++i)
        serial += com_[i] != 0;
    for (unsigned i = 0; i < 3; ++i)
        printers += lpt_[i] != 0;
    store(EquipmentWord, static_cast<std::uint16_t>(equipmentBase_ | serial << serialCountShift |
                                                    printers << printerCountShift));
}

BiosDataArea& BiosDataArea::setLptPort(unsigned n, std::uint16_t basePort) {
    if (n < 1 || n > LptPorts)
        throw std::out_of_range("Sim::BiosDataArea: LPT1 to LPT4 only");
    lpt_[n - 1] = basePort;
    store(LptPortWords + 2 * (n - 1), basePort);
    updateEquipmentWord();
    return *this;
}

BiosDataArea& BiosDataArea::setComPort(unsigned n, std::uint16_t basePort) {
    if (n < 1 || n > ComPorts)
        throw std::out_of_range("Sim::BiosDataArea: COM1 to COM4 only");
    com_[n - 1] = basePort;
    store(ComPortWords + 2 * (n - 1), basePort);
    updateEquipmentWord();
    return *this;
}

BiosDataArea& BiosDataArea::setEbdaSegment(std::uint16_t segment) {
    lpt_[3] = segment;
    store(EbdaSegmentWord, segment);
    return *this;
}

std::uint16_t BiosDataArea::lptPort(unsigned n) const {
    if (n < 1 || n > LptPorts)
        throw std::out_of_range("Sim::BiosDataArea: LPT1 to LPT4 only");
    return memory_ ? word(LptPortWords + 2 * (n - 1)) : lpt_[n - 1];
}

std::uint16_t BiosDataArea::comPort(unsigned n) const {
    if (n < 1 || n > ComPorts)
        throw std::out_of_range("Sim::BiosDataArea: COM1 to COM4 only");
    return memory_ ? word(ComPortWords + 2 * (n - 1)) : com_[n - 1];
}

std::uint16_t BiosDataArea::equipmentWord() const { return word(EquipmentWord); }

Region& BiosDataArea::memory() const {
    if (!memory_)
        throw std::logic_error("Sim::BiosDataArea: not plugged");
    return *memory_;
}

std::uint16_t BiosDataArea::word(std::uint32_t physicalAddress) const {
    if (physicalAddress < Address || physicalAddress + 2 > Address + Size)
        throw std::out_of_range("Sim::BiosDataArea: address outside the area");
    return memory().read16(physicalAddress - Address);
}

}  // namespace Sim
}  // namespace Tavex
