#include "tavex/cards/PCI72xxCard.h"

#include <stdexcept>

#include "model/DigitalBank.h"
#include "tavex/pci/PCIBus.h"
#include "tavex/platform/IOPort.h"

namespace Tavex {

namespace {

const unsigned short bridgeVendor = 0x10B5;
const unsigned short bridgeDevice = 0x9050;
const unsigned short boardVendor = 0x144A;
const unsigned short anySubsystemVendor = 0x9999;
const unsigned short model7248 = 0x7248;
const unsigned short model7296 = 0x7296;

bool acceptedBridgeBoard(const PCIDeviceInfo& info) {
    return info.subVendorId() == anySubsystemVendor || info.subSystemId() == model7248 ||
           info.subSystemId() == model7296;
}

// The groups sit in I/O space behind base address register 2.  A function
// that reports a memory address there, or no address at all, is not a board
// this card can drive: programming "its" ports would reach whatever sits at
// the reported numbers (ports 0x00-0x0F are the DMA controller).
bool hasGroupPorts(const PCIDeviceInfo& info) {
    const std::uint32_t bar = info.baseAddress(2);
    return (bar & 1u) != 0 && (bar & ~std::uint32_t(3)) != 0;
}

// The boards are counted together, in this order: every function that shows
// the bridge chip's identity and names an accepted model in its subsystem
// IDs, then every PCI-7248, then every PCI-7296 with the maker's own IDs.
const PCIDeviceInfo* findBoard(unsigned cardIndex, std::uint16_t& modelId) {
    const PCIBus& bus = PCIBus::pciBus();
    unsigned remaining = cardIndex;
    for (unsigned i = 0;; ++i) {
        const PCIDeviceInfo* info = bus.getDeviceInfo(bridgeVendor, bridgeDevice, i);
        if (info == 0)
            break;
        if (!acceptedBridgeBoard(*info) || !hasGroupPorts(*info))
            continue;
        if (remaining == 0) {
            modelId = info->subSystemId();
            return info;
        }
        --remaining;
    }
    const unsigned short models[2] = {model7248, model7296};
    for (unsigned m = 0; m < 2; ++m) {
        for (unsigned i = 0;; ++i) {
            const PCIDeviceInfo* info = bus.getDeviceInfo(boardVendor, models[m], i);
            if (info == 0)
                break;
            if (!hasGroupPorts(*info))
                continue;
            if (remaining == 0) {
                modelId = info->deviceId();
                return info;
            }
            --remaining;
        }
    }
    return 0;
}

}  // namespace

PCI72xxCard::PCI72xxCard(unsigned cardIndex)
    : IOCard("PCI-7248/7296"), modelId_(0), registerBase_(0), groupCount_(0), outputMasks_(0) {
    const PCIDeviceInfo* info = findBoard(cardIndex, modelId_);
    if (info == 0)
        throw std::runtime_error("PCI72xx: Card not found in the system.");
    registerBase_ = info->baseAddress(2) & ~std::uint32_t(3);
    groupCount_ = modelId_ == model7248 ? 2 : 4;
    outputMasks_ = new unsigned char[3 * groupCount_]();
}

PCI72xxCard::~PCI72xxCard() noexcept(false) { delete[] outputMasks_; }

IOCard& PCI72xxCard::addTrack(IOTrack& track) {
    if (track.numberOfPoints() != 24)
        throw std::logic_error("PCI72xx track can be only 24 points long.");
    const unsigned group = track.startingPoint();
    if (group >= groupCount_)
        throw std::logic_error("PCI72xx track starting point too big.");

    for (unsigned p = 0; p < 3; ++p)
        if (!DigitalBank::isDigital(track, p * DigitalBank::points))
            throw std::logic_error("PCI72xx card only supports digital IO.");
    const unsigned char maskA = DigitalBank::outputMask(track, 0);
    const unsigned char maskB = DigitalBank::outputMask(track, 8);
    const unsigned char maskC = DigitalBank::outputMask(track, 16);
    if (maskA != 0x00 && maskA != 0xFF)
        throw std::logic_error("PCI72xx track first 8 points can not be mixed.");
    if (maskB != 0x00 && maskB != 0xFF)
        throw std::logic_error("PCI72xx track second 8 points can not be mixed.");
    if (maskC != 0x00 && maskC != 0xFF && maskC != 0xF0 && maskC != 0x0F)
        throw std::logic_error("PCI72xx track Last 8 points can be mixed only in groups of 4.");

    // 8255 mode 0: a set bit makes the port or half port an input.
    unsigned char control = 0;
    if (maskA != 0xFF)
        control |= 0x10;
    if (maskB != 0xFF)
        control |= 0x02;
    if ((maskC & 0x0F) != 0x0F)
        control |= 0x01;
    if ((maskC & 0xF0) != 0xF0)
        control |= 0x08;
    IOPort(registerBase_ + 4 * group + 3, true).writeChar(static_cast<char>(control));

    outputMasks_[3 * group + 0] = maskA;
    outputMasks_[3 * group + 1] = maskB;
    outputMasks_[3 * group + 2] = maskC;
    return *this;
}

IOCard& PCI72xxCard::updateInputs(const IOTrack& track, long* values, long&) {
    const unsigned group = track.startingPoint();
    const unsigned char* const masks = outputMasks_ + 3 * group;
    const unsigned ports = registerBase_ + 4 * group;
    for (unsigned p = 0; p < 3; ++p, values += DigitalBank::points) {
        if (masks[p] == 0xFF)
            continue;
        // Lines are active low: a line held low reads 1.
        const unsigned levels = static_cast<unsigned char>(IOPort(ports + p, false).readChar());
        DigitalBank::unpack(~levels, values);
    }
    return *this;
}

IOCard& PCI72xxCard::updateOutputs(const IOTrack& track, const long* values, long&) {
    const unsigned group = track.startingPoint();
    const unsigned char* const masks = outputMasks_ + 3 * group;
    const unsigned ports = registerBase_ + 4 * group;
    for (unsigned p = 0; p < 3; ++p, values += DigitalBank::points) {
        if (masks[p] == 0)
            continue;
        const unsigned bits = DigitalBank::pack(values);
        IOPort(ports + p, true).writeChar(static_cast<char>(~(bits & masks[p])));
    }
    return *this;
}

}  // namespace Tavex
