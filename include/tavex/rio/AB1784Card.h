// AB1784Card: the 1784-KTx Remote I/O scanner.  The card downloads the
// scanner program into the board, starts it on the RIO link and exchanges
// banks of eight points with the board's image tables.
#ifndef TAVEX_RIO_AB1784CARD_H
#define TAVEX_RIO_AB1784CARD_H

#include <cstdint>

#include "tavex/Export.h"
#include "tavex/model/IOCard.h"
#include "tavex/model/IOTrack.h"
#include "tavex/platform/PhysicalMemory.h"

namespace Tavex {

class TAVEX_API AB1784Card : public IOCard {
public:
    // baseMemoryAddress: a multiple of 0x1000 from 0xC0000 to 0xEF000.
    // firmwarePath: prefix of "clrram.bin", "loadpcl.bin" and "scanner.bin"
    // (ends in a separator unless empty).  linkSpeed: 0xFC, 0xFD or 0xFE.
    AB1784Card(unsigned int baseMemoryAddress, const char* const firmwarePath,
               unsigned int linkSpeed);
    ~AB1784Card() noexcept(false) override;

    AB1784Card(const AB1784Card&) = delete;
    AB1784Card& operator=(const AB1784Card&) = delete;

    unsigned int baseMemoryAddress() const { return baseMemoryAddress_; }
    unsigned int linkSpeed() const { return linkSpeed_; }
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
#endif
    const char* const firmwarePath() const { return path_.text; }
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

protected:
    // Sends one command with length parameter bytes (at most 253), waits
    // for its confirmation and acknowledges it; throws unless the board
    // answers with response code 0.
    void commandToHost(unsigned char command, const unsigned char* parameters,
                       unsigned int length);

    IOCard& updateInputs(const IOTrack& track, long* values, long& trackState) override;
    IOCard& updateOutputs(const IOTrack& track, const long* const values,
                          long& trackState) override;
    IOCard& addTrack(IOTrack& track) override;

private:
    void loadRIOProtocol();
    void init();
    int getConfirmation();
    void acknowledgeConfirmation();
    unsigned char getCurrentTransaction();
    long trackStatus(unsigned int firstBank) const;

    struct PathCopy {
        explicit PathCopy(const char* path);
        ~PathCopy();
        char* text;
    };

    std::uint32_t baseMemoryAddress_;
    std::uint32_t linkSpeed_;
    PathCopy path_;
    PhysicalMemory dpm_;
    unsigned char transaction_;
    unsigned char bankOutputMasks_[256];
};

}  // namespace Tavex

#endif
