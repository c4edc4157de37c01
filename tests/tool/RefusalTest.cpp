// What the library refuses reaches the user as the library said it, with
// exit status 1, and a card that fails on its way out is no success.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DemoPlant.h"
#include "ToolRun.h"
#include "tavex/platform/PhysicalMemory.h"
#include "tavex/sim/Machine.h"

using Tavex::Tool::DemoPlant;

TEST(ToolRefusals, TheLibrarysOwnTextAndExitOne) {
    const struct {
        std::vector<std::string> arguments;
        const char* text;
    } cases[] = {
        {{"read", "--sim", "ac5:0x301", "0:IIIIIIII"}, "AC5 card: invalid base IO port number specified."},
        {{"read", "--sim", "ac5:0x300", "0:IIII"}, "AC5 track can be only 8, 16 or 24 points long."},
        {{"read", "--sim", "ac5:0x300", "0:IIIIIIIA"}, "AC5 card only supports digital IO."},
        {{"read", "--sim", "ac5:0x300", "0:"}, "IOTrack must have at least one IO point."},
        {{"read", "--sim", "pci72xx:1", "0:IIIIIIIIIIIIIIIIIIIIIIII"}, "PCI72xx: Card not found in the system."},
        {{"read", "--sim", "pci72xx:0", "0:IIIIOOOOIIIIIIIIIIIIIIII"},
         "PCI72xx track first 8 points can not be mixed."},
        {{"read", "--sim", "lpt:LPT2", "0:OOOOOOOOIIIIIIIII"},
         "ParallelPort: specified parallel port does not exists."},
        {{"read", "--sim", "lpt:0x3BC", "0:OOOOOOOOIIIIIIIII"},
         "ParallelPort: invalid base IO port number specified or port does not exist."},
        {{"read", "--sim", "pc7166:0x230", "0:C"}, "PC7166 card: invalid base IO port number specified."},
        {{"write", "--sim", "pc7166:0x340", "3:CC", "0,0"}, "PC7166 only supports up to 4 encoders"},
        {{"read", "--sim", "ac28:0x100,0xF0,1", "0:IIIIIIII"}, "AC28 card: invalid reset port number specified."},
        {{"read", "--sim", "ktx:0xC8000,,0xFB", "0:IIIIIIII"}, "AB1784KTx: invalid link speed specified."},
        {{"read", "--sim", "ktx:0xC8000,/nowhere/,0xFE", "0:IIIIIIII"},
         "FirmwareFileBuffer: Can not open the file /nowhere/clrram.bin."},
        {{"read", "--sim", "genius:0x3E0,0xD0000", "32:IIIIIIII"},
         "GEMicroGENI: starting point parameter value is too high. GEMicroGENI supports up to 32 "
         "stations only."},
        // No channel answers there: the library waits its 50 s of plant time.
        {{"read", "--sim", "genius:0x3E8,0xD4000", "0:IIIIIIII"}, "GEMicroGENI: board failed to initialize"},
        {{"read", "--sim", "pfb:/opt/pfb/,0,1", "0:IIIIIIII"}, "SST-5136-PFB-PCI: Card not found in the system."},
        {{"read", "--sim", "pfb:/opt/pfb/,0,0", "0x50000:IIIIIIII"},
         "SST-5136-PFB-PCI: starting point parameter upper value is invalid. Slave is not "
         "configured by Profibus."},
        {{"watch", "--sim", "--count", "1", "pfb:/opt/pfb/,0,0", "0x30000:AAAAAAAA"},
         "SST-5136-PFB-PCI: Current implementation does not support analog I/O and counters."},
    };
    for (const auto& c : cases) {
        const ToolRun run = runTool(c.arguments);
        EXPECT_EQ(Tavex::Tool::ExitRefused, run.code) << c.text;
        EXPECT_EQ(std::string("tavex: ") + c.text + "\n", run.err);
        EXPECT_EQ("", run.out) << c.text;
    }
}

TEST(ToolRefusals, ACardThatFailsOnItsWayOutIsAFailure) {
    // The text the library gives when the driver will not unmap a window.
    std::string refusal;
    {
        Tavex::Sim::ScopedMachine machine;
        try {
            Tavex::PhysicalMemory memory(0xC8000, 0x810, true);
            machine.faults().unmapRefused = true;
        } catch (const std::exception& e) {
            refusal = e.what();
        }
        machine.faults().unmapRefused = false;
    }
    ASSERT_NE("", refusal);

    DemoPlant plant;
    plant.machine().faults().unmapRefused = true;
    const ToolRun run = runTool({"read", "--sim", "ktx:0xC8000,,0xFE", "2:IIIIIIII"}, &plant);
    EXPECT_EQ(Tavex::Tool::ExitRefused, run.code);
    EXPECT_EQ("tavex: " + refusal + "\n", run.err);
    EXPECT_EQ("values 0,0,0,0,0,0,0,0\n", run.out.substr(run.out.rfind("values")));
}
