#include "tavex/plant/OpenCard.h"

#include <memory>
#include <sstream>

#include "tavex/tavex.h"

namespace Tavex {

namespace {

// Time for an intelligent board to run one scan of its field.
const unsigned long boardScan = 100000;

std::string hex(unsigned long value) {
    std::ostringstream s;
    s << "0x" << std::uppercase << std::hex << value;
    return s.str();
}

}  // namespace

OpenCard::OpenCard(const CardArguments& wanted, const OpenOptions& options)
    : card_(0), settleTime_(0) {
    // A card already built when something after it fails (its description)
    // goes again: a constructor that throws leaves nothing open.
    try {
        build(wanted, options);
    } catch (...) {
        try {
            delete card_;
        } catch (...) {
            // The first error is the one to report.
        }
        card_ = 0;
        throw;
    }
}

void OpenCard::build(const CardArguments& wanted, const OpenOptions& options) {
    std::string where;
    switch (wanted.kind) {
    case CardArguments::AC5:
        card_ = new AC5Card(wanted.port);
        where = " at " + hex(wanted.port);
        break;
    case CardArguments::PCI72xx:
        card_ = new PCI72xxCard(wanted.index);
        where = " #" + std::to_string(wanted.index);
        break;
    case CardArguments::LPT: {
        ParallelPort* port = wanted.byName ? new ParallelPort(wanted.name.empty() ? 0 : wanted.name.c_str())
                                         : new ParallelPort(static_cast<unsigned short>(wanted.port));
        card_ = port;
        // The port's own name says more than the type "LPT".
        description_ = (wanted.byName ? wanted.name.empty() ? std::string("LPT1") : wanted.name
                                    : std::string(port->type())) +
                       " at " + hex(port->baseIOPort());
        settleTime_ = 0;
        return;
    }
    case CardArguments::PC7166:
        card_ = new PC7166Card(wanted.port);
        where = " at " + hex(wanted.port);
        break;
    case CardArguments::AC28:
        card_ = new AC28Card(wanted.port, wanted.resetPort, wanted.resetLevel);
        where = " at " + hex(wanted.port) + ", reset port " + hex(wanted.resetPort);
        break;
    case CardArguments::KTx: {
        const std::string& path = wanted.path.empty() ? options.ktxFirmwarePath : wanted.path;
        card_ = new AB1784Card(wanted.address, path.c_str(), wanted.code);
        where = " at " + hex(wanted.address);
        settleTime_ = boardScan;
        break;
    }
    case CardArguments::Genius:
        card_ = new GEMicroGENI(wanted.port, wanted.address);
        where = " at " + hex(wanted.port) + ", memory " + hex(wanted.address);
        settleTime_ = boardScan;
        break;
    case CardArguments::PFB: {
        SST5136PFBPCI* master = new SST5136PFBPCI(wanted.path.c_str(), wanted.code, wanted.index);
        card_ = master;
        try {
            master->online();
        } catch (...) {
            card_ = 0;
            try {
                delete master;
            } catch (...) {
                // The refusal of online() is the one to report.
            }
            throw;
        }
        where = " #" + std::to_string(wanted.index);
        settleTime_ = boardScan;
        break;
    }
    case CardArguments::Dummy:
        card_ = new DummyCard;
        break;
    }
    description_ = card_->type() + where;
}

OpenCard::~OpenCard() {
    try {
        delete card_;
    } catch (...) {
        // Only reached on the way out of another error, which is the one to report.
    }
}

void OpenCard::close() {
    IOCard* card = card_;
    card_ = 0;
    delete card;
}

}  // namespace Tavex
