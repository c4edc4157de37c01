// The entries of the bus list: the accessors' offsets, lookup by IDs and
// index, the cursor, and the command register write.
#include <gtest/gtest.h>

#include <functional>
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

std::uint8_t patternByte(unsigned offset) {
    return offset == 0x0E ? 0x80 : static_cast<std::uint8_t>(0x5A + 0x35 * offset);
}

std::uint32_t patternAt(unsigned offset, unsigned width) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i)
        value |= static_cast<std::uint32_t>(patternByte(offset + i)) << (8 * i);
    return value;
}

}  // namespace

TEST(PCIDeviceInfo, EveryAccessorReadsItsOffsetAndWidthOfTheCopy) {
    ScopedMachine machine;
    Bridge& bridge = machine.add<Bridge>(Bridge::Mechanism1);
    bridge.addBridge(0, 1, 0, 2);
    bridge.addFunction(2, 29, 0, 0x1234, 0x0001).setMultiFunction(true);
    PCIFunction& function = bridge.addFunction(2, 29, 6, 0, 0);
    for (unsigned i = 0; i < 256; ++i)
        function.set8(static_cast<std::uint8_t>(i), patternByte(i));

    const PCIDeviceInfo* info =
        PCIBus::pciBus().getDeviceInfo(patternAt(0, 2), patternAt(2, 2), 0);
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(2, info->busNumber());
    EXPECT_EQ(0xEE, info->slotNumber());

    struct Case {
        const char* name;
        std::function<std::uint32_t(const PCIDeviceInfo&)> read;
        unsigned offset, width;
    };
    const Case cases[] = {
        {"vendorId", [](const PCIDeviceInfo& d) { return d.vendorId(); }, 0x00, 2},
        {"deviceId", [](const PCIDeviceInfo& d) { return d.deviceId(); }, 0x02, 2},
        {"status", [](const PCIDeviceInfo& d) { return d.status(); }, 0x06, 2},
        {"revisionId", [](const PCIDeviceInfo& d) { return d.revisionId(); }, 0x08, 1},
        {"progIf", [](const PCIDeviceInfo& d) { return d.progIf(); }, 0x09, 1},
        {"subClass", [](const PCIDeviceInfo& d) { return d.subClass(); }, 0x0A, 1},
        {"baseClass", [](const PCIDeviceInfo& d) { return d.baseClass(); }, 0x0B, 1},
        {"cacheLineSize", [](const PCIDeviceInfo& d) { return d.cacheLineSize(); }, 0x0C, 1},
        {"latencyTimer", [](const PCIDeviceInfo& d) { return d.latencyTimer(); }, 0x0D, 1},
        {"headerType", [](const PCIDeviceInfo& d) { return d.headerType(); }, 0x0E, 1},
        {"BIST", [](const PCIDeviceInfo& d) { return d.BIST(); }, 0x0F, 1},
        {"baseAddress(0)", [](const PCIDeviceInfo& d) { return d.baseAddress(0); }, 0x10, 4},
        {"baseAddress(1)", [](const PCIDeviceInfo& d) { return d.baseAddress(1); }, 0x14, 4},
        {"baseAddress(2)", [](const PCIDeviceInfo& d) { return d.baseAddress(2); }, 0x18, 4},
        {"baseAddress(5)", [](const PCIDeviceInfo& d) { return d.baseAddress(5); }, 0x24, 4},
        {"baseAddress(59)", [](const PCIDeviceInfo& d) { return d.baseAddress(59); }, 0xFC, 4},
        {"CIS", [](const PCIDeviceInfo& d) { return d.CIS(); }, 0x28, 4},
        {"subVendorId", [](const PCIDeviceInfo& d) { return d.subVendorId(); }, 0x2C, 2},
        {"subSystemId", [](const PCIDeviceInfo& d) { return d.subSystemId(); }, 0x2E, 2},
        {"ROMBaseAddress", [](const PCIDeviceInfo& d) { return d.ROMBaseAddress(); }, 0x30, 4},
        {"capabilityList", [](const PCIDeviceInfo& d) { return d.capabilityList(); }, 0x34, 1},
        {"interruptLine", [](const PCIDeviceInfo& d) { return d.interruptLine(); }, 0x3C, 1},
        {"interruptPin", [](const PCIDeviceInfo& d) { return d.interruptPin(); }, 0x3D, 1},
        {"minimumGrant", [](const PCIDeviceInfo& d) { return d.minimumGrant(); }, 0x3E, 1},
        {"maximumLatency", [](const PCIDeviceInfo& d) { return d.maximumLatency(); }, 0x3F, 1},
    };
    const unsigned long accesses = machine.portAccessCount();
    for (const Case& c : cases)
        EXPECT_EQ(patternAt(c.offset, c.width), c.read(*info)) << c.name;
    EXPECT_EQ(accesses, machine.portAccessCount()) << "accessors read the copy, not the bus";

    const char* const text = "PCIDeviceInfo::baseAddress (..) Invalid base address register number";
    TAVEX_EXPECT_THROW_TEXT(info->baseAddress(60), std::range_error, text);
    TAVEX_EXPECT_THROW_TEXT(info->baseAddress(255), std::range_error, text);
}

namespace {

// A board with IDs 1234:5678 behind a bridge at bus 0 device 2, at bus 0
// device 5, and as functions 1 and 2 of the multi-function device 6; the
// swapped IDs at device 7.
struct LookupScene {
    LookupScene() : bridge(machine.add<Bridge>(Bridge::Mechanism1)) {
        bridge.addFunction(0, 0, 0, 0x8086, 0x1237);
        bridge.addBridge(0, 2, 0, 1);
        bridge.addFunction(1, 4, 0, 0x1234, 0x5678).setRevisionId(0x10);
        bridge.addFunction(0, 5, 0, 0x1234, 0x5678).setRevisionId(0x05).setStatus(0x0290);
        bridge.addFunction(0, 6, 0, 0x1234, 0x9999).setMultiFunction(true);
        bridge.addFunction(0, 6, 1, 0x1234, 0x5678).setRevisionId(0x61);
        bridge.addFunction(0, 6, 2, 0x1234, 0x5678).setRevisionId(0x62);
        bridge.addFunction(0, 7, 0, 0x5678, 0x1234);
    }
    ScopedMachine machine;
    Bridge& bridge;
};

}  // namespace

TEST(PCIBusLookup, CountsMatchesInScanOrderAcrossBridgesAndFunctions) {
    LookupScene scene;
    const PCIBus& bus = PCIBus::pciBus();
    const unsigned long accesses = scene.machine.portAccessCount();
    const std::vector<std::string> before = listed();

    struct Case {
        unsigned short vendorId, deviceId;
        unsigned index;
        const char* expected;   // null: no such entry
    };
    const Case cases[] = {
        {0x1234, 0x5678, 0, "1:04.0 1234:5678"}, {0x1234, 0x5678, 1, "0:05.0 1234:5678"},
        {0x1234, 0x5678, 2, "0:06.1 1234:5678"}, {0x1234, 0x5678, 3, "0:06.2 1234:5678"},
        {0x1234, 0x5678, 4, nullptr},            {0x1234, 0x5678, 0xFFFFFFFF, nullptr},
        {0x1234, 0x9999, 0, "0:06.0 1234:9999"}, {0x1234, 0x9999, 1, nullptr},
        {0x5678, 0x1234, 0, "0:07.0 5678:1234"}, {0x5678, 0x5678, 0, nullptr},
        {0x1234, 0x1234, 0, nullptr},            {0xFFFF, 0xFFFF, 0, nullptr},
        {0x0000, 0x0000, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.vendorId << ":" << c.deviceId
                                        << " index " << std::dec << c.index);
        const PCIDeviceInfo* found = bus.getDeviceInfo(c.vendorId, c.deviceId, c.index);
        if (c.expected == nullptr) {
            EXPECT_EQ(nullptr, found);
        } else {
            ASSERT_NE(nullptr, found);
            EXPECT_EQ(c.expected, describe(*found));
            EXPECT_EQ(found, bus.getDeviceInfo(c.vendorId, c.deviceId, c.index));
        }
    }
    EXPECT_EQ(accesses, scene.machine.portAccessCount()) << "a lookup never scans";
    EXPECT_EQ(before, listed());
}

TEST(PCICursor, WalksTheListInScanOrderAndBothIncrementsReturnTheCursorItself) {
    LookupScene scene;
    const std::vector<std::string> expected = {
        "0:00.0 8086:1237", "0:02.0 8086:244E", "1:04.0 1234:5678", "0:05.0 1234:5678",
        "0:06.0 1234:9999", "0:06.1 1234:5678", "0:06.2 1234:5678", "0:07.0 5678:1234"};
    EXPECT_EQ(expected, listed());

    PCICursor cursor;
    ASSERT_TRUE(cursor);
    EXPECT_EQ(expected[0], describe(cursor.deviceAtCursor()));
    PCICursor& prefix = ++cursor;
    EXPECT_EQ(&cursor, &prefix);
    EXPECT_EQ(expected[1], describe(cursor.deviceAtCursor()));
    PCICursor& postfix = cursor++;
    EXPECT_EQ(&cursor, &postfix);
    EXPECT_EQ(expected[2], describe(postfix.deviceAtCursor()));
    EXPECT_EQ(&cursor, &cursor.next());
    EXPECT_EQ(expected[3], describe(cursor.deviceAtCursor()));

    // The same entries as the lookup hands out.
    EXPECT_EQ(PCIBus::pciBus().getDeviceInfo(0x1234, 0x5678, 1), &cursor.deviceAtCursor());

    PCICursor other;   // independent of the first
    EXPECT_EQ(expected[0], describe(other.deviceAtCursor()));

    while (cursor.isValid())
        cursor++;
    EXPECT_FALSE(cursor);
    EXPECT_EQ(&cursor, &cursor.first());
    ASSERT_TRUE(cursor.isValid());
    EXPECT_EQ(expected[0], describe(cursor.deviceAtCursor()));
}

TEST(PCIDeviceInfo, SetCommandWritesTheCommandRegisterOnlyAndLeavesTheCopyAsScanned) {
    struct Case {
        Bridge::Mechanism mechanism;
        unsigned short deviceId;   // 5678: bus 0 device 5; 4321: bus 1 device 4
        std::uint8_t bus, slot;
        std::vector<Event> ports;
    };
    const Case cases[] = {
        {Bridge::Mechanism1, 0x5678, 0, 0x28, {out(0xCF8, 4, 0x80002804), out(0xCFC, 2, 0x0003)}},
        {Bridge::Mechanism1, 0x4321, 1, 0x20, {out(0xCF8, 4, 0x80012004), out(0xCFC, 2, 0x0003)}},
        {Bridge::Mechanism2, 0x5678, 0, 0x28,
         {out(0xCF8, 1, 0xF0), out(0xCFA, 1, 0x00), out(0xC504, 2, 0x0003), out(0xCF8, 1, 0x00)}},
        {Bridge::Mechanism2, 0x4321, 1, 0x20,
         {out(0xCF8, 1, 0xF0), out(0xCFA, 1, 0x01), out(0xC404, 2, 0x0003), out(0xCF8, 1, 0x00)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << mechanismName(c.mechanism) << ", bus "
                                        << unsigned(c.bus));
        ScopedMachine machine;
        Bridge& bridge = machine.add<Bridge>(c.mechanism);
        bridge.addBridge(0, 2, 0, 1);
        PCIFunction& onBus0 = bridge.addFunction(0, 5, 0, 0x1234, 0x5678).setStatus(0x0290);
        PCIFunction& onBus1 = bridge.addFunction(1, 4, 0, 0x1234, 0x4321).setStatus(0x0290);
        PCIFunction& function = c.bus == 0 ? onBus0 : onBus1;

        const PCIDeviceInfo* info = PCIBus::pciBus().getDeviceInfo(0x1234, c.deviceId, 0);
        ASSERT_NE(nullptr, info);
        EXPECT_EQ(0x0290, info->status());
        // The device signals an error afterwards; the copy is not refreshed.
        function.setStatus(0x4290);
        machine.clearTrace();
        bridge.clearConfigAccesses();

        info->setCommand(0x0003);

        EXPECT_EQ(c.ports, machine.portTrace());
        const std::vector<Bridge::ConfigAccess> writes = {
            Bridge::configWrite(c.bus, c.slot, 0x04, 2, 0x0003)};
        EXPECT_EQ(writes, bridge.configWrites());
        EXPECT_EQ(0x0003, function.command());
        EXPECT_EQ(0x4290, function.status());
        EXPECT_EQ(0x0290, info->status());
    }
}
