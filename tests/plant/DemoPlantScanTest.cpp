// A scan built from the demo plant's file on the demo PC: the file's
// period, every track in its order, and its safe values at the stop.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "DemoPlant.h"
#include "tavex/plant/Plant.h"
#include "tavex/plant/PlantScan.h"
#include "tavex/platform/OSInterface.h"

using Tavex::Plant;
using Tavex::PlantIO;
using Tavex::PlantScan;
using Tavex::Tool::DemoPlant;

TEST(PlantScan, RunsThePlantsTracksAtItsPeriodAndStopsAtItsSafeValues) {
    DemoPlant demo;
    Tavex::OpenOptions options;
    options.ktxFirmwarePath = demo.firmwarePath();
    PlantIO io(Plant::load(TAVEX_DEMO_PLANT_FILE), options);
    Tavex::IOTrack& eyes = io.track("eyes");
    Tavex::IOTrack& valves = io.track("slave3-out");
    const long conveyor = io.plant().findTrack("eyes")->pointIndex("conveyor");
    {
        PlantScan scan(io);
        EXPECT_EQ(std::chrono::milliseconds(100), scan.period());
        EXPECT_EQ(io.trackCount(), scan.trackCount());
        const unsigned long start = demo.machine().now();
        bool ran = false;
        EXPECT_THROW(scan.run([&] {
            eyes[static_cast<unsigned>(conveyor)] = 1;
            valves[0] = 1;
            if (scan.cycle() == 3)
                ran = demo.conveyorRunning();
            if (scan.cycle() == 10)
                throw std::runtime_error("stop the line");
        }),
                     std::runtime_error);
        EXPECT_TRUE(ran);
        EXPECT_EQ(1000ul, demo.machine().now() - start);
        Tavex::OSInterface::sleep(io.settleTime());
        EXPECT_FALSE(demo.conveyorRunning());
        EXPECT_EQ(0x00, demo.pfb().output(DemoPlant::ConveyorSlave, 0));
    }
    PlantScan faster(io, std::chrono::milliseconds(1));
    EXPECT_EQ(std::chrono::milliseconds(1), faster.period());
}
