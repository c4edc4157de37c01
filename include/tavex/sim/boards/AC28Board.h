// AC28Board: model of the Opto 22 AC28 adapter and the brainboards on its
// cable.
//
// The adapter decodes a window of 64 byte-wide ports at its base port
// (jumpered to 0x100, 0x140, 0x180 or 0x280; the model takes any) and one
// reset port (0xE0, 0x1E0, 0x2E0 or 0x3E0).  Port base + k is bank k.
// What answers at a bank is the brainboard placed there:
//
//   digital brainboard, one bank per eight module positions:
//     read   bit j = 1 while point j is on: its output is switched on or
//            its input module sees its field signal;
//     write  bit j = 1 switches point j's output on, 0 switches it off.
//   Module lines are active low and open-collector, as on the racks: the
//   brainboard switches a point on by pulling its line low, and an input
//   module pulls its line low when its field signal is there.  A point is
//   therefore read as on when either side pulls; a program leaves input
//   points off (0) in what it writes.
//
//   analog brainboard of 16 channels, two banks: bank k is its DATA port,
//   bank k + 1 its COMMAND port.  A byte written to COMMAND selects a
//   register; DATA then reads or writes the selected register (the
//   selection stays until the next command; a read of COMMAND gives it back).
//     0x00-0x1F  channel c: 2c low byte, 2c + 1 high byte of its 16-bit word
//                  input channel:  bits 0-11 the converter's 12-bit code,
//                                  bits 12-15 the channel number (the
//                                  converter's multiplexer address);
//                                  writes are ignored
//                  output channel: the word last written; a low-byte write is
//                                  held until the high byte follows, and the
//                                  DAC then takes bits 0-11 of the pair
//     0x7E 0x7F  output mask, low and high byte: bit c set makes channel c
//                an output
//     0x82       access register.  The brainboard's own processor owns the
//                registers; writing 0x82 to COMMAND asks for them.  A read
//                of DATA then gives bit 7 = 1 while the brainboard is still
//                busy and 0 once it has handed the registers over; bits 0-5
//                give the brainboard's address (its bank).  Writing 0xFF to
//                DATA hands them back (other values are ignored).
//   Without access, register reads give 0xFF and writes are ignored.  By
//   default the brainboard hands over at the first read after the request;
//   setAccessDelay makes it answer busy for that many reads after each
//   request, setAccessRefused for ever.
//
//   empty bank: reads float (0xFF), writes go nowhere.
//
// Reset port:
//   write  bit 0 is the brainboards' reset line; the level that asserts
//          reset is set by a jumper on the adapter (resetLevel).  Other bits
//          are not wired.  The brainboards filter the line: they take a
//          reset only once it has stayed asserted for minimumResetPulse ms
//          (10 by default) of virtual time; a shorter pulse is lost.  Once
//          taken they hold off the bus until the line is released and come
//          back with every output off, every analog channel an input, every
//          DAC at code 0 and no access held.
//   read   the status byte of the link to the brainboards:
//            0x00  reset asserted
//            0x01  link running, idle
//            0x02  link running, the host holds an analog brainboard's registers
//            0x03  link fault (cable off, brainboards without power): both
//                  handshake lines float high; nothing on the cable answers
//          Adapters of the first series have no status register and read
//          0xFF here (forceStatus can give any byte).
//
// Power-up state: the reset latch holds 0, so with a reset level of 0 the
// brainboards stay in reset from power-up until a program releases them;
// with a reset level of 1 they run.  Brainboards start as after a reset.
// Every input point off, every input code 0x800 (mid-scale), link running.
//
// An 8-bit adapter: the machine splits wider port accesses into bytes.
#ifndef TAVEX_SIM_BOARDS_AC28BOARD_H
#define TAVEX_SIM_BOARDS_AC28BOARD_H

#include <cstdint>
#include <vector>

#include "tavex/sim/Board.h"
#include "tavex/sim/DigitalPort.h"

namespace Tavex {
namespace Sim {

class AC28Board : public Board {
public:
    enum { Banks = 64, Channels = 16 };

    // Analog brainboard registers.
    enum : std::uint8_t {
        ChannelRegisters = 0x20,   // 0x00-0x1F: 2c low, 2c + 1 high
        OutputMaskLow = 0x7E,
        OutputMaskHigh = 0x7F,
        AccessRegister = 0x82,
        ReleaseAccess = 0xFF,      // written to the access register
        AccessBusy = 0x80,         // bit 7 of the access register
        AddressBits = 0x3F
    };
    enum : std::uint16_t { CodeMask = 0x0FFF, MidScale = 0x800 };
    // Status bytes of the reset port.
    enum : std::uint8_t {
        StatusInReset = 0x00,
        StatusIdle = 0x01,
        StatusAccessHeld = 0x02,
        StatusLinkFault = 0x03,
        StatusNotFitted = 0xFF
    };
    enum { DefaultMinimumResetPulse = 10 };   // ms

    enum Kind { Empty, Digital, AnalogData, AnalogCommand };

    // One assertion of the reset line, from the adapter's side.
    struct ResetPulse {
        unsigned long assertedAt;   // virtual ms
        unsigned long releasedAt;
        bool taken;                 // long enough: the brainboards were reset
    };

    AC28Board(std::uint16_t basePort, std::uint16_t resetPort, bool resetLevel);

    const char* name() const override;
    std::uint16_t basePort() const { return base_; }
    std::uint16_t resetPort() const { return resetPort_; }
    bool resetLevel() const { return resetLevel_; }

    // --- the cable: which brainboard answers where ----------------------------
    // Digital banks bank .. bank + banks - 1; an analog brainboard at bank and
    // bank + 1.  Placing over an occupied bank or past bank 63 is a scene
    // error (logic_error).
    AC28Board& placeDigital(unsigned bank, unsigned banks = 1);
    AC28Board& placeAnalog(unsigned bank);
    Kind kind(unsigned bank) const;

    // --- field side: digital banks (bit j = point j, set = on) ---------------
    AC28Board& setInputs(unsigned bank, std::uint8_t on);
    AC28Board& setInput(unsigned bank, unsigned point, bool on);
    std::uint8_t inputs(unsigned bank) const;
    // The points the brainboard switches on (its output latch).
    std::uint8_t outputsOn(unsigned bank) const;
    // The points that read as on: switched on by either side.
    std::uint8_t pointsOn(unsigned bank) const;
    // The module lines, electrical levels (low = on).
    const DigitalPort& lines(unsigned bank) const;

    // --- field side: analog brainboards (by the brainboard's data bank) -------
    AC28Board& setInputCode(unsigned bank, unsigned channel, std::uint16_t code);   // 0-0xFFF
    std::uint16_t inputCode(unsigned bank, unsigned channel) const;
    // The 12-bit code the channel's DAC converts (0 unless an output).
    std::uint16_t outputCode(unsigned bank, unsigned channel) const;
    // The channel's word as last taken by the DAC (high byte as written).
    std::uint16_t outputWord(unsigned bank, unsigned channel) const;
    std::uint16_t outputMask(unsigned bank) const;
    bool isOutputChannel(unsigned bank, unsigned channel) const;

    // --- fault knobs ----------------------------------------------------------
    AC28Board& setAccessDelay(unsigned bank, unsigned busyReads);
    AC28Board& setAccessRefused(unsigned bank, bool refused);
    AC28Board& setLinkFault(bool fault);
    AC28Board& forceStatus(std::uint8_t status);
    AC28Board& unforceStatus();
    AC28Board& setMinimumResetPulse(unsigned long ms);

    // --- inspection -----------------------------------------------------------
    bool resetAsserted() const;
    // The brainboards are held in reset (the line has been asserted long enough).
    bool inReset() const { return held_; }
    const std::vector<ResetPulse>& resetPulses() const { return pulses_; }   // completed
    unsigned resetsTaken() const;
    std::uint8_t status() const;   // what the reset port reads now

    bool accessHeld(unsigned bank) const;
    unsigned accessRequests(unsigned bank) const;
    unsigned accessGrants(unsigned bank) const;
    unsigned accessReleases(unsigned bank) const;
    std::uint8_t selectedRegister(unsigned bank) const;
    unsigned bankReads(unsigned bank) const;
    unsigned bankWrites(unsigned bank) const;
    // Accesses nobody took: register accesses without access, writes to
    // input channels, unknown registers, bytes other than 0xFF written to the
    // access register, accesses to empty banks or while the brainboards do
    // not answer.
    unsigned strayAccesses() const { return stray_; }

    // --- Board ----------------------------------------------------------------
    std::uint32_t readPort(std::uint16_t port, unsigned width) override;
    void writePort(std::uint16_t port, unsigned width, std::uint32_t value) override;
    unsigned busWidth() const override { return 1; }
    void tick(unsigned long elapsedMs) override;

protected:
    void plugged() override;

private:
    struct Analog {
        std::uint16_t input[Channels];
        std::uint16_t word[Channels];
        std::uint8_t pendingLow[Channels];
        std::uint16_t mask;
        std::uint8_t selected;
        bool requested, held, refused;
        unsigned delay, busyLeft;
        unsigned requests, grants, releases;
    };
    struct Bank {
        Kind kind;
        DigitalPort lines;
        Analog analog;
        unsigned reads, writes;
    };

    const Bank& at(unsigned bank) const;
    Bank& at(unsigned bank);
    const Analog& analogAt(unsigned bank) const;
    Analog& analogAt(unsigned bank);
    DigitalPort& digitalAt(unsigned bank);
    static void checkChannel(unsigned channel);
    bool answering() const;
    void resetBrainboards();
    void setResetLine(bool level);
    std::uint8_t readBank(unsigned bank);
    void writeBank(unsigned bank, std::uint8_t value);
    std::uint8_t readRegister(unsigned bank, Analog& a);
    void writeRegister(Analog& a, std::uint8_t value);

    std::uint16_t base_;
    std::uint16_t resetPort_;
    bool resetLevel_;
    bool resetLine_;
    unsigned long assertedAt_;
    bool held_;
    unsigned long minimumPulse_;
    std::vector<ResetPulse> pulses_;
    bool linkFault_;
    bool forced_;
    std::uint8_t forcedStatus_;
    Bank banks_[Banks];
    unsigned stray_;
};

}  // namespace Sim
}  // namespace Tavex

#endif
