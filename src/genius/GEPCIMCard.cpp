#include "tavex/genius/GEPCIMCard.h"

#include <stdexcept>

namespace Tavex {

namespace {

// Only this motherboard carries a second MicroGENI.
const unsigned int twoChannelMotherboard = 2;

}  // namespace

GEPCIMCard::GEPCIMCard(unsigned int baseIOAddress, unsigned int motherboardType)
    : baseIOAddress_(baseIOAddress),
      motherboardType_(motherboardType),
      channelA_(0),
      channelB_(0) {}

GEPCIMCard::~GEPCIMCard() noexcept(false) {
    // Channel B goes even when channel A's window cannot be released.
    try {
        delete channelA_;
    } catch (...) {
        delete channelB_;
        throw;
    }
    delete channelB_;
}

GEPCIMCard& GEPCIMCard::addMicroGENI(unsigned int baseIOAddress, unsigned long memoryAddress) {
    if (channelA_ == 0)
        channelA_ = new GEMicroGENI(baseIOAddress, memoryAddress);
    else if (channelB_ == 0 && motherboardType_ == twoChannelMotherboard)
        channelB_ = new GEMicroGENI(baseIOAddress, memoryAddress);
    else
        throw std::runtime_error("Cannot add more MicroGENI doughterboards");
    return *this;
}

}  // namespace Tavex
