// OpenCard: the card that a CARD string names, built with the library's own
// constructor, so that every refusal is the card's.  A Profibus master is
// brought online after it is built (its constructor leaves it offline),
// with the configuration its module holds.
//
// Card destructors may throw (a memory window the driver will not unmap):
// close() destroys the card and lets that through; the destructor of an
// OpenCard that was not closed, which runs while another error is on its
// way out, swallows it.
#ifndef TAVEX_PLANT_OPENCARD_H
#define TAVEX_PLANT_OPENCARD_H

#include <string>

#include "tavex/model/IOCard.h"
#include "tavex/plant/CardString.h"

namespace Tavex {

struct OpenOptions {
    // The 1784-KTx protocol files' folder for a ktx CARD string whose path
    // is empty ("ktx:0xC8000,,0xFE"); empty: the path stays empty.  A
    // simulated PC that writes stand-in files of its own names them here.
    std::string ktxFirmwarePath;
};

class OpenCard {
public:
    explicit OpenCard(const CardArguments& wanted, const OpenOptions& options = OpenOptions());
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

    // Destroys the card now; a refusal of its destructor comes through.
    void close();

private:
    void build(const CardArguments& wanted, const OpenOptions& options);

    IOCard* card_;
    std::string description_;
    unsigned long settleTime_;
};

}  // namespace Tavex

#endif
