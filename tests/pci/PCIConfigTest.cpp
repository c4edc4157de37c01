// The configuration mechanisms as the host bridge sees them: which one is
// chosen and how it is probed, and the exact port accesses of every access
// width under each.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include "PCITestSupport.h"
#include "tavex/pci/PCIBus.h"
#include "tavex/pci/PCIConfig.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/PCIHostBridge.h"

using namespace pcitest;
using Tavex::PCIBus;
using Tavex::PCIConfig;
using Tavex::PCICursor;
using Tavex::Sim::PCIFunction;
using Tavex::Sim::ScopedMachine;

namespace {

// Distinct bytes all over the configuration space; header type 0x80, so
// that the header's place in the function is visible too.
void fillPattern(PCIFunction& function, unsigned seed) {
    for (unsigned i = 0; i < 256; ++i)
        function.set8(static_cast<std::uint8_t>(i),
                      static_cast<std::uint8_t>(seed + 0x35 * i));
    function.setHeaderType(0x80);
}

std::uint32_t bytesAt(const PCIFunction& function, unsigned offset, unsigned width) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i)
        value |= static_cast<std::uint32_t>(function.get8(static_cast<std::uint8_t>(offset + i)))
                 << (8 * i);
    return value;
}

bool isMechanism2Port(const Event& event) {
    return event.port == 0xCFA || (event.port == 0xCF8 && event.width != 4) ||
           (event.port == 0xCFB && !(event.kind == Event::PortWrite && event.value == 0x01)) ||
           (event.port >= 0xC000 && event.port <= 0xCFFF);
}

}  // namespace

TEST(PCIConfigDetection, Mechanism1IsProbedTwiceRestoringTheAddressAndMechanism2IsNeverTouched) {
    ScopedMachine machine;
    Bridge& bridge = machine.add<Bridge>(Bridge::Mechanism1);
    bridge.addFunction(0, 0, 0, 0x8086, 0x1237);
    bridge.setAddressRegister(0x80004C08);   // left there by the firmware

    PCIBus& bus = PCIBus::pciBus();
    ASSERT_TRUE(bus.exists());

    const std::vector<Event> probe = {
        out(0xCFB, 1, 0x01),       in(0xCF8, 4, 0x80004C08), out(0xCF8, 4, 0x80000000),
        in(0xCF8, 4, 0x80000000), out(0xCF8, 4, 0x80004C08)};
    const std::vector<Event> trace = machine.portTrace();
    ASSERT_GE(trace.size(), 2 * probe.size() + 2);
    // Detection, then the scan's own probe, then the first read of bus 0.
    for (std::size_t i = 0; i < 2 * probe.size(); ++i)
        EXPECT_EQ(probe[i % probe.size()], trace[i]) << "access " << i;
    EXPECT_EQ(out(0xCF8, 4, 0x80000000), trace[10]);
    EXPECT_EQ(in(0xCFC, 4, 0x12378086), trace[11]);

    for (std::size_t i = 0; i < trace.size(); ++i)
        EXPECT_FALSE(isMechanism2Port(trace[i]))
            << "mechanism #2 port touched: " << testing::PrintToString(trace[i]);
}

TEST(PCIConfigDetection, Mechanism2IsChosenAfterAFailedMechanism1ProbeThatRestoresNothing) {
    ScopedMachine machine;
    Bridge& bridge = machine.add<Bridge>(Bridge::Mechanism2);
    bridge.addFunction(0, 0, 0, 0x8086, 0x04A3);

    ASSERT_TRUE(PCIBus::pciBus().exists());

    const std::vector<Event> trace = machine.portTrace();
    ASSERT_GE(trace.size(), 18u);
    EXPECT_EQ(out(0xCFB, 1, 0x01), trace[0]);
    EXPECT_EQ(Event::PortRead, trace[1].kind);
    EXPECT_EQ(0xCF8, trace[1].port);
    EXPECT_EQ(4u, trace[1].width);
    EXPECT_EQ(out(0xCF8, 4, 0x80000000), trace[2]);
    EXPECT_EQ(Event::PortRead, trace[3].kind);
    EXPECT_EQ(0xCF8, trace[3].port);
    EXPECT_EQ(4u, trace[3].width);
    EXPECT_NE(0x80000000u, trace[3].value);
    // The failed probe does not write the kept value back: mechanism #2's
    // probe follows at once, and again from the scan.
    const std::vector<Event> probe2 = {out(0xCFB, 1, 0x00), out(0xCFA, 1, 0x00),
                                       out(0xCF8, 1, 0x00), in(0xCF8, 1, 0x00),
                                       in(0xCFA, 1, 0x00)};
    for (std::size_t i = 0; i < 2 * probe2.size(); ++i)
        EXPECT_EQ(probe2[i % probe2.size()], trace[4 + i]) << "access " << 4 + i;
    // First configuration read: bus 0, device 0, function 0, window closed after.
    EXPECT_EQ(out(0xCF8, 1, 0xF0), trace[14]);
    EXPECT_EQ(out(0xCFA, 1, 0x00), trace[15]);
    EXPECT_EQ(in(0xC000, 4, 0x04A38086), trace[16]);
    EXPECT_EQ(out(0xCF8, 1, 0x00), trace[17]);
}

TEST(PCIConfigDetection, WithoutAMechanismBothProbesFailAndTheListStaysEmpty) {
    struct Case {
        const char* name;
        bool bridgeFitted;
    };
    const Case cases[] = {{"no host bridge in the machine", false},
                          {"bridge that decodes neither mechanism", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedMachine machine;
        if (c.bridgeFitted)
            machine.add<Bridge>(Bridge::NoMechanism).addFunction(0, 0, 0, 0x8086, 0x1237);

        PCIBus& bus = PCIBus::pciBus();
        EXPECT_FALSE(bus.exists());
        EXPECT_EQ(nullptr, bus.getDeviceInfo(0x8086, 0x1237, 0));
        PCICursor cursor;
        EXPECT_FALSE(cursor.isValid());
        EXPECT_FALSE(static_cast<bool>(cursor));

        const std::vector<Event> expected = {
            out(0xCFB, 1, 0x01), in(0xCF8, 4, 0xFFFFFFFF), out(0xCF8, 4, 0x80000000),
            in(0xCF8, 4, 0xFFFFFFFF), out(0xCFB, 1, 0x00), out(0xCFA, 1, 0x00),
            out(0xCF8, 1, 0x00), in(0xCF8, 1, 0xFF)};
        EXPECT_EQ(expected, machine.portTrace());

        // Never probed again.
        machine.clearTrace();
        EXPECT_EQ(&bus, &PCIBus::pciBus());
        EXPECT_FALSE(PCICursor().isValid());
        EXPECT_TRUE(machine.portTrace().empty());
    }
}

namespace {

struct AccessCase {
    const char* name;
    std::function<std::uint32_t(PCIConfig&)> access;
    std::vector<Event> ports;
    bool isWrite;
    Bridge::ConfigAccess cycle;
};

// Functions at bus 0 device 1 (slot 0x08), bus 1 device 3 function 2
// (slot 0x1A) and bus 2 device 29 function 5 (slot 0xED); the accesses
// themselves need no bridge to reach a bus.
struct AccessScene {
    explicit AccessScene(Bridge::Mechanism mechanism)
        : bridge(machine.add<Bridge>(mechanism)),
          f08(bridge.addFunction(0, 1, 0, 0, 0)),
          f1A(bridge.addFunction(1, 3, 2, 0, 0)),
          fED(bridge.addFunction(2, 29, 5, 0, 0)) {
        fillPattern(f08, 0x11);
        fillPattern(f1A, 0x22);
        fillPattern(fED, 0x33);
        PCIBus::pciBus();
        machine.clearTrace();
        bridge.clearConfigAccesses();
    }
    ScopedMachine machine;
    Bridge& bridge;
    PCIFunction& f08;
    PCIFunction& f1A;
    PCIFunction& fED;
};

void runAccessCases(AccessScene& scene, const std::vector<AccessCase>& cases,
                    const std::function<void()>& afterEach) {
    PCIConfig& config = PCIBus::pciBus().config();
    for (const AccessCase& c : cases) {
        SCOPED_TRACE(c.name);
        scene.machine.clearTrace();
        scene.bridge.clearConfigAccesses();
        const std::uint32_t result = c.access(config);
        EXPECT_EQ(c.ports, scene.machine.portTrace());
        ASSERT_EQ(1u, scene.bridge.configAccesses().size());
        EXPECT_EQ(c.cycle, scene.bridge.configAccesses()[0]);
        if (!c.isWrite) {
            EXPECT_EQ(c.cycle.value, result);
        }
        afterEach();
    }
}

}  // namespace

TEST(PCIConfigAccess, Mechanism1AddressesEveryWidthThroughTheDataWindow) {
    AccessScene scene(Bridge::Mechanism1);
    const PCIFunction& f08 = scene.f08;
    const PCIFunction& fED = scene.fED;
    const std::uint32_t ms = 0x12344010;   // cache line 0x10, latency 0x40, header/BIST fixed

    const std::vector<AccessCase> cases = {
        {"readChar header type", [](PCIConfig& c) { return c.readChar(0, 0x08, 0x0E); },
         {out(0xCF8, 4, 0x8000080C), in(0xCFE, 1, 0x80)}, false,
         Bridge::configRead(0, 0x08, 0x0E, 1, 0x80)},
        {"readChar last byte of a dword on bus 2",
         [](PCIConfig& c) { return c.readChar(2, 0xED, 0x3F); },
         {out(0xCF8, 4, 0x8002ED3C), in(0xCFF, 1, bytesAt(fED, 0x3F, 1))}, false,
         Bridge::configRead(2, 0xED, 0x3F, 1, bytesAt(fED, 0x3F, 1))},
        {"readShort device ID", [](PCIConfig& c) { return c.readShort(0, 0x08, 0x02); },
         {out(0xCF8, 4, 0x80000800), in(0xCFE, 2, bytesAt(f08, 0x02, 2))}, false,
         Bridge::configRead(0, 0x08, 0x02, 2, bytesAt(f08, 0x02, 2))},
        {"readShort subsystem ID", [](PCIConfig& c) { return c.readShort(2, 0xED, 0x2E); },
         {out(0xCF8, 4, 0x8002ED2C), in(0xCFE, 2, bytesAt(fED, 0x2E, 2))}, false,
         Bridge::configRead(2, 0xED, 0x2E, 2, bytesAt(fED, 0x2E, 2))},
        {"readShort at an odd offset", [](PCIConfig& c) { return c.readShort(0, 0x08, 0x0D); },
         {out(0xCF8, 4, 0x8000080C), in(0xCFD, 2, bytesAt(f08, 0x0D, 2))}, false,
         Bridge::configRead(0, 0x08, 0x0D, 2, bytesAt(f08, 0x0D, 2))},
        {"readLong BAR 0", [](PCIConfig& c) { return c.readLong(0, 0x08, 0x10); },
         {out(0xCF8, 4, 0x80000810), in(0xCFC, 4, bytesAt(f08, 0x10, 4))}, false,
         Bridge::configRead(0, 0x08, 0x10, 4, bytesAt(f08, 0x10, 4))},
        {"readLong unaligned runs past 0xCFF",
         [](PCIConfig& c) { return c.readLong(0, 0x08, 0x13); },
         {out(0xCF8, 4, 0x80000810), in(0xCFF, 4, 0xFFFFFF00 | bytesAt(f08, 0x13, 1))}, false,
         Bridge::configRead(0, 0x08, 0x13, 4, 0xFFFFFF00 | bytesAt(f08, 0x13, 1))},
        {"writeChar interrupt line",
         [](PCIConfig& c) { c.writeChar(2, 0xED, 0x3C, 0x0A); return 0u; },
         {out(0xCF8, 4, 0x8002ED3C), out(0xCFC, 1, 0x0A)}, true,
         Bridge::configWrite(2, 0xED, 0x3C, 1, 0x0A)},
        {"writeShort command", [](PCIConfig& c) { c.writeShort(0, 0x08, 0x04, 0x0147); return 0u; },
         {out(0xCF8, 4, 0x80000804), out(0xCFC, 2, 0x0147)}, true,
         Bridge::configWrite(0, 0x08, 0x04, 2, 0x0147)},
        {"writeShort at offset 2 of a dword",
         [](PCIConfig& c) { c.writeShort(1, 0x1A, 0x3E, 0x1234); return 0u; },
         {out(0xCF8, 4, 0x80011A3C), out(0xCFE, 2, 0x1234)}, true,
         Bridge::configWrite(1, 0x1A, 0x3E, 2, 0x1234)},
        {"writeLong cache line and latency",
         [ms](PCIConfig& c) { c.writeLong(0, 0x08, 0x0C, ms); return 0u; },
         {out(0xCF8, 4, 0x8000080C), out(0xCFC, 4, ms)}, true,
         Bridge::configWrite(0, 0x08, 0x0C, 4, ms)},
    };
    std::uint32_t lastAddress = 0;
    runAccessCases(scene, cases, [&]() {
        // The address register keeps the last address: nothing clears it.
        const std::vector<Event> trace = scene.machine.portTrace();
        ASSERT_FALSE(trace.empty());
        lastAddress = trace.front().value;
        EXPECT_EQ(lastAddress, scene.bridge.addressRegister());
    });

    // The writes reached the registers that take them.
    EXPECT_EQ(0x0A, scene.fED.get8(0x3C));
    EXPECT_EQ(0x0147, scene.f08.command() & 0x07FF);
    EXPECT_EQ(0x4010u, scene.f08.get32(0x0C) & 0xFFFF);
    EXPECT_EQ(0x80, scene.f08.headerType());
}

TEST(PCIConfigAccess, Mechanism2AddressesEveryWidthThroughTheWindowAndClosesIt) {
    AccessScene scene(Bridge::Mechanism2);
    const PCIFunction& f08 = scene.f08;
    const PCIFunction& f1A = scene.f1A;

    const std::vector<AccessCase> cases = {
        {"readShort bus 1 device 3 function 2",
         [](PCIConfig& c) { return c.readShort(1, 0x1A, 0x02); },
         {out(0xCF8, 1, 0xF4), out(0xCFA, 1, 0x01), in(0xC302, 2, bytesAt(f1A, 0x02, 2)),
          out(0xCF8, 1, 0x00)},
         false, Bridge::configRead(1, 0x1A, 0x02, 2, bytesAt(f1A, 0x02, 2))},
        {"readChar header type", [](PCIConfig& c) { return c.readChar(0, 0x08, 0x0E); },
         {out(0xCF8, 1, 0xF0), out(0xCFA, 1, 0x00), in(0xC10E, 1, 0x80), out(0xCF8, 1, 0x00)},
         false, Bridge::configRead(0, 0x08, 0x0E, 1, 0x80)},
        {"readLong device 15 function 7 last dword",
         [](PCIConfig& c) { return c.readLong(0, 0x7F, 0xFC); },
         {out(0xCF8, 1, 0xFE), out(0xCFA, 1, 0x00), in(0xCFFC, 4, 0xFFFFFFFF),
          out(0xCF8, 1, 0x00)},
         false, Bridge::configRead(0, 0x7F, 0xFC, 4, 0xFFFFFFFF)},
        {"readLong BAR 2", [](PCIConfig& c) { return c.readLong(0, 0x08, 0x18); },
         {out(0xCF8, 1, 0xF0), out(0xCFA, 1, 0x00), in(0xC118, 4, bytesAt(f08, 0x18, 4)),
          out(0xCF8, 1, 0x00)},
         false, Bridge::configRead(0, 0x08, 0x18, 4, bytesAt(f08, 0x18, 4))},
        {"writeChar interrupt line",
         [](PCIConfig& c) { c.writeChar(1, 0x1A, 0x3C, 0x05); return 0u; },
         {out(0xCF8, 1, 0xF4), out(0xCFA, 1, 0x01), out(0xC33C, 1, 0x05), out(0xCF8, 1, 0x00)},
         true, Bridge::configWrite(1, 0x1A, 0x3C, 1, 0x05)},
        {"writeShort command",
         [](PCIConfig& c) { c.writeShort(0, 0x08, 0x04, 0x0003); return 0u; },
         {out(0xCF8, 1, 0xF0), out(0xCFA, 1, 0x00), out(0xC104, 2, 0x0003), out(0xCF8, 1, 0x00)},
         true, Bridge::configWrite(0, 0x08, 0x04, 2, 0x0003)},
        {"writeLong cache line and latency",
         [](PCIConfig& c) { c.writeLong(1, 0x1A, 0x0C, 0x00002008); return 0u; },
         {out(0xCF8, 1, 0xF4), out(0xCFA, 1, 0x01), out(0xC30C, 4, 0x00002008),
          out(0xCF8, 1, 0x00)},
         true, Bridge::configWrite(1, 0x1A, 0x0C, 4, 0x00002008)},
    };
    runAccessCases(scene, cases, [&]() { EXPECT_EQ(0, scene.bridge.enableRegister()); });

    EXPECT_EQ(0x05, scene.f1A.get8(0x3C));
    EXPECT_EQ(0x0003, scene.f08.command() & 0x07FF);
    EXPECT_EQ(0x2008u, scene.f1A.get32(0x0C) & 0xFFFF);
}

TEST(PCIConfigAccess, Mechanism2RefusesDevice16AndAboveBeforeAnyPortAccess) {
    AccessScene scene(Bridge::Mechanism2);
    PCIConfig& config = PCIBus::pciBus().config();
    const char* const text = "PCI config2 supports only 16 devices per bus";
    const unsigned char slots[] = {0x80, 0x87, 0xC5, 0xFF};
    for (unsigned char slot : slots) {
        SCOPED_TRACE(testing::Message() << "slot 0x" << std::hex << unsigned(slot));
        scene.machine.clearTrace();
        TAVEX_EXPECT_THROW_TEXT(config.readChar(0, slot, 0x00), std::runtime_error, text);
        TAVEX_EXPECT_THROW_TEXT(config.readShort(1, slot, 0x02), std::runtime_error, text);
        TAVEX_EXPECT_THROW_TEXT(config.readLong(0, slot, 0x00), std::runtime_error, text);
        TAVEX_EXPECT_THROW_TEXT(config.writeChar(0, slot, 0x3C, 1), std::runtime_error, text);
        TAVEX_EXPECT_THROW_TEXT(config.writeShort(2, slot, 0x04, 3), std::runtime_error, text);
        TAVEX_EXPECT_THROW_TEXT(config.writeLong(0, slot, 0x10, 0xFFFFFFFF), std::runtime_error,
                              text);
        EXPECT_TRUE(scene.machine.portTrace().empty());
    }
    EXPECT_TRUE(scene.bridge.configAccesses().empty());
    // Device 15 is still reached.
    EXPECT_EQ(0xFFFF, config.readShort(0, 0x78, 0x00));
}

TEST(PCIConfigAccess, Mechanism1ReachesAllThirtyTwoDevices) {
    AccessScene scene(Bridge::Mechanism1);
    PCIConfig& config = PCIBus::pciBus().config();
    scene.bridge.addFunction(3, 31, 7, 0x1022, 0x7468);
    scene.machine.clearTrace();
    EXPECT_EQ(0x74681022u, config.readLong(3, 0xFF, 0x00));
    const std::vector<Event> expected = {out(0xCF8, 4, 0x8003FF00), in(0xCFC, 4, 0x74681022)};
    EXPECT_EQ(expected, scene.machine.portTrace());
}

TEST(PCIHostBridgeModel, EachBridgeAnswersOnlyItsOwnMechanismsProbe) {
    struct Case {
        Bridge::Mechanism mechanism;
        bool answers1, answers2;
    };
    const Case cases[] = {{Bridge::Mechanism1, true, false},
                          {Bridge::Mechanism2, false, true},
                          {Bridge::NoMechanism, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(mechanismName(c.mechanism));
        Tavex::Sim::Machine machine;
        machine.add<Bridge>(c.mechanism);
        // Each probe run twice, and each after the other, as firmware and
        // other programs may have left the registers either way.
        for (unsigned round = 0; round < 2; ++round) {
            machine.outByte(0xCFB, 0x01);
            const std::uint32_t kept = machine.inDword(0xCF8);
            machine.outDword(0xCF8, 0x80000000);
            const bool answers1 = machine.inDword(0xCF8) == 0x80000000;
            if (answers1)
                machine.outDword(0xCF8, kept);
            EXPECT_EQ(c.answers1, answers1);

            machine.outByte(0xCFB, 0x00);
            machine.outByte(0xCFA, 0x00);
            machine.outByte(0xCF8, 0x00);
            const bool answers2 = machine.inByte(0xCF8) == 0 && machine.inByte(0xCFA) == 0;
            EXPECT_EQ(c.answers2, answers2);
        }
    }
}
