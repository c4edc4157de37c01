// Finding the board: both PCI identities, the one index over every
// accepted board, the group count, and the not-found error.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "PCI72xxScene.h"
#include "tavex/cards/PCI72xxCard.h"
#include "tavex/model/IOTrack.h"

using namespace pci72xxtest;
using Tavex::IOTrack;
using Tavex::PCI72xxCard;

namespace {

const char* const notFound = "PCI72xx: Card not found in the system.";
const char* const tooBig = "PCI72xx track starting point too big.";

// Adds an all-input track on group 0 and returns the port the card wrote
// its control word to (0 if it wrote none, or more than one port).
unsigned controlPortOf(Scene& scene, PCI72xxCard& card) {
    scene.machine.clearTrace();
    IOTrack track(card, 0, run('I', 24).c_str());
    std::vector<Event> writes;
    for (const Event& event : scene.machine.portTrace())
        if (event.kind == Event::PortWrite)
            writes.push_back(event);
    if (writes.size() != 1 || writes[0].value != 0x1B || writes[0].width != 1)
        return 0;
    return writes[0].port;
}

// The number of groups the card serves: the highest starting point it
// accepts, plus one.
unsigned groupsOf(PCI72xxCard& card) {
    unsigned groups = 0;
    for (unsigned start = 0; start < 8; ++start) {
        try {
            IOTrack track(card, start, run('N', 24).c_str());
            groups = start + 1;
        } catch (const std::logic_error& e) {
            EXPECT_EQ(std::string(tooBig), e.what());
            break;
        }
    }
    return groups;
}

}  // namespace

TEST(PCI72xxCardBind, NoAcceptableBoardAtTheIndexIsNotFound) {
    struct Case {
        const char* name;
        std::function<void(Scene&)> fit;
        unsigned index;
        Bridge::Mechanism mechanism;
    };
    const Case cases[] = {
        {"nothing fitted", [](Scene&) {}, 0, Bridge::Mechanism1},
        {"one PCI-7248, index 1", [](Scene& s) { s.board(0, 4, Board::PCI7248, 0xE000); }, 1,
         Bridge::Mechanism1},
        {"another board on the same bridge chip",
         [](Scene& s) {
             s.bridge.addFunction(0, 4, 0, 0x10B5, 0x9050)
                 .setSubsystem(0x10B5, 0x9050)
                 .setBaseAddress(2, 0xE001, 16);
         },
         0, Bridge::Mechanism1},
        {"the other board and a PCI-7248, index 1",
         [](Scene& s) {
             s.bridge.addFunction(0, 3, 0, 0x10B5, 0x9050)
                 .setSubsystem(0x1234, 0x0001)
                 .setBaseAddress(2, 0xE101, 16);
             s.board(0, 4, Board::PCI7248, 0xE000);
         },
         1, Bridge::Mechanism1},
        {"a board's vendor with another device ID",
         [](Scene& s) { s.bridge.addFunction(0, 4, 0, 0x144A, 0x7230).setBaseAddress(2, 0xE001, 8); },
         0, Bridge::Mechanism1},
        {"a PCI-7248 whose groups register holds a memory address",
         [](Scene& s) { s.bridge.addFunction(0, 4, 0, 0x144A, 0x7248).setBaseAddress(2, 0xFEB00000u, 8); },
         0, Bridge::Mechanism1},
        {"a PCI-7296 whose groups register holds no address",
         [](Scene& s) { s.bridge.addFunction(0, 4, 0, 0x144A, 0x7296).setBaseAddress(2, 0x00000001u); },
         0, Bridge::Mechanism1},
        {"a bridge-chip PCI-7248 whose groups register holds a memory address",
         [](Scene& s) {
             s.bridge.addFunction(0, 4, 0, 0x10B5, 0x9050)
                 .setSubsystem(0x144A, 0x7248)
                 .setBaseAddress(2, 0xFEB00000u, 8);
         },
         0, Bridge::Mechanism1},
        {"a PCI-7248 on a machine without configuration mechanism",
         [](Scene& s) { s.board(0, 4, Board::PCI7248, 0xE000); }, 0, Bridge::NoMechanism},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene(c.mechanism);
        c.fit(scene);
        TAVEX_EXPECT_THROW_TEXT(PCI72xxCard card(c.index), std::runtime_error, notFound);
    }
}

// A function that cannot be a board the card drives is not counted: the
// index reaches the next real board, and no port at a number the function
// reported (0x00-0x0F: the DMA controller) is ever touched.
TEST(PCI72xxCardBind, AFunctionWithoutGroupPortsIsSkipped) {
    Scene scene;
    scene.bridge.addFunction(0, 3, 0, 0x144A, 0x7248).setBaseAddress(2, 0x00000001u);
    Board& board = scene.board(0, 4, Board::PCI7248, 0xE000);
    PCI72xxCard card(0);
    IOTrack track(card, 0, run('O', 24).c_str());
    track.updateOutputs();
    EXPECT_TRUE(scene.portsIn(0x00, 0x10).empty());
    EXPECT_EQ(4u, scene.boardPorts(board).size()) << "control word and three ports";
    TAVEX_EXPECT_THROW_TEXT(PCI72xxCard(1), std::runtime_error, notFound);
}

TEST(PCI72xxCardBind, BothIdentitiesBindTheBoardAtItsBaseWithItsGroupCount) {
    struct Case {
        const char* name;
        Board::Model fitted;
        Board::Identity identity;
        unsigned groups;
        Bridge::Mechanism mechanism;
    };
    const Case cases[] = {
        {"own identity, PCI-7248", Board::PCI7248, Board::ownIdentity(Board::PCI7248), 2,
         Bridge::Mechanism1},
        {"own identity, PCI-7296", Board::PCI7296, Board::ownIdentity(Board::PCI7296), 4,
         Bridge::Mechanism1},
        {"bridge chip, subsystem 144A:7248", Board::PCI7248,
         Board::bridgeChipIdentity(0x144A, 0x7248), 2, Bridge::Mechanism1},
        {"bridge chip, subsystem 144A:7296", Board::PCI7296,
         Board::bridgeChipIdentity(0x144A, 0x7296), 4, Bridge::Mechanism1},
        {"bridge chip, subsystem 10B5:7296", Board::PCI7296,
         Board::bridgeChipIdentity(0x10B5, 0x7296), 4, Bridge::Mechanism1},
        {"bridge chip, subsystem vendor 9999, ID 7248", Board::PCI7248,
         Board::bridgeChipIdentity(0x9999, 0x7248), 2, Bridge::Mechanism1},
        {"bridge chip, subsystem vendor 9999, other ID", Board::PCI7296,
         Board::bridgeChipIdentity(0x9999, 0x0001), 4, Bridge::Mechanism1},
        {"own identity, PCI-7296, mechanism #2", Board::PCI7296,
         Board::ownIdentity(Board::PCI7296), 4, Bridge::Mechanism2},
        {"bridge chip, PCI-7248, mechanism #2", Board::PCI7248,
         Board::bridgeChipIdentity(0x144A, 0x7248), 2, Bridge::Mechanism2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene(c.mechanism);
        // Base address register 1 of the bridge chip holds another I/O
        // range; only register 2 leads to the groups.
        Board& board = scene.board(0, 9, c.fitted, 0xD010, c.identity);
        PCI72xxCard card;
        EXPECT_STREQ("PCI-7248/7296", card.type());
        EXPECT_EQ(0xD013u, controlPortOf(scene, card));
        EXPECT_EQ(1u, board.controlWrites(0));
        EXPECT_EQ(c.groups, groupsOf(card));
    }
}

TEST(PCI72xxCardBind, OneIndexCountsBridgeChipBoardsThenPCI7248ThenPCI7296) {
    Scene scene;
    scene.bridge.addBridge(0, 1, 0, 1);
    Board& c = scene.board(1, 5, Board::PCI7248, 0xE000, Board::bridgeChipIdentity(0x9999, 0x7248));
    Board& a = scene.board(0, 2, Board::PCI7296, 0xE010);
    // Another maker's board on the same bridge chip: never bound, skipped.
    scene.bridge.addFunction(0, 3, 0, 0x10B5, 0x9050)
        .setSubsystem(0x1234, 0x0001)
        .setBaseAddress(2, 0xE101, 16);
    Board& b = scene.board(0, 4, Board::PCI7296, 0xE020, Board::bridgeChipIdentity(0x144A, 0x7296));
    Board& d = scene.board(0, 6, Board::PCI7248, 0xE030);
    Board& e = scene.board(0, 7, Board::PCI7248, 0xE038);

    struct Case {
        unsigned index;
        Board* board;
        unsigned groups;
    };
    const Case cases[] = {{0, &c, 2}, {1, &b, 4}, {2, &d, 2}, {3, &e, 2}, {4, &a, 4}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "index " << k.index);
        PCI72xxCard card(k.index);
        EXPECT_EQ(k.board->ioBase() + 3u, controlPortOf(scene, card));
        EXPECT_EQ(k.groups, groupsOf(card));
    }
    TAVEX_EXPECT_THROW_TEXT(PCI72xxCard card(5), std::runtime_error, notFound);
    EXPECT_TRUE(scene.portsIn(0xE100, 16).empty()) << "the other maker's board was touched";
}

TEST(PCI72xxCardBind, WithOneKindOfBoardTheIndexFollowsScanOrder) {
    struct Case {
        const char* name;
        Board::Identity identity;
    };
    const Case cases[] = {{"own identity", Board::ownIdentity(Board::PCI7296)},
                          {"bridge chip", Board::bridgeChipIdentity(0x144A, 0x7296)}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Scene scene;
        scene.bridge.addBridge(0, 6, 0, 1);
        Board& second = scene.board(0, 8, Board::PCI7296, 0xE020, k.identity);
        Board& first = scene.board(1, 0, Board::PCI7296, 0xE010, k.identity);
        PCI72xxCard card0(0), card1(1);
        EXPECT_EQ(first.ioBase() + 3u, controlPortOf(scene, card0));
        EXPECT_EQ(second.ioBase() + 3u, controlPortOf(scene, card1));
        TAVEX_EXPECT_THROW_TEXT(PCI72xxCard card(2), std::runtime_error, notFound);
    }
}

TEST(PCI72xxCardBind, TheConstructorWritesNoRegisterAndTheDestructorLeavesTheLines) {
    Scene scene;
    Board& board = scene.board(0, 4, Board::PCI7296, 0xE000);
    {
        PCI72xxCard card;
        EXPECT_TRUE(scene.boardPorts(board).empty());
        EXPECT_TRUE(scene.bridge.configWrites().empty());
        for (unsigned g = 0; g < board.groups(); ++g)
            EXPECT_EQ(0u, board.controlWrites(g));

        IOTrack track(card, 1, run('O', 24).c_str());
        track[0] = 1;
        track.updateOutputs();
        scene.machine.clearTrace();
    }
    EXPECT_TRUE(scene.machine.portTrace().empty());
    EXPECT_EQ(0x00, board.controlWord(1));
    EXPECT_EQ(0xFE, board.drivenLevels(1, Board::PortA));
}
