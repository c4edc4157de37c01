// The 1784-KTx board model, driven by hand from the PC's side of its
// window: every phase of the download, the start-up and the command
// exchange, and the fault knobs the card tests rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AB1784KTxBoard.h"

using Tavex::Sim::AB1784KTxBoard;
using Tavex::Sim::Machine;
using Tavex::Sim::Region;

namespace {

typedef std::vector<std::uint8_t> Bytes;
typedef AB1784KTxBoard KTx;

Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

// The PC's side of the window, written the way the host protocol does.
class Host {
public:
    Host(Machine& machine, KTx& board)
        : m(machine), board(board), mem(board.memory()),
          clrram(pattern(40, 0x11)), loadpcl(pattern(60, 0x22)), scanner(pattern(2500, 0x33)) {
        board.setProtocolImages(clrram, loadpcl, scanner);
    }

    void clear() { mem.fill(0, KTx::SharedSize, 0); }
    void copy(const Bytes& b, std::uint32_t at) { mem.write(at, &b[0], static_cast<std::uint32_t>(b.size())); }
    void post(std::uint32_t offset, std::uint16_t length) {
        mem.write(KTx::DownloadBlock, &scanner[offset], length);
        mem.write16(KTx::DownloadLength, length);
        mem.write8(KTx::DownloadDone, 0);
    }
    bool waitDone(unsigned polls) {
        for (unsigned i = 0; i < polls; ++i) {
            if (mem.read8(KTx::DownloadDone))
                return true;
            m.sleep(10);
        }
        return mem.read8(KTx::DownloadDone) != 0;
    }
    void runClearRam() {
        mem.write8(KTx::BoardReset, 1);
        clear();
        copy(clrram, 0);
        mem.write8(KTx::BoardStart, 1);
        m.sleep(2000);
    }
    // Everything up to the last block accepted; false when a block failed.
    bool download() {
        runClearRam();
        mem.write8(KTx::BoardReset, 1);
        copy(loadpcl, 0);
        for (std::uint32_t offset = 0; offset < scanner.size();) {
            const std::uint16_t length = static_cast<std::uint16_t>(
                std::min<std::size_t>(1920, scanner.size() - offset));
            post(offset, length);
            if (offset == 0)
                mem.write8(KTx::BoardStart, 1);
            if (!waitDone(100) || mem.read8(KTx::DownloadResult) != 0)
                return false;
            offset += length;
        }
        mem.write8(KTx::BoardReset, 1);
        return true;
    }
    void startScanner(std::uint8_t speed) {
        clear();
        mem.write32(0, 0xC3);
        mem.write8(5, 0xFD);
        mem.write8(6, 0x06);
        mem.write8(7, speed);
        mem.write8(KTx::BoardStart, 1);
    }
    bool waitStatusToHost(std::uint8_t value, unsigned polls) {
        for (unsigned i = 0; i < polls; ++i) {
            if (mem.read8(KTx::IntStatusToHost) == value)
                return true;
            m.sleep(100);
        }
        return mem.read8(KTx::IntStatusToHost) == value;
    }
    void boot() {
        ASSERT_TRUE(download());
        startScanner(0xFE);
        ASSERT_TRUE(waitStatusToHost(1, 20));
        ASSERT_EQ(KTx::ScannerRunning, board.phase());
    }
    void command(std::uint8_t code, std::uint8_t number, const Bytes& parameters,
                 bool interrupt = true) {
        std::uint8_t block[256];
        std::memset(block, 0xEE, sizeof block);
        block[0] = code;
        block[1] = number;
        block[2] = static_cast<std::uint8_t>(parameters.size());
        if (!parameters.empty())
            std::memcpy(block + 3, &parameters[0], parameters.size());
        mem.write(KTx::CommandBlock, block, sizeof block);
        mem.write8(KTx::IntStatusFromHost, 1);
        if (interrupt)
            mem.write8(KTx::BoardInterrupt, 1);
    }
    void acknowledge() {
        mem.write8(KTx::Confirmation, 0);
        mem.write8(KTx::IntStatusToHost, 0);
        mem.write8(KTx::HostInterruptClear, 1);
        mem.write8(KTx::IntStatusFromHost, 2);
        mem.write8(KTx::BoardInterrupt, 1);
    }

    Machine& m;
    KTx& board;
    Region& mem;
    Bytes clrram, loadpcl, scanner;
};

}  // namespace

TEST(AB1784KTxBoard, PowersUpHeldWithPatternRamAndClearRegisters) {
    Machine m;
    KTx& board = m.add<KTx>(0xD0000);
    Region& mem = board.memory();
    EXPECT_EQ(0xD0000u, mem.address());
    EXPECT_EQ(0x810u, mem.size());
    EXPECT_EQ(&mem, m.findRegion(0xD0000, 0x810));
    EXPECT_EQ(KTx::Held, board.phase());
    for (std::uint32_t i = 0x800; i < 0x810; ++i)
        EXPECT_EQ(0, mem.read8(i)) << std::hex << i;
    unsigned zeros = 0;
    for (std::uint32_t i = 0; i < 0x800; ++i)
        zeros += mem.read8(i) == 0;
    EXPECT_EQ(0u, zeros);
    m.sleep(1000);
    EXPECT_EQ(KTx::Held, board.phase());
    EXPECT_TRUE(board.controlWrites().empty());
}

TEST(AB1784KTxBoard, RunsEveryPhaseOfTheStartUp) {
    Machine m;
    KTx& board = m.add<KTx>(0xC0000);
    Host host(m, board);
    board.setBlockTime(30);

    ASSERT_TRUE(host.download());
    EXPECT_TRUE(board.ramCleared());
    const std::vector<KTx::ControlWrite>& writes = board.controlWrites();
    ASSERT_EQ(4u, writes.size());
    const KTx::Latch latches[] = {KTx::BoardResetLatch, KTx::BoardStartLatch,
                                  KTx::BoardResetLatch, KTx::BoardStartLatch};
    const KTx::Phase before[] = {KTx::Held, KTx::Held, KTx::ClearingRam, KTx::Held};
    const KTx::Phase after[] = {KTx::Held, KTx::ClearingRam, KTx::Held, KTx::Loading};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(latches[i], writes[i].latch) << i;
        EXPECT_EQ(before[i], writes[i].before) << i;
        EXPECT_EQ(after[i], writes[i].after) << i;
    }
    EXPECT_EQ(2000u, writes[2].time - writes[1].time);   // clrram ran for the whole pause
    EXPECT_EQ(0, host.mem.read8(KTx::BoardStart));       // latches are consumed
    EXPECT_TRUE(board.resetLatched());                   // the last reset is not taken yet

    ASSERT_EQ(2u, board.blocks().size());
    EXPECT_EQ(1920, board.blocks()[0].length);
    EXPECT_EQ(580, board.blocks()[1].length);
    EXPECT_EQ(30u, board.blocks()[1].time - board.blocks()[0].time);
    EXPECT_EQ(host.scanner, board.programRam());

    host.startScanner(0xFD);
    const unsigned long started = m.now();
    m.sleep(100);
    EXPECT_FALSE(board.resetLatched());
    EXPECT_EQ(KTx::ScannerStarting, board.phase());
    EXPECT_EQ(0xFD, board.linkSpeed());
    EXPECT_TRUE(board.sharedMemoryClearedAtStart());
    EXPECT_TRUE(host.waitStatusToHost(1, 10));
    EXPECT_EQ(500u, m.now() - started);
    EXPECT_EQ(KTx::ScannerRunning, board.phase());
    EXPECT_EQ(0, host.mem.read8(KTx::InitError));
    EXPECT_EQ(3u, board.boardStartCount());
    EXPECT_EQ(3u, board.boardResetCount());
}

TEST(AB1784KTxBoard, RecognisesOnlyItsOwnPrograms) {
    Machine m;
    KTx& board = m.add<KTx>(0xC0000);
    Host host(m, board);

    // A loader with its mailbox and block bytes overlaid is still the loader.
    Bytes bigLoader = pattern(300, 0x44);
    board.setProtocolImages(host.clrram, bigLoader, host.scanner);
    host.clear();
    host.copy(bigLoader, 0);
    host.post(0, 1920);
    host.mem.write8(KTx::BoardStart, 1);
    m.sleep(10);
    EXPECT_EQ(KTx::Loading, board.phase());

    // Junk, and the scanner's start bytes before the scanner was loaded.
    host.mem.write8(KTx::BoardReset, 1);
    host.clear();
    host.mem.write8(KTx::BoardStart, 1);
    m.sleep(10);
    EXPECT_EQ(KTx::UnknownProgram, board.phase());

    Machine m2;
    KTx& fresh = m2.add<KTx>(0xC0000);
    Host host2(m2, fresh);
    host2.startScanner(0xFE);
    m2.sleep(1000);
    EXPECT_EQ(KTx::UnknownProgram, fresh.phase());
    EXPECT_EQ(0, host2.mem.read8(KTx::IntStatusToHost));

    // A scanner started on a memory that was not cleared is noticed.
    Machine m3;
    KTx& dirty = m3.add<KTx>(0xC0000);
    Host host3(m3, dirty);
    ASSERT_TRUE(host3.download());
    host3.startScanner(0xFC);
    host3.mem.write8(0x100, 0x5A);
    m3.sleep(100);
    EXPECT_EQ(KTx::ScannerStarting, dirty.phase());
    EXPECT_FALSE(dirty.sharedMemoryClearedAtStart());
}

TEST(AB1784KTxBoard, LoaderAnswersAndFaults) {
    struct Case {
        const char* name;
        int forcedBlock;
        std::uint8_t forcedResult;
        std::uint32_t ramSize;
        std::uint16_t secondLength;
        std::uint8_t expected;
    } cases[] = {
        {"accepted", -1, 0, 0x8000, 580, 0},
        {"forced 1", 1, 1, 0x8000, 580, 1},
        {"forced 2", 1, 2, 0x8000, 580, 2},
        {"forced 7", 1, 7, 0x8000, 580, 7},
        {"block too large", -1, 0, 0x8000, 1921, 1},
        {"RAM full", -1, 0, 2000, 580, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        KTx& board = m.add<KTx>(0xC0000);
        Host host(m, board);
        board.setProgramRamSize(c.ramSize);
        if (c.forcedBlock >= 0)
            board.setDownloadResult(static_cast<unsigned>(c.forcedBlock), c.forcedResult);
        host.runClearRam();
        host.mem.write8(KTx::BoardReset, 1);
        host.copy(host.loadpcl, 0);
        host.post(0, 1920);
        host.mem.write8(KTx::BoardStart, 1);
        ASSERT_TRUE(host.waitDone(5));
        EXPECT_EQ(0, host.mem.read8(KTx::DownloadResult));
        host.post(1920, 580);
        host.mem.write16(KTx::DownloadLength, c.secondLength);
        ASSERT_TRUE(host.waitDone(5));
        EXPECT_EQ(c.expected, host.mem.read8(KTx::DownloadResult));
        EXPECT_EQ(c.expected == 0 ? 2500u : 1920u, board.programRam().size());
        EXPECT_EQ(c.secondLength, board.blocks().back().length);
    }

    // A loader that hangs on its second block never sets download_done.
    Machine m;
    KTx& board = m.add<KTx>(0xC0000);
    Host host(m, board);
    board.setLoaderSilentFrom(1);
    EXPECT_FALSE(host.download());
    EXPECT_EQ(2u, board.blocks().size());
    EXPECT_FALSE(board.blocks().back().answered);
    EXPECT_EQ(0, host.mem.read8(KTx::DownloadDone));
}

TEST(AB1784KTxBoard, CommandExchange) {
    Machine m;
    KTx& board = m.add<KTx>(0xC0000);
    Host host(m, board);
    host.boot();
    board.setCommandTimes(200, 300, 100);

    host.command(1, 0x41, Bytes(1, 2));
    m.sleep(100);
    ASSERT_EQ(1u, board.commands().size());
    const KTx::Command& c = board.commands()[0];
    EXPECT_EQ(1, c.code);
    EXPECT_EQ(0x41, c.transaction);
    EXPECT_EQ(1, c.length);
    EXPECT_EQ(Bytes(1, 2), c.parameters);
    EXPECT_EQ(1, host.mem.read8(KTx::IntStatusFromHost));   // taken after 200 ms
    m.sleep(200);
    EXPECT_EQ(0, host.mem.read8(KTx::IntStatusFromHost));
    EXPECT_EQ(1, host.mem.read8(KTx::IntStatusToHost));     // still the start-up's 1
    m.sleep(300);
    EXPECT_EQ(2, host.mem.read8(KTx::IntStatusToHost));
    EXPECT_EQ(1, host.mem.read8(KTx::Confirmation));
    EXPECT_EQ(0x41, host.mem.read8(KTx::Confirmation + 1));
    EXPECT_EQ(0, host.mem.read8(KTx::Confirmation + 2));
    EXPECT_TRUE(board.hostInterruptPending());
    EXPECT_FALSE(board.lastConfirmationAcknowledged());

    host.acknowledge();
    EXPECT_EQ(0x41, host.mem.read8(KTx::Confirmation + 1)) << "the Z80 has not run yet";
    m.sleep(0);
    EXPECT_EQ(2, host.mem.read8(KTx::IntStatusFromHost));
    EXPECT_TRUE(board.lastConfirmationAcknowledged());
    // Taken back: what the confirmation said is gone.
    EXPECT_EQ(0, host.mem.read8(KTx::Confirmation + 1));
    EXPECT_EQ(0, host.mem.read8(KTx::Confirmation + 2));
    m.sleep(100);
    EXPECT_EQ(0, host.mem.read8(KTx::IntStatusFromHost));
    EXPECT_FALSE(board.hostInterruptPending());

    // Without board_interrupt the Z80 never looks at the command.
    host.command(3, 0x42, Bytes(), false);
    m.sleep(1000);
    EXPECT_EQ(1u, board.commands().size());
    EXPECT_EQ(1, host.mem.read8(KTx::IntStatusFromHost));
}

TEST(AB1784KTxBoard, CommandFaults) {
    KTx::CommandFault mismatch, silent, stuck;
    mismatch.transactionDelta = -1;
    silent.neverConfirms = true;
    stuck.neverClearsFlag = true;

    Machine m;
    KTx& board = m.add<KTx>(0xC0000);
    Host host(m, board);
    host.boot();
    board.setCommandFault(0, mismatch).setCommandFault(1, silent).setCommandFault(2, stuck);
    Region& mem = host.mem;

    host.command(3, 8, Bytes());
    m.sleep(100);
    EXPECT_EQ(7, mem.read8(KTx::Confirmation + 1));
    EXPECT_EQ(8, board.commands()[0].transaction);
    host.acknowledge();
    m.sleep(100);

    host.command(3, 9, Bytes());
    m.sleep(5000);
    EXPECT_EQ(0, mem.read8(KTx::IntStatusFromHost));    // taken ...
    EXPECT_EQ(0, mem.read8(KTx::IntStatusToHost));      // ... never confirmed
    EXPECT_FALSE(board.commands()[1].confirmed);

    host.command(3, 10, Bytes());
    m.sleep(100);
    EXPECT_EQ(2, mem.read8(KTx::IntStatusToHost));      // confirmed ...
    m.sleep(5000);
    EXPECT_EQ(1, mem.read8(KTx::IntStatusFromHost));    // ... and never cleared
    EXPECT_EQ(3u, board.commands().size());
}

TEST(AB1784KTxBoard, KeepsTheImageTables) {
    Machine m;
    KTx& board = m.add<KTx>(0xC0000);
    Host host(m, board);
    board.setInputs(3, 0xA5);                     // before the scanner runs: kept
    host.boot();
    Region& mem = host.mem;
    EXPECT_EQ(0x0004, mem.read16(KTx::ScannerStatus));
    EXPECT_EQ(0x03, mem.read8(0x083));
    EXPECT_EQ(0x20, mem.read8(0x084));
    EXPECT_EQ(0xA5, mem.read8(0x403));
    EXPECT_EQ(0xA5, board.inputImage(3));

    board.setInput(3, 1, true).setScannerRunning(false).setStatusEntry(1, 0x01, 0x20, 0x07);
    EXPECT_EQ(0xA7, mem.read8(0x403));            // written at once
    EXPECT_EQ(0x0000, mem.read16(KTx::ScannerStatus));
    EXPECT_EQ(0x01, mem.read8(0x083));
    EXPECT_EQ(0x07, mem.read8(0x085));
    board.setEntryGood(1, true);
    EXPECT_EQ(0x03, mem.read8(0x083));

    mem.write8(0x604, 0xF0);
    EXPECT_EQ(0xF0, board.outputImage(4));
    EXPECT_EQ(0x00, board.outputs(4));
    m.sleep(0);
    EXPECT_EQ(0xF0, board.outputs(4));

    mem.write8(0x403, 0x00);                      // the PC does not own the inputs
    m.sleep(0);
    EXPECT_EQ(0xA7, mem.read8(0x403));

    // Reset stops the scan; the racks keep what they had.
    mem.write8(KTx::BoardReset, 1);
    m.sleep(0);
    EXPECT_EQ(KTx::Held, board.phase());
    EXPECT_EQ(KTx::ScannerRunning, board.controlWrites().back().before);
    mem.write8(0x604, 0x0F);
    board.setInputs(3, 0x11);
    m.sleep(100);
    EXPECT_EQ(0xF0, board.outputs(4));
    EXPECT_EQ(0xA7, mem.read8(0x403));
}
