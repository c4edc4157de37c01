// The 5136-PFB-PCI board model, driven by hand from the PC's side: its
// configuration space through the bridge ports, its memory through a mapped
// window, every wait in virtual time.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "support/ExpectThrow.h"
#include "tavex/platform/PhysicalMemory.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/PCIHostBridge.h"
#include "tavex/sim/boards/SST5136PFBBoard.h"

using Tavex::PhysicalMemory;
using Tavex::Sim::PCIHostBridge;
using Tavex::Sim::Region;
using Tavex::Sim::ScopedMachine;

namespace {

typedef Tavex::Sim::SST5136PFBBoard Pfb;
typedef Pfb::Bytes Bytes;

const long never = -1;

Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 13 + (i >> 8));
    return bytes;
}

// A PC with a host bridge and one board at 0:09.0, and the PC's side of
// the board: configuration cycles, the mapped window, polls in virtual time.
struct Scene {
    Scene()
        : bridge(m.add<PCIHostBridge>(PCIHostBridge::Mechanism1)),
          board(m.add<Pfb>(bridge, 0, 9)) {}

    std::uint32_t config(unsigned device, unsigned reg) {
        m.outDword(0xCF8, 0x80000000u | (device << 11) | reg);
        return m.inDword(0xCFC);
    }
    void setConfig(unsigned device, unsigned reg, std::uint32_t value) {
        m.outDword(0xCF8, 0x80000000u | (device << 11) | reg);
        m.outDword(0xCFC, value);
    }
    PhysicalMemory& window() {
        if (!mapped)
            mapped.reset(new PhysicalMemory(config(9, 0x10) & ~0xFu, Pfb::WindowSize, true));
        return *mapped;
    }
    std::uint8_t u8(std::uint32_t offset) {
        return static_cast<std::uint8_t>(window().readChar(offset));
    }
    std::uint16_t u16(std::uint32_t offset) {
        return static_cast<std::uint16_t>(window().readShort(offset));
    }
    void put8(std::uint32_t offset, std::uint8_t value) {
        window().writeChar(offset, static_cast<char>(value));
    }
    void copy(const Bytes& bytes, std::uint32_t offset) {
        window().writeMemoryBlock(&bytes[0], static_cast<unsigned long>(bytes.size()), offset);
    }
    // Sleeps step ms until the byte satisfies the test; the virtual time
    // that took, or never after limit ms.
    long waitFor(std::uint32_t offset, std::function<bool(std::uint8_t)> test, unsigned long step,
                 unsigned long limit) {
        const unsigned long start = m.now();
        while (!test(u8(offset))) {
            if (m.now() - start >= limit)
                return never;
            m.sleep(step);
        }
        return static_cast<long>(m.now() - start);
    }
    long waitFor(std::uint32_t offset, std::uint8_t value, unsigned long step,
                 unsigned long limit) {
        return waitFor(offset, [value](std::uint8_t b) { return b == value; }, step, limit);
    }
    // The loader handshake; the time to the module's idle state.
    long download(const Bytes& module) {
        copy(module, Pfb::ModuleOffset);
        put8(Pfb::HandshakeByte, 1);
        if (waitFor(Pfb::HandshakeByte, 0x5A, 1, 5000) == never)
            return never;
        put8(Pfb::HandshakeByte, 0);
        return waitFor(Pfb::StateByte, 0xE0, 20, 30000);
    }
    // Writes a command and polls its answer every 20 ms; the state answered.
    std::uint8_t command(std::uint8_t code) {
        put8(Pfb::StateByte, code);
        waitFor(Pfb::StateByte, [](std::uint8_t s) { return s == 0xE0 || s == 0xE1 || s == 0xEF; },
                20, 30000);
        return u8(Pfb::StateByte);
    }
    // A running module that has published its host interface.
    void run(bool online = false) {
        board.powerUpRunning(online);
    }
    // Sends a file the way the configuration transfer does; false when a
    // block fails.
    bool transfer(const Bytes& file) {
        const std::uint32_t buffer = u8(Pfb::TransferPageByte) * Pfb::PageSize;
        std::uint8_t number = 0;
        for (std::size_t at = 0; at < file.size(); ++number) {
            const std::size_t length = std::min<std::size_t>(Pfb::PageSize, file.size() - at);
            window().writeMemoryBlock(&file[at], static_cast<unsigned long>(length), buffer);
            put8(Pfb::BlockLengthByte, static_cast<std::uint8_t>(length));
            put8(Pfb::BlockNumberByte, number);
            if (command(0x06) != 0xE0)
                return false;
            at += length;
        }
        return true;
    }

    ScopedMachine m;
    PCIHostBridge& bridge;
    Pfb& board;
    std::unique_ptr<PhysicalMemory> mapped;
};

}  // namespace

TEST(SST5136PFBBoard, ShowsItsFunctionAndWaitsForAModule) {
    Scene s;
    Pfb& other = s.m.add<Pfb>(s.bridge, 0, 10, 0, 0xFE800000u);
    other.setPrefetchable(true);

    EXPECT_EQ(0x1000133Du, s.config(9, 0x00));
    EXPECT_EQ(0x02800001u, s.config(9, 0x08));
    EXPECT_EQ(0xFEA00000u, s.config(9, 0x10));
    EXPECT_EQ(0xFE800008u, s.config(10, 0x10));
    EXPECT_EQ(0x010Au, s.config(9, 0x3C) & 0xFFFF);
    s.setConfig(9, 0x10, 0xFFFFFFFFu);
    EXPECT_EQ(0xFFE00000u, s.config(9, 0x10)) << "2 MiB decoded";
    s.setConfig(9, 0x10, 0xFEA00000u);

    // Nothing but the loader's request differs from the power-up pattern,
    // however long the PC waits.
    s.m.sleep(10000);
    EXPECT_EQ(Pfb::LoaderWaiting, s.board.phase());
    EXPECT_EQ(0xBA, s.u8(Pfb::HandshakeByte));
    unsigned changed = 0;
    for (std::uint32_t i = 0; i < Pfb::HandshakeByte; ++i)
        changed += s.u8(i) != Region::powerUpByte(i);
    EXPECT_EQ(0u, changed);

    const std::uint32_t badAddresses[] = {0, 0xFEA10000u};
    for (std::uint32_t address : badAddresses)
        TAVEX_EXPECT_THROW_TEXT(Pfb(s.bridge, 0, 11, 0, address), std::logic_error,
                                "Sim::SST5136PFBBoard: memory address not a multiple of 2 MiB");
}

TEST(SST5136PFBBoard, LoaderTakesTheModuleAndStartsIt) {
    Scene s;
    // Large enough to cover the host interface: the module overwrites it.
    const Bytes module = pattern(0xA000, 0x31);
    s.board.setExpectedModule(module);
    s.copy(module, Pfb::ModuleOffset);
    s.put8(Pfb::HandshakeByte, 1);
    EXPECT_EQ(50, s.waitFor(Pfb::HandshakeByte, 0x5A, 1, 5000));
    EXPECT_TRUE(s.board.moduleImageStartsWith(module));
    EXPECT_EQ(Pfb::LoaderAnswered, s.board.phase());
    s.m.sleep(1000);
    EXPECT_EQ(Pfb::LoaderAnswered, s.board.phase()) << "starts only when the PC writes 0";

    s.put8(Pfb::HandshakeByte, 0);
    const unsigned long go = s.m.now();
    EXPECT_EQ(1500, s.waitFor(Pfb::StateByte, 0xE0, 20, 30000));
    EXPECT_EQ(go + 1500, s.board.moduleStartedAt());
    EXPECT_EQ(0xAAD0, s.u16(Pfb::CardIdWord));
    EXPECT_EQ(0xBB01, s.u16(Pfb::ModuleIdWord));
    EXPECT_EQ(0x0160, s.u16(Pfb::VersionWord));
    EXPECT_EQ(0x00, s.u8(Pfb::StatusByte));
    EXPECT_EQ(0x06, s.u8(Pfb::BaudRateByte));
    // Pages and slave words wait for command 0x03.
    EXPECT_FALSE(s.board.interfacePublished());
    EXPECT_EQ(module[Pfb::RecordPageByte - Pfb::ModuleOffset], s.u8(Pfb::RecordPageByte));
    EXPECT_EQ(module[Pfb::SlaveWords - Pfb::ModuleOffset], s.u8(Pfb::SlaveWords));
    EXPECT_EQ(0xE0, s.command(0x03));
    EXPECT_EQ(0x05, s.u8(Pfb::RecordPageByte));
    EXPECT_EQ(0x08, s.u8(Pfb::InputPageByte));
    EXPECT_EQ(0x0A, s.u8(Pfb::OutputPageByte));
    EXPECT_EQ(0x04, s.u8(Pfb::TransferPageByte));
    EXPECT_EQ(0x00FF, s.u16(Pfb::SlaveWords + 2 * 126));
}

TEST(SST5136PFBBoard, LoaderAndModuleFaults) {
    struct Case {
        const char* name;
        std::function<void(Pfb&)> fault;
        bool answers;   // 0x5A comes
        Pfb::Phase phase;
    } cases[] = {
        {"any bytes start", [](Pfb&) {}, true, Pfb::ModuleRunning},
        {"the expected module", [](Pfb& b) { b.setExpectedModule(pattern(300, 7)); }, true,
         Pfb::ModuleRunning},
        {"not the expected module", [](Pfb& b) { b.setExpectedModule(pattern(300, 8)); }, true,
         Pfb::Hung},
        {"loader silent", [](Pfb& b) { b.setLoaderSilent(true); }, false, Pfb::LoaderWaiting},
        {"module never starts", [](Pfb& b) { b.setModuleNeverStarts(true); }, true,
         Pfb::ModuleStarting},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        c.fault(s.board);
        const long started = s.download(pattern(300, 7));
        EXPECT_EQ(c.phase, s.board.phase());
        EXPECT_EQ(c.phase == Pfb::ModuleRunning, started != never);
        EXPECT_EQ(c.answers ? 0x00 : 0x01, s.u8(Pfb::HandshakeByte));
    }
}

TEST(SST5136PFBBoard, ModuleAlreadyRunningAtPowerUp) {
    for (bool online : {false, true}) {
        SCOPED_TRACE(online ? "online" : "offline");
        Scene s;
        s.board.addSlave(12, 2, 2).setModuleVersion(0x0154);
        s.run(online);
        EXPECT_NE(0xBA, s.u8(Pfb::HandshakeByte));
        EXPECT_EQ(online ? 0xE1 : 0xE0, s.u8(Pfb::StateByte));
        EXPECT_EQ(0xBB01, s.u16(Pfb::ModuleIdWord));
        EXPECT_EQ(0x0154, s.u16(Pfb::VersionWord));
        EXPECT_EQ(0x05, s.u8(Pfb::RecordPageByte));
        EXPECT_EQ(online ? 0x8000 : 0x0000, s.u16(Pfb::SlaveWords + 2 * 12));
        EXPECT_THROW(s.board.powerUpRunning(), std::logic_error);
        if (online) {
            EXPECT_EQ(0xE0, s.command(0x02));
        }
        EXPECT_EQ(0x0000, s.u16(Pfb::SlaveWords + 2 * 12));
    }
}

TEST(SST5136PFBBoard, AnswersEveryCommandThroughTheStateByte) {
    Pfb::Answer forced;
    forced.status = 0x7E;
    struct Case {
        const char* name;
        std::function<void(Scene&)> before;
        std::uint8_t code;
        std::uint8_t state;
        std::uint8_t status;
        unsigned long elapsed;
    } cases[] = {
        {"online", [](Scene&) {}, 0x01, 0xE1, 0, 60},
        {"offline", [](Scene& s) { s.command(0x01); }, 0x02, 0xE0, 0, 40},
        {"offline when offline", [](Scene&) {}, 0x02, 0xE0, 0, 40},
        {"to flash", [](Scene&) {}, 0x21, 0xE0, 0, 1500},
        {"from flash", [](Scene& s) { s.board.storeInFlash(); }, 0x11, 0xE0, 0, 300},
        {"from an empty flash", [](Scene&) {}, 0x11, 0xEF, 0x04, 300},
        {"apply while online", [](Scene& s) { s.command(0x01); }, 0x10, 0xEF, 0x02, 200},
        {"autoconfiguration start", [](Scene&) {}, 0x04, 0xE0, 0, 40},
        {"autoconfiguration without its start", [](Scene&) {}, 0x09, 0xEF, 0x05, 2000},
        {"autoconfiguration start too old", [](Scene& s) { s.board.setModuleVersion(0x154); },
         0x04, 0xEF, 0x01, 40},
        {"autoconfiguration start at 0x155",
         [](Scene& s) { s.board.setModuleVersion(0x155); }, 0x04, 0xE0, 0, 40},
        {"unknown code", [](Scene&) {}, 0x33, 0xEF, 0x01, 20},
        {"acknowledgement with nothing failed", [](Scene&) {}, 0xFF, 0xEF, 0x01, 20},
        {"forced status", [forced](Scene& s) { s.board.setAnswer(0x03, forced); }, 0x03, 0xEF,
         0x7E, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        s.run();
        c.before(s);
        const unsigned long start = s.m.now();
        EXPECT_EQ(c.state, s.command(c.code));
        EXPECT_EQ(c.elapsed, s.m.now() - start);
        EXPECT_EQ(c.status, s.u8(Pfb::StatusByte));
        const Pfb::Command& taken = s.board.commands().back();
        EXPECT_EQ(c.code, taken.code);
        EXPECT_EQ(c.state, taken.state);
        if (c.state != 0xEF)
            continue;
        // Other writes are ignored until the failure is acknowledged.
        s.put8(Pfb::StateByte, 0x01);
        s.m.sleep(100);
        EXPECT_EQ(1u, s.board.ignoredWrites());
        EXPECT_EQ(c.status, s.u8(Pfb::StatusByte)) << "kept until acknowledged";
        s.put8(Pfb::StateByte, 0xFF);
        EXPECT_EQ(c.status, s.u8(Pfb::StatusByte)) << "the module has not run yet";
        EXPECT_EQ(20, s.waitFor(Pfb::StateByte, 0xE0, 20, 10000));
        EXPECT_EQ(0, s.u8(Pfb::StatusByte)) << "handed back with the acknowledgement";
        EXPECT_TRUE(s.board.commands().back().acknowledged);
        EXPECT_FALSE(s.board.online());
        EXPECT_EQ(c.code, s.board.commands().back().code) << "0xFF is no new command";
    }
}

TEST(SST5136PFBBoard, FrozenBetweenSleepsAndStalledByItsFaults) {
    Scene s;
    s.run();
    s.put8(Pfb::StateByte, 0x10);
    EXPECT_EQ(0x10, s.u8(Pfb::StateByte));
    s.m.sleep(199);
    EXPECT_EQ(0x10, s.u8(Pfb::StateByte)) << "0x10 takes 200 ms";
    s.put8(Pfb::StateByte, 0x21);
    s.m.sleep(1);
    EXPECT_EQ(0xE0, s.u8(Pfb::StateByte)) << "the second write is lost";
    EXPECT_EQ(1u, s.board.writesWhileBusy());
    ASSERT_EQ(1u, s.board.commands().size());
    EXPECT_EQ(0xE0, s.board.commands()[0].stateBefore);
    EXPECT_EQ(200u, s.board.commands()[0].answeredAt - s.board.commands()[0].takenAt);

    Pfb::Answer silent, stuckFailure;
    silent.never = true;
    stuckFailure.status = 0x09;
    stuckFailure.acknowledgementIgnored = true;
    struct Case {
        const char* name;
        std::function<void(Pfb&)> fault;
        std::uint8_t stuckAt;
    } cases[] = {
        {"never answers 0x01", [silent](Pfb& b) { b.setAnswer(0x01, silent); }, 0x01},
        {"silent module", [](Pfb& b) { b.setModuleSilent(true); }, 0x01},
        {"acknowledgement never taken", [stuckFailure](Pfb& b) { b.setAnswerAt(0, stuckFailure); },
         0xEF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene t;
        t.run();
        c.fault(t.board);
        t.put8(Pfb::StateByte, 0x01);
        t.m.sleep(100);
        if (c.stuckAt == 0xEF)
            t.put8(Pfb::StateByte, 0xFF);
        t.m.sleep(60000);
        EXPECT_EQ(c.stuckAt == 0xEF ? 0xFF : 0x01, t.u8(Pfb::StateByte));
        if (c.stuckAt == 0xEF)
            EXPECT_EQ(0x09, t.u8(Pfb::StatusByte)) << "an acknowledgement not taken clears nothing";
    }
}

TEST(SST5136PFBBoard, ReassemblesConfigurationBlocks) {
    struct Case {
        std::size_t fileSize;
        Bytes lengthBytes;
        std::size_t received;   // what the module makes of the length bytes
    } cases[] = {
        {0x4000, {0x00}, 0x4000},
        {0x4001, {0x00, 0x01}, 0x4001},
        {0x40FF, {0x00, 0xFF}, 0x40FF},
        // A last block of 0x100 bytes says 0: the module takes a whole buffer.
        {0x4100, {0x00, 0x00}, 0x8000},
        // ... and of 0x12C bytes says 0x2C: the module takes 0x2C.
        {0x12C, {0x2C}, 0x2C},
        {256 * 0x4000 + 1, {}, 256 * 0x4000 + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileSize);
        Scene s;
        s.run();
        const Bytes file = pattern(c.fileSize, static_cast<std::uint8_t>(c.fileSize));
        ASSERT_TRUE(s.transfer(file));
        EXPECT_EQ(0xE0, s.command(0x10));
        const std::vector<Pfb::Block>& blocks = s.board.blocks();
        ASSERT_EQ((c.fileSize + 0x3FFF) / 0x4000, blocks.size());
        for (std::size_t i = 0; i < c.lengthBytes.size(); ++i)
            EXPECT_EQ(c.lengthBytes[i], blocks[i].lengthByte) << i;
        EXPECT_EQ(static_cast<std::uint8_t>(blocks.size() - 1), blocks.back().number);
        const Bytes received = s.board.receivedConfiguration();
        ASSERT_EQ(c.received, received.size());
        const std::size_t common = std::min(c.received, c.fileSize);
        EXPECT_TRUE(std::equal(received.begin(), received.begin() + common, file.begin()));
        EXPECT_EQ(received, s.board.configuration().bytes);
    }

    // Blocks out of sequence, and a transfer cut by another command.
    Scene s;
    s.run();
    s.put8(Pfb::BlockNumberByte, 1);
    EXPECT_EQ(0xEF, s.command(0x06));
    EXPECT_EQ(Pfb::StatusBlockSequence, s.u8(Pfb::StatusByte));
    s.put8(Pfb::StateByte, 0xFF);
    s.waitFor(Pfb::StateByte, 0xE0, 20, 1000);
    ASSERT_TRUE(s.transfer(pattern(0x4000, 1)));
    EXPECT_EQ(0xE0, s.command(0x03));
    s.put8(Pfb::BlockNumberByte, 1);
    EXPECT_EQ(0xEF, s.command(0x06));
}

TEST(SST5136PFBBoard, FlashAndAutomaticConfiguration) {
    Scene s;
    s.board.addSlave(3, 4, 2).addSlave(7, 1, 1).addSlave(9, 6, 0, false).addSlave(12, 1, 1);
    s.board.setAnswering(12, false);
    s.run();
    EXPECT_EQ(0xE0, s.command(0x21));
    EXPECT_EQ(1u, s.board.flashWrites());
    s.board.setConfigured(7, false);
    EXPECT_EQ(0x00FF, s.u16(Pfb::SlaveWords + 2 * 7));
    EXPECT_EQ(0xE0, s.command(0x11));
    EXPECT_TRUE(s.board.isConfigured(7));
    EXPECT_EQ(0x0001, s.u16(Pfb::SlaveWords + 2 * 7)) << "record 1, after slave 3";
    EXPECT_EQ(s.board.flash().slaves.size(), s.board.configuration().slaves.size());

    // Automatic configuration takes every slave that answers, at the baud
    // rate the PC wrote, and leaves the network offline.
    EXPECT_EQ(0xE0, s.command(0x04));
    s.put8(Pfb::BaudRateByte, 0x0B);
    const unsigned long start = s.m.now();
    EXPECT_EQ(0xE0, s.command(0x09));
    EXPECT_EQ(2000u, s.m.now() - start);
    EXPECT_EQ(0x0B, s.board.networkBaudRate());
    const bool expected[] = {true, true, true, false};
    const unsigned addresses[] = {3, 7, 9, 12};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(expected[i], s.board.isConfigured(addresses[i])) << addresses[i];
    EXPECT_EQ(0x0002, s.u16(Pfb::SlaveWords + 2 * 9));
}

TEST(SST5136PFBBoard, SlavesExchangeDataWhileOnline) {
    Scene s;
    s.board.addSlave(5, 3, 2).addSlave(2, 1, 4).addSlave(9, 1, 1, false);
    s.run();
    const std::uint32_t records = 0x05 * 0x4000, inputs = 0x08 * 0x4000, outputs = 0x0A * 0x4000;
    EXPECT_EQ(0x0000, s.u16(Pfb::SlaveWords + 2 * 2));
    EXPECT_EQ(0x0001, s.u16(Pfb::SlaveWords + 2 * 5));
    EXPECT_EQ(0x00FF, s.u16(Pfb::SlaveWords + 2 * 9));
    EXPECT_EQ(5, s.u8(records + 128 + 0));
    EXPECT_EQ(1, s.u16(records + 128 + 8)) << "after slave 2's one input byte";
    EXPECT_EQ(4, s.u16(records + 128 + 10));
    EXPECT_EQ(inputs + 1, s.board.inputDataOffset(5));
    EXPECT_EQ(0, s.u8(inputs + 1));

    // Offline nothing moves.
    s.board.setInputs(5, 0, {0x11, 0x22, 0x33});
    s.put8(outputs + 4, 0xA5);
    s.m.sleep(100);
    EXPECT_EQ(0, s.u8(inputs + 1));
    EXPECT_EQ(0, s.board.output(5, 0));

    const std::uint8_t parameters[][2] = {{0x0E, 0}, {0x10, 1}, {0x11, 0x0C}, {0x28, 10}};
    for (const auto& p : parameters)
        s.put8(0x8000 + p[0], p[1]);
    EXPECT_EQ(0xE1, s.command(0x01));
    const Pfb::OnlineParameters& taken = s.board.commands().back().parameters;
    EXPECT_EQ(0, taken.p0E);
    EXPECT_EQ(1, taken.p10);
    EXPECT_EQ(10, taken.p28);
    EXPECT_EQ(0x0C, s.board.networkBaudRate());
    EXPECT_EQ(0x8001, s.u16(Pfb::SlaveWords + 2 * 5));
    EXPECT_EQ(0x22, s.u8(inputs + 2));
    EXPECT_EQ(0xA5, s.board.output(5, 0));
    s.board.setInput(5, 2, 0x44);
    EXPECT_EQ(0x44, s.u8(inputs + 3)) << "written at once";
    s.put8(outputs + 5, 0x5A);
    s.put8(inputs + 1, 0x00);
    EXPECT_EQ(0x00, s.board.output(5, 1));
    s.m.sleep(0);
    EXPECT_EQ(0x5A, s.board.output(5, 1));
    EXPECT_EQ(0x11, s.u8(inputs + 1)) << "the PC does not own the inputs";

    // A slave that stops answering keeps its stale data and loses bit 15.
    s.board.setAnswering(5, false).setInput(5, 0, 0x99);
    EXPECT_EQ(0x0001, s.u16(Pfb::SlaveWords + 2 * 5));
    EXPECT_EQ(0x11, s.u8(inputs + 1));
    EXPECT_EQ(0x8000, s.u16(Pfb::SlaveWords + 2 * 2));
    s.board.setConfigured(5, false);
    EXPECT_EQ(0x00FF, s.u16(Pfb::SlaveWords + 2 * 5));

    // Data placed across the end of the window are written up to its last byte.
    s.board.setConfigured(5, true).setAnswering(5, true);
    s.board.setPages(0x05, 0x7F, 0x0A).setSlaveLayout(5, 3, 0x3FFE, 0);
    EXPECT_EQ(0x8003, s.u16(Pfb::SlaveWords + 2 * 5));
    EXPECT_EQ(0x3FFE, s.u16(records + 3 * 128 + 8));
    EXPECT_EQ(0x7F * 0x4000 + 0x3FFE, s.board.inputDataOffset(5));
    EXPECT_EQ(0x99, s.u8(0x1FFFFE));
    EXPECT_EQ(0x22, s.u8(0x1FFFFF));
}

TEST(SST5136PFBBoard, AnswersCanLeaveTheModuleInAnotherState) {
    Pfb::Answer online;
    online.state = 0xE1;
    online.thenState = 0x00;
    online.thenAfter = 100;
    Scene s;
    s.board.setAnswerAt(1, online);
    s.run();
    s.put8(Pfb::BlockLengthByte, 1);
    s.put8(Pfb::BlockNumberByte, 0);
    EXPECT_EQ(0xE0, s.command(0x06));
    s.put8(Pfb::BlockNumberByte, 1);
    EXPECT_EQ(0xE1, s.command(0x06));
    EXPECT_TRUE(s.board.online());
    ASSERT_NE(never, s.waitFor(Pfb::StateByte, 0x00, 10, 1000));
    EXPECT_EQ(s.board.commands().back().answeredAt + 100, s.m.now());
    EXPECT_FALSE(s.board.online());
    s.put8(Pfb::BlockNumberByte, 2);
    EXPECT_EQ(0xE0, s.command(0x06));
    EXPECT_EQ(0x00, s.board.commands().back().stateBefore);
    EXPECT_EQ(3u, s.board.blocks().size());
}
