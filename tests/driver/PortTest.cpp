// The port requests of tavex.sys under Wine: the test build's port space is
// an array, with the stand-in configuration space of standin.h behind both
// configuration mechanisms.  The process has no port rights of its own, so
// the library's Windows backend sends every port access of a card to the
// driver: the cards and the PCI scan run end to end through both.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "DriverHarness.h"
#include "platform/PortRequest.h"
#include "standin.h"
#include "tavex/cards/AC5Card.h"
#include "tavex/cards/PCI72xxCard.h"
#include "tavex/model/IOTrack.h"
#include "tavex/pci/PCIBus.h"
#include "tavex/pci/PCIConfig.h"
#include "tavex/platform/IOPort.h"
#include "tavex/platform/OSInterface.h"

using namespace DriverHarness;

namespace {

const NTSTATUS ok = STATUS_SUCCESS;
const NTSTATUS denied = STATUS_ACCESS_DENIED;

// The mechanism #1 address of a register of a function.
std::uint32_t address(unsigned bus, unsigned slot, unsigned offset) {
    return 0x80000000u | bus << 16 | slot << 8 | offset;
}

void installTestDriver() {
    ProgramRun installed = installer("install \"" + programFolder() + "tavex-test.sys\"");
    ASSERT_EQ(0u, installed.exitCode) << installed.output;
}

// The driver runs (installed again if a test before removed it), and the
// library has its link to it.  At the end the driver is installed and
// stopped again, as the other tests expect to find it.
class PortTest : public ::testing::Test {
protected:
    static void TearDownTestSuite() {
        Tavex::Platform::install(0);
        installer("remove");
        installTestDriver();
    }
    void SetUp() override {
        if (installer("status").exitCode == 3)
            installTestDriver();
        Tavex::OSInterface::osinterface();
        own.reset(new Device);
        device = *own;
        ASSERT_NE(INVALID_HANDLE_VALUE, device) << GetLastError();
    }
    std::unique_ptr<Device> own;
    HANDLE device = INVALID_HANDLE_VALUE;
};

}  // namespace

// One handle's accesses in order: what the library's boards and the two
// configuration mechanisms need passes, and nothing else.
TEST_F(PortTest, TheDriverAllowsExactlyThePortsOfTheLibrarysBoards) {
    struct Step {
        const char* what;
        std::uint16_t port;
        std::uint8_t width;
        bool write;
        std::uint32_t value;
        NTSTATUS status;
    } const steps[] = {
        // ISA boards: byte registers at the bases the cards accept.
        {"AC5 at 0x300, its last control register", 0x305, 1, true, 0x34, ok},
        {"AC5 at its first base", 0x220, 1, false, 0, ok},
        {"a word at an AC5 register", 0x300, 2, false, 0, denied},
        {"0x272, where the AC5 cannot be", 0x272, 1, false, 0, denied},
        {"PC7166 at 0x360, channel 3's control", 0x367, 1, true, 0x20, ok},
        {"past it", 0x368, 1, false, 0, denied},
        {"AC28 at 0x180, bank 63", 0x1BF, 1, false, 0, ok},
        {"AC28 at 0x180, a bank 64", 0x1C0, 1, false, 0, denied},
        {"an AC28 reset port", 0xE0, 1, true, 1, ok},
        {"beside it", 0xE1, 1, false, 0, denied},
        {"LPT1's control", 0x37A, 1, true, 0x04, ok},
        {"an EPP register of LPT1", 0x37B, 1, false, 0, denied},
        {"the old adapters' LPT", 0x3BE, 1, false, 0, ok},
        {"the LPT2 the BIOS lists", TAVEX_STANDIN_LPT2_PORTS + 2, 1, false, 0, ok},
        {"past it", TAVEX_STANDIN_LPT2_PORTS + 3, 1, false, 0, denied},
        {"a PCIM channel's control", 0x211, 1, true, 0x40, ok},
        {"the keyboard controller", 0x64, 1, true, 0xFE, denied},
        {"the POST port", 0x80, 1, false, 0, denied},
        {"the reset control register", 0xCF9, 1, true, 0x06, denied},
        // PCI boards: the block at base address register 2 of a served
        // identity, found in configuration space.
        {"the PCI-7248's last register", TAVEX_STANDIN_7248_PORTS + 7, 1, true, 0x1B, ok},
        {"past its two groups", TAVEX_STANDIN_7248_PORTS + 8, 1, false, 0, denied},
        {"a word of it", TAVEX_STANDIN_7248_PORTS, 2, false, 0, denied},
        {"the last of four groups behind a 9050 of the board's maker",
         TAVEX_STANDIN_9050_PORTS + 15, 1, false, 0, ok},
        {"past them", TAVEX_STANDIN_9050_PORTS + 16, 1, false, 0, denied},
        {"a board on the same bridge chip that is none of the library's",
         TAVEX_STANDIN_OTHER_9050_PORTS, 1, false, 0, denied},
        {"an I/O BAR of the Profibus master's identity, which it reaches by memory",
         TAVEX_STANDIN_IO_PFB_PORTS, 1, false, 0, denied},
        // Mechanism #1.
        {"the mechanism select, 1", 0xCFB, 1, true, 1, ok},
        {"the mechanism select, 2", 0xCFB, 1, true, 2, denied},
        {"a read of the mechanism select", 0xCFB, 1, false, 0, denied},
        {"an address", 0xCF8, 4, true, 0x80000000u, ok},
        {"the address read back", 0xCF8, 4, false, 0, ok},
        {"a word at the address register", 0xCF8, 2, false, 0, denied},
        {"data", 0xCFC, 4, false, 0, ok},
        {"the last data byte", 0xCFF, 1, false, 0, ok},
        {"a word past the data ports", 0xCFF, 2, false, 0, denied},
        {"a write to a vendor ID", 0xCFC, 2, true, 0, denied},
        {"the PCI-7248's command register", 0xCF8, 4, true, address(0, 0x20, 4), ok},
        {"set", 0xCFC, 2, true, 0x0001, ok},
        {"set as a double word", 0xCFC, 4, true, 0x0001, denied},
        {"set as a byte", 0xCFC, 1, true, 0x01, denied},
        {"the status register beside it", 0xCFE, 2, true, 0xFFFF, denied},
        {"its base address register 2", 0xCF8, 4, true, address(0, 0x20, 0x18), ok},
        {"set", 0xCFC, 4, true, 0xE801, denied},
        {"set by its low word", 0xCFC, 2, true, 0xE801, denied},
        {"the network card's command register", 0xCF8, 4, true, address(0, 0x10, 4), ok},
        {"set", 0xCFC, 2, true, 0x0007, denied},
        {"that of the other board on the bridge chip", 0xCF8, 4, true, address(0, 0x30, 4), ok},
        {"set", 0xCFC, 2, true, 0x0001, denied},
        {"that of the Profibus master", 0xCF8, 4, true, address(0, 0x18, 4), ok},
        {"set", 0xCFC, 2, true, 0x0002, ok},
        {"that of the 9050 board of the PCI-72xx's maker", 0xCF8, 4, true, address(0, 0x28, 4),
         ok},
        {"set", 0xCFC, 2, true, 0x0001, ok},
        {"that of an absent function", 0xCF8, 4, true, address(0, 0x40, 4), ok},
        {"set", 0xCFC, 2, true, 0x0001, denied},
        {"that of a function on an absent bus", 0xCF8, 4, true, address(1, 0x20, 4), ok},
        {"set", 0xCFC, 2, true, 0x0001, denied},
        {"an extended register 0x104 of the PCI-7248", 0xCF8, 4, true,
         address(0, 0x20, 4) | 0x01000000u, ok},
        {"set", 0xCFC, 2, true, 0x0001, denied},
        {"configuration off", 0xCF8, 4, true, 0, ok},
        // Mechanism #2.
        {"the window before it is enabled", 0xC000, 4, false, 0, denied},
        {"a special cycle", 0xCF8, 1, true, 0xF1, denied},
        {"an enable without the key", 0xCF8, 1, true, 0x02, denied},
        {"function 0", 0xCF8, 1, true, 0xF0, ok},
        {"bus 0", 0xCFA, 1, true, 0, ok},
        {"device 4's IDs", 0xC400, 4, false, 0, ok},
        {"a word past the window", 0xCFFF, 2, false, 0, denied},
        {"the PCI-7248's command register", 0xC404, 2, true, 0x0001, ok},
        {"its base address register 2", 0xC418, 4, true, 0xE801, denied},
        {"the network card's command register", 0xC204, 2, true, 0x0007, denied},
        {"function 1", 0xCF8, 1, true, 0xF2, ok},
        {"the IDE controller's command register", 0xC104, 2, true, 0x0001, denied},
        {"function 0", 0xCF8, 1, true, 0xF0, ok},
        {"bus 1", 0xCFA, 1, true, 1, ok},
        {"device 4's command register there, where there is no bus", 0xC404, 2, true, 0x0001,
         denied},
        {"the window closed", 0xCF8, 1, true, 0, ok},
        {"the window after", 0xC000, 4, false, 0, denied},
    };
    for (const Step& s : steps) {
        const TavexPortAccess access = {s.port, s.width,
                                        static_cast<std::uint8_t>(s.write ? TAVEX_PORT_OUT
                                                                          : TAVEX_PORT_IN),
                                        s.value};
        std::uint32_t value = 0xA5A5A5A5u;
        Reply reply = s.write ? control(device, TAVEX_PORT_WRITE, &access, sizeof access, 0, 0)
                              : control(device, TAVEX_PORT_READ, &access, sizeof access, &value,
                                        sizeof value);
        EXPECT_EQ(hex(s.status), hex(reply.status)) << s.what << " (port " << hex(s.port) << ")";
        if (s.status == ok && !s.write) {
            EXPECT_EQ(4u, reply.information) << s.what;
        }
        if (s.status != ok) {
            EXPECT_EQ(0xA5A5A5A5u, value) << s.what << ": refused, yet answered";
        }
    }
}

TEST_F(PortTest, MalformedRequestsAreRefusedBeforeAnyCheck) {
    const ULONG read = TAVEX_PORT_READ, write = TAVEX_PORT_WRITE, list = TAVEX_PORT_LIST;
    const TavexPortAccess in = {0x300, 1, TAVEX_PORT_IN, 0};
    const TavexPortAccess out = {0x300, 1, TAVEX_PORT_OUT, 0x12};
    struct Case {
        const char* what;
        ULONG code;
        TavexPortAccess access;
        ULONG inSize, outSize;
        NTSTATUS status;
    } const cases[] = {
        {"read, nothing out", read, in, 8, 0, STATUS_INVALID_BUFFER_SIZE},
        {"read, 8 bytes out", read, in, 8, 8, STATUS_INVALID_BUFFER_SIZE},
        {"read, half a request", read, in, 4, 4, STATUS_INVALID_BUFFER_SIZE},
        {"write, 4 bytes out", write, out, 8, 4, STATUS_INVALID_BUFFER_SIZE},
        {"write, 12 bytes in", write, out, 12, 0, STATUS_INVALID_BUFFER_SIZE},
        {"a list of nothing", list, in, 0, 0, STATUS_INVALID_BUFFER_SIZE},
        {"a list of a read, nothing out", list, in, 8, 0, STATUS_INVALID_BUFFER_SIZE},
        {"a list of a write, 4 bytes out", list, out, 8, 4, STATUS_INVALID_BUFFER_SIZE},
        {"a read as a write", write, in, 8, 0, STATUS_INVALID_PARAMETER},
        {"a write as a read", read, out, 8, 4, STATUS_INVALID_PARAMETER},
        {"a read with a value", read, {0x300, 1, TAVEX_PORT_IN, 1}, 8, 4, STATUS_INVALID_PARAMETER},
        {"a width of 3", read, {0x300, 3, TAVEX_PORT_IN, 0}, 8, 4, STATUS_INVALID_PARAMETER},
        {"a width of 0", read, {0x300, 0, TAVEX_PORT_IN, 0}, 8, 4, STATUS_INVALID_PARAMETER},
        {"a direction of 2", read, {0x300, 1, 2, 0}, 8, 4, STATUS_INVALID_PARAMETER},
        {"a byte of 0x100", write, {0x300, 1, TAVEX_PORT_OUT, 0x100}, 8, 0,
         STATUS_INVALID_PARAMETER},
        {"past the port space", read, {0xFFFE, 4, TAVEX_PORT_IN, 0}, 8, 4,
         STATUS_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        std::uint8_t buffer[16];
        std::memset(buffer, 0xA5, sizeof buffer);
        std::memcpy(buffer, &c.access, sizeof c.access);
        std::uint8_t reply[16];
        std::memset(reply, 0xA5, sizeof reply);
        Reply r = control(device, c.code, buffer, c.inSize, reply, c.outSize);
        EXPECT_EQ(hex(c.status), hex(r.status)) << c.what;
        EXPECT_EQ(0xA5, reply[0]) << c.what;
    }
    // One more access than a list may carry.
    std::vector<TavexPortAccess> longest(TAVEX_PORT_LIST_MAX + 1, out);
    EXPECT_EQ(hex(STATUS_INVALID_BUFFER_SIZE),
              hex(control(device, list, &longest[0],
                          static_cast<ULONG>(longest.size() * sizeof out), 0, 0)
                      .status));
    longest.pop_back();
    EXPECT_EQ(hex(ok), hex(control(device, list, &longest[0],
                                   static_cast<ULONG>(longest.size() * sizeof out), 0, 0)
                               .status));
}

// A list runs whole or not at all, in order, and answers its reads in order.
TEST_F(PortTest, AListIsCheckedWholeThenRunInOrder) {
    auto run = [&](std::vector<TavexPortAccess> accesses, std::vector<std::uint32_t>& values) {
        std::size_t reads = 0;
        for (const TavexPortAccess& a : accesses)
            reads += a.direction == TAVEX_PORT_IN;
        values.assign(reads, 0xA5A5A5A5u);
        return control(device, TAVEX_PORT_LIST, &accesses[0],
                       static_cast<ULONG>(accesses.size() * sizeof accesses[0]),
                       reads ? &values[0] : 0, static_cast<ULONG>(reads * 4));
    };
    std::vector<std::uint32_t> values;
    // A configuration read: the address, then the data; then an ISA write
    // and its read-back.
    Reply reply = run({{0xCF8, 4, TAVEX_PORT_OUT, address(0, 0x20, 0)},
                       {0xCFC, 4, TAVEX_PORT_IN, 0},
                       {0xCFE, 2, TAVEX_PORT_IN, 0},
                       {0x300, 1, TAVEX_PORT_OUT, 0x5A},
                       {0x300, 1, TAVEX_PORT_IN, 0}},
                      values);
    ASSERT_EQ(hex(ok), hex(reply.status));
    EXPECT_EQ(12u, reply.information);
    EXPECT_EQ((std::vector<std::uint32_t>{0x7248144Au, 0x7248u, 0x5Au}), values);

    // A refused last access: the write before it never ran.
    reply = run({{0x300, 1, TAVEX_PORT_OUT, 0xC3}, {0x64, 1, TAVEX_PORT_OUT, 0xFE}}, values);
    EXPECT_EQ(hex(denied), hex(reply.status));
    ASSERT_EQ(hex(ok), hex(run({{0x300, 1, TAVEX_PORT_IN, 0}}, values).status));
    EXPECT_EQ(0x5Au, values[0]);

    // The command register traced through an address written in the list.
    EXPECT_EQ(hex(ok), hex(run({{0xCF8, 4, TAVEX_PORT_OUT, address(0, 0x20, 4)},
                                {0xCFC, 2, TAVEX_PORT_OUT, 0x0003}},
                               values)
                               .status));
    EXPECT_EQ(hex(denied), hex(run({{0xCF8, 4, TAVEX_PORT_OUT, address(0, 0x20, 0x10)},
                                    {0xCFC, 2, TAVEX_PORT_OUT, 0x0003}},
                                   values)
                                   .status));
    // The refused list left the address this handle selected before.
    EXPECT_EQ(hex(ok), hex(run({{0xCFC, 2, TAVEX_PORT_OUT, 0x0001}}, values).status));
}

// The configuration registers are each handle's own: what one selected
// neither lets another write nor moves what the other reads.
TEST_F(PortTest, AConfigurationWriteFollowsOnlyItsOwnHandlesAddress) {
    Device other;
    ASSERT_NE(INVALID_HANDLE_VALUE, static_cast<HANDLE>(other));
    const TavexPortAccess select = {0xCF8, 4, TAVEX_PORT_OUT, address(0, 0x20, 4)};
    const TavexPortAccess command = {0xCFC, 2, TAVEX_PORT_OUT, 0x0001};
    ASSERT_EQ(hex(ok), hex(control(device, TAVEX_PORT_WRITE, &select, sizeof select, 0, 0).status));
    EXPECT_EQ(hex(denied),
              hex(control(other, TAVEX_PORT_WRITE, &command, sizeof command, 0, 0).status));

    const TavexPortAccess elsewhere = {0xCF8, 4, TAVEX_PORT_OUT, address(0, 0x10, 0)};
    ASSERT_EQ(hex(ok),
              hex(control(other, TAVEX_PORT_WRITE, &elsewhere, sizeof elsewhere, 0, 0).status));
    EXPECT_EQ(hex(ok),
              hex(control(device, TAVEX_PORT_WRITE, &command, sizeof command, 0, 0).status));
    const TavexPortAccess vendor = {0xCFC, 2, TAVEX_PORT_IN, 0};
    std::uint32_t mine = 0, theirs = 0;
    control(device, TAVEX_PORT_READ, &vendor, sizeof vendor, &mine, sizeof mine);
    control(other, TAVEX_PORT_READ, &vendor, sizeof vendor, &theirs, sizeof theirs);
    EXPECT_EQ(0x0001u, mine) << "the PCI-7248's command register";
    EXPECT_EQ(0x8086u, theirs) << "the network adapter's vendor";
}

// ---- the library through the driver -----------------------------------------

namespace {

std::uint8_t rawIn(HANDLE device, std::uint16_t port) {
    const TavexPortAccess a = {port, 1, TAVEX_PORT_IN, 0};
    std::uint32_t value = 0;
    Reply reply = control(device, TAVEX_PORT_READ, &a, sizeof a, &value, sizeof value);
    EXPECT_EQ(hex(ok), hex(reply.status)) << hex(port);
    return static_cast<std::uint8_t>(value);
}

void rawOut(HANDLE device, std::uint16_t port, std::uint8_t value) {
    const TavexPortAccess a = {port, 1, TAVEX_PORT_OUT, value};
    EXPECT_EQ(hex(ok), hex(control(device, TAVEX_PORT_WRITE, &a, sizeof a, 0, 0).status))
        << hex(port);
}

}  // namespace

TEST_F(PortTest, AnAC5TrackIsProgrammedReadAndWrittenThroughTheDriver) {
    Tavex::AC5Card card(0x300);
    // Port 0 outputs, port 1 inputs, port 2 four of each.
    Tavex::IOTrack track(card, 0, "OOOOOOOOIIIIIIIIOOOOIIII");
    for (std::uint16_t control : {0x301, 0x303, 0x305})
        EXPECT_EQ(0x34, rawIn(device, control)) << hex(control);

    for (unsigned i = 0; i < 8; ++i)
        track[i] = i % 2 == 0;
    track[16] = 1;
    track.updateOutputs();
    EXPECT_EQ(0xAA, rawIn(device, 0x300));  // active low
    EXPECT_EQ(0xFE, rawIn(device, 0x304));

    rawOut(device, 0x302, 0x7E);
    track.updateInputs();
    for (unsigned i = 8; i < 16; ++i)
        EXPECT_EQ(i == 8 || i == 15 ? 1 : 0, track[i]) << i;
}

TEST_F(PortTest, ThePciScanAndAPci72xxCardRunThroughTheDriver) {
    Tavex::Platform::install(0);  // a scan of this machine, not of one before
    Tavex::OSInterface::osinterface();
    Tavex::PCIBus& bus = Tavex::PCIBus::pciBus();
    ASSERT_TRUE(bus.exists());

    // Every function of standin.h in order, the multi-function device's
    // second right after its first.
    struct Function {
        unsigned slot;
        unsigned short vendor, device;
    } const functions[] = {
        {0x00, 0x8086, 0x1237}, {0x08, 0x8086, 0x7000}, {0x09, 0x8086, 0x7010},
        {0x10, 0x8086, 0x100E}, {0x18, 0x133D, 0x1000}, {0x20, 0x144A, 0x7248},
        {0x28, 0x10B5, 0x9050}, {0x30, 0x10B5, 0x9050}, {0x38, 0x133D, 0x1000},
    };
    Tavex::PCICursor cursor;
    for (const Function& f : functions) {
        ASSERT_TRUE(cursor.isValid()) << f.slot;
        const Tavex::PCIDeviceInfo& info = cursor.deviceAtCursor();
        EXPECT_EQ(0, info.busNumber()) << f.slot;
        EXPECT_EQ(f.slot, info.slotNumber());
        EXPECT_EQ(f.vendor, info.vendorId()) << f.slot;
        EXPECT_EQ(f.device, info.deviceId()) << f.slot;
        ++cursor;
    }
    EXPECT_FALSE(cursor.isValid());

    // The first board is the one on the 9050 of the board's maker (subsystem
    // vendor 0x9999): four groups.
    Tavex::PCI72xxCard card(0);
    Tavex::IOTrack track(card, 3, "OOOOOOOOIIIIIIIIOOOOIIII");
    EXPECT_EQ(0x0A, rawIn(device, TAVEX_STANDIN_9050_PORTS + 15));  // control word
    track[0] = 1;
    track[20] = 1;
    track.updateOutputs();
    EXPECT_EQ(0xFE, rawIn(device, TAVEX_STANDIN_9050_PORTS + 12));
    EXPECT_EQ(0xFF, rawIn(device, TAVEX_STANDIN_9050_PORTS + 14));
    rawOut(device, TAVEX_STANDIN_9050_PORTS + 13, 0x7F);
    track.updateInputs();
    EXPECT_EQ(1, track[15]);

    // The boards are counted past the one with the bridge chip that names
    // no model of these: the second is the PCI-7248, and there is no third.
    Tavex::PCI72xxCard second(1);
    Tavex::IOTrack group1(second, 1, "OOOOOOOOOOOOOOOOOOOOOOOO");
    EXPECT_EQ(0x00, rawIn(device, TAVEX_STANDIN_7248_PORTS + 7));
    try {
        Tavex::PCI72xxCard third(2);
        ADD_FAILURE() << "a board of another maker taken for a PCI-72xx";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("PCI72xx: Card not found in the system.", e.what());
    }

    // setCommand of a served board passes; a write to its base address
    // register is refused with the port and the reason.
    const Tavex::PCIDeviceInfo* board = bus.getDeviceInfo(0x10B5, 0x9050, 0);
    ASSERT_TRUE(board != 0);
    ASSERT_EQ(0x28, board->slotNumber());
    const_cast<Tavex::PCIDeviceInfo*>(board)->setCommand(0x0003);
    EXPECT_EQ(0x0003, bus.config().readShort(0, 0x28, 4));
    try {
        bus.config().writeLong(0, 0x28, 0x18, 0xE801);
        ADD_FAILURE() << "a base address register written";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Tavex: tavex.sys refused the port write of 4 bytes at 0x0CFC (not a port of "
                     "a board the library serves).",
                     e.what());
    }
    EXPECT_EQ(TAVEX_STANDIN_9050_PORTS | 1, bus.config().readLong(0, 0x28, 0x18));
}

// The command-line tool as a user runs it, a process of its own.
TEST_F(PortTest, TheToolListsThePciBusAndReadsAnAC5ThroughTheDriver) {
    ProgramRun pci = runBeside("tavex.exe", "pci -n");
    ASSERT_TRUE(pci.started);
    EXPECT_EQ(0u, pci.exitCode) << pci.output;
    for (const char* ids : {"00:01.1 0101: 8086:7010", "00:04.0 1180: 144a:7248",
                            "00:05.0 1180: 10b5:9050", "00:07.0 0c07: 133d:1000"})
        EXPECT_NE(std::string::npos, pci.output.find(ids)) << ids << " in\n" << pci.output;

    // The track programs port 0 as inputs, which leaves the direction mask
    // 0x00 in the array's data register: every line reads low, so 1.
    ProgramRun read = runBeside("tavex.exe", "read --yes ac5:0x300 0:IIIIIIII");
    ASSERT_TRUE(read.started);
    EXPECT_EQ(0u, read.exitCode) << read.output;
    EXPECT_NE(std::string::npos, read.output.find("state 0 (ok)\nvalues 1,1,1,1,1,1,1,1\n"))
        << read.output;
    EXPECT_EQ(0x34, rawIn(device, 0x301));
}

// Where the driver is not installed, a process without port rights is
// refused as it always was, by the backend's own text.
TEST_F(PortTest, WithoutTheDriverAPortAccessIsRefusedAsBefore) {
    Tavex::Platform::install(0);
    own.reset();
    ProgramRun removed = installer("remove");
    ASSERT_EQ(0u, removed.exitCode) << removed.output;
    ProgramRun pci = runBeside("tavex.exe", "pci -n");
    ASSERT_TRUE(pci.started);
    EXPECT_NE(0u, pci.exitCode);
    EXPECT_NE(std::string::npos,
              pci.output.find("Tavex: port I/O is not permitted for this process (in/out refused; "
                              "install the tavex.sys driver or run on a platform that grants port "
                              "I/O)."))
        << pci.output;
}
