// SST5136PFBPCI: the 5136-PFB-PCI Profibus DP master.  The card finds the
// board on the PCI bus, maps its 2 MiB of shared memory, downloads the
// protocol module "pciprofi.ss1" when the board's loader asks for one, and
// then drives the module through the state byte of the shared memory.
//
// Tracks hold digital points of one DP slave.  The starting point packs the
// slave address (0 to 126) in its upper 16 bits and a byte offset into that
// slave's data in its lower 16 bits; point p is bit p % 8 of byte
// offset + p / 8, read from the slave's input data and written to its output
// data.  A slave is configured when the low byte of its slave word is the
// index of its own record; the module writes 0xFF there for a slave that has
// no record.  Updates report 0 while the slave word's data-valid bit is set
// and 3 otherwise (the data are still copied), and 3 without copying
// anything when the slave has no record or when the board's record places
// the track's bytes outside the window.
#ifndef TAVEX_PROFIBUS_SST5136PFBPCI_H
#define TAVEX_PROFIBUS_SST5136PFBPCI_H

#include <cstdint>

#include "tavex/Export.h"
#include "tavex/model/IOCard.h"
#include "tavex/model/IOTrack.h"
#include "tavex/platform/PhysicalMemory.h"

namespace Tavex {

class TAVEX_API SST5136PFBPCI : public IOCard {
public:
    // modulePrefix: prefix of "pciprofi.ss1", joined to it as it stands (ends
    // in a separator unless empty); read only when the loader asks for the
    // module.  baudRate: the module's baud rate code (low 8 bits).
    // cardIndex: 0 for the first such board in PCI bus order, 1 for the
    // second, and so on.
    SST5136PFBPCI(const char* const modulePrefix, unsigned long baudRate,
                  unsigned int cardIndex);
    // Releases the window; sends nothing, the board keeps its state.
    ~SST5136PFBPCI() noexcept(false) override;

    SST5136PFBPCI(const SST5136PFBPCI&) = delete;
    SST5136PFBPCI& operator=(const SST5136PFBPCI&) = delete;

    // Stores the code for online() and autoconfigure() and writes it to the
    // board at once.
    SST5136PFBPCI& setBaudRate(unsigned char baudRate);
    // The code the board holds now, which need not be the stored one.
    unsigned char baudRate() const;

    // Brings the network online.
    SST5136PFBPCI& online();
    // The configuration operations take an online network offline first and
    // leave it offline.  autoconfigure needs module version 0x155 or later.
    SST5136PFBPCI& autoconfigure();
    SST5136PFBPCI& configure(const char* const configurationFile);
    SST5136PFBPCI& configurationToFlash();
    SST5136PFBPCI& configurationFromFlash();

protected:
    IOCard& updateInputs(const IOTrack& track, long* values, long& trackState) override;
    IOCard& updateOutputs(const IOTrack& track, const long* const values,
                          long& trackState) override;
    IOCard& addTrack(IOTrack& track) override;

private:
    void loadModule(const char* modulePrefix);
    void checkIdentity() const;
    void readAreaPages();
    void executeCommand(unsigned char code);
    void waitForAcceptance(unsigned char code) const;
    void acknowledgeError(unsigned char code);
    void goOffline();
    void writeOnlineParameters();
    void sendConfigurationBlocks(const char* data, unsigned long size);
    bool locateSlaveData(const IOTrack& track, char letter, unsigned long recordField,
                         std::uint32_t area, std::uint32_t& first, long& trackState) const;

    unsigned char state() const;
    unsigned char status() const;

    std::uint32_t memoryBaseAddress_;
    std::uint8_t interruptLine_;   // as the PCI header gives it; the card does not use it
    PhysicalMemory memory_;
    std::uint32_t inputArea_;
    std::uint32_t outputArea_;
    std::uint32_t slaveRecordArea_;
    std::uint8_t baudRate_;
};

}  // namespace Tavex

#endif
