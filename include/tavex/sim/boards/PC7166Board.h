// PC7166Board: model of the PC7166 ISA encoder board: four channels, each a
// 24-bit up/down counter chip fed by one incremental (quadrature) encoder.
//
// Channel c (0-3) decodes two byte-wide ports:
//   base + 2c      DATA     read: the next byte of the output latch OL;
//                           write: the next byte of the preset register PR.
//                           One byte pointer serves both; it steps 0, 1, 2
//                           (least significant byte first) and then wraps to
//                           0.  Only the MCR command 0x01 resets it.
//   base + 2c + 1  CONTROL  write: a command byte, bits 7-6 select the
//                           register it goes to; read: the status register.
//
// Command registers (bits 7-6 of the byte):
//   00  MCR  master control, one action per bit; bits written together act
//            in this order:
//              0x20  master reset: CNTR, PR, OL, ICR, OCR, QR, the flags and
//                    the byte pointer to 0 (counting stops: ICR 0)
//              0x01  reset the byte pointer
//              0x02  latch: copy CNTR to OL (all 24 bits at once)
//              0x04  reset CNTR to 0
//              0x08  load: copy PR to CNTR
//              0x10  reset the borrow and carry toggles and the sign
//   01  ICR  input control; bit 3 (0x08) enables the encoder inputs A and
//            B.  Bits 0-2, 4 and 5 select input options and pin functions
//            this board does not wire; they are kept and have no effect.
//   10  OCR  output control (count mode: binary/BCD, recycle, divide-by-N).
//            Kept for inspection; the model always counts 24-bit binary and
//            recycles.
//   11  QR   quadrature mode, bits 1-0: 00 non-quadrature (the counter does
//            not follow an encoder), 01 x1, 10 x2, 11 x4.
//
// Status register (read from CONTROL):
//   bit 0  borrow toggle: flips each time the count passes below 0
//   bit 1  carry toggle: flips each time the count passes above 0xFFFFFF
//   bit 2  compare toggle (no comparator modelled: 0)
//   bit 3  sign: set by a carry, cleared by a borrow
//   bit 4  direction of the last count: 1 up, 0 down
//   bits 5-7  0
//
// Counting: an encoder step is one edge of its A/B signals; turning forward
// counts up.  In x4 mode every edge counts once, in x2 every second edge,
// in x1 one edge per full cycle of four (the edges counted follow from the
// encoder's position, so the count is the same however a turn is split).
// The count wraps at 24 bits in both directions.  With the inputs disabled
// or in non-quadrature mode the encoder still turns but the count stays.
//
// The usual programming: initialise with 0x20 (master reset), 0x68 (ICR:
// inputs on), 0xC3 (QR: x4), 0x04 (count 0); read a count with 0x02 (latch)
// and 0x01 (pointer) followed by three data reads; preset with 0x01, three
// data writes and 0x08 (load).
//
// Power-up state: the counter chips hold arbitrary values until their
// master reset; the model gives CNTR, PR and OL a fixed non-zero pattern,
// and ICR, OCR, QR 0, so that an encoder does not count on a channel that
// was never initialised.  Every encoder at position 0.
//
// An 8-bit board: the machine splits wider port accesses into bytes.
#ifndef TAVEX_SIM_BOARDS_PC7166BOARD_H
#define TAVEX_SIM_BOARDS_PC7166BOARD_H

#include <cstdint>
#include <vector>

#include "tavex/sim/Board.h"

namespace Tavex {
namespace Sim {

class PC7166Board : public Board {
public:
    enum { Channels = 4, PortsPerChannel = 2, DataPort = 0, ControlPort = 1 };

    // Bits 7-6 of a command byte.
    enum : std::uint8_t {
        RegisterSelect = 0xC0,
        MasterControl = 0x00,
        InputControl = 0x40,
        OutputControl = 0x80,
        Quadrature = 0xC0
    };
    // Master control actions.
    enum : std::uint8_t {
        ResetPointer = 0x01,
        LatchCount = 0x02,
        ResetCount = 0x04,
        LoadPreset = 0x08,
        ResetFlags = 0x10,
        MasterReset = 0x20
    };
    enum : std::uint8_t { EnableInputs = 0x08 };            // ICR
    enum : std::uint8_t { QuadratureMode = 0x03 };          // QR bits 1-0
    // Status register.
    enum : std::uint8_t {
        BorrowToggle = 0x01,
        CarryToggle = 0x02,
        CompareToggle = 0x04,
        Sign = 0x08,
        CountingUp = 0x10
    };
    enum : std::uint32_t { CountMask = 0xFFFFFF };

    explicit PC7166Board(std::uint16_t basePort);

    const char* name() const override;
    std::uint16_t basePort() const { return base_; }

    // --- field side -----------------------------------------------------------
    // Turns channel c's encoder by the given number of edges (negative:
    // backwards), however many.
    PC7166Board& turn(unsigned channel, long long steps);
    long long encoderPosition(unsigned channel) const;

    // --- inspection -----------------------------------------------------------
    std::uint32_t count(unsigned channel) const;         // CNTR, 24 bits
    std::uint32_t preset(unsigned channel) const;        // PR
    std::uint32_t outputLatch(unsigned channel) const;   // OL
    unsigned bytePointer(unsigned channel) const;        // 0-2
    std::uint8_t inputControl(unsigned channel) const;   // ICR, without the select bits
    std::uint8_t outputControl(unsigned channel) const;  // OCR, without the select bits
    std::uint8_t quadrature(unsigned channel) const;     // QR, without the select bits
    // Counts per encoder cycle of four edges: 0 (not counting), 1, 2 or 4.
    unsigned multiplier(unsigned channel) const;
    // The channel counts its encoder: inputs enabled and a quadrature mode.
    bool counting(unsigned channel) const { return multiplier(channel) != 0; }
    std::uint8_t status(unsigned channel) const;

    // The command bytes written to the channel, in order: the first
    // CommandLogSize since power-up or the last clearCommands; commandCount
    // counts them all.
    enum { CommandLogSize = 256 };
    const std::vector<std::uint8_t>& commands(unsigned channel) const;
    unsigned long commandCount(unsigned channel) const;
    PC7166Board& clearCommands(unsigned channel);
    unsigned masterResets(unsigned channel) const;
    unsigned latches(unsigned channel) const;     // CNTR -> OL
    unsigned loads(unsigned channel) const;       // PR -> CNTR
    unsigned dataReads(unsigned channel) const;
    unsigned dataWrites(unsigned channel) const;

    // --- Board ----------------------------------------------------------------
    std::uint32_t readPort(std::uint16_t port, unsigned width) override;
    void writePort(std::uint16_t port, unsigned width, std::uint32_t value) override;
    unsigned busWidth() const override { return 1; }

protected:
    void plugged() override;

private:
    struct Channel {
        std::uint32_t counter, preset, latch;
        unsigned pointer;
        std::uint8_t icr, ocr, qr, status;
        long long position;
        std::vector<std::uint8_t> commands;
        unsigned long commandCount;
        unsigned masterResets, latches, loads, reads, writes;
    };

    const Channel& at(unsigned channel) const;
    Channel& at(unsigned channel);
    void command(Channel& ch, std::uint8_t byte);
    void masterControl(Channel& ch, std::uint8_t actions);
    static void masterReset(Channel& ch);
    static unsigned multiplierOf(const Channel& ch);

    std::uint16_t base_;
    Channel channels_[Channels];
};

}  // namespace Sim
}  // namespace Tavex

#endif
