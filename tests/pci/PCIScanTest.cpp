// The scan of all buses: depth-first order through bridges, multi- and
// single-function devices, absent functions, the guard against bridges
// that lead back, and a refused header type.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "PCITestSupport.h"
#include "tavex/pci/PCIBus.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/PCIHostBridge.h"

using namespace pcitest;
using Tavex::PCIBus;
using Tavex::PCICursor;
using Tavex::PCIDeviceInfo;
using Tavex::Sim::PCIFunction;
using Tavex::Sim::ScopedMachine;

namespace {

// bus 0: host bridge at 0, PCI-to-PCI bridge at 3 (to bus 1), devices at 4,
// 5 (functions 0, 2, 3), 7 (single function, functions 1 and 2 answer too),
// a two-function CardBus controller at 9 (buses 3 and 4), a device whose
// function 0 reads an ID of 0 at 10, devices at 15, 20 and 31.
// bus 1: devices at 0 and 6, a bridge at 2 (to bus 2), a device at 17.
// bus 2: a multi-function device at 1 with functions 0 and 7.
// buses 3 and 4: one device each at 0.
void buildTopology(Bridge& bridge) {
    bridge.addFunction(0, 0, 0, 0x8086, 0x1237).setClassCode(0x06, 0x00);
    bridge.addBridge(0, 3, 0, 1);
    bridge.addFunction(0, 4, 0, 0x10EC, 0x8139).setClassCode(0x02, 0x00);
    bridge.addFunction(0, 5, 0, 0x8086, 0x7110).setMultiFunction(true);
    bridge.addFunction(0, 5, 2, 0x8086, 0x7112);
    bridge.addFunction(0, 5, 3, 0x8086, 0x7113);
    bridge.addFunction(0, 7, 0, 0x1000, 0x0001);
    bridge.addFunction(0, 7, 1, 0x1000, 0x0002);
    bridge.addFunction(0, 7, 2, 0x1000, 0x0003);
    bridge.addBridge(0, 9, 0, 3, 0x82);
    bridge.addBridge(0, 9, 1, 4, 0x02);
    bridge.addFunction(0, 10, 0, 0x0000, 0x0000).setMultiFunction(true);
    bridge.addFunction(0, 10, 1, 0x5333, 0x8811);
    bridge.addFunction(0, 15, 0, 0x1102, 0x0002);
    bridge.addFunction(0, 20, 0, 0x102B, 0x0519);
    bridge.addFunction(0, 31, 0, 0x1AF4, 0x1000);

    bridge.addFunction(1, 0, 0, 0x10B7, 0x9050);
    bridge.addBridge(1, 2, 0, 2);
    bridge.addFunction(1, 6, 0, 0x9004, 0x8178);
    bridge.addFunction(1, 17, 0, 0x1011, 0x0019);

    bridge.addFunction(2, 1, 0, 0x1106, 0x3038).setMultiFunction(true);
    bridge.addFunction(2, 1, 7, 0x1106, 0x3039);

    bridge.addFunction(3, 0, 0, 0x11C1, 0x0441);
    bridge.addFunction(4, 0, 0, 0x11C1, 0x0442);
}

}  // namespace

TEST(PCIScan, ListsFunctionsDepthFirstUnderBothMechanisms) {
    struct Case {
        Bridge::Mechanism mechanism;
        std::vector<std::string> expected;
    };
    const std::string pciBridge = "8086:244E", cardBus = "104C:AC56";
    const Case cases[] = {
        {Bridge::Mechanism1,
         {"0:00.0 8086:1237", "0:03.0 " + pciBridge, "1:00.0 10B7:9050", "1:02.0 " + pciBridge,
          "2:01.0 1106:3038", "2:01.7 1106:3039", "1:06.0 9004:8178", "1:17.0 1011:0019",
          "0:04.0 10EC:8139", "0:05.0 8086:7110", "0:05.2 8086:7112", "0:05.3 8086:7113",
          "0:07.0 1000:0001", "0:09.0 " + cardBus, "3:00.0 11C1:0441", "0:09.1 " + cardBus,
          "4:00.0 11C1:0442", "0:15.0 1102:0002", "0:20.0 102B:0519", "0:31.0 1AF4:1000"}},
        // Mechanism #2 addresses devices 0 to 15 only: the scan stops there.
        {Bridge::Mechanism2,
         {"0:00.0 8086:1237", "0:03.0 " + pciBridge, "1:00.0 10B7:9050", "1:02.0 " + pciBridge,
          "2:01.0 1106:3038", "2:01.7 1106:3039", "1:06.0 9004:8178", "0:04.0 10EC:8139",
          "0:05.0 8086:7110", "0:05.2 8086:7112", "0:05.3 8086:7113", "0:07.0 1000:0001",
          "0:09.0 " + cardBus, "3:00.0 11C1:0441", "0:09.1 " + cardBus, "4:00.0 11C1:0442",
          "0:15.0 1102:0002"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(mechanismName(c.mechanism));
        ScopedMachine machine;
        Bridge& bridge = machine.add<Bridge>(c.mechanism);
        buildTopology(bridge);

        PCIBus& bus = PCIBus::pciBus();
        ASSERT_TRUE(bus.exists());
        EXPECT_EQ(c.expected, listed());

        // A single-function device stops after function 0: functions 1 and
        // 2 of device 7 are not even read.
        for (const Bridge::ConfigAccess& access : bridge.configAccesses()) {
            EXPECT_FALSE(access.bus == 0 && (access.slot >> 3) == 7 && (access.slot & 7) != 0)
                << testing::PrintToString(access);
            EXPECT_EQ(Bridge::ConfigAccess::Read, access.kind) << testing::PrintToString(access);
        }
    }
}

TEST(PCIScan, CopiesTheWholeConfigurationSpaceOfEveryFunction) {
    ScopedMachine machine;
    Bridge& bridge = machine.add<Bridge>(Bridge::Mechanism1);
    bridge.addBridge(0, 1, 0, 1);
    PCIFunction& function = bridge.addFunction(1, 4, 0, 0x1234, 0x5678);
    for (unsigned n = 0; n < 6; ++n)
        function.setBaseAddress(n, 0x11110000u * (n + 1) + 1);
    for (unsigned offset = 0x40; offset < 0x100; offset += 4)
        function.set32(static_cast<std::uint8_t>(offset), 0xC0DE0000u | offset);

    const PCIDeviceInfo* info = PCIBus::pciBus().getDeviceInfo(0x1234, 0x5678, 0);
    ASSERT_NE(nullptr, info);
    for (unsigned char n = 0; n < 60; ++n)
        EXPECT_EQ(function.get32(static_cast<std::uint8_t>(0x10 + 4 * n)), info->baseAddress(n))
            << "base address register " << unsigned(n);
    // Changing the function afterwards does not change the copy.
    function.set32(0xFC, 0);
    EXPECT_EQ(0xC0DE00FCu, info->baseAddress(59));
}

TEST(PCIScan, SkipsBridgesWhoseSecondaryBusIsNotBelowTheirOwn) {
    ScopedMachine machine;
    Bridge& bridge = machine.add<Bridge>(Bridge::Mechanism1);
    bridge.setRunawayLimit(100000);   // a scan that loops ends here with a logic_error
    bridge.addBridge(0, 1, 0, 0);     // unconfigured: secondary bus 0
    bridge.addBridge(0, 2, 0, 1);
    bridge.addFunction(0, 4, 0, 0x8086, 0x0004);
    bridge.addBridge(1, 0, 0, 1);     // itself
    bridge.addBridge(1, 1, 0, 0);     // back to bus 0
    bridge.addBridge(1, 3, 0, 2, 0x02);
    bridge.addFunction(1, 5, 0, 0x8086, 0x0105);
    bridge.addFunction(2, 0, 0, 0x8086, 0x0200);
    bridge.addBridge(2, 1, 0, 1);     // back up to bus 1

    const std::string p2p = " 8086:244E";
    const std::vector<std::string> expected = {
        "0:01.0" + p2p,       "0:02.0" + p2p,       "1:00.0" + p2p,
        "1:01.0" + p2p,       "1:03.0 104C:AC56",   "2:00.0 8086:0200",
        "2:01.0" + p2p,       "1:05.0 8086:0105",   "0:04.0 8086:0004"};
    EXPECT_EQ(expected, listed());
}

// Two bridges that both claim bus 2 (one on bus 0, one on bus 1): its
// functions are listed once, under the first bridge that leads there, so a
// board on it is bound at one index only.
TEST(PCIScan, ABusClaimedByTwoBridgesIsScannedOnce) {
    ScopedMachine machine;
    Bridge& bridge = machine.add<Bridge>(Bridge::Mechanism1);
    bridge.addBridge(0, 1, 0, 1);
    bridge.addBridge(0, 2, 0, 2);
    bridge.addBridge(1, 0, 0, 2);     // claims bus 2 again
    bridge.addFunction(1, 4, 0, 0x8086, 0x0104);
    bridge.addFunction(2, 3, 0, 0x144A, 0x7248);

    const std::string p2p = " 8086:244E";
    const std::vector<std::string> expected = {"0:01.0" + p2p,    "1:00.0" + p2p,
                                               "2:03.0 144A:7248", "1:04.0 8086:0104",
                                               "0:02.0" + p2p};
    EXPECT_EQ(expected, listed());
    EXPECT_EQ(nullptr, PCIBus::pciBus().getDeviceInfo(0x144A, 0x7248, 1));
}

TEST(PCIScan, RefusedHeaderTypeEndsTheScanAfterListingTheFunctionAndIsNeverRescanned) {
    struct Case {
        const char* name;
        unsigned bus, device;
        std::uint8_t headerType;
        std::vector<std::string> expected;
    };
    const std::string head[] = {"0:00.0 8086:1237", "0:03.0 8086:244E", "1:00.0 1000:0010"};
    const Case cases[] = {
        {"type 3 on bus 0", 0, 4, 0x03,
         {head[0], head[1], head[2], "1:02.0 1000:0012", "0:04.0 BAD0:0001"}},
        {"type 0x7F on bus 0", 0, 4, 0x7F,
         {head[0], head[1], head[2], "1:02.0 1000:0012", "0:04.0 BAD0:0001"}},
        {"type 0x83, multi-function", 0, 4, 0x83,
         {head[0], head[1], head[2], "1:02.0 1000:0012", "0:04.0 BAD0:0001"}},
        {"type 3 behind a bridge", 1, 1, 0x03,
         {head[0], head[1], head[2], "1:01.0 BAD0:0001"}},
    };
    const Bridge::Mechanism mechanisms[] = {Bridge::Mechanism1, Bridge::Mechanism2};
    for (Bridge::Mechanism mechanism : mechanisms)
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << mechanismName(mechanism) << ", " << c.name);
            ScopedMachine machine;
            Bridge& bridge = machine.add<Bridge>(mechanism);
            bridge.addFunction(0, 0, 0, 0x8086, 0x1237);
            bridge.addBridge(0, 3, 0, 1);
            bridge.addFunction(1, 0, 0, 0x1000, 0x0010);
            bridge.addFunction(1, 2, 0, 0x1000, 0x0012);
            bridge.addFunction(0, 6, 0, 0x1000, 0x0006);
            bridge.addFunction(c.bus, c.device, 0, 0xBAD0, 0x0001).setHeaderType(c.headerType);
            if (c.headerType & 0x80)
                bridge.addFunction(c.bus, c.device, 1, 0xBAD0, 0x0002);

            TAVEX_EXPECT_THROW_TEXT(PCIBus::pciBus(), std::runtime_error, "Unknown header type");

            const unsigned long accesses = machine.portAccessCount();
            PCIBus& bus = PCIBus::pciBus();   // kept as far as it got, no second scan
            EXPECT_EQ(accesses, machine.portAccessCount());
            EXPECT_TRUE(bus.exists());
            EXPECT_EQ(c.expected, listed());
            const PCIDeviceInfo* refused = bus.getDeviceInfo(0xBAD0, 0x0001, 0);
            ASSERT_NE(nullptr, refused);
            EXPECT_EQ(c.headerType, refused->headerType());
            EXPECT_EQ(nullptr, bus.getDeviceInfo(0x1000, 0x0006, 0));
            EXPECT_EQ(nullptr, bus.getDeviceInfo(0xBAD0, 0x0002, 0));
            EXPECT_EQ(accesses, machine.portAccessCount());
        }
}

TEST(PCIScan, ACursorAsFirstUseScansTheBusAndPassesTheScanErrorOn) {
    ScopedMachine machine;
    Bridge& bridge = machine.add<Bridge>(Bridge::Mechanism1);
    bridge.addFunction(0, 2, 0, 0xBAD0, 0x0001).setHeaderType(0x03);
    TAVEX_EXPECT_THROW_TEXT(PCICursor(), std::runtime_error, "Unknown header type");
    const unsigned long accesses = machine.portAccessCount();
    PCICursor cursor;
    ASSERT_TRUE(cursor.isValid());
    EXPECT_EQ("0:02.0 BAD0:0001", describe(cursor.deviceAtCursor()));
    EXPECT_FALSE(cursor.next().isValid());
    EXPECT_EQ(accesses, machine.portAccessCount());
}

TEST(PCIScan, EachNewMachineGetsAFreshScan) {
    {
        ScopedMachine machine;
        machine.add<Bridge>(Bridge::Mechanism1).addFunction(0, 1, 0, 0x1111, 0x0001);
        EXPECT_EQ(std::vector<std::string>{"0:01.0 1111:0001"}, listed());
    }
    ScopedMachine machine;
    machine.add<Bridge>(Bridge::Mechanism2).addFunction(0, 2, 0, 0x2222, 0x0002);
    EXPECT_EQ(std::vector<std::string>{"0:02.0 2222:0002"}, listed());
    EXPECT_EQ(nullptr, PCIBus::pciBus().getDeviceInfo(0x1111, 0x0001, 0));
}
