// SST5136PFBPCI construction against the board model: the PCI lookup, the
// module download and its file name, the identity check, the start-up
// commands, the area pages, every failure on the way and its bounded wait,
// and the window released whatever happens.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "PFBScene.h"

using namespace PFBTest;
using Tavex::Sim::Region;

TEST(SST5136PFBPCIStartUp, DownloadsTheModuleWhenTheLoaderAsks) {
    Scene s;
    {
        Card card(s.prefix().c_str(), 0x06, 0);
        EXPECT_STREQ("SST-5136-PFB-PCI", card.type());
        EXPECT_EQ(1u, s.machine.liveMappings());
        EXPECT_TRUE(s.machine.mappedAt(PFB::DefaultMemoryAddress));

        EXPECT_EQ(PFB::ModuleRunning, s.board.phase());
        EXPECT_TRUE(s.board.moduleImageStartsWith(s.module));
        EXPECT_EQ(PFB::LoaderGo, s.byte(PFB::HandshakeByte));
        EXPECT_EQ(Bytes(1, PFB::CommandInitialise), s.board.commandCodes());
        EXPECT_EQ(PFB::StateIdle, s.state());

        // 1 ms polls for the loader (50 ms), 20 ms polls for the module
        // start (1500 ms), then one answer poll for command 0x03.
        std::vector<unsigned long> sleeps(50, 1);
        sleeps.insert(sleeps.end(), 75 + 1, 20);
        EXPECT_EQ(sleeps, s.machine.sleeps());
    }
    // The destructor sends nothing and releases the window.
    EXPECT_EQ(0u, s.machine.liveMappings());
    EXPECT_EQ(1u, s.board.commands().size());
}

TEST(SST5136PFBPCIStartUp, RunningModuleIsNotDownloadedAndIsTakenOffline) {
    for (bool online : {false, true}) {
        SCOPED_TRACE(online);
        Scene s;
        s.board.powerUpRunning(online);
        // The module file is not needed, nor a prefix.
        Card card(online ? 0 : "no such folder/", 0x06, 0);
        EXPECT_TRUE(s.board.moduleImage().empty());
        const Bytes expected = online ? Bytes{PFB::CommandOffline, PFB::CommandInitialise}
                                      : Bytes{PFB::CommandInitialise};
        EXPECT_EQ(expected, s.board.commandCodes());
        EXPECT_FALSE(s.board.online());
        EXPECT_EQ(PFB::StateIdle, s.state());
        // Neither command waits to be issued.
        EXPECT_EQ(0u, sleepsOf(s.machine, 10));
    }
}

TEST(SST5136PFBPCIStartUp, ModulePrefixIsJoinedToTheFileNameAsItStands) {
    const std::filesystem::path home = std::filesystem::current_path();
    struct Case {
        std::function<std::string(const Scene&)> prefix;
        std::string file;       // in the scene's folder
        bool runInFolder;       // the scene's folder is the current one
    } cases[] = {
        {[](const Scene& s) { return s.prefix(); }, "pciprofi.ss1", false},
        {[](const Scene& s) { return s.prefix() + "board2-"; }, "board2-pciprofi.ss1", false},
        {[](const Scene&) { return std::string(); }, "pciprofi.ss1", true},
        {[](const Scene&) { return std::string("sub"); }, "subpciprofi.ss1", true},
    };
    std::uint8_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Scene s;
        const Bytes module = pattern(500, seed++);
        s.dir.write(c.file, module);
        if (c.runInFolder)
            std::filesystem::current_path(s.dir.path());
        try {
            Card card(c.prefix(s).c_str(), 0x06, 0);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        std::filesystem::current_path(home);
        EXPECT_TRUE(s.board.moduleImageStartsWith(module));
    }
}

TEST(SST5136PFBPCIStartUp, NoPrefixForALoaderThatAsks) {
    Scene s;
    TAVEX_EXPECT_THROW_TEXT(Card(0, 0x06, 0), std::logic_error,
                            "SST-5136-PFB-PCI: module path not specified.");
    EXPECT_EQ(0u, s.machine.liveMappings());
    EXPECT_EQ(PFB::LoaderRequest, s.byte(PFB::HandshakeByte));
}

TEST(SST5136PFBPCIStartUp, FindsTheBoardByIndexInBusOrder) {
    Scene s;   // its board: bus 0, device 6
    s.board.powerUpRunning();
    PFB& second = s.machine.add<PFB>(s.bridge, 0, 9, 0, 0xFE000000u);
    second.powerUpRunning().setPrefetchable(true);   // the type bits are not the address
    {
        Card first("", 1, 0);
        EXPECT_TRUE(s.machine.mappedAt(PFB::DefaultMemoryAddress));
    }
    {
        Card other("", 1, 1);
        EXPECT_TRUE(s.machine.mappedAt(0xFE000000u));
        EXPECT_EQ(Bytes(1, PFB::CommandInitialise), second.commandCodes());
    }
    TAVEX_EXPECT_THROW_TEXT(Card("", 1, 2), std::runtime_error,
                            "SST-5136-PFB-PCI: Card not found in the system.");
    EXPECT_EQ(0u, s.machine.liveMappings());
    EXPECT_EQ(s.machine.mapRequests(), s.machine.unmapRequests());
}

TEST(SST5136PFBPCIStartUp, NoBoardOnTheBus) {
    Tavex::Sim::ScopedMachine machine;
    machine.add<Tavex::Sim::PCIHostBridge>(Tavex::Sim::PCIHostBridge::Mechanism1)
        .addFunction(0, 0, 0, 0x133D, 0x1001);
    TAVEX_EXPECT_THROW_TEXT(Card("", 1, 0), std::runtime_error,
                            "SST-5136-PFB-PCI: Card not found in the system.");
    EXPECT_EQ(0u, machine.mapRequests());
}

// Each way a construction fails, with its text, how long the card waited,
// and what it had done to the board; the window is released every time.
TEST(SST5136PFBPCIStartUp, FailuresReleaseTheWindow) {
    struct Case {
        const char* name;
        std::function<void(Scene&)> set;
        std::function<std::string(const Scene&)> text;
        unsigned long pollMs;   // the step of the wait that gave up, if any
        unsigned polls;         // sleeps of that length in the whole construction
    } cases[] = {
        {"no module file",
         [](Scene& s) { std::filesystem::remove(s.dir.file("pciprofi.ss1")); },
         [](const Scene& s) {
             return "FirmwareFileBuffer: Can not open the file " + s.dir.file("pciprofi.ss1") +
                    ".";
         },
         0, 0},
        {"loader silent", [](Scene& s) { s.board.setLoaderSilent(true); },
         [](const Scene&) {
             return std::string("SST-5136-PFB-PCI: the board's loader did not take the module.");
         },
         1, 5001},   // 5001 ms: past 5 s
        {"module never starts", [](Scene& s) { s.board.setModuleNeverStarts(true); },
         [](const Scene&) { return std::string("SST-5136-PFB-PCI: the module did not start."); },
         20, 1501},   // 30020 ms: past 30 s
        {"wrong card id", [](Scene& s) { s.board.setCardId(0xAAD1); },
         [](const Scene&) {
             return std::string("SST-5136-PFB-PCI: wrong card id or wrong module id.");
         },
         0, 0},
        {"wrong module id", [](Scene& s) { s.board.setModuleId(0x01BB); },
         [](const Scene&) {
             return std::string("SST-5136-PFB-PCI: wrong card id or wrong module id.");
         },
         0, 0},
        {"0x03 refused", [](Scene& s) { s.board.failCommand(PFB::CommandInitialise, 0x3C); },
         [](const Scene&) {
             return std::string("SST-5136-PFB-PCI: Error executing command 0x3, status 0x3C");
         },
         0, 0},
        {"0x03 never answered",
         [](Scene& s) {
             PFB::Answer never;
             never.never = true;
             s.board.setAnswer(PFB::CommandInitialise, never);
         },
         [](const Scene&) { return std::string("SST-5136-PFB-PCI: no answer to command 0x3."); },
         20, 75 + 1501},   // the module's start, then 30020 ms from the write
        {"input page beyond the window", [](Scene& s) { s.board.setPages(0x05, 0x80, 0x0A); },
         [](const Scene&) {
             return std::string(
                 "SST-5136-PFB-PCI: page 0x80 of the input area lies outside the board memory.");
         },
         0, 0},
        {"record page beyond the window", [](Scene& s) { s.board.setPages(0xFF, 0x08, 0x0A); },
         [](const Scene&) {
             return std::string(
                 "SST-5136-PFB-PCI: page 0xFF of the slave record area lies outside the board "
                 "memory.");
         },
         0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        c.set(s);
        TAVEX_EXPECT_THROW_TEXT(s.card(), std::runtime_error, c.text(s));
        EXPECT_EQ(0u, s.machine.liveMappings());
        EXPECT_EQ(s.machine.mapRequests(), s.machine.unmapRequests());
        if (c.polls != 0) {
            EXPECT_EQ(c.polls, sleepsOf(s.machine, c.pollMs));
        }
    }
}

// The module must end before the loader's handshake byte, the window's last
// byte, which the card overwrites to hand the module over.
TEST(SST5136PFBPCIStartUp, ModuleThatDoesNotFitIsNotCopied) {
    Scene s;
    s.dir.write("pciprofi.ss1", Bytes(0x1FF000, 0x77));
    TAVEX_EXPECT_THROW_TEXT(s.card(), std::runtime_error,
                            "SST-5136-PFB-PCI: module file " + s.dir.file("pciprofi.ss1") +
                                " does not fit the board memory.");
    for (std::uint32_t offset : {0x1000u, 0x1001u, 0x8000u, 0x1FFFFEu})
        EXPECT_EQ(Region::powerUpByte(offset), s.byte(offset)) << std::hex << offset;
    EXPECT_EQ(PFB::LoaderRequest, s.byte(PFB::HandshakeByte));
    EXPECT_EQ(PFB::LoaderWaiting, s.board.phase());

    Scene t;
    const Bytes largest = pattern(0x1FEFFF, 0x11);
    t.dir.write("pciprofi.ss1", largest);
    t.board.setExpectedModule(largest);
    t.card();
    EXPECT_EQ(PFB::ModuleRunning, t.board.phase());
    EXPECT_TRUE(t.board.moduleImageStartsWith(largest));
}

TEST(SST5136PFBPCIStartUp, BaudRateIsReadFromTheBoard) {
    Scene s;
    s.board.setStartBaudRate(0x03);
    std::unique_ptr<Card> card = s.card(0x1FF09);   // stored: 0x09
    EXPECT_EQ(0x03, card->baudRate());
    s.board.memory().write8(PFB::BaudRateByte, 0x0B);
    EXPECT_EQ(0x0B, card->baudRate());

    card->online();
    EXPECT_EQ(0x09, card->baudRate());
    EXPECT_EQ(0x09, s.board.networkBaudRate());
    EXPECT_EQ(&card->setBaudRate(0x02), card.get());
    EXPECT_EQ(0x02, s.byte(PFB::BaudRateByte));
    EXPECT_EQ(0x02, card->baudRate());
}
