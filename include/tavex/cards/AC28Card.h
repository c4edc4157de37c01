// Opto22AC28Base and AC28Card: the Opto 22 AC28 adapter, a window of 64
// bank ports through which the PC reaches Opto 22 brainboards.  A digital
// bank is one byte port of eight points; an analog brainboard of 16
// channels sits behind a pair of bank ports (data, command) and is reached
// after a handshake.  A separate reset port resets the brainboards and
// reads back as a status byte.
//
// A track's starting point is a bank; its point p is bit p mod 8 of bank
// start + p / 8.  On an analog track point 16i + c is channel c of the
// brainboard at bank start + 2i.
#ifndef TAVEX_CARDS_AC28CARD_H
#define TAVEX_CARDS_AC28CARD_H

#include <cstdint>

#include "tavex/Export.h"
#include "tavex/model/IOCard.h"
#include "tavex/model/IOTrack.h"

namespace Tavex {

class TAVEX_API Opto22AC28Base : public IOCard {
public:
    ~Opto22AC28Base() noexcept(false) override;

    Opto22AC28Base(const Opto22AC28Base&) = delete;
    Opto22AC28Base& operator=(const Opto22AC28Base&) = delete;

    unsigned int baseIOPort() const { return baseIOPort_; }
    unsigned int resetPort() const { return resetPort_; }
    bool resetLevel() const { return resetLevel_; }

protected:
    // Stores the values; checks nothing and touches no port.
    Opto22AC28Base(const char* name, bool resetLevel, unsigned int baseIOPort,
                   unsigned int resetPort);

    void setBaseIOPort(unsigned int baseIOPort) { baseIOPort_ = baseIOPort; }
    void setResetPort(unsigned int resetPort) { resetPort_ = resetPort; }

    IOCard& updateInputs(const IOTrack& track, long* values, long& trackState) override;
    IOCard& updateOutputs(const IOTrack& track, const long* const values,
                          long& trackState) override;
    IOCard& addTrack(IOTrack& track) override;

private:
    static const unsigned int bankCount = 64;

    void readDigitalInputs(const IOTrack& track, long* values, long& trackState);
    void readAnalogInputs(const IOTrack& track, long* values, long& trackState);
    void writeDigitalOutputs(const IOTrack& track, const long* const values, long& trackState);
    void writeAnalogOutputs(const IOTrack& track, const long* const values, long& trackState);
    template <class Exchange>
    void forEachBrainboard(const IOTrack& track, long& trackState, Exchange exchange);
    void configureAnalogBank(unsigned char bank, unsigned short outputMask);
    bool getAccess(unsigned char bank);
    void releaseAccess(unsigned char bank);

    std::uint32_t baseIOPort_;
    std::uint32_t resetPort_;
    bool resetLevel_;
    std::uint8_t bankMasks_[bankCount];   // bit j set: point j of the bank is an output
};

class TAVEX_API AC28Card : public Opto22AC28Base {
public:
    // baseIOPort: 0x100, 0x140, 0x180 or 0x280.  resetPort: 0xE0, 0x1E0,
    // 0x2E0 or 0x3E0.  resetLevel: the level that asserts reset.  The
    // constructor holds the brainboards in reset for 30 ms.
    AC28Card(unsigned int baseIOPort, unsigned int resetPort, bool resetLevel);
    ~AC28Card() noexcept(false) override;

    AC28Card(const AC28Card&) = delete;
    AC28Card& operator=(const AC28Card&) = delete;
};

}  // namespace Tavex

#endif
