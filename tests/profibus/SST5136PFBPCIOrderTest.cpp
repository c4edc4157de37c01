// The order of the card's accesses to the board memory around each
// handshake: the loader's byte and the state byte, which is also the
// command byte.  The board's processor may look the moment the byte is
// written, so what it announces must be in place and what it hands back
// must have been read.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "PFBScene.h"
#include "support/AccessOrder.h"
#include "support/MemoryAccessRecorder.h"

using namespace PFBTest;
using Tavex::Test::HandshakeRule;
using Tavex::Test::MemoryAccessRecorder;

namespace {

typedef MemoryAccessRecorder::Access Access;

enum { ModuleRule, BlockRule, ParametersRule, StatusRule, Rules };

const std::uint32_t transferBuffer = 0x04 * PFB::PageSize;   // the module's default page

const HandshakeRule rules[Rules] = {
    {"module image before the loader's handshake byte", {{PFB::HandshakeByte, 1}},
     Access::Write, {{PFB::ModuleOffset, PFB::HandshakeByte - PFB::ModuleOffset}}},
    {"configuration block, its length and its number before the command",
     {{PFB::StateByte, 1}}, Access::Write,
     {{transferBuffer, PFB::PageSize}, {PFB::BlockNumberByte, 2}}},
    {"online parameters before the command", {{PFB::StateByte, 1}}, Access::Write,
     {{PFB::OnlineParameter0E, 1}, {PFB::OnlineParameter10, 2}, {PFB::OnlineParameter28, 1}}},
    {"failure status read before the acknowledgement", {{PFB::StateByte, 1}}, Access::Read,
     {{PFB::StatusByte, 1}}},
};

}  // namespace

TEST(SST5136PFBPCIOrder, HandshakesComeAfterWhatTheyAnnounceAndRelease) {
    if (!MemoryAccessRecorder::isSupported())
        GTEST_SKIP() << "no access recorder on this platform";
    struct Case {
        const char* name;
        std::function<void(Scene&)> prepare;     // before the recording
        std::function<void(Scene&, Card&)> run;  // after the card is made, recorded
        std::vector<int> exercised;              // rules the case must reach
        bool fails;
    } cases[] = {
        {"module download", [](Scene&) {}, [](Scene&, Card&) {}, {ModuleRule}, false},
        {"configuration in two blocks", [](Scene& s) { s.board.powerUpRunning(true); },
         [](Scene& s, Card& card) {
             card.configure(s.dir.write("two.cfg", pattern(PFB::PageSize + 0x21, 0x11)).c_str());
         },
         {BlockRule}, false},
        {"online", [](Scene& s) { s.board.powerUpRunning(); },
         [](Scene&, Card& card) { card.online(); }, {ParametersRule}, false},
        {"automatic configuration", [](Scene& s) { s.board.powerUpRunning(); },
         [](Scene&, Card& card) { card.autoconfigure(); }, {ParametersRule}, false},
        {"configuration block refused",
         [](Scene& s) { s.board.powerUpRunning().failCommand(PFB::CommandBlock, 0x3C); },
         [](Scene& s, Card& card) {
             card.configure(s.dir.write("one.cfg", pattern(0x80, 0x22)).c_str());
         },
         {BlockRule, StatusRule}, true},
        {"flash write refused",
         [](Scene& s) { s.board.powerUpRunning().failCommand(PFB::CommandToFlash, 0x44); },
         [](Scene&, Card& card) { card.configurationToFlash(); }, {StatusRule}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        c.prepare(s);
        MemoryAccessRecorder recorder(s.board.memory().data(), PFB::WindowSize);
        recorder.start();
        try {
            std::unique_ptr<Card> card = s.card();
            c.run(s, *card);
            EXPECT_FALSE(c.fails);
        } catch (const std::runtime_error& e) {
            EXPECT_TRUE(c.fails) << e.what();
        }
        recorder.stop();
        for (int r = 0; r < Rules; ++r) {
            const bool exercised =
                std::find(c.exercised.begin(), c.exercised.end(), r) != c.exercised.end();
            EXPECT_TRUE(keepsOrder(recorder.accesses(), rules[r], exercised));
        }
    }
}
