// The demo plant's file on the demo PC, and a plant that fails half-way
// through being opened.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <typeinfo>
#include <string>
#include <utility>
#include <vector>

#include "DemoPlant.h"
#include "support/AllocationCounter.h"
#include "support/ExpectThrow.h"
#include "tavex/plant/Plant.h"
#include "tavex/platform/OSInterface.h"
#include "tavex/tavex.h"

using Tavex::Plant;
using Tavex::PlantIO;
using Tavex::Tool::DemoPlant;

namespace {

Tavex::OpenOptions onDemoPlant(const DemoPlant& demo) {
    Tavex::OpenOptions options;
    options.ktxFirmwarePath = demo.firmwarePath();
    return options;
}

}  // namespace

// The file names every card and track that tavex demo runs, with the
// CARD and TRACK strings the README shows.
TEST(DemoPlantFile, DescribesTheDemosTracks) {
    const Plant plant = Plant::load(TAVEX_DEMO_PLANT_FILE);
    EXPECT_EQ(100000ul, plant.period());
    const std::vector<std::pair<std::string, std::string> > demo = {
        {"ac5:0x300", "0:IIIIIIIIOOOOOOOO"},
        {"pc7166:0x340", "0:C"},
        {"ac28:0x100,0xE0,1", "0:IIIIIIII"},
        {"ac28:0x100,0xE0,1", "1:OOOOOOOO"},
        {"ac28:0x100,0xE0,1", "2:AUNNNNNN"},
        {"pci72xx:0", "0:IIIIIIIIOOOOOOOOIIIIIIII"},
        {"lpt:LPT1", "0:OOOOOOOOIIIIIIIII"},
        {"ktx:0xC8000,,0xFE", "2:IIIIIIIIOOOOOOOO"},
        {"ktx:0xC8000,,0xFE", "4:OOOOOOOOIIIIIIII"},
        {"genius:0x3E0,0xD0000", "3:IIIIIIIIOOOOOOOO"},
        {"genius:0x3E0,0xD0000", "9:AAUU"},
        {"pfb:/opt/pfb/,0,0", "0x30000:IIIIIIIIIIIIIIII"},
        {"pfb:/opt/pfb/,0,0", "0x30000:OOOOOOOO"},
        {"pfb:/opt/pfb/,0,0", "0xC0000:IIIIIIIIOOOOOOOO"},
        {"dummy", "0:U"},
    };
    std::vector<std::pair<std::string, std::string> > file;
    for (const Tavex::PlantTrack& track : plant.tracks())
        file.emplace_back(plant.findCard(track.card)->arguments.text, track.text);
    EXPECT_EQ(demo, file);
    EXPECT_EQ(9u, plant.cards().size());
}

// Opened on the demo PC: a scan runs the line, and the safe values stop it.
TEST(DemoPlantFile, OpensOnTheDemoPCAndStopsAtItsSafeValues) {
    DemoPlant demo;
    const Plant plant = Plant::load(TAVEX_DEMO_PLANT_FILE);
    {
        PlantIO io(plant, onDemoPlant(demo));
        ASSERT_EQ(plant.tracks().size(), io.trackCount());
        EXPECT_EQ("AC5 at 0x300", io.card("ac5").description());
        EXPECT_EQ(100000ul, io.settleTime());
        EXPECT_EQ(&io.track(std::size_t(0)), &io.track("eyes"));
        EXPECT_EQ("slave3-out", io.trackInfo(12).name);
        EXPECT_THROW(io.track("nowhere"), std::out_of_range);
        EXPECT_THROW(io.card("nowhere"), std::out_of_range);

        Tavex::IOTrack& eyes = io.track("eyes");
        Tavex::IOTrack& slave3 = io.track("slave3-out");
        eyes[plant.findTrack("eyes")->pointIndex("conveyor")] = 1;
        slave3[0] = 1;
        slave3[2] = 1;
        for (std::size_t t = 0; t < io.trackCount(); ++t)
            io.track(t).updateOutputs();
        Tavex::OSInterface::sleep(io.settleTime());
        for (std::size_t t = 0; t < io.trackCount(); ++t)
            io.track(t).updateInputs();
        EXPECT_TRUE(demo.conveyorRunning());
        EXPECT_EQ(0x05, demo.pfb().output(DemoPlant::ConveyorSlave, 0));
        EXPECT_EQ(1, io.track("slave3-in")[0]);   // the slave's input byte 0 follows

        io.setSafeValues();
        EXPECT_EQ(0, slave3[0]);
        for (std::size_t t = 0; t < io.trackCount(); ++t)
            io.track(t).updateOutputs();
        Tavex::OSInterface::sleep(io.settleTime());
        EXPECT_FALSE(demo.conveyorRunning());
        EXPECT_EQ(0x00, demo.pfb().output(DemoPlant::ConveyorSlave, 0));
        io.close();
        EXPECT_EQ(0u, demo.machine().liveMappings());
    }
    EXPECT_EQ(0u, demo.machine().liveMappings());
}

// A card or a track that the library refuses after others are built: its
// own error comes through and nothing stays open.
TEST(DemoPlantFile, RefusalHalfWayLeavesNothingOpen) {
    const std::string cards = "[cards.racks]\ncard = \"ktx:0xC8000,,0xFE\"\n"
                              "[cards.genius]\ncard = \"genius:0x3E0,0xD0000\"\n";
    const std::string tracks = "[tracks.rack]\ncard = \"racks\"\ntrack = \"2:IIIIIIII\"\n";
    const struct {
        std::string text;
        std::function<void()> direct;   // the same refusal, built by hand
    } cases[] = {
        {cards + "[cards.line]\ncard = \"ac5:0x301\"\n", [] { Tavex::AC5Card card(0x301); }},
        {cards + "[cards.line]\ncard = \"ac5:0x300\"\n" + tracks +
             "[tracks.eyes]\ncard = \"line\"\ntrack = \"0:IIII\"\n",
         [] {
             Tavex::AC5Card card(0x300);
             Tavex::IOTrack track(card, 0, "IIII");
         }},
    };
    for (const auto& c : cases) {
        DemoPlant demo;
        std::string text, type;
        try {
            c.direct();
            FAIL() << "the library took it: " << c.text;
        } catch (const std::exception& e) {
            text = e.what();
            type = typeid(e).name();
        }
        const Plant plant = Plant::parse(c.text, "plant.toml");
        try {
            PlantIO io(plant, onDemoPlant(demo));
            ADD_FAILURE() << "opened: " << c.text;
        } catch (const std::exception& e) {
            EXPECT_EQ(text, e.what());
            EXPECT_EQ(type, typeid(e).name());
        }
        EXPECT_EQ(0u, demo.machine().liveMappings()) << c.text;
    }
}

// Memory that runs out at any step of opening a plant: nothing stays
// mapped, nothing leaks, and an opening that gets through works.  The
// demo PC keeps memory of its own while it runs (its trace), so leaks are
// counted over its whole life, after a first opening has made what the
// library makes once.
TEST(DemoPlantFile, MemoryRunningOutAtAnyStepLeavesNothingBehind) {
    const Plant plant = Plant::parse("[cards.racks]\ncard = \"ktx:0xC8000,,0xFE\"\n"
                                     "[cards.line]\ncard = \"ac5:0x300\"\n"
                                     "[cards.plug]\ncard = \"lpt:0x378\"\n"
                                     "[tracks.rack]\ncard = \"racks\"\ntrack = \"2:IIIIIIII\"\n"
                                     "[tracks.eyes]\ncard = \"line\"\ntrack = \"0:IIIIIIII\"\n",
                                     "plant.toml");
    {
        DemoPlant first;
        PlantIO io(plant, onDemoPlant(first));
    }
    const AllocationCounter::Window window;
    std::size_t failures = 0;
    bool opened = false;
    {
        DemoPlant demo;
        const Tavex::OpenOptions options = onDemoPlant(demo);
        for (std::size_t n = 1; n < 5000 && !opened; ++n) {
            try {
                AllocationCounter::failAllocation(n);
                PlantIO io(plant, options);
                AllocationCounter::failAllocation(0);
                opened = io.card("plug").description() == "LPT at 0x378";
            } catch (const std::bad_alloc&) {
                AllocationCounter::failAllocation(0);
                ++failures;
            }
            if (demo.machine().liveMappings() != 0)
                ADD_FAILURE() << "a mapping stays after allocation " << n << " failed";
        }
    }
    EXPECT_TRUE(opened);
    EXPECT_LT(20u, failures);
    if (AllocationCounter::seesLibrary()) {
        EXPECT_EQ(0, window.leaked());
    }
}
