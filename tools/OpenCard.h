// OpenCard: the card that a CARD string names, built with the library's own
// constructor, so that every refusal is the library's.  A Profibus master
// is brought online after it is built (its constructor leaves it offline),
// with the configuration its module holds.
//
// Card destructors may throw (a memory window the driver will not unmap):
// close() destroys the card and lets that through; the destructor of an
// OpenCard that was not closed, which runs while another error is on its
// way out, swallows it.
#ifndef TAVEX_TOOLS_OPENCARD_H
#define TAVEX_TOOLS_OPENCARD_H

#include <string>

#include "CardArguments.h"
#include "tavex/model/IOCard.h"

namespace Tavex {
namespace Tool {

class DemoPlant;

class OpenCard {
public:
    // plant: the demo plant the card runs on, or null on the hardware.  On
    // the plant an empty ktx firmware path means the plant's own files.
    OpenCard(const CardArguments& wanted, const DemoPlant* plant);
    ~OpenCard();
    OpenCard(const OpenCard&) = delete;
    OpenCard& operator=(const OpenCard&) = delete;

    IOCard& card() { return *card_; }
    // "AC5 at 0x300", "5136-PFB-PCI #0", ...
    const std::string& description() const { return description_; }
    // How long an intelligent board needs to pass data between its memory
    // and its field, in microseconds: given once after the outputs are
    // written and before the first inputs are read.  0 for port cards.
    unsigned long settleTime() const { return settleTime_; }

    void close();

private:
    IOCard* card_;
    std::string description_;
    unsigned long settleTime_;
};

}  // namespace Tool
}  // namespace Tavex

#endif
