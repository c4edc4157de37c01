// SST5136PFBPCI commands against the board model: when command 0x02 goes
// out, when a command waits to be issued, error acknowledgement, the bounded
// waits, the online parameters, configuration blocks and the version test
// of autoconfigure.
#include <gtest/gtest.h>

#include <functional>

#include "PFBScene.h"

using namespace PFBTest;

namespace {

// A board that runs its module already, and a card on it.
struct Running : Scene {
    explicit Running(unsigned long baudRate = 0x06) {
        board.powerUpRunning();
        owned = card(baudRate);
        machine.clearTrace();
    }
    // The codes of the commands taken since the card was made.
    Bytes codesSinceStart() const {
        const Bytes all = board.commandCodes();
        return Bytes(all.begin() + 1, all.end());   // after the constructor's 0x03
    }
    const PFB::Command* lastOf(std::uint8_t code) const {
        const PFB::Command* found = 0;
        for (const PFB::Command& c : board.commands())
            if (c.code == code)
                found = &c;
        return found;
    }
    std::unique_ptr<Card> owned;
};

// The codes an operation sends, after 0x02 when it found the network online.
Bytes afterOffline(bool offlineFirst, const Bytes& codes) {
    Bytes all;
    if (offlineFirst)
        all.push_back(PFB::CommandOffline);
    for (std::uint8_t code : codes)
        all.push_back(code);
    return all;
}

}  // namespace

// Every configuration operation takes an online network offline with 0x02
// first, issued at once; from any other state 0x02 is left out.  0x00 and
// 0xE0 let every command go without a wait.
TEST(SST5136PFBPCICommand, OfflineOnlyFromTheOnlineState) {
    struct Operation {
        const char* name;
        std::function<void(Card&, const std::string&)> run;
        Bytes codes;
    } operations[] = {
        {"autoconfigure", [](Card& c, const std::string&) { c.autoconfigure(); },
         {PFB::CommandStartAutoconfiguration, PFB::CommandAutoconfigure}},
        {"configure", [](Card& c, const std::string& file) { c.configure(file.c_str()); },
         {PFB::CommandBlock, PFB::CommandApplyConfiguration}},
        {"to flash", [](Card& c, const std::string&) { c.configurationToFlash(); },
         {PFB::CommandToFlash}},
        {"from flash", [](Card& c, const std::string&) { c.configurationFromFlash(); },
         {PFB::CommandFromFlash}},
    };
    enum Start { Idle, Ready, Online };
    for (const Operation& op : operations) {
        for (Start start : {Idle, Ready, Online}) {
            SCOPED_TRACE(::testing::Message() << op.name << " from state " << start);
            Scene s;
            s.board.powerUpRunning().storeInFlash();
            if (start == Ready) {
                PFB::Answer ready;
                ready.thenState = PFB::StateReady;
                ready.thenAfter = 0;
                s.board.setAnswer(PFB::CommandInitialise, ready);
            }
            std::unique_ptr<Card> card = s.card();
            if (start == Online)
                card->online();
            s.machine.advance(1);
            EXPECT_EQ(start == Idle ? PFB::StateIdle : start == Ready ? PFB::StateReady
                                                                      : PFB::StateOnline,
                      s.state());
            const std::size_t before = s.board.commands().size();
            s.machine.clearTrace();

            op.run(*card, s.dir.write("net.cfg", pattern(100, 3)));
            const Bytes all = s.board.commandCodes();
            const Bytes expected = afterOffline(start == Online, op.codes);
            EXPECT_EQ(expected, Bytes(all.begin() + before, all.end()));
            EXPECT_EQ(0u, sleepsOf(s.machine, 10));
            EXPECT_FALSE(s.board.online());
            EXPECT_EQ(0u, s.board.writesWhileBusy());
        }
    }
}

// Command 0x06 that finds the module online waits, in 10 ms steps, for it to
// become ready.
TEST(SST5136PFBPCICommand, BlockWaitsWhileTheModuleShowsOnline) {
    Running s;
    s.owned->online();
    PFB::Answer stillOnline;
    stillOnline.state = PFB::StateOnline;
    stillOnline.thenState = PFB::StateIdle;
    stillOnline.thenAfter = 100;
    s.board.setAnswer(PFB::CommandOffline, stillOnline);
    s.machine.clearTrace();

    s.owned->configure(s.dir.write("net.cfg", pattern(100, 3)).c_str());
    const Bytes expected = {PFB::CommandOnline, PFB::CommandOffline, PFB::CommandBlock,
                            PFB::CommandApplyConfiguration};
    EXPECT_EQ(expected, s.codesSinceStart());
    const PFB::Command& offline = *s.lastOf(PFB::CommandOffline);
    const PFB::Command& block = *s.lastOf(PFB::CommandBlock);
    EXPECT_GE(block.takenAt, offline.answeredAt + 100);
    EXPECT_EQ(PFB::StateIdle, block.stateBefore);
    EXPECT_GE(sleepsOf(s.machine, 10), 9u);
    EXPECT_LE(sleepsOf(s.machine, 10), 11u);
    EXPECT_EQ(0u, s.board.writesWhileBusy());
}

// A failed command is acknowledged (0xFF, module back to 0xE0) before its
// error leaves; the code and status are printed in %X.
TEST(SST5136PFBPCICommand, FailureIsAcknowledgedBeforeItIsReported) {
    struct Case {
        std::uint8_t code;
        int status;   // -1: the model refuses by itself
        std::function<void(Card&, const std::string&)> run;
        const char* text;
    } cases[] = {
        {PFB::CommandOnline, 0x10, [](Card& c, const std::string&) { c.online(); },
         "SST-5136-PFB-PCI: Error executing command 0x1, status 0x10"},
        {PFB::CommandBlock, 0x03,
         [](Card& c, const std::string& file) { c.configure(file.c_str()); },
         "SST-5136-PFB-PCI: Error executing command 0x6, status 0x3"},
        {PFB::CommandApplyConfiguration, 0xAB,
         [](Card& c, const std::string& file) { c.configure(file.c_str()); },
         "SST-5136-PFB-PCI: Error executing command 0x10, status 0xAB"},
        {PFB::CommandAutoconfigure, 0x7F, [](Card& c, const std::string&) { c.autoconfigure(); },
         "SST-5136-PFB-PCI: Error executing command 0x9, status 0x7F"},
        {PFB::CommandToFlash, 0xFE, [](Card& c, const std::string&) { c.configurationToFlash(); },
         "SST-5136-PFB-PCI: Error executing command 0x21, status 0xFE"},
        {PFB::CommandFromFlash, -1,
         [](Card& c, const std::string&) { c.configurationFromFlash(); },
         "SST-5136-PFB-PCI: Error executing command 0x11, status 0x4"},   // flash empty
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Running s;
        if (c.status >= 0)
            s.board.failCommand(c.code, static_cast<std::uint8_t>(c.status));
        TAVEX_EXPECT_THROW_TEXT(c.run(*s.owned, s.dir.write("net.cfg", pattern(100, 3))),
                                std::runtime_error, c.text);
        const PFB::Command& failed = s.board.commands().back();
        EXPECT_EQ(c.code, failed.code);
        EXPECT_EQ(PFB::StateFailed, failed.state);
        EXPECT_TRUE(failed.acknowledged);
        EXPECT_EQ(PFB::StateIdle, s.state());

        // The next command goes through.
        s.board.setAnswer(c.code, PFB::Answer());
        s.owned->online();
        EXPECT_TRUE(s.board.online());
        EXPECT_EQ(0u, s.board.writesWhileBusy());
    }
}

// Each bounded wait of a command gives up just past its limit, counted in
// its own nominal sleeps.
TEST(SST5136PFBPCICommand, CommandWaitsAreBounded) {
    struct Case {
        const char* text;
        std::function<void(Running&)> set;
        std::function<void(Card&)> run;
        unsigned long pollMs;
        unsigned polls;
    } cases[] = {
        // online() on an online network: 0x01 is never accepted.
        {"SST-5136-PFB-PCI: the board did not accept command 0x1.",
         [](Running& s) {
             s.owned->online();
             s.machine.clearTrace();
         },
         [](Card& c) { c.online(); }, 10, 1001},   // 10010 ms
        {"SST-5136-PFB-PCI: no answer to command 0x21.",
         [](Running& s) {
             PFB::Answer never;
             never.never = true;
             s.board.setAnswer(PFB::CommandToFlash, never);
         },
         [](Card& c) { c.configurationToFlash(); }, 20, 1501},   // 30020 ms after the write
        {"SST-5136-PFB-PCI: no answer to command 0x11.",
         [](Running& s) { s.board.storeInFlash().setModuleSilent(true); },
         [](Card& c) { c.configurationFromFlash(); }, 20, 1501},
        {"SST-5136-PFB-PCI: the failure of command 0x21 (status 0x5) was not acknowledged by "
         "the board.",
         [](Running& s) {
             PFB::Answer ignored;
             ignored.status = 0x05;
             ignored.acknowledgementIgnored = true;
             s.board.setAnswer(PFB::CommandToFlash, ignored).setCommandTime(PFB::CommandToFlash,
                                                                            20);
         },
         [](Card& c) { c.configurationToFlash(); }, 20, 1 + 501},   // one answer poll, 10020 ms
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Running s;
        c.set(s);
        TAVEX_EXPECT_THROW_TEXT(c.run(*s.owned), std::runtime_error, c.text);
        EXPECT_EQ(c.polls, sleepsOf(s.machine, c.pollMs));
    }
}

TEST(SST5136PFBPCICommand, OnlineAndAutoconfigureWriteTheOnlineParameters) {
    for (bool autoconfigure : {false, true}) {
        SCOPED_TRACE(autoconfigure);
        Running s(0x30B);   // the code is its low byte
        for (std::uint32_t offset : {PFB::OnlineParameter0E, PFB::OnlineParameter10,
                                     PFB::BaudRateByte, PFB::OnlineParameter28})
            s.board.memory().write8(offset, 0x99);
        if (autoconfigure)
            s.owned->autoconfigure();
        else
            EXPECT_EQ(s.owned.get(), &s.owned->online());
        const PFB::Command& taken =
            *s.lastOf(autoconfigure ? PFB::CommandAutoconfigure : PFB::CommandOnline);
        EXPECT_EQ(0, taken.parameters.p0E);
        EXPECT_EQ(1, taken.parameters.p10);
        EXPECT_EQ(0x0B, taken.parameters.baudRate);
        EXPECT_EQ(10, taken.parameters.p28);
        EXPECT_EQ(autoconfigure, !s.board.online());
    }
}

TEST(SST5136PFBPCICommand, AutoconfigureNeedsVersion155) {
    struct Case {
        std::uint16_t version;
        const char* text;   // 0: accepted
    } cases[] = {
        {0x0154,
         "SST-5136-PFB-PCI: your pciprofi.ss1 module version is 154. You need version higher "
         "than 0155 to use autoconfigure feature"},
        {0x00FF,
         "SST-5136-PFB-PCI: your pciprofi.ss1 module version is FF. You need version higher "
         "than 0155 to use autoconfigure feature"},
        {0x0155, 0},
        {0x1000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.version);
        Running s;
        s.board.setModuleVersion(c.version).addSlave(9, 2, 1, false);
        s.owned->online();
        if (c.text) {
            TAVEX_EXPECT_THROW_TEXT(s.owned->autoconfigure(), std::runtime_error, c.text);
            // Offline already; nothing else was asked.
            EXPECT_EQ((Bytes{PFB::CommandOnline, PFB::CommandOffline}), s.codesSinceStart());
            EXPECT_FALSE(s.board.isConfigured(9));
        } else {
            EXPECT_EQ(s.owned.get(), &s.owned->autoconfigure());
            EXPECT_EQ((Bytes{PFB::CommandOnline, PFB::CommandOffline,
                             PFB::CommandStartAutoconfiguration, PFB::CommandAutoconfigure}),
                      s.codesSinceStart());
            EXPECT_TRUE(s.board.isConfigured(9));
        }
    }
}

// Blocks of 0x4000 bytes, the last one shorter; the length byte holds the
// low 8 bits of the block's length; the buffer beyond a short last block
// keeps what it held.
TEST(SST5136PFBPCICommand, ConfigurationGoesInBlocks) {
    struct Case {
        std::size_t size;
        std::vector<std::uint8_t> lengthBytes;
    } cases[] = {
        {10, {10}},
        {0x4000, {0}},
        {0x4001, {0, 1}},
        {0x4100, {0, 0}},
        {0x80FF, {0, 0, 0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        Running s;
        const Bytes file = pattern(c.size, 0x21);
        EXPECT_EQ(s.owned.get(), &s.owned->configure(s.dir.write("net.cfg", file).c_str()));

        Bytes expectedCodes(c.lengthBytes.size(), PFB::CommandBlock);
        expectedCodes.push_back(PFB::CommandApplyConfiguration);
        EXPECT_EQ(expectedCodes, s.codesSinceStart());

        // The transfer buffer as the card left it before each block.
        Bytes buffer(PFB::PageSize, 0);
        const std::vector<PFB::Block>& blocks = s.board.blocks();
        ASSERT_EQ(c.lengthBytes.size(), blocks.size());
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            SCOPED_TRACE(i);
            const std::size_t position = i * PFB::PageSize;
            const std::size_t length = std::min<std::size_t>(PFB::PageSize, c.size - position);
            std::copy(file.begin() + position, file.begin() + position + length, buffer.begin());
            const std::size_t taken =
                c.lengthBytes[i] != 0 ? std::size_t(c.lengthBytes[i]) : std::size_t(PFB::PageSize);
            EXPECT_EQ(i, blocks[i].number);
            EXPECT_EQ(c.lengthBytes[i], blocks[i].lengthByte);
            EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + taken), blocks[i].data);
        }
        if (c.size != 0x4100) {   // there the length byte cannot tell 0x100 from 0x4000
            EXPECT_EQ(file, s.board.receivedConfiguration());
        }
    }
}

TEST(SST5136PFBPCICommand, BlockNumberHasEightBits) {
    Running s;
    const Bytes file = pattern(256 * PFB::PageSize + 1, 0x55);
    s.owned->configure(s.dir.write("big.cfg", file).c_str());
    const std::vector<PFB::Block>& blocks = s.board.blocks();
    ASSERT_EQ(257u, blocks.size());
    EXPECT_EQ(255, blocks[255].number);
    EXPECT_EQ(0, blocks[256].number);
    EXPECT_EQ(1, blocks[256].lengthByte);
    EXPECT_EQ(file, s.board.receivedConfiguration());
    EXPECT_EQ(PFB::CommandApplyConfiguration, s.board.commandCodes().back());
}

// Files that send no block at all: the network still goes offline first.
TEST(SST5136PFBPCICommand, ConfigurationRefusedBeforeAnyBlock) {
    struct Case {
        const char* name;
        std::function<std::string(Running&)> prepare;   // returns the path
        std::function<std::string(const std::string&)> text;
    } cases[] = {
        {"empty file", [](Running& s) { return s.dir.write("empty.cfg", Bytes()); },
         [](const std::string& path) {
             return "FirmwareFileBuffer: error occured while reading file " + path + ".";
         }},
        {"missing file", [](Running& s) { return s.dir.file("missing.cfg"); },
         [](const std::string& path) {
             return "FirmwareFileBuffer: Can not open the file " + path + ".";
         }},
        {"transfer page beyond the window",
         [](Running& s) {
             s.board.setPages(0x05, 0x08, 0x0A, 0x90);
             s.board.memory().write8(PFB::TransferPageByte, 0x90);
             return s.dir.write("net.cfg", pattern(10, 1));
         },
         [](const std::string&) {
             return std::string(
                 "SST-5136-PFB-PCI: page 0x90 of the configuration transfer area lies outside "
                 "the board memory.");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Running s;
        s.owned->online();
        const std::string path = c.prepare(s);
        TAVEX_EXPECT_THROW_TEXT(s.owned->configure(path.c_str()), std::runtime_error, c.text(path));
        EXPECT_EQ((Bytes{PFB::CommandOnline, PFB::CommandOffline}), s.codesSinceStart());
        EXPECT_TRUE(s.board.blocks().empty());
    }
}
