// AB1784KTxBoard: model of the 1784-KTx Remote I/O scanner board.
//
// The board owns a window of 0x810 bytes at its base memory address: 2048
// bytes of memory shared between the PC and the board's Z80 (0x000-0x7FF),
// followed by control registers that only the PC writes (board_interrupt
// 0x801, board_start 0x802, board_reset 0x803, host_interrupt_clear 0x808).
// The window is plain memory for the PC, so the board sees what the PC did
// only when it runs (tick, on every sleep of the library).  It treats each
// control register as a latch: a non-zero byte is taken, acted on and
// cleared.  When reset and start are both latched, reset is taken first.
// Two writes of the same register between two ticks count as one.
//
// The Z80 runs whatever was copied to offset 0 when board_start is taken.
// The model recognises the programs by their bytes (setProtocolImages):
//   - the scanner: after the loader has received exactly the scanner image,
//     the initialisation bytes C3 00 00 00 at 0x000, 0xFD at 0x005, 0x06 at
//     0x006 and the link speed code at 0x007;
//   - the RAM clear program: its whole image at offset 0;
//   - the loader: its image at offset 0, apart from the bytes that the
//     download mailbox (0x072-0x075) and the first block (0x080 on) overlay.
// Anything else is an unknown program, which does nothing.
//
// Phases:
//   Held             power-up, and after every reset: the Z80 does nothing.
//   ClearingRam      the RAM clear program; it needs clearRamTime ms.
//   Loading          the loader takes a block whenever download_done reads
//                    0: it reads download_length and the block at 0x080,
//                    stores it in the Z80 RAM, and after blockTime ms writes
//                    download_result and sets download_done to 1.  It
//                    refuses a block longer than 1920 bytes (result 1) and
//                    one that does not fit the remaining program RAM
//                    (result 2).
//   ScannerStarting  after startupTime ms the scanner writes init_error and
//                    sets int_status_to_host to 1; with init_error 0 it runs.
//   ScannerRunning   commands and the I/O image tables (below).
//   ScannerFailed    started with a non-zero init_error; does nothing more.
//   UnknownProgram   started on bytes it does not recognise.
//
// Commands (running scanner): the Z80 looks at int_status_from_host when
// the PC writes board_interrupt.  On 1 it takes the command block at 0x200,
// clears int_status_from_host after takeTime ms, and responseTime ms later
// writes the confirmation: 0x301 the transaction number it received, 0x302
// the response code, 0x300 = 1, int_status_to_host = 2, and raises its
// host interrupt (cleared by host_interrupt_clear).  On 2, with a
// confirmation outstanding, it takes the acknowledgement: the confirmation
// area is its own again, and it clears the echoed transaction number and
// the response code (0x301, 0x302) at once, so that a PC that reads them
// after acknowledging finds 0; int_status_from_host follows after
// acknowledgeTime ms.
//
// Time: the PC's writes found in a tick are taken to have happened when the
// sleep that led to the tick began (the PC writes, then sleeps).  Every
// delay counts from that moment, every time the model records is that
// moment, and a board action falls due in the first tick that reaches it; a
// delay of 0 acts in the tick that finds the write.  So a program started
// before a sleep of 2 s has run for those 2 s when the sleep ends.
//
// Image tables (running scanner), refreshed on every tick and at once when
// a test changes them: scanner_status (16-bit at 0x07E; bit 2 = scanner
// running), one status entry of three bytes per four banks at 0x080 + 3q
// (q = 0..63), the input image 0x400 + bank written from the racks' inputs,
// and the output image 0x600 + bank read into the racks' outputs.  Bytes
// the PC pokes into the status or input tables are overwritten on the next
// tick.  Power-up rack state: scanner running (scanner_status 0x0004),
// every entry good (A 0x03, B 0x20, C 0x00), every input 0, every output 0.
//
// Power-up memory: the shared memory holds the non-zero power-up pattern of
// dual-port RAM; the control registers 0x800-0x80F read 0.
#ifndef TAVEX_SIM_BOARDS_AB1784KTXBOARD_H
#define TAVEX_SIM_BOARDS_AB1784KTXBOARD_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tavex/sim/Board.h"
#include "tavex/sim/Region.h"

namespace Tavex {
namespace Sim {

class AB1784KTxBoard : public Board {
public:
    // The memory map, by offset from the base memory address.
    enum : std::uint32_t {
        WindowSize = 0x810,
        SharedSize = 0x800,
        StartWord = 0x000,
        InitByte5 = 0x005,
        InitByte6 = 0x006,
        LinkSpeedByte = 0x007,
        InitError = 0x00A,
        IntStatusToHost = 0x00C,
        IntStatusFromHost = 0x00D,
        DownloadLength = 0x072,
        DownloadResult = 0x074,
        DownloadDone = 0x075,
        ScannerStatus = 0x07E,
        StatusTable = 0x080,
        DownloadBlock = 0x080,
        MaxBlockLength = 0x780,
        CommandBlock = 0x200,
        CommandBlockSize = 0x100,
        Confirmation = 0x300,
        InputImage = 0x400,
        OutputImage = 0x600,
        BoardInterrupt = 0x801,
        BoardStart = 0x802,
        BoardReset = 0x803,
        HostInterruptClear = 0x808
    };
    enum { Banks = 256, StatusEntries = 64 };

    enum Phase {
        Held,
        ClearingRam,
        Loading,
        ScannerStarting,
        ScannerRunning,
        ScannerFailed,
        UnknownProgram
    };
    static const char* phaseName(Phase phase);

    enum Latch { BoardInterruptLatch, BoardStartLatch, BoardResetLatch, HostInterruptClearLatch };

    // One control register write, as the board took it.
    struct ControlWrite {
        Latch latch;
        std::uint8_t value;
        Phase before;          // phase when the write was taken
        Phase after;           // phase it led to
        unsigned long time;
    };

    // One block the loader took.
    struct Block {
        std::uint16_t length;              // download_length as posted
        std::vector<std::uint8_t> data;    // the bytes at 0x080 (at most 1920)
        std::uint8_t result;               // download_result answered (if answered)
        bool answered;
        unsigned long time;                // when it was taken
    };

    // One command the scanner took, and what became of it.
    struct Command {
        std::uint8_t code;
        std::uint8_t transaction;
        std::uint8_t length;                  // byte 2 of the block
        std::vector<std::uint8_t> parameters; // the length bytes that follow
        unsigned long time;                   // when it was taken
        bool confirmed;
        std::uint8_t echoedTransaction;
        std::uint8_t response;
        unsigned long confirmedAt;
        bool acknowledged;                    // the PC handed the confirmation back
        bool confirmationCleared;             // 0x300 read 0 at the acknowledgement
        bool statusCleared;                   // int_status_to_host read 0 then
        bool hostInterruptCleared;            // host_interrupt_clear seen since confirming
    };

    // What goes wrong with one command (by its sequence number, from 0).
    struct CommandFault {
        CommandFault();
        int response;                 // response code to send; -1: the normal one
        int transactionDelta;         // added to the echoed transaction number
        bool neverClearsFlag;         // answers, but leaves int_status_from_host at 1
        bool neverConfirms;           // takes the command, never confirms it
        bool neverTakesAcknowledgement;  // leaves int_status_from_host at 2
    };

    explicit AB1784KTxBoard(std::uint32_t baseAddress);

    const char* name() const override;
    std::uint32_t baseAddress() const { return base_; }

    // --- programs ---------------------------------------------------------
    AB1784KTxBoard& setProtocolImages(const std::vector<std::uint8_t>& clrram,
                                      const std::vector<std::uint8_t>& loadpcl,
                                      const std::vector<std::uint8_t>& scanner);

    // --- timing (ms of virtual time) ----------------------------------------
    AB1784KTxBoard& setClearRamTime(unsigned long ms);
    AB1784KTxBoard& setBlockTime(unsigned long ms);
    AB1784KTxBoard& setStartupTime(unsigned long ms);
    AB1784KTxBoard& setCommandTimes(unsigned long take, unsigned long respond,
                                    unsigned long acknowledge);

    // --- fault knobs --------------------------------------------------------
    AB1784KTxBoard& setDownloadResult(unsigned block, std::uint8_t result);
    AB1784KTxBoard& setLoaderSilentFrom(unsigned block);   // never sets download_done
    AB1784KTxBoard& setProgramRamSize(std::uint32_t bytes);
    AB1784KTxBoard& setInitNeverFinishes(bool never);
    AB1784KTxBoard& setInitError(std::uint8_t code);
    AB1784KTxBoard& setCommandFault(unsigned sequence, const CommandFault& fault);
    AB1784KTxBoard& setResponseForCode(std::uint8_t code, std::uint8_t response);

    // --- racks (field side) -------------------------------------------------
    AB1784KTxBoard& setScannerRunning(bool running);   // bit 2 of scanner_status
    AB1784KTxBoard& setScannerStatus(std::uint16_t status);
    std::uint16_t scannerStatus() const { return scannerStatus_; }
    AB1784KTxBoard& setStatusEntry(unsigned entry, std::uint8_t a, std::uint8_t b,
                                   std::uint8_t c = 0);
    AB1784KTxBoard& setEntryGood(unsigned entry, bool good);
    AB1784KTxBoard& setInputs(unsigned bank, std::uint8_t value);
    AB1784KTxBoard& setInput(unsigned bank, unsigned point, bool on);
    std::uint8_t inputs(unsigned bank) const;
    // What the racks took from the output image at the last refresh.
    std::uint8_t outputs(unsigned bank) const;
    // The image bytes in the shared memory now.
    std::uint8_t inputImage(unsigned bank) const;
    std::uint8_t outputImage(unsigned bank) const;
    AB1784KTxBoard& setOutputImage(unsigned bank, std::uint8_t value);

    // --- inspection ---------------------------------------------------------
    Phase phase() const { return phase_; }
    Region& memory() const;
    const std::vector<ControlWrite>& controlWrites() const { return controlWrites_; }
    unsigned writesOf(Latch latch) const;
    unsigned boardStartCount() const { return writesOf(BoardStartLatch); }
    unsigned boardResetCount() const { return writesOf(BoardResetLatch); }
    // A board_reset written and not yet taken (the board has not run since).
    bool resetLatched() const;

    bool ramCleared() const { return ramCleared_; }
    const std::vector<Block>& blocks() const { return blocks_; }   // of the last loader run
    const std::vector<std::uint8_t>& programRam() const { return programRam_; }

    std::uint8_t linkSpeed() const { return linkSpeed_; }
    // The shared memory held nothing but the initialisation bytes when the
    // scanner was started.
    bool sharedMemoryClearedAtStart() const { return clearedAtStart_; }

    const std::vector<Command>& commands() const { return commands_; }
    bool lastConfirmationAcknowledged() const;
    bool hostInterruptPending() const { return hostInterrupt_; }
    unsigned strayInterrupts() const { return strayInterrupts_; }

    // --- Board --------------------------------------------------------------
    void tick(unsigned long elapsedMs) override;

protected:
    void plugged() override;

private:
    struct Pending {
        Pending() : active(false), due(0) {}
        bool active;
        unsigned long due;
    };

    std::uint8_t take(std::uint32_t offset);
    void logWrite(Latch latch, std::uint8_t value, Phase before);
    void enter(Phase phase);
    void startProgram();
    bool imageAt(const std::vector<std::uint8_t>& image, bool loaderOverlay) const;
    bool scannerLoaded() const;
    void runLoader();
    void answerBlock();
    void finishStartup();
    void interrupted();
    void takeCommand();
    void takeAcknowledgement();
    void runCommands();
    void refresh();

    std::uint32_t base_;
    Region* memory_;
    Phase phase_;
    unsigned long phaseSince_;
    unsigned long eventTime_;

    std::vector<std::uint8_t> clrram_, loadpcl_, scanner_;
    unsigned long clearRamTime_, blockTime_, startupTime_;
    unsigned long takeTime_, respondTime_, acknowledgeTime_;

    std::map<unsigned, std::uint8_t> downloadResults_;
    unsigned silentFrom_;
    std::uint32_t programRamSize_;
    bool initNeverFinishes_;
    std::uint8_t initError_;
    std::map<unsigned, CommandFault> commandFaults_;
    std::map<std::uint8_t, std::uint8_t> responses_;

    std::uint16_t scannerStatus_;
    std::uint8_t entries_[StatusEntries][3];
    std::uint8_t inputs_[Banks];
    std::uint8_t outputs_[Banks];

    std::vector<ControlWrite> controlWrites_;
    bool ramCleared_;
    std::vector<Block> blocks_;
    std::vector<std::uint8_t> programRam_;
    Pending blockAnswer_;
    std::uint8_t linkSpeed_;
    bool clearedAtStart_;

    std::vector<Command> commands_;
    Pending clearFlag_, confirm_, clearAcknowledgement_;
    bool hostInterrupt_;
    unsigned strayInterrupts_;
    bool commandStuck_;
    bool loaderHung_;
};

}  // namespace Sim
}  // namespace Tavex

#endif
