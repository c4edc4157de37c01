// The PCIM motherboard and the bringing up of its MicroGENI channels: which
// channels it takes, the reset sequence and the health poll in virtual time,
// the I/O table size, the control register, and a window that is always
// released when a channel gives up.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "GeniusScene.h"
#include "support/ExpectThrow.h"
#include "support/TraceText.h"
#include "tavex/genius/GEPCIMCard.h"
#include "tavex/model/IOTrack.h"

using namespace GeniusTest;
using Tavex::GEMicroGENI;
using Tavex::GEPCIMCard;
using Tavex::Sim::Machine;

typedef std::vector<Machine::Event> Trace;

TEST(GEPCIMCard, TypeTwoTakesTwoChannelsOthersOne) {
    for (unsigned type : {0u, 1u, 2u, 3u}) {
        SCOPED_TRACE(type);
        Scene s(Channel::Running, type == 2 ? 2 : 1);
        if (type == 2)
            s.pcim.addMicroGENI(portB, memoryB);
        std::unique_ptr<GEPCIMCard> card(new GEPCIMCard(0x2A0, type));
        EXPECT_EQ(0u, s.machine.portAccessCount());
        EXPECT_EQ(card.get(), &card->addMicroGENI(portA, memoryA));
        ASSERT_NE(nullptr, card->channelA());
        EXPECT_EQ(portA, card->channelA()->baseIOAddress());
        if (type == 2)
            card->addMicroGENI(portB, memoryB);
        EXPECT_EQ(type == 2, card->channelB() != nullptr);

        // Refused before anything is touched.
        const unsigned long accesses = s.machine.portAccessCount();
        TAVEX_EXPECT_THROW_TEXT(card->addMicroGENI(portB, memoryB), std::runtime_error,
                                "Cannot add more MicroGENI doughterboards");
        EXPECT_EQ(accesses, s.machine.portAccessCount());
        EXPECT_EQ(type == 2 ? 2u : 1u, s.machine.liveMappings());

        card.reset();   // takes its channels along, writing no register
        EXPECT_EQ(accesses, s.machine.portAccessCount());
        EXPECT_EQ(0u, s.machine.liveMappings());
    }
}

TEST(GEPCIMCard, FailedChannelLeavesItsSlotEmpty) {
    Scene s(Channel::Held);
    Channel& b = s.pcim.addMicroGENI(portB, memoryB);
    GEPCIMCard card(0x2A0, 2);
    s.board.setNeverComesUp(true);
    TAVEX_EXPECT_THROW_TEXT(card.addMicroGENI(portA, memoryA), std::runtime_error,
                            "GEMicroGENI: board failed to initialize");
    EXPECT_EQ(nullptr, card.channelA());
    EXPECT_EQ(0u, s.machine.liveMappings());

    s.board.setNeverComesUp(false);
    card.addMicroGENI(portA, memoryA);   // channel A again, after a second reset
    ASSERT_NE(nullptr, card.channelA());
    EXPECT_EQ(2u, s.board.starts());

    b.setIOTableSize(0);
    TAVEX_EXPECT_THROW_TEXT(card.addMicroGENI(portB, memoryB), std::range_error,
                            "GEMicroGENI: size of IO Table is invalid.");
    EXPECT_EQ(nullptr, card.channelB());
    b.setIOTableSize(16);
    card.addMicroGENI(portB, memoryB);
    ASSERT_NE(nullptr, card.channelB());
    Tavex::IOTrack track(*card.channelB(), 4, "OOOOOOOO");
    track[3] = 1;
    track.updateOutputs();
    EXPECT_EQ(0x08, b.memory().read8(b.outputBlock(4)));
}

TEST(GEMicroGENIStartUp, HealthyChannelGetsNoResetAndNoSleep) {
    Scene s;
    s.machine.clearTrace();
    GEMicroGENI channel(portA, memoryA);
    // Communication, then the board: before the poll and as its first look.
    EXPECT_EQ(Trace(4, Machine::portRead(portA, 1, 0xE7)), s.machine.trace());
    EXPECT_TRUE(s.board.controlWrites().empty());
    EXPECT_STREQ("GE-MicroGENI", channel.type());
}

TEST(GEMicroGENIStartUp, ReadyOnThePollThatFindsItHealthyOrGivesUpAfter5000) {
    struct Case {
        unsigned long startup, comm;   // healthy this long after the reset sequence
        bool never;
        unsigned long polls;           // sleeps of 10 ms after the one of the reset pulse
    } cases[] = {
        {5, 5, false, 1}, {6, 5, false, 2}, {400, 100, false, 50}, {49890, 100, false, 4999},
        {49900, 100, false, 5000},   // healthy during the last sleep: the last look finds it
        {400, 100, true, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.startup + c.comm << (c.never ? " never" : ""));
        Scene s(Channel::Held);
        s.board.setStartupTime(c.startup).setCommDelay(c.comm).setNeverComesUp(c.never);
        if (c.never)
            TAVEX_EXPECT_THROW_TEXT(GEMicroGENI(portA, memoryA), std::runtime_error,
                                    "GEMicroGENI: board failed to initialize");
        else
            GEMicroGENI(portA, memoryA);
        EXPECT_EQ(std::vector<unsigned long>(c.polls + 1, 10), s.machine.sleeps());
        EXPECT_EQ(10 + 10 * c.polls, s.machine.now());
        EXPECT_EQ(0u, s.machine.liveMappings());
        // clearReset, reset(false), 10 ms, reset(true), clearReset.
        ASSERT_EQ(6u, s.board.controlWrites().size());
        const std::uint8_t writes[] = {0x00, 0x02, 0x02, 0x42, 0x40, 0x42};
        for (unsigned i = 0; i < 6; ++i) {
            EXPECT_EQ(writes[i], s.board.controlWrites()[i].value) << i;
            EXPECT_EQ(i < 3 ? 0u : 10u, s.board.controlWrites()[i].time) << i;
        }
    }
}

TEST(GEMicroGENIStartUp, IOTableSizeBounds) {
    for (unsigned size : {0u, 1u, 32u, 128u, 129u, 255u}) {
        SCOPED_TRACE(size);
        Scene s;
        s.board.setIOTableSize(static_cast<std::uint8_t>(size));
        if (size == 0 || size > 128) {
            TAVEX_EXPECT_THROW_TEXT(GEMicroGENI(portA, memoryA), std::range_error,
                                    "GEMicroGENI: size of IO Table is invalid.");
            EXPECT_EQ(0u, s.machine.liveMappings());
            continue;
        }
        // The blocks follow the size: station 1's output block is block 33.
        GEMicroGENI channel(portA, memoryA);
        Tavex::IOTrack track(channel, 1, "OOOOOOOO");
        track[0] = 1;
        s.ram(0x2000 + 33 * size) = 0;
        track.updateOutputs();
        EXPECT_EQ(0x01, s.ram(0x2000 + 33 * size));
    }
}

TEST(GEMicroGENIStartUp, ControlBitsAreChangedOneAtATime) {
    Scene s;
    GEMicroGENI channel(portA, memoryA);
    for (std::uint8_t start : {0x00, 0x42, 0xFF, 0xBD}) {
        SCOPED_TRACE(int(start));
        s.machine.outByte(portA + 1, start);
        channel.reset(true);
        EXPECT_EQ(start | 0x40, s.board.controlRegister());
        channel.reset(false);
        EXPECT_EQ(start & 0xBF, s.board.controlRegister());
        s.machine.clearTrace();
        channel.clearReset();
        EXPECT_EQ((Trace{Machine::portRead(portA + 1, 1, start & 0xBF),
                         Machine::portWrite(portA + 1, 1, start & 0xBD),
                         Machine::portWrite(portA + 1, 1, (start & 0xBD) | 0x02)}),
                  s.machine.trace());
    }
}

TEST(GEPCIMCard, ChannelBGoesEvenWhenChannelAsWindowStays) {
    Scene s;
    s.pcim.addMicroGENI(portB, memoryB);
    GEPCIMCard* card = new GEPCIMCard(0x2A0, 2);
    card->addMicroGENI(portA, memoryA).addMicroGENI(portB, memoryB);
    s.machine.faults().unmapRefused = true;
    const unsigned requests = s.machine.unmapRequests();
    TAVEX_EXPECT_THROW_TEXT(delete card, std::runtime_error,
                            "OS Interface: can not release physical memory block.");
    EXPECT_EQ(requests + 2, s.machine.unmapRequests());
}
