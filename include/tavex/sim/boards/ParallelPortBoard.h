// ParallelPortBoard: one PC parallel printer port (the IBM-compatible
// port, in its PS/2 bidirectional form) at a base port such as 0x3BC, 0x378
// or 0x278.  It decodes three byte-wide registers at base + 0..2.  Plug a
// BiosDataArea as well and enter the port in its LPT table: that is how a
// program finds the port.
//
// Registers:
//   base + 0  DATA     write: the output latch of data pins 2-9 (bit k = D k
//                      = pin 2 + k).  read: the levels on pins 2-9 (the
//                      latch while the port drives them).
//   base + 1  STATUS   read only; bits 0-2 have no pin and read 1.
//                        bit 3  pin 15  ERROR      as the pin
//                        bit 4  pin 13  SELECT     as the pin
//                        bit 5  pin 12  PAPER END  as the pin
//                        bit 6  pin 10  ACK        as the pin
//                        bit 7  pin 11  BUSY       inverted: reads 1 while the pin is low
//                      Writes are ignored.
//   base + 2  CONTROL  write: the control latch.  read: bits 0-3 give the
//                      levels on the pins through the same inversions, bits
//                      4-5 read back the latch, bits 6-7 read 1.
//                        bit 0  pin 1   STROBE     inverted: 1 pulls the pin low
//                        bit 1  pin 14  AUTOFEED   inverted
//                        bit 2  pin 16  INIT       as the pin: 0 pulls it low
//                        bit 3  pin 17  SELECT IN  inverted
//                        bit 4  interrupt enable (no interrupt is modelled)
//                        bit 5  data direction: 1 turns the data drivers off
//                               so that pins 2-9 can be read as inputs
//                               (bidirectional ports only)
//   Pins 18-25 are ground.
//
// Control pins 1, 14, 16 and 17 are open-collector with pull-ups, as on the
// original adapter: the port can only pull a pin low, and a pin it releases
// can be pulled low from outside and read back through the control
// register.  That is what lets a program use them as inputs: release all
// four (control bits 0, 1, 3 clear, bit 2 set) and read.  Some later
// chipsets drive them push-pull; setControlDrive(PushPull) models those, on
// which the outside cannot pull a driven-high pin low.
//
// Status pins are inputs with pull-ups; a pin nobody drives reads high.
// Data pins are push-pull outputs; what the outside applies to them shows
// only while the drivers are off (control bit 5 on a bidirectional port).
// A port built without the bidirectional mode (setBidirectional(false))
// ignores bit 5 and reads it as 1.
//
// Levels are electrical (true / bit set = pin high).  A program that uses
// the port for digital I/O takes every line as active low: a point is on
// while its pin is low.
//
// Power-up state, as the BIOS leaves the port after initialising the
// printer: data latch 0x00 (pins 2-9 low), control latch 0x0C (INIT high,
// SELECT IN asserted: pin 17 low, pins 1, 14, 16 high), data drivers on,
// every pin from outside high.  No register accessed yet.
//
// An 8-bit device: the machine splits wider port accesses into bytes.
#ifndef TAVEX_SIM_BOARDS_PARALLELPORTBOARD_H
#define TAVEX_SIM_BOARDS_PARALLELPORTBOARD_H

#include <cstdint>

#include "tavex/sim/Board.h"
#include "tavex/sim/DigitalPort.h"
#include "tavex/sim/boards/BiosDataArea.h"

namespace Tavex {
namespace Sim {

class ParallelPortBoard : public Board {
public:
    // Register offsets from the base port.
    enum { DataRegister = 0, StatusRegister = 1, ControlRegister = 2, RegisterCount = 3 };

    // Control register bits.
    enum : std::uint8_t {
        Strobe = 0x01,            // pin 1, inverted
        AutoFeed = 0x02,          // pin 14, inverted
        Init = 0x04,              // pin 16, not inverted
        SelectIn = 0x08,          // pin 17, inverted
        InterruptEnable = 0x10,
        DataInput = 0x20,         // data drivers off (bidirectional ports)
        ControlInverted = 0x0B    // the control bits the hardware inverts
    };
    // Status register bits.
    enum : std::uint8_t {
        Error = 0x08,             // pin 15
        Select = 0x10,            // pin 13
        PaperEnd = 0x20,          // pin 12
        Ack = 0x40,               // pin 10
        Busy = 0x80,              // pin 11, inverted
        StatusPins = 0xF8,        // the status bits that have pins
        StatusInverted = 0x80
    };
    enum { Pins = 25 };

    enum ControlDrive { OpenCollector, PushPull };

    explicit ParallelPortBoard(std::uint16_t basePort);

    const char* name() const override;
    std::uint16_t basePort() const { return base_; }

    // --- connector ----------------------------------------------------------
    // The pin of each register bit: data bit k (0-7), control bit k (0-3),
    // status bit k (3-7).  Other bits have no pin (out_of_range).
    static unsigned dataPin(unsigned bit);
    static unsigned controlPin(unsigned bit);
    static unsigned statusPin(unsigned bit);

    // The level on a signal pin (1-17) as a meter would read it; a ground
    // pin (18-25) reads low.  Other numbers are out_of_range.
    bool pinLevel(unsigned pin) const;
    // The level the outside applies to a pin (true: released, pulled high).
    // On status pins it is what the port reads; on control pins it can only
    // pull a released pin low; on data pins it shows while the drivers are
    // off.  Ground pins cannot be set (out_of_range).
    ParallelPortBoard& setPinLevel(unsigned pin, bool high);
    bool appliedLevel(unsigned pin) const;
    // True when the port itself holds the pin low (data bit 0 with drivers
    // on, or a control line the port asserts).  Like appliedLevel, for
    // signal pins only.
    bool drivesLow(unsigned pin) const;

    // The same by register, bit positions as in the registers, electrical
    // levels (no inversion): data bits 0-7, control bits 0-3, status 3-7.
    std::uint8_t dataLevels() const { return data_.lineLevels(); }
    std::uint8_t controlLevels() const;
    std::uint8_t statusLevels() const;
    ParallelPortBoard& setDataApplied(std::uint8_t levels);
    ParallelPortBoard& setControlApplied(std::uint8_t levels);   // bits 0-3
    ParallelPortBoard& setStatusApplied(std::uint8_t levels);    // bits 3-7
    const DigitalPort& dataLines() const { return data_; }
    const DigitalPort& controlLines() const { return control_; }
    const DigitalPort& statusLines() const { return status_; }

    // --- what kind of port ------------------------------------------------
    ParallelPortBoard& setBidirectional(bool bidirectional);   // default true
    bool bidirectional() const { return bidirectional_; }
    ParallelPortBoard& setControlDrive(ControlDrive drive);     // default OpenCollector
    ControlDrive controlDrive() const { return drive_; }

    // --- inspection ---------------------------------------------------------
    std::uint8_t dataLatch() const { return data_.latch(); }
    std::uint8_t controlLatch() const { return controlLatch_; }   // as last written
    bool dataDriven() const;
    unsigned dataWrites() const { return writes_[DataRegister]; }
    unsigned controlWrites() const { return writes_[ControlRegister]; }
    unsigned statusWrites() const { return writes_[StatusRegister]; }   // ignored writes
    unsigned dataReads() const { return reads_[DataRegister]; }
    unsigned statusReads() const { return reads_[StatusRegister]; }
    unsigned controlReads() const { return reads_[ControlRegister]; }

    // The registers as a read would give them now (no count, no trace).
    std::uint8_t dataRegister() const;
    std::uint8_t statusRegister() const;
    std::uint8_t controlRegister() const;

    // --- Board --------------------------------------------------------------
    std::uint32_t readPort(std::uint16_t port, unsigned width) override;
    void writePort(std::uint16_t port, unsigned width, std::uint32_t value) override;
    unsigned busWidth() const override { return 1; }

protected:
    void plugged() override;

private:
    void driveLines();

    std::uint16_t base_;
    bool bidirectional_;
    ControlDrive drive_;
    std::uint8_t controlLatch_;
    DigitalPort data_;      // pins 2-9
    DigitalPort control_;   // bit k = control bit k's pin (1, 14, 16, 17)
    DigitalPort status_;    // bits 3-7 = pins 15, 13, 12, 10, 11
    unsigned reads_[RegisterCount];
    unsigned writes_[RegisterCount];
};

}  // namespace Sim
}  // namespace Tavex

#endif
