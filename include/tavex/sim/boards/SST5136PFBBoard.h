// SST5136PFBBoard: model of the 5136-PFB-PCI Profibus DP master board.
//
// PCI side: one function, vendor 0x133D, device 0x1000 (subsystem the same),
// class 0x02/0x80 (network controller, other), interrupt pin A.  Base
// address register 0 decodes the board's 2 MiB of shared memory (32-bit,
// non-prefetchable unless setPrefetchable; sizing it reads back 0xFFE00000).
// The memory sits at the address given to the constructor, which the BIOS
// is taken to have assigned; the model does not move it when the register
// is rewritten, and it answers whatever the command register says.
//
// The PC sees the shared memory as plain memory, so the board's processor
// sees what the PC did only when it runs: on every sleep of the library
// (tick).  Between two sleeps the board is frozen.  Several writes of one
// byte between two ticks count as the last of them.
//
// Time: what the PC left in the memory when a tick comes is taken to have
// been written when the sleep that led to it began (the PC writes, then
// sleeps).  Every delay counts from that moment, and a board action falls
// due in the first tick that reaches it; a delay of 0 acts in the tick that
// finds the write.  So a command written before a 20 ms sleep and taking
// 30 ms is answered in the tick that ends the second 20 ms sleep.
//
// Power-up memory: the whole window holds the non-zero power-up pattern of
// RAM, except the byte the loader writes (below).
//
// Phases:
//   LoaderWaiting   power-up: the loader has written 0xBA to the handshake
//                   byte 0x1FFFFF and looks for 1 there.  Other values are
//                   ignored.
//   LoaderTaking    it saw 1: it copies everything from 0x1000 up to the
//                   handshake byte into its processor's RAM (moduleImage)
//                   and, loaderTime ms later (50), writes 0x5A.
//   LoaderAnswered  it looks for 0 in the handshake byte, then jumps into
//                   what it copied.
//   ModuleStarting  the module initialises; after moduleStartTime ms
//                   (1500) it writes its host interface: card id word 0x8002,
//                   module id word 0x8004, version word 0x8006, its baud rate
//                   code to 0x8011, status 0 and state 0xE0 (idle).  Page
//                   bytes, slave words and records come with command 0x03.
//                   A module that never starts stays here.
//   ModuleRunning   commands, configuration and data exchange (below).
//   Hung            the processor runs something that is not the expected
//                   module (setExpectedModule): nothing more is written.
// The loader takes no length from the PC: it copies the whole rest of the
// window.  Without an expected module any bytes start; with one, the bytes
// at 0x1000 must begin with it.  Either way moduleImage() keeps what was
// copied, for a test to compare with the module file.
//
// Commands: the state byte 0x8000 is also the command byte.  The module
// takes a command when the byte differs from the state code it last wrote
// there; the PC's code stays in the byte until the answer.  After the
// command's time it writes the status byte 0x8001 (0 on success), then the
// state: 0xE0 offline, 0xE1 online, or 0xEF failed; a refusal, too, comes
// after the command's time.  A failed command waits for the PC to write
// 0xFF; the module clears the status byte as soon as it takes the 0xFF (a
// PC that reads the detail after acknowledging finds 0), and
// acknowledgeTime ms (10) later it writes 0xE0, offline.
// While it waits, other writes are ignored (and counted); a 0xFF when
// nothing failed is an unknown command.  A write while a command runs is
// lost under the answer (and counted).  Codes, with their times in ms:
//   0x01  online (50): reads the online parameters 0x800E, 0x8010, 0x8011
//         (baud rate code) and 0x8028 and starts the data exchange: 0xE1.
//   0x02  offline (30): stops the exchange: 0xE0.
//   0x03  initialise the host interface (20): writes the page bytes, the
//         slave words and the records of the current configuration, and
//         clears the configured slaves' data.
//   0x04  start automatic configuration (30).
//   0x06  take one configuration block (10): block number 0x8101 and length
//         byte 0x8102; the block is the transfer buffer's first length-byte
//         bytes, a length byte of 0 meaning the whole 0x4000.  Blocks must
//         come numbered 0, 1, 2, ... (8 bits, wrapping after 255); the
//         first 0x06 after any other command starts a new transfer.  The
//         byte holds only 8 bits of the length: a last block of 0x100
//         bytes or more reaches the module cut to its length's low byte,
//         or as a whole buffer when that byte is 0.  blocks() keeps each
//         block as taken, receivedConfiguration() their reassembly.
//   0x09  automatic configuration (2000, a scan of the network): every
//         slave present and answering becomes configured with its own data
//         sizes; refused unless 0x04 came just before.  Reads 0x8011.
//   0x10  apply the configuration transfer (200): the reassembled blocks
//         become the configuration's bytes.  The module's reading of the
//         file is not modelled: the configured slaves stay as the test set
//         them.
//   0x11  configuration from flash (300); refused when the flash is empty.
//   0x21  configuration to flash (1500).
// Refusals: 0x04, 0x06, 0x09, 0x10, 0x11, 0x21 while online (StatusOnline);
// any other code, and 0x04 / 0x09 on a module older than version 0x155
// (StatusUnknownCommand); 0x06 out of sequence (StatusBlockSequence); 0x11
// with an empty flash (StatusFlashEmpty); 0x09 without 0x04
// (StatusNoAutoconfiguration).  Whenever the configuration changes on a
// module that has run 0x03, the module rewrites slave words and records at
// once and clears the data of every configured slave.
//
// Host interface written by 0x03 (default pages, settable with setPages):
//   0x8100 transfer buffer page 0x04, 0x802A slave records page 0x05,
//   0x802B input area page 0x08, 0x802C output area page 0x0A (a page is
//   0x4000 bytes; each data area has room for two pages).
//   Slave word of slave n at 0x8900 + 2n (n = 0..126): low byte 0xFF when
//   the slave is not configured, otherwise the index of its own record;
//   bits 8-14 are 0; bit 15 is set while the network is online and the
//   slave answers (its data are valid).  A configured slave's word never
//   has 0xFF in its low byte.
//   Record r, 128 bytes at records + 128r: byte 0 slave address, word 2
//   input size, word 4 output size, word 8 input data offset and word 10
//   output data offset (signed, from the start of the input and output
//   areas), the rest 0.  Records are given in ascending slave address from
//   0, data offsets packed in that order, unless setSlaveLayout says else.
//   Whatever falls outside the window is not written.
//
// Data exchange, on every tick while online and at once when a test changes
// a slave: the inputs of each configured slave that answers are written to
// its input data, and its output data are read into the slave's outputs.
// Offline, or while a slave does not answer, its data stay as they are.
// The PC's pokes into input data are overwritten at the next exchange; the
// slave words are rewritten on every tick.
//
// Field side: slaves on the network (addSlave), each with its input and
// output sizes (at most 244 bytes each); a slave can be on the network
// without being configured, and configured without answering.  The slaves
// a test configures are the module's current configuration in every phase;
// the module shows them once it has run 0x03.
//
// Fault knobs: a silent loader, a module that never starts or that is not
// the expected one, a module that takes no command, wrong identity words or
// an old version, and per command (by code or by its sequence number) a
// chosen failure status, no answer at all, an acknowledgement never taken,
// or a success answered with another state code followed, later, by a
// state change of the module's own (Answer).
#ifndef TAVEX_SIM_BOARDS_SST5136PFBBOARD_H
#define TAVEX_SIM_BOARDS_SST5136PFBBOARD_H

#include <cstdint>
#include <map>
#include <vector>

#include "tavex/sim/Board.h"
#include "tavex/sim/PCIHostBridge.h"
#include "tavex/sim/Region.h"

namespace Tavex {
namespace Sim {

class SST5136PFBBoard : public Board {
public:
    typedef std::vector<std::uint8_t> Bytes;

    enum : std::uint16_t { VendorId = 0x133D, DeviceId = 0x1000 };

    // The memory map, by offset into the window.
    enum : std::uint32_t {
        WindowSize = 0x200000,
        DefaultMemoryAddress = 0xFEA00000u,
        ModuleOffset = 0x001000,
        StateByte = 0x008000,
        StatusByte = 0x008001,
        CardIdWord = 0x008002,
        ModuleIdWord = 0x008004,
        VersionWord = 0x008006,
        OnlineParameter0E = 0x00800E,
        OnlineParameter10 = 0x008010,
        BaudRateByte = 0x008011,
        OnlineParameter28 = 0x008028,
        RecordPageByte = 0x00802A,
        InputPageByte = 0x00802B,
        OutputPageByte = 0x00802C,
        TransferPageByte = 0x008100,
        BlockNumberByte = 0x008101,
        BlockLengthByte = 0x008102,
        SlaveWords = 0x008900,
        HandshakeByte = 0x1FFFFF,
        PageSize = 0x4000,
        RecordSize = 128
    };
    enum { Slaves = 127, MaxDataBytes = 244 };

    // Loader handshake values.
    enum : std::uint8_t { LoaderRequest = 0xBA, ModuleInPlace = 0x01, LoaderAnswer = 0x5A,
                          LoaderGo = 0x00 };
    // State codes.
    enum : std::uint8_t { StateReady = 0x00, StateIdle = 0xE0, StateOnline = 0xE1,
                          StateFailed = 0xEF, StateAcknowledge = 0xFF };
    // Command codes.
    enum : std::uint8_t {
        CommandOnline = 0x01,
        CommandOffline = 0x02,
        CommandInitialise = 0x03,
        CommandStartAutoconfiguration = 0x04,
        CommandBlock = 0x06,
        CommandAutoconfigure = 0x09,
        CommandApplyConfiguration = 0x10,
        CommandFromFlash = 0x11,
        CommandToFlash = 0x21
    };
    // The module's status codes for a refused command.
    enum : std::uint8_t {
        StatusUnknownCommand = 0x01,
        StatusOnline = 0x02,
        StatusBlockSequence = 0x03,
        StatusFlashEmpty = 0x04,
        StatusNoAutoconfiguration = 0x05
    };

    enum Phase { LoaderWaiting, LoaderTaking, LoaderAnswered, ModuleStarting, ModuleRunning, Hung };
    static const char* phaseName(Phase phase);

    // The module's identity as it starts.
    enum : std::uint16_t { CardId = 0xAAD0, ModuleId = 0xBB01, DefaultVersion = 0x0160 };
    enum : std::uint8_t { DefaultBaudRate = 0x06 };

    // The four online parameter bytes as the module found them.
    struct OnlineParameters {
        std::uint8_t p0E, p10, baudRate, p28;
    };

    // One command the module took, and what became of it.
    struct Command {
        std::uint8_t code;
        std::uint8_t stateBefore;       // the state code the PC wrote over
        unsigned long takenAt;
        OnlineParameters parameters;    // at the time it was taken
        bool answered;
        unsigned long answeredAt;
        std::uint8_t state;             // state code answered
        std::uint8_t status;            // status byte answered
        bool acknowledged;              // a failure the PC acknowledged with 0xFF
        unsigned long acknowledgedAt;   // when the module took the 0xFF
    };

    // One configuration block the module took (command 0x06).
    struct Block {
        std::uint8_t number;            // byte 0x8101
        std::uint8_t lengthByte;        // byte 0x8102
        Bytes data;                     // the bytes taken: lengthByte, or 0x4000 for 0
    };

    // One slave of a configuration, with its data sizes.
    struct SlaveSizes {
        unsigned inputBytes;
        unsigned outputBytes;
    };
    // A configuration as the module holds it, in RAM or in flash.
    struct Configuration {
        Bytes bytes;                                // as received, empty if none
        std::map<unsigned, SlaveSizes> slaves;      // by slave address
    };

    // Where a slave's record and data lie.
    struct Layout {
        std::uint8_t record;
        std::int16_t inputOffset;
        std::int16_t outputOffset;
    };

    // How the module answers a command; the default answers by the protocol.
    struct Answer {
        Answer();
        int status;                 // >= 0: the command fails with this status
        bool never;                 // taken and never answered
        bool acknowledgementIgnored;  // after failing, the 0xFF is never taken
        int state;                  // >= 0: success answered with this state code
        int thenState;              // >= 0: the module moves to this state code
        unsigned long thenAfter;    //   on its own, this many ms after answering
    };

    // A board at bus / device / function of the host bridge, its memory at
    // memoryAddress (a multiple of 2 MiB, not 0).
    SST5136PFBBoard(PCIHostBridge& bridge, std::uint8_t bus, std::uint8_t device,
                    std::uint8_t function = 0, std::uint32_t memoryAddress = DefaultMemoryAddress);
    ~SST5136PFBBoard() override;

    const char* name() const override;
    std::uint32_t memoryAddress() const { return address_; }
    PCIFunction& function() { return function_; }
    const PCIFunction& function() const { return function_; }
    // Sets or clears the prefetchable bit (3) of base address register 0.
    SST5136PFBBoard& setPrefetchable(bool prefetchable);

    // --- scene: a board that already runs its module ----------------------
    // The module was started before the program ran (by an earlier one): the
    // host interface is in place, 0x03 has been run, the handshake byte
    // holds the 0 the PC last wrote, and the network is online or not.
    SST5136PFBBoard& powerUpRunning(bool online = false);

    // --- module and timing --------------------------------------------------
    SST5136PFBBoard& setExpectedModule(const Bytes& module);
    SST5136PFBBoard& setLoaderTime(unsigned long ms);
    SST5136PFBBoard& setModuleStartTime(unsigned long ms);
    SST5136PFBBoard& setCommandTime(std::uint8_t code, unsigned long ms);
    SST5136PFBBoard& setAcknowledgeTime(unsigned long ms);
    // Identity words and version as the module writes them (at once if it runs).
    SST5136PFBBoard& setCardId(std::uint16_t id);
    SST5136PFBBoard& setModuleId(std::uint16_t id);
    SST5136PFBBoard& setModuleVersion(std::uint16_t version);
    // The baud rate code the module writes to 0x8011 when it starts.
    SST5136PFBBoard& setStartBaudRate(std::uint8_t code);
    // Page bytes that 0x03 publishes.
    SST5136PFBBoard& setPages(std::uint8_t records, std::uint8_t inputs, std::uint8_t outputs,
                              std::uint8_t transfer = 0x04);

    // --- fault knobs ----------------------------------------------------------
    SST5136PFBBoard& setLoaderSilent(bool silent);       // never answers 0x5A
    SST5136PFBBoard& setModuleNeverStarts(bool never);   // never reaches 0xE0
    SST5136PFBBoard& setModuleSilent(bool silent);       // takes no command any more
    // Every command with this code, or the sequence-th command taken (from
    // 0, counted since power-up; it wins over the code).
    SST5136PFBBoard& setAnswer(std::uint8_t code, const Answer& answer);
    SST5136PFBBoard& setAnswerAt(unsigned sequence, const Answer& answer);
    SST5136PFBBoard& failCommand(std::uint8_t code, std::uint8_t status);

    // --- field side: slaves -------------------------------------------------
    // A slave on the network, answering, configured in the module's current
    // configuration unless told otherwise.
    SST5136PFBBoard& addSlave(unsigned address, unsigned inputBytes, unsigned outputBytes,
                              bool configured = true);
    SST5136PFBBoard& removeSlave(unsigned address);     // off the network and the configuration
    SST5136PFBBoard& setConfigured(unsigned address, bool configured);
    SST5136PFBBoard& setAnswering(unsigned address, bool answering);
    // Fixed record and data offsets for a slave, kept over every new layout.
    SST5136PFBBoard& setSlaveLayout(unsigned address, std::uint8_t record,
                                    std::int16_t inputOffset, std::int16_t outputOffset);
    SST5136PFBBoard& setInputs(unsigned address, unsigned offset, const Bytes& bytes);
    SST5136PFBBoard& setInput(unsigned address, unsigned byte, std::uint8_t value);
    // What the slave took at the last exchange (0 until then).
    const Bytes& outputs(unsigned address) const;
    std::uint8_t output(unsigned address, unsigned byte) const;
    const Bytes& inputs(unsigned address) const;
    bool isConfigured(unsigned address) const;
    Layout layout(unsigned address) const;          // of a configured slave
    // Board memory now.
    std::uint16_t slaveWord(unsigned address) const;
    // Window offset of a configured slave's input or output data (outside
    // 0 to 0x1FFFFF when the test placed them so).
    std::int64_t inputDataOffset(unsigned address) const;
    std::int64_t outputDataOffset(unsigned address) const;

    // --- configuration and flash ---------------------------------------------
    const Configuration& configuration() const { return configuration_; }
    bool flashHolds() const { return flashValid_; }
    const Configuration& flash() const { return flash_; }
    // The flash as an earlier session left it: the current configuration.
    SST5136PFBBoard& storeInFlash();
    SST5136PFBBoard& eraseFlash();
    unsigned flashWrites() const { return flashWrites_; }
    // Blocks of the current or last transfer, and their reassembly.
    const std::vector<Block>& blocks() const { return blocks_; }
    Bytes receivedConfiguration() const;

    // --- inspection ---------------------------------------------------------
    Phase phase() const { return phase_; }
    Region& memory() const;
    const Bytes& moduleImage() const { return moduleImage_; }
    bool moduleImageStartsWith(const Bytes& bytes) const;
    unsigned long moduleStartedAt() const { return startedAt_; }
    bool online() const { return online_; }
    bool interfacePublished() const { return published_; }
    std::uint8_t networkBaudRate() const { return networkBaudRate_; }   // taken by 0x01 / 0x09
    const std::vector<Command>& commands() const { return commands_; }
    Bytes commandCodes() const;
    unsigned writesWhileBusy() const { return writesWhileBusy_; }
    unsigned ignoredWrites() const { return ignoredWrites_; }

    // --- Board --------------------------------------------------------------
    void tick(unsigned long elapsedMs) override;

protected:
    void plugged() override;

private:
    struct Slave {
        SlaveSizes sizes;
        bool answering;
        Bytes inputs;
        Bytes outputs;
    };
    struct Pending {
        Pending() : active(false), due(0) {}
        bool active;
        unsigned long due;
    };

    const Slave& slave(unsigned address) const;
    Slave& slave(unsigned address);
    void checkAddress(unsigned address) const;

    void startModule();
    void publishIdentity();
    void runModule();
    void takeCommand(std::uint8_t code);
    Answer answerFor() const;
    void answerCommand();
    std::uint8_t execute(Command& command);
    std::uint8_t takeBlock();
    void write8(std::int64_t offset, std::uint8_t value);
    void writeSpan(std::int64_t offset, const std::uint8_t* bytes, std::uint32_t length);
    void fillSpan(std::int64_t offset, std::uint32_t length, std::uint8_t value);
    void showState(std::uint8_t code);
    void setConfiguration(const Configuration& configuration);
    void relayout();
    void writeSlaveWords();
    void exchange();
    void refresh();
    bool exchanging(unsigned address) const;
    std::int64_t areaOffset(std::uint8_t page) const;

    PCIHostBridge& bridge_;
    std::uint8_t bus_, device_, functionNumber_;
    std::uint32_t address_;
    PCIFunction function_;
    Region* memory_;

    Phase phase_;
    unsigned long eventTime_;
    Pending loaderAnswer_, moduleStart_;
    Bytes expectedModule_;
    bool hasExpectedModule_;
    Bytes moduleImage_;
    unsigned long loaderTime_, moduleStartTime_, acknowledgeTime_;
    std::map<std::uint8_t, unsigned long> commandTimes_;
    bool loaderSilent_, moduleNeverStarts_, moduleSilent_;
    unsigned long startedAt_;

    std::uint16_t cardId_, moduleId_, version_;
    std::uint8_t startBaudRate_;
    std::uint8_t recordPage_, inputPage_, outputPage_, transferPage_;

    std::uint8_t shown_;            // the state code the module last wrote
    bool busy_;
    std::uint8_t busySeen_;         // what the state byte held at the last busy tick
    Pending answerDue_;
    bool awaitingAcknowledgement_;
    std::uint8_t failedSeen_;
    Pending acknowledgement_;
    Pending laterState_;
    std::uint8_t laterCode_;
    std::map<std::uint8_t, Answer> answersByCode_;
    std::map<unsigned, Answer> answersBySequence_;
    std::vector<Command> commands_;
    unsigned writesWhileBusy_, ignoredWrites_;

    bool online_;
    bool published_;
    bool autoconfigurationStarted_;
    bool transferOpen_;
    std::uint8_t networkBaudRate_;
    std::vector<Block> blocks_;
    Configuration configuration_;
    Configuration flash_;
    bool flashValid_;
    unsigned flashWrites_;

    std::map<unsigned, Slave> slaves_;
    std::map<unsigned, Layout> fixedLayouts_;
    std::map<unsigned, Layout> layouts_;   // of the configured slaves, as published
};

}  // namespace Sim
}  // namespace Tavex

#endif
