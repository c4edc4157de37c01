#include "TapeBoard.h"

#include <cstring>

#include "tavex/sim/Machine.h"

namespace TavexFuzz {

TapeBoard::TapeBoard(Tape& tape, const char* name, Ports ports, Memory memory)
    : tape_(tape), name_(name), ports_(ports), window_(memory), region_(0), idle_(0xFF) {}

void TapeBoard::plugged() {
    if (ports_.count != 0)
        machine().claimPorts(*this, ports_.first, ports_.count);
    if (window_.size != 0)
        region_ = &machine().addRegion(this, window_.address, window_.size, name_);
}

std::uint32_t TapeBoard::readPort(std::uint16_t, unsigned) { return tape_.byte(idle_); }

void TapeBoard::writePort(std::uint16_t, unsigned, std::uint32_t) {}

void TapeBoard::tick(unsigned long) { patch(); }

void TapeBoard::powerUp() {
    if (region_ != 0)
        std::memset(region_->data(), tape_.byte(), region_->size());
    patch();
}

void TapeBoard::patch() {
    if (region_ == 0)
        return;
    const std::uint32_t size = region_->size();
    const unsigned offsetBytes = size > 0x10000 ? 3 : 2;
    for (unsigned count = tape_.byte(); count > 0 && !tape_.empty(); --count) {
        std::uint32_t offset = tape_.number(offsetBytes) % size;
        unsigned length = tape_.byte();
        if (length == 0)
            length = 1;
        for (; length > 0 && offset < size && !tape_.empty(); --length, ++offset)
            region_->data()[offset] = tape_.byte();
    }
}

}  // namespace TavexFuzz
