// The one handshake of a MicroGENI channel that the card drives: byte 1 of
// a station's entry, written 0 to let the station's output block through.
// The board's processor acts on it at its next scan, so the station's
// presence and configuration that decide whether the track is accepted
// must have been read before it.
#include <gtest/gtest.h>

#include "GeniusScene.h"
#include "support/AccessOrder.h"
#include "support/MemoryAccessRecorder.h"
#include "tavex/genius/GEMicroGENI.h"
#include "tavex/model/IOTrack.h"

using namespace GeniusTest;
using Tavex::Test::HandshakeRule;
using Tavex::Test::MemoryAccessRecorder;

TEST(GEMicroGENIOrder, StationReadBeforeItsOutputsAreLetThrough) {
    if (!MemoryAccessRecorder::isSupported())
        GTEST_SKIP() << "no access recorder on this platform";
    struct Case {
        const char* name;
        unsigned station;
        std::uint8_t configuration;
        const char* letters;
    } cases[] = {
        {"digital inputs and outputs", 5, Channel::InputsAndOutputs, "IIIIOOOO"},
        {"analog outputs", 31, Channel::OutputsOnly, "UUUU"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        s.board.placeStation(c.station, c.configuration);
        Tavex::GEMicroGENI channel(portA, memoryA);
        const std::uint32_t entry = Channel::entry(c.station);
        const HandshakeRule rule = {
            "presence and configuration read before byte 1 of the entry",
            {{entry + Channel::EntryOutputsHeld, 1}}, MemoryAccessRecorder::Access::Read,
            {{entry + Channel::EntryPresence, 1}, {entry + Channel::EntryConfiguration, 1}}};
        MemoryAccessRecorder recorder(s.board.memory().data(), Channel::WindowSize);
        recorder.start();
        Tavex::IOTrack track(channel, c.station, c.letters);
        recorder.stop();
        EXPECT_TRUE(keepsOrder(recorder.accesses(), rule, true));
        EXPECT_TRUE(s.board.outputsEnabled(c.station));
    }
}
