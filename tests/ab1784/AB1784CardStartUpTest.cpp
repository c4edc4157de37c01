// AB1784Card construction against the board model: parameter checks, the
// protocol download, the start-up handshake and the two start-up commands,
// every failure on the way, and destruction.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "KTxScene.h"

using namespace KTxTest;
using Tavex::AB1784Card;
using Tavex::Sim::Region;

namespace {

// Builds a card on the scene's files; the card is destroyed at once.
void construct(Scene& s, std::uint32_t address = 0xC0000, unsigned speed = 0xFE) {
    AB1784Card card(address, s.path().c_str(), speed);
}

std::function<void()> constructing(Scene& s, std::uint32_t address = 0xC0000,
                                   unsigned speed = 0xFE) {
    return [&s, address, speed] { construct(s, address, speed); };
}

// The window as the board powered up: the RAM pattern, clear registers.
bool untouched(const Region& r) {
    for (std::uint32_t i = 0; i < KTx::SharedSize; ++i)
        if (r.read8(i) != Region::powerUpByte(i))
            return false;
    for (std::uint32_t i = KTx::SharedSize; i < KTx::WindowSize; ++i)
        if (r.read8(i) != 0)
            return false;
    return true;
}

// A file of size bytes none of which is where the card could have put it:
// each byte differs from 0, from the power-up pattern and from avoid.
Bytes unmistakable(std::size_t size, const Bytes& avoid) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        std::uint8_t v = static_cast<std::uint8_t>(0x80 | (i & 0x3F));
        while (v == Region::powerUpByte(static_cast<std::uint32_t>(i)) ||
               (i < avoid.size() && v == avoid[i]))
            ++v;
        bytes[i] = v;
    }
    return bytes;
}

bool holdsNothingOf(const Region& r, const Bytes& file) {
    for (std::uint32_t i = 0; i < KTx::SharedSize && i < file.size(); ++i)
        if (r.read8(i) == file[i])
            return false;
    return true;
}

// The card's window is gone and the board was not reset on the way out:
// the last reset the card wrote was taken before the failure.
void expectCleanFailure(Scene& s) {
    EXPECT_EQ(0u, s.machine.liveMappings());
    EXPECT_FALSE(s.board.resetLatched());
}

}  // namespace

TEST(AB1784CardStartUp, DownloadsStartsAndCommandsTheScanner) {
    Scene s;
    {
        AB1784Card card(0xC0000, s.path().c_str(), 0xFE);
        EXPECT_STREQ("AB1784KTx", card.type());
        EXPECT_EQ(0xC0000u, card.baseMemoryAddress());
        EXPECT_EQ(0xFEu, card.linkSpeed());
        EXPECT_EQ(s.path(), card.firmwarePath());
        EXPECT_EQ(1u, s.machine.liveMappings());
        EXPECT_TRUE(s.machine.mappedAt(0xC0000));

        EXPECT_EQ(KTx::ScannerRunning, s.board.phase());
        EXPECT_TRUE(s.board.ramCleared());
        EXPECT_EQ(s.scanner, s.board.programRam());
        EXPECT_EQ(0xFE, s.board.linkSpeed());
        EXPECT_TRUE(s.board.sharedMemoryClearedAtStart());

        // Every control register write, in the phase the board was in.
        struct Expected {
            KTx::Latch latch;
            KTx::Phase before, after;
        } expected[] = {
            {KTx::BoardResetLatch, KTx::Held, KTx::Held},
            {KTx::BoardStartLatch, KTx::Held, KTx::ClearingRam},
            {KTx::BoardResetLatch, KTx::ClearingRam, KTx::Held},
            {KTx::BoardStartLatch, KTx::Held, KTx::Loading},
            {KTx::BoardResetLatch, KTx::Loading, KTx::Held},
            {KTx::BoardStartLatch, KTx::Held, KTx::ScannerStarting},
            {KTx::BoardInterruptLatch, KTx::ScannerRunning, KTx::ScannerRunning},
            {KTx::HostInterruptClearLatch, KTx::ScannerRunning, KTx::ScannerRunning},
            {KTx::BoardInterruptLatch, KTx::ScannerRunning, KTx::ScannerRunning},
            {KTx::BoardInterruptLatch, KTx::ScannerRunning, KTx::ScannerRunning},
            {KTx::HostInterruptClearLatch, KTx::ScannerRunning, KTx::ScannerRunning},
            {KTx::BoardInterruptLatch, KTx::ScannerRunning, KTx::ScannerRunning},
        };
        const std::vector<KTx::ControlWrite>& writes = s.board.controlWrites();
        ASSERT_EQ(sizeof expected / sizeof expected[0], writes.size());
        for (std::size_t i = 0; i < writes.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(expected[i].latch, writes[i].latch);
            EXPECT_EQ(1, writes[i].value);
            EXPECT_EQ(expected[i].before, writes[i].before);
            EXPECT_EQ(expected[i].after, writes[i].after);
        }
        EXPECT_EQ(0u, s.board.strayInterrupts());

        // Command 3 without parameters, then command 1 with the byte 2,
        // numbered consecutively, each confirmed and handed back.
        const std::vector<KTx::Command>& commands = s.board.commands();
        ASSERT_EQ(2u, commands.size());
        EXPECT_EQ(3, commands[0].code);
        EXPECT_EQ(0, commands[0].length);
        EXPECT_EQ(1, commands[1].code);
        EXPECT_EQ(1, commands[1].length);
        EXPECT_EQ(Bytes(1, 2), commands[1].parameters);
        EXPECT_EQ(static_cast<std::uint8_t>(commands[0].transaction + 1), commands[1].transaction);
        for (const KTx::Command& c : commands) {
            EXPECT_TRUE(c.acknowledged);
            EXPECT_TRUE(c.confirmationCleared);
            EXPECT_TRUE(c.statusCleared);
            EXPECT_TRUE(c.hostInterruptCleared);
        }
        EXPECT_EQ(0, s.board.memory().read8(KTx::IntStatusFromHost));

        // The 2 s pause for the RAM clear, 10 ms polls while the blocks go
        // down, 100 ms polls from the start-up on (500 ms start-up, then a
        // confirmation and an acknowledgement per command).
        std::vector<unsigned long> sleeps(1, 2000);
        sleeps.insert(sleeps.end(), 2, 10);
        sleeps.insert(sleeps.end(), 5 + 2 + 2, 100);
        EXPECT_EQ(sleeps, s.machine.sleeps());
        EXPECT_GE(s.machine.now(), 2000u);
        EXPECT_EQ(2920u, s.machine.now());
    }
    // Destruction resets the board, then releases the window; nothing else.
    EXPECT_EQ(0u, s.machine.liveMappings());
    EXPECT_TRUE(s.board.resetLatched());
    const std::size_t writes = s.board.controlWrites().size();
    s.machine.advance(0);
    ASSERT_EQ(writes + 1, s.board.controlWrites().size());
    EXPECT_EQ(KTx::BoardResetLatch, s.board.controlWrites().back().latch);
    EXPECT_EQ(KTx::ScannerRunning, s.board.controlWrites().back().before);
    EXPECT_EQ(KTx::Held, s.board.phase());
    EXPECT_EQ(2u, s.board.commands().size());
}

TEST(AB1784CardStartUp, DestructionWritesOnlyTheReset) {
    Scene s;
    std::unique_ptr<AB1784Card> card(new AB1784Card(0xC0000, s.path().c_str(), 0xFD));
    Region& mem = s.board.memory();
    s.board.setInputs(9, 0x3C);
    std::vector<std::uint8_t> before(mem.data(), mem.data() + KTx::WindowSize);
    card.reset();
    std::vector<std::uint8_t> after(mem.data(), mem.data() + KTx::WindowSize);
    for (std::uint32_t i = 0; i < KTx::WindowSize; ++i)
        EXPECT_EQ(i == KTx::BoardReset ? 1 : before[i], after[i]) << std::hex << i;
    EXPECT_EQ(0u, s.machine.liveMappings());
    EXPECT_EQ(s.machine.mapRequests(), s.machine.unmapRequests());
}

TEST(AB1784CardStartUp, BaseAddressAndLinkSpeed) {
    // Accepted: the ends of the range and one inside, with every speed code.
    const std::uint32_t good[] = {0xC0000, 0xD8000, 0xEF000};
    const unsigned speeds[] = {0xFC, 0xFD, 0xFE};
    for (std::uint32_t address : good) {
        for (unsigned speed : speeds) {
            SCOPED_TRACE(::testing::Message() << std::hex << address << " " << speed);
            Scene s(address);
            {
                AB1784Card card(address, s.path().c_str(), speed);
                EXPECT_EQ(address, card.baseMemoryAddress());
                EXPECT_EQ(speed, card.linkSpeed());
                EXPECT_TRUE(s.machine.mappedAt(address));
                EXPECT_EQ(KTx::ScannerRunning, s.board.phase());
                EXPECT_EQ(speed, s.board.linkSpeed());
            }
            EXPECT_EQ(0u, s.machine.liveMappings());
        }
    }

    // Refused after the window was mapped, before a byte of it was written.
    // The address is checked first.
    struct Case {
        std::uint32_t address;
        unsigned speed;
        const char* text;
    } bad[] = {
        {0xBF000, 0xFE, "AB1784KTx: invalid base memory address specified."},
        {0xF0000, 0xFE, "AB1784KTx: invalid base memory address specified."},
        {0xC0800, 0xFE, "AB1784KTx: invalid base memory address specified."},
        {0xC0001, 0xFE, "AB1784KTx: invalid base memory address specified."},
        {0x00000, 0xFE, "AB1784KTx: invalid base memory address specified."},
        {0xBF000, 0xFF, "AB1784KTx: invalid base memory address specified."},
        {0xC0000, 0xFB, "AB1784KTx: invalid link speed specified."},
        {0xC0000, 0xFF, "AB1784KTx: invalid link speed specified."},
        {0xC0000, 0x00, "AB1784KTx: invalid link speed specified."},
        {0xC0000, 0x1FE, "AB1784KTx: invalid link speed specified."},
        {0xEF000, 0xFFFFFFFE, "AB1784KTx: invalid link speed specified."},
    };
    for (const Case& c : bad) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.address << " " << c.speed);
        Scene s(c.address);
        EXPECT_TRUE(throwsExactly<std::logic_error>(constructing(s, c.address, c.speed), c.text));
        EXPECT_EQ(1u, s.machine.mapRequests());
        EXPECT_EQ(1u, s.machine.unmapRequests());
        EXPECT_EQ(0u, s.machine.liveMappings());
        EXPECT_TRUE(untouched(s.board.memory()));
    }
}

TEST(AB1784CardStartUp, ScannerGoesDownInBlocksOf1920Bytes) {
    struct Case {
        std::size_t size;
        std::vector<std::uint16_t> blocks;
    } cases[] = {
        {1920, {1920}},
        {1921, {1920, 1}},
        {3840, {1920, 1920}},
        {2500, {1920, 580}},
        {5761, {1920, 1920, 1920, 1}},
        {1000, {1000}},
        {1, {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        Scene s(0xC0000, c.size);
        construct(s);
        const std::vector<KTx::Block>& blocks = s.board.blocks();
        ASSERT_EQ(c.blocks.size(), blocks.size());
        std::size_t offset = 0;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_EQ(c.blocks[i], blocks[i].length) << i;
            EXPECT_TRUE(std::equal(blocks[i].data.begin(), blocks[i].data.end(),
                                   s.scanner.begin() + static_cast<std::ptrdiff_t>(offset)))
                << i;
            offset += blocks[i].data.size();
        }
        EXPECT_EQ(s.scanner, s.board.programRam());
        // board_start: after clrram.bin, after the first block, at the start-up.
        EXPECT_EQ(3u, s.board.boardStartCount());
        EXPECT_EQ(KTx::ScannerRunning, s.board.phase());
    }
}

TEST(AB1784CardStartUp, FirmwareFilesAreNamedPathPlusName) {
    struct Case {
        const char* name;
        std::function<void(Scene&)> arrange;
        std::function<std::string(const Scene&)> text;
    } cases[] = {
        {"clrram.bin missing", [](Scene& s) { s.dir.remove("clrram.bin"); },
         [](const Scene& s) { return "FirmwareFileBuffer: Can not open the file " + s.dir.file("clrram.bin") + "."; }},
        {"loadpcl.bin missing", [](Scene& s) { s.dir.remove("loadpcl.bin"); },
         [](const Scene& s) { return "FirmwareFileBuffer: Can not open the file " + s.dir.file("loadpcl.bin") + "."; }},
        {"scanner.bin missing", [](Scene& s) { s.dir.remove("scanner.bin"); },
         [](const Scene& s) { return "FirmwareFileBuffer: Can not open the file " + s.dir.file("scanner.bin") + "."; }},
        {"scanner.bin empty", [](Scene& s) { s.dir.write("scanner.bin", Bytes()); },
         [](const Scene& s) { return "FirmwareFileBuffer: error occured while reading file " + s.dir.file("scanner.bin") + "."; }},
        {"clrram.bin empty", [](Scene& s) { s.dir.write("clrram.bin", Bytes()); },
         [](const Scene& s) { return "FirmwareFileBuffer: error occured while reading file " + s.dir.file("clrram.bin") + "."; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        c.arrange(s);
        EXPECT_TRUE(throwsExactly<std::runtime_error>(constructing(s), c.text(s)));
        EXPECT_EQ(0u, s.machine.liveMappings());
    }

    // Without a trailing separator the name runs on into the file name.
    Scene s;
    const std::string bare = s.dir.path().string();
    EXPECT_TRUE(throwsExactly<std::runtime_error>(
        [&] { AB1784Card card(0xC0000, bare.c_str(), 0xFE); },
        "FirmwareFileBuffer: Can not open the file " + bare + "clrram.bin."));
    EXPECT_EQ(0u, s.machine.liveMappings());
}

TEST(AB1784CardStartUp, EmptyPathReadsTheCurrentDirectory) {
    Scene s;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(s.dir.path());
    struct Restore {
        std::filesystem::path to;
        ~Restore() { std::filesystem::current_path(to); }
    } restore = {previous};
    {
        AB1784Card card(0xC0000, "", 0xFE);
        EXPECT_STREQ("", card.firmwarePath());
        EXPECT_EQ(KTx::ScannerRunning, s.board.phase());
        EXPECT_EQ(s.scanner, s.board.programRam());
    }
    EXPECT_EQ(0u, s.machine.liveMappings());
}

TEST(AB1784CardStartUp, KeepsItsOwnCopyOfThePath) {
    Scene s;
    const std::string given = s.path();
    std::vector<char> path(given.begin(), given.end());
    path.push_back('\0');
    AB1784Card card(0xC0000, &path[0], 0xFE);
    std::fill(path.begin(), path.end() - 1, 'x');
    EXPECT_EQ(given, card.firmwarePath());
    EXPECT_NE(&path[0], card.firmwarePath());
}

TEST(AB1784CardStartUp, NullPathIsRefusedBeforeMapping) {
    Scene s;
    EXPECT_TRUE(throwsExactly<std::logic_error>(
        [] { AB1784Card card(0xC0000, 0, 0xFE); }, "AB1784KTx: firmware path not specified."));
    EXPECT_EQ(0u, s.machine.liveMappings());
    EXPECT_TRUE(untouched(s.board.memory()));
}

// Under the 9x family a refused mapping comes back without an address: the
// card fails with the mapping error and never writes through a null window.
TEST(AB1784CardStartUp, RefusedMappingOnWindows9xTouchesNothing) {
    Scene s;
    s.machine.setPlatformId(Tavex::Sim::Machine::PlatformWin32Windows);
    s.machine.faults().dpmiRefuses = true;
    EXPECT_TRUE(throwsExactly<std::runtime_error>(
        constructing(s), "OS Interface: can not get pointer to physical memory block."));
    EXPECT_EQ(0u, s.machine.dpmiMappings());
    EXPECT_TRUE(untouched(s.board.memory()));
}

TEST(AB1784CardStartUp, ProgramsMustFitTheSharedMemory) {
    // 2048 bytes fit.
    for (const char* name : {"clrram.bin", "loadpcl.bin"}) {
        SCOPED_TRACE(name);
        Scene s;
        (std::string(name) == "clrram.bin" ? s.clrram : s.loadpcl) = pattern(2048, 0x55);
        s.writeFiles();
        construct(s);
        EXPECT_EQ(KTx::ScannerRunning, s.board.phase());
    }

    // One more byte is refused before any of it reaches the board.
    {
        Scene s;
        s.clrram = unmistakable(2049, Bytes());
        s.writeFiles();
        EXPECT_TRUE(throwsExactly<std::runtime_error>(
            constructing(s), "AB1784KTx: protocol file " + s.dir.file("clrram.bin") +
                                 " does not fit the shared memory."));
        EXPECT_TRUE(holdsNothingOf(s.board.memory(), s.clrram));
        EXPECT_EQ(0u, s.board.boardStartCount());
        EXPECT_EQ(0u, s.machine.liveMappings());
    }
    {
        Scene s;
        s.loadpcl = unmistakable(2049, s.clrram);
        s.writeFiles();
        EXPECT_TRUE(throwsExactly<std::runtime_error>(
            constructing(s), "AB1784KTx: protocol file " + s.dir.file("loadpcl.bin") +
                                 " does not fit the shared memory."));
        EXPECT_TRUE(holdsNothingOf(s.board.memory(), s.loadpcl));
        EXPECT_TRUE(s.board.blocks().empty());
        EXPECT_EQ(1u, s.board.boardStartCount());
        EXPECT_EQ(0u, s.machine.liveMappings());
    }
}

TEST(AB1784CardStartUp, DownloadResultCodes) {
    struct Case {
        unsigned block;
        std::uint8_t result;
        const char* text;
    } cases[] = {
        {0, 1, "AB1784KTx: protocol Download error: Block too large."},
        {1, 1, "AB1784KTx: protocol Download error: Block too large."},
        {0, 2, "AB1784KTx: protocol Download error: Z80 RAM too full for the next block."},
        {1, 2, "AB1784KTx: protocol Download error: Z80 RAM too full for the next block."},
        {0, 3, "AB1784KTx: protocol Download error: Unknown."},
        {1, 0x80, "AB1784KTx: protocol Download error: Unknown."},
        {1, 0xFF, "AB1784KTx: protocol Download error: Unknown."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "block " << c.block << " result " << int(c.result));
        Scene s;
        s.board.setDownloadResult(c.block, c.result);
        EXPECT_TRUE(throwsExactly<std::runtime_error>(constructing(s), c.text));
        EXPECT_EQ(c.block + 1, s.board.blocks().size());
        EXPECT_EQ(KTx::Loading, s.board.phase());
        EXPECT_EQ(2u, s.board.boardStartCount());
        expectCleanFailure(s);
    }

    // A loader that runs out of RAM says so itself.
    Scene s;
    s.board.setProgramRamSize(2000);
    EXPECT_TRUE(throwsExactly<std::runtime_error>(
        constructing(s), "AB1784KTx: protocol Download error: Z80 RAM too full for the next block."));
    expectCleanFailure(s);
}

TEST(AB1784CardStartUp, LoaderThatNeverAnswers) {
    for (unsigned block : {0u, 1u}) {
        SCOPED_TRACE(block);
        Scene s;
        s.board.setLoaderSilentFrom(block);
        EXPECT_TRUE(throwsExactly<std::runtime_error>(
            constructing(s), "AB1784KTx: protocol Download error: board did not answer."));
        ASSERT_EQ(block + 1, s.board.blocks().size());
        const unsigned long waited = s.machine.now() - s.board.blocks().back().time;
        EXPECT_GE(waited, 10000u);
        EXPECT_LE(waited, 10010u);
        expectCleanFailure(s);
    }

    // A slow loader is waited for.
    Scene s;
    s.board.setBlockTime(9000);
    construct(s);
    EXPECT_EQ(KTx::ScannerRunning, s.board.phase());
}

TEST(AB1784CardStartUp, InitialisationFailures) {
    {
        Scene s;
        s.board.setInitNeverFinishes(true);
        EXPECT_TRUE(throwsExactly<std::runtime_error>(constructing(s),
                                                      "AB1784KTx: initialization timed out."));
        EXPECT_EQ(51u, sleepsOf(s.machine, 100));
        EXPECT_EQ(5100u, s.machine.now() - s.board.controlWrites().back().time);
        EXPECT_EQ(KTx::ScannerStarting, s.board.phase());
        EXPECT_TRUE(s.board.commands().empty());
        expectCleanFailure(s);
    }
    for (std::uint8_t code : {1, 0x80, 0xFF}) {
        SCOPED_TRACE(int(code));
        Scene s;
        s.board.setInitError(code);
        EXPECT_TRUE(throwsExactly<std::runtime_error>(constructing(s),
                                                      "AB1784KTx: initialization error."));
        EXPECT_TRUE(s.board.commands().empty());
        expectCleanFailure(s);
    }

    // The start-up may take 5 s; a millisecond more is too long.
    {
        Scene s;
        s.board.setStartupTime(5000);
        construct(s);
        EXPECT_EQ(KTx::ScannerRunning, s.board.phase());
        EXPECT_EQ(2u, s.board.commands().size());
    }
    {
        Scene s;
        s.board.setStartupTime(5001);
        EXPECT_TRUE(throwsExactly<std::runtime_error>(constructing(s),
                                                      "AB1784KTx: initialization timed out."));
        expectCleanFailure(s);
    }
}

TEST(AB1784CardStartUp, ConfirmationFailures) {
    struct Case {
        const char* name;
        unsigned sequence;
        KTx::CommandFault fault;
        const char* text;
        bool acknowledged;
        unsigned long waited;   // from taking the command to the failure
    };
    KTx::CommandFault silent, early, late, stuck, deaf;
    silent.neverConfirms = true;
    early.transactionDelta = -1;
    late.transactionDelta = 1;
    stuck.neverClearsFlag = true;
    deaf.neverTakesAcknowledgement = true;
    const Case cases[] = {
        {"no confirmation", 0, silent, "AB1784KTx confirmation timed out.", false, 6100},
        {"no confirmation", 1, silent, "AB1784KTx confirmation timed out.", false, 6100},
        {"number - 1", 0, early, "AB1784KTx transaction number mismatch", false, 100},
        {"number + 1", 1, late, "AB1784KTx transaction number mismatch", false, 100},
        {"command not taken", 0, stuck,
         "AB1784KTx did not clear int_status_from_host in 2 seconds.", false, 2200},
        {"acknowledgement not taken", 1, deaf,
         "AB1784KTx did not clear int_status_from_host in 2 seconds.", true, 2200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.name << ", command " << c.sequence);
        Scene s;
        s.board.setCommandFault(c.sequence, c.fault);
        EXPECT_TRUE(throwsExactly<std::runtime_error>(constructing(s), c.text));
        ASSERT_EQ(c.sequence + 1, s.board.commands().size());
        const KTx::Command& command = s.board.commands().back();
        EXPECT_EQ(c.acknowledged, command.acknowledged);
        EXPECT_EQ(c.waited, s.machine.now() - command.time);
        if (!c.acknowledged && command.confirmed) {
            // Left as the board wrote it.
            EXPECT_EQ(1, s.board.memory().read8(KTx::Confirmation));
            EXPECT_EQ(2, s.board.memory().read8(KTx::IntStatusToHost));
        }
        expectCleanFailure(s);
    }
}

TEST(AB1784CardStartUp, ResponseCodes) {
    struct Case {
        std::uint8_t code;
        const char* text;
    } cases[] = {
        {0x0F, "AB1784KTx command response: scanner must be in Program mode."},
        {0x11, "AB1784KTx command response: a previous Set Scan List is already in progress."},
        {0x15, "AB1784KTx command response: command length was not 1."},
        {0x16, "AB1784KTx command response: parameter was not Program, Test or Run."},
        {0x17, "AB1784KTx command response: can't change mode while setting a new scan list."},
        {0x18, "AB1784KTx command response: can't change mode while autoconfiguring."},
        {0x19, "AB1784KTx command response: an Autoconfigure command is already in progress."},
        {0x33, "AB1784KTx command response: adapter size overlap each other."},
        {0x82, "AB1784KTx command response: the maximum of 32 unique devices on the RIO link was exceeded."},
        {0x83, "AB1784KTx returned unknown response to command."},
        {0x01, "AB1784KTx returned unknown response to command."},
        {0x10, "AB1784KTx returned unknown response to command."},
        {0xFF, "AB1784KTx returned unknown response to command."},
    };
    for (const Case& c : cases) {
        for (unsigned sequence : {0u, 1u}) {
            SCOPED_TRACE(::testing::Message() << std::hex << int(c.code) << ", command " << sequence);
            Scene s;
            KTx::CommandFault fault;
            fault.response = c.code;
            s.board.setCommandFault(sequence, fault);
            EXPECT_TRUE(throwsExactly<std::runtime_error>(constructing(s), c.text));
            ASSERT_EQ(sequence + 1, s.board.commands().size());
            // Handed back before the error left.
            EXPECT_TRUE(s.board.lastConfirmationAcknowledged());
            EXPECT_EQ(0, s.board.memory().read8(KTx::Confirmation));
            EXPECT_EQ(0, s.board.memory().read8(KTx::IntStatusToHost));
            EXPECT_EQ(0, s.board.memory().read8(KTx::IntStatusFromHost));
            expectCleanFailure(s);
        }
    }

    // The answer to a command code, whichever command it comes with.
    Scene s;
    s.board.setResponseForCode(1, 0x16);
    EXPECT_TRUE(throwsExactly<std::runtime_error>(
        constructing(s), "AB1784KTx command response: parameter was not Program, Test or Run."));
    EXPECT_EQ(2u, s.board.commands().size());
}

TEST(AB1784CardStartUp, WaitsForASlowBoardUpToTheLimits) {
    struct Case {
        unsigned long take, respond, acknowledge;
        const char* text;   // 0: the card comes up
    } cases[] = {
        {0, 6000, 0, 0},
        {2500, 3500, 0, 0},
        {0, 6001, 0, "AB1784KTx confirmation timed out."},
        {3000, 3001, 0, "AB1784KTx confirmation timed out."},
        {0, 0, 2000, 0},
        {0, 0, 2001, "AB1784KTx did not clear int_status_from_host in 2 seconds."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.take << " " << c.respond << " " << c.acknowledge);
        Scene s;
        s.board.setCommandTimes(c.take, c.respond, c.acknowledge);
        if (c.text) {
            EXPECT_TRUE(throwsExactly<std::runtime_error>(constructing(s), c.text));
            EXPECT_EQ(1u, s.board.commands().size());
            expectCleanFailure(s);
        } else {
            construct(s);
            EXPECT_EQ(2u, s.board.commands().size());
            EXPECT_TRUE(s.board.lastConfirmationAcknowledged());
        }
    }
}
