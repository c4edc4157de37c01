// The order of the card's accesses to the shared memory around each
// handshake of the start-up: the board's Z80 may look at the memory the
// moment a handshake byte is written, so what the byte announces must
// already be there, and what it hands back must already have been read.
#include <gtest/gtest.h>

#include <memory>

#include "KTxScene.h"
#include "support/AccessOrder.h"
#include "support/MemoryAccessRecorder.h"

using namespace KTxTest;
using Tavex::Test::HandshakeRule;
using Tavex::Test::MemoryAccessRecorder;

namespace {

typedef MemoryAccessRecorder::Access Access;

const HandshakeRule rules[] = {
    {"program image, loader, first block or initialisation bytes before board_start",
     {{KTx::BoardStart, 1}}, Access::Write, {{0x000, KTx::SharedSize}}},
    {"download block and its length before download_done",
     {{KTx::DownloadDone, 1}}, Access::Write,
     {{KTx::DownloadLength, 2}, {KTx::DownloadBlock, KTx::MaxBlockLength}}},
    {"command block before int_status_from_host",
     {{KTx::IntStatusFromHost, 1}}, Access::Write,
     {{KTx::CommandBlock, KTx::CommandBlockSize}}},
    {"command or acknowledgement before board_interrupt",
     {{KTx::BoardInterrupt, 1}}, Access::Write,
     {{KTx::IntStatusToHost, 2}, {KTx::CommandBlock, KTx::CommandBlockSize + 1},
      {KTx::HostInterruptClear, 1}}},
    {"confirmation read before it is handed back",
     {{KTx::Confirmation, 1}, {KTx::IntStatusToHost, 1}}, Access::Read,
     {{KTx::Confirmation + 1, 2}}},
};

}  // namespace

TEST(AB1784CardOrder, HandshakesComeAfterWhatTheyAnnounceAndRelease) {
    if (!MemoryAccessRecorder::isSupported())
        GTEST_SKIP() << "no access recorder on this platform";
    struct Case {
        const char* name;
        std::size_t scannerSize;
        std::uint8_t response;   // to the mode change, the second command
    } cases[] = {
        {"scanner in one short block", 1000, 0},
        {"scanner in two blocks", 2500, 0},
        {"scanner in three blocks", 2 * 1920 + 5, 0},
        {"mode change refused", 2500, 0x82},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s(0xC0000, c.scannerSize);
        s.board.setResponseForCode(1, c.response);
        MemoryAccessRecorder recorder(s.board.memory().data(), KTx::WindowSize);
        recorder.start();
        try {
            Tavex::AB1784Card card(0xC0000, s.path().c_str(), 0xFE);
            EXPECT_EQ(0, c.response);
        } catch (const std::runtime_error& e) {
            EXPECT_NE(0, c.response) << e.what();
        }
        recorder.stop();
        for (const HandshakeRule& rule : rules)
            EXPECT_TRUE(keepsOrder(recorder.accesses(), rule, true));
    }
}

// The checks above rest on two things: the record holds the host's accesses
// only, with a mark where the board ran, and the rule forgives a late write
// only across such a mark.
TEST(AB1784CardOrder, RecordHoldsTheHostOnlyAndTheRuleResetsWhereTheBoardRan) {
    if (!MemoryAccessRecorder::isSupported())
        GTEST_SKIP() << "no access recorder on this platform";
    Scene s;
    Tavex::AB1784Card card(0xC0000, s.path().c_str(), 0xFE);
    volatile std::uint8_t* window = s.board.memory().data();
    MemoryAccessRecorder recorder(s.board.memory().data(), KTx::WindowSize);
    recorder.start();
    window[KTx::OutputImage + 3] = 0x5A;
    s.machine.sleep(10);   // the scanner refreshes every image table meanwhile
    const std::uint8_t in = window[KTx::InputImage + 3];
    recorder.stop();
    (void)in;
    ASSERT_EQ(3u, recorder.accesses().size());
    EXPECT_EQ(Access::Write, recorder.accesses()[0].kind);
    EXPECT_EQ(KTx::OutputImage + 3, recorder.accesses()[0].offset);
    EXPECT_EQ(Access::BoardsRan, recorder.accesses()[1].kind);
    EXPECT_EQ(Access::Read, recorder.accesses()[2].kind);
    EXPECT_EQ(KTx::InputImage + 3, recorder.accesses()[2].offset);

    const HandshakeRule rule = {"data before X", {{9, 1}}, Access::Write, {{0, 4}}};
    const Access d = {Access::Write, 2}, x = {Access::Write, 9}, ran = {Access::BoardsRan, 0},
                 r = {Access::Read, 2};
    struct Case {
        const char* name;
        std::vector<Access> record;
        bool keeps;
    } cases[] = {
        {"data, then handshake", {d, d, x}, true},
        {"handshake, then data", {d, x, d}, false},
        {"handshake, board ran, new data", {d, x, ran, d, x}, true},
        {"a read is no write", {x, r}, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.keeps, static_cast<bool>(keepsOrder(c.record, rule, false))) << c.name;
}
