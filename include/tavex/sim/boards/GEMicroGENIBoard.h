// GEMicroGENIBoard: model of one MicroGENI daughterboard, a Genius bus
// channel with up to 32 stations (0-31), fitted on a PCIM motherboard
// (GEPCIMBoard.h, which creates the channels and routes their ports).
//
// Registers (two ports from the channel's base port, byte-wide: the machine
// splits wider accesses):
//   base + 0  status, read only.  Active low:
//             0x01  0 = the board's processor is held in reset
//             0x08  0 = board OK (the processor has come up)
//             0x10  0 = Genius communication OK (the bus is up)
//             Unused bits read 1, so a healthy board reads 0xE7, a board
//             held in reset 0xFE and one that is starting or hung 0xFF.
//             Writes go nowhere (counted as stray).
//   base + 1  control, read/write; reads back the last byte written.
//             0x40  the processor's reset line: 0 holds the processor in
//                   reset and sets the reset latch.
//             0x02  clear-reset strobe, active low: while it is 0 and bit
//                   6 is 1 the reset latch is cleared.
//             The processor runs only when bit 6 is 1 and the latch is
//             clear, so it restarts at the moment the latch is cleared
//             after a reset: bit 6 taken low for a while, then high, then
//             a low pulse on bit 1.  Raising bit 6 alone leaves the board
//             held (status bit 0 stays 0).  Other bits are kept and read
//             back; the board does nothing with them.
//
// Reset line timing: the processor needs its reset line low for at least
// the minimum reset time (1 ms by default).  Released sooner it starts in
// an undefined state and hangs: it never reports OK until a proper reset.
//
// Start-up: startupTime ms (400 by default) after the processor is
// released it has tested itself and comes up: status bit 3 goes to 0 and
// it lays out its memory (below).  commDelay ms later (100 by default) it
// has the bus: status bit 4 goes to 0 and the stations on the bus log in.
// So the board reads healthy startupTime + commDelay ms after the last
// write of its reset sequence.  With setNeverComesUp the self-test never
// ends: bits 3 and 4 stay 1 after every start, until the knob is cleared
// and the board is reset again.
//
// Power-up (chosen per channel when it is fitted):
//   Running  a program before this one started the board and left it
//            running: control 0x42, the board healthy, its memory laid
//            out at the moment it is fitted, the placed stations logged in.
//   Held     the PC has just been switched on: control 0x00, reset line
//            low since that moment, the processor held; the memory holds
//            the power-up pattern and nothing else until the board comes up.
//
// Memory: 16 KiB of dual-port RAM at the channel's memory address, all
// power-up pattern.  When the processor comes up it writes, and only that:
//   0x0887         I/O table size: bytes per station block (32 by default)
//   0x0A48         lockout request byte: 0 (the PC's byte from then on)
//   0x0A49         lockout state byte: 0
//   0x1E00 + 8s    the station table entry of every station s, 8 bytes:
//                    +1  1: the board holds the station's outputs off; the
//                        PC writes 0 to let the output block through
//                    +2  1 = present on the bus, 0 = absent
//                    +7  the station's I/O configuration as the station
//                        reported it (1 inputs, 2 outputs, 3 both; any
//                        other value: not configured); 0 until it logs in
//                    the other bytes 0
//   0x2000         the I/O table, zeroed: 64 blocks of the table size, the
//                  input blocks of stations 0-31, then their output blocks
//                  (0x2000 + size * (32 + s)).
// Bytes beyond the table (size below 128) and every other byte keep the
// pattern.  Afterwards the processor writes a station's entry only when the
// station joins the bus (byte 7, then byte 2) or leaves it, the bus going
// down included (byte 2), so a value a test pokes into the table stays.
// Memory is not touched while the processor is held, starting or hung.
//
// The bus scan (running board, bus up, valid table size, no lockout
// granted) runs on every tick: for each present station configured with
// inputs (1 or 3) the station's input bytes are written to its input block;
// for each present station configured with outputs (2 or 3) whose entry
// byte 1 is 0 the output block is read into the station's outputs.  A
// station sends and receives the first table-size bytes of its data.  Input
// changes a test makes reach the input block at once (when a scan could run
// now); outputs written by the PC reach the stations on the next tick.  An
// input block keeps its last bytes when its station leaves the bus.
//
// Lockout handshake, served on every tick of a running board: the board
// ends a granted lockout whose request byte reads 0 (state byte 0), then
// scans, then grants a pending request (request byte non-zero, state byte
// 0) by writing 1 to the state byte.  While the state byte is non-zero the
// board keeps off the I/O table.  A test can show a lockout held by another
// program by writing 1 to both bytes.  The board only acts on a tick: a PC
// that busy-waits for the answer without sleeping or touching a port never
// gives the model a chance to answer it in this simulator.
//
// Fault knobs: the self-test never ends (setNeverComesUp), a board fault
// reported while the board keeps scanning (setBoardFault: status bit 3 is
// 1), a bus fault (setBusFault: status bit 4 is 1 and every station leaves
// the bus until the fault clears and commDelay has passed), any I/O table
// size byte including 0 and values above 128 (the board then scans
// nothing), a lockout request never answered (setLockoutAnswers(false)).
#ifndef TAVEX_SIM_BOARDS_GEMICROGENIBOARD_H
#define TAVEX_SIM_BOARDS_GEMICROGENIBOARD_H

#include <cstdint>
#include <vector>

#include "tavex/sim/Region.h"

namespace Tavex {
namespace Sim {

class GEPCIMBoard;

class GEMicroGENIBoard {
public:
    enum : std::uint32_t {
        WindowSize = 0x4000,
        IOTableSizeByte = 0x0887,
        LockoutRequest = 0x0A48,
        LockoutState = 0x0A49,
        StationTable = 0x1E00,
        EntrySize = 8,
        EntryOutputsHeld = 1,
        EntryPresence = 2,
        EntryConfiguration = 7,
        IOTable = 0x2000
    };
    enum { Stations = 32, MaxBlockSize = 128, Ports = 2 };

    // Status register bits (active low) and control register bits.
    enum : std::uint8_t {
        StatusNotInReset = 0x01,
        StatusBoardNotOK = 0x08,
        StatusCommNotOK = 0x10,
        StatusUnused = 0xE6,
        ControlClearReset = 0x02,
        ControlResetLine = 0x40
    };

    // A station's I/O configuration as it reports it; other values are
    // allowed and mean "not configured".
    enum : std::uint8_t { InputsOnly = 1, OutputsOnly = 2, InputsAndOutputs = 3 };

    enum PowerUp { Running, Held };

    enum Phase {
        ProcessorHeld,   // reset line low or reset latch set
        Starting,        // released, testing itself
        ProcessorRunning,
        Hung             // self-test never ends, or started from a short reset
    };

    // One control register write.
    struct ControlWrite {
        std::uint8_t value;
        unsigned long time;
    };

    // One low period of the reset line (bit 6), ended by a write raising it.
    struct ResetPulse {
        unsigned long start;   // when it went low (or power-up)
        unsigned long end;
        bool tooShort;         // shorter than the minimum reset time
    };

    // One lockout request, as the board saw it.
    struct Lockout {
        unsigned long seenAt;
        bool granted;
        unsigned long grantedAt;
        bool ended;            // the board saw the request byte back at 0
        unsigned long endedAt;
    };

    // 'A' or 'B': the place on the motherboard.
    char place() const { return place_; }
    std::uint16_t basePort() const { return base_; }
    std::uint32_t memoryAddress() const { return address_; }

    // --- timing (ms of virtual time) --------------------------------------
    GEMicroGENIBoard& setStartupTime(unsigned long ms);
    GEMicroGENIBoard& setCommDelay(unsigned long ms);
    GEMicroGENIBoard& setMinimumResetTime(unsigned long ms);
    unsigned long startupTime() const { return startupTime_; }
    unsigned long commDelay() const { return commDelay_; }

    // --- configuration and fault knobs -------------------------------------
    // Any byte; a running board writes it at once and lays its I/O table
    // out afresh for it.  Only 1 to 128 lets the board scan.
    GEMicroGENIBoard& setIOTableSize(std::uint8_t size);
    std::uint8_t ioTableSize() const { return size_; }
    GEMicroGENIBoard& setNeverComesUp(bool never);
    GEMicroGENIBoard& setBoardFault(bool fault);
    GEMicroGENIBoard& setBusFault(bool fault);
    GEMicroGENIBoard& setLockoutAnswers(bool answers);

    // --- stations (field side) ----------------------------------------------
    // Puts a station on the bus with its I/O configuration (placing it again
    // changes the configuration); it logs in at once when the bus is up.
    GEMicroGENIBoard& placeStation(unsigned station, std::uint8_t ioConfiguration);
    GEMicroGENIBoard& removeStation(unsigned station);
    bool isPlaced(unsigned station) const;
    // Present in the board's station table (logged in), as the board wrote it.
    bool isLoggedIn(unsigned station) const;

    // What the station sends: bytes of its data, digital points (bit p % 8
    // of byte p / 8), 16-bit little-endian words at byte 2w.
    GEMicroGENIBoard& setInputByte(unsigned station, unsigned byte, std::uint8_t value);
    GEMicroGENIBoard& setInput(unsigned station, unsigned point, bool on);
    GEMicroGENIBoard& setInputWord(unsigned station, unsigned word, std::uint16_t raw);
    std::uint8_t inputByte(unsigned station, unsigned byte) const;

    // What the station received at the last scan that delivered its outputs
    // (all 0 until then).
    std::uint8_t outputByte(unsigned station, unsigned byte) const;
    bool output(unsigned station, unsigned point) const;
    std::uint16_t outputWord(unsigned station, unsigned word) const;

    // --- inspection ---------------------------------------------------------
    Region& memory() const;
    Phase phase() const { return phase_; }
    bool busUp() const { return busUp_; }
    std::uint8_t status() const;             // the status byte, without a read
    std::uint8_t controlRegister() const { return control_; }
    bool resetLatched() const { return latched_; }
    const std::vector<ControlWrite>& controlWrites() const { return controlWrites_; }
    const std::vector<ResetPulse>& resetPulses() const { return resetPulses_; }
    unsigned clearResetPulses() const { return clearPulses_; }   // bit 1 raised after 0
    unsigned statusReads() const { return statusReads_; }
    unsigned strayWrites() const { return strayWrites_; }
    unsigned starts() const { return starts_; }                  // releases from reset
    unsigned long releasedAt() const { return releasedAt_; }     // the last one
    unsigned long cameUpAt() const { return cameUpAt_; }         // board OK, last time
    const std::vector<Lockout>& lockouts() const { return lockouts_; }
    bool lockoutGranted() const;                                 // state byte non-zero
    // Entry byte 1 of the station is 0: its output block reaches it.
    bool outputsEnabled(unsigned station) const;
    // Offsets in the window, for the current table size.
    static std::uint32_t entry(unsigned station) { return StationTable + EntrySize * station; }
    std::uint32_t inputBlock(unsigned station) const;
    std::uint32_t outputBlock(unsigned station) const;

private:
    friend class GEPCIMBoard;

    struct Station {
        bool placed;
        bool loggedIn;
        std::uint8_t configuration;
        std::uint8_t inputs[MaxBlockSize];
        std::uint8_t outputs[MaxBlockSize];
    };

    GEMicroGENIBoard(GEPCIMBoard& motherboard, char place, std::uint16_t basePort,
                     std::uint32_t memoryAddress, PowerUp powerUp);
    GEMicroGENIBoard(const GEMicroGENIBoard&) = delete;
    GEMicroGENIBoard& operator=(const GEMicroGENIBoard&) = delete;

    // Called by the motherboard.
    void attach();
    bool decodes(std::uint16_t port) const;
    std::uint8_t readPort(std::uint16_t port);
    void writePort(std::uint16_t port, std::uint8_t value);
    void tick();

    unsigned long now() const;
    void catchUp();
    void writeControl(std::uint8_t value);
    void hold();
    void release(unsigned long at);
    void comeUp(unsigned long at);
    void layOut();
    void layOutTable();
    void bringBusUp();
    void takeBusDown();
    void logIn(unsigned station);
    void logOut(unsigned station);
    bool canScan() const;
    void sendInputs(unsigned station);
    void takeOutputs(unsigned station);
    void scan();
    void endLockout();
    void grantLockout();
    const Station& at(unsigned station) const;
    Station& at(unsigned station);

    GEPCIMBoard& motherboard_;
    char place_;
    std::uint16_t base_;
    std::uint32_t address_;
    PowerUp powerUp_;
    Region* memory_;

    unsigned long startupTime_, commDelay_, minimumReset_;
    std::uint8_t size_;
    bool neverComesUp_, boardFault_, busFault_, lockoutAnswers_;

    std::uint8_t control_;
    bool latched_;
    unsigned long lowSince_;
    bool shortReset_;
    Phase phase_;
    unsigned long upDue_;
    bool busUp_, busPending_;
    unsigned long busDue_;

    Station stations_[Stations];

    std::vector<ControlWrite> controlWrites_;
    std::vector<ResetPulse> resetPulses_;
    unsigned clearPulses_, statusReads_, strayWrites_, starts_;
    unsigned long releasedAt_, cameUpAt_;
    std::vector<Lockout> lockouts_;
    bool requestOpen_;
};

}  // namespace Sim
}  // namespace Tavex

#endif
