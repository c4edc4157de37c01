// The parallel port and BIOS data area models, driven through the machine's
// port space and a mapped window, as a program on the PC would see them.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "tavex/platform/PhysicalMemory.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/ParallelPortBoard.h"

using Tavex::PhysicalMemory;
using Tavex::Sim::BiosDataArea;
using Tavex::Sim::Machine;
using Tavex::Sim::ParallelPortBoard;
using Tavex::Sim::Region;
using Tavex::Sim::ScopedMachine;

namespace {

const std::uint16_t lpt1 = 0x378;
const std::uint16_t data = lpt1, status = lpt1 + 1, control = lpt1 + 2;

// Pins 1, 14, 16, 17 (control bits 0-3), high = true.
struct ControlPins {
    bool strobe, autoFeed, init, selectIn;
};

ControlPins controlPins(const ParallelPortBoard& port) {
    return {port.pinLevel(1), port.pinLevel(14), port.pinLevel(16), port.pinLevel(17)};
}

}  // namespace

TEST(ParallelPortBoard, ClaimsThreeRegistersAndPowersUpAsTheBiosLeavesIt) {
    Machine m;
    ParallelPortBoard& port = m.add<ParallelPortBoard>(lpt1);
    EXPECT_EQ(nullptr, m.portOwner(lpt1 - 1));
    EXPECT_EQ(&port, m.portOwner(control));
    EXPECT_EQ(nullptr, m.portOwner(lpt1 + 3));

    EXPECT_EQ(0x00, m.inByte(data));
    EXPECT_EQ(0x7F, m.inByte(status)) << "every status pin high: BUSY reads 0, no-pin bits 1";
    EXPECT_EQ(0xCC, m.inByte(control)) << "INIT high, SELECT IN asserted, bits 6-7 read 1";
    for (unsigned bit = 0; bit < 8; ++bit)
        EXPECT_FALSE(port.pinLevel(ParallelPortBoard::dataPin(bit)));
    const ControlPins pins = controlPins(port);
    EXPECT_TRUE(pins.strobe && pins.autoFeed && pins.init);
    EXPECT_FALSE(pins.selectIn);
    EXPECT_TRUE(port.drivesLow(17));
}

// STROBE, AUTOFEED and SELECT IN are inverted between register and pin,
// INIT is not.
TEST(ParallelPortBoard, ControlBitsReachThePinsThroughTheHardwareInversions) {
    struct Case {
        std::uint8_t written;
        ControlPins pins;
        std::uint8_t readBack;
    } cases[] = {
        {0x00, {true, true, false, true}, 0xC0},
        {0x04, {true, true, true, true}, 0xC4},   // every line released
        {0x01, {false, true, false, true}, 0xC1},
        {0x02, {true, false, false, true}, 0xC2},
        {0x08, {true, true, false, false}, 0xC8},
        {0x0B, {false, false, false, false}, 0xCB},
        {0x1F, {false, false, true, false}, 0xDF},   // interrupt enable reads back
        {0xF4, {true, true, true, true}, 0xF4},      // bit 5: data drivers off
    };
    for (const Case& c : cases) {
        Machine m;
        ParallelPortBoard& port = m.add<ParallelPortBoard>(lpt1);
        m.outByte(control, c.written);
        const ControlPins pins = controlPins(port);
        EXPECT_EQ(c.pins.strobe, pins.strobe) << std::hex << int(c.written);
        EXPECT_EQ(c.pins.autoFeed, pins.autoFeed) << std::hex << int(c.written);
        EXPECT_EQ(c.pins.init, pins.init) << std::hex << int(c.written);
        EXPECT_EQ(c.pins.selectIn, pins.selectIn) << std::hex << int(c.written);
        EXPECT_EQ(c.readBack, m.inByte(control)) << std::hex << int(c.written);
        EXPECT_EQ(c.written, port.controlLatch());
    }
}

TEST(ParallelPortBoard, StatusPinsReadWithBusyInverted) {
    struct Case {
        unsigned pinLow;   // 0: none
        std::uint8_t read;
    } cases[] = {
        {0, 0x7F}, {15, 0x77}, {13, 0x6F}, {12, 0x5F}, {10, 0x3F}, {11, 0xFF},
    };
    for (const Case& c : cases) {
        Machine m;
        ParallelPortBoard& port = m.add<ParallelPortBoard>(lpt1);
        if (c.pinLow)
            port.setPinLevel(c.pinLow, false);
        EXPECT_EQ(c.read, m.inByte(status)) << "pin " << c.pinLow;
    }
    Machine m;
    ParallelPortBoard& port = m.add<ParallelPortBoard>(lpt1);
    port.setStatusApplied(0x00);
    EXPECT_EQ(0x87, m.inByte(status)) << "all five pins low; bits 0-2 have no pin";
    m.outByte(status, 0x00);
    EXPECT_EQ(0x87, m.inByte(status)) << "the status register takes no write";
    EXPECT_EQ(1u, port.statusWrites());
}

// Open-collector control lines: released (high) they can be pulled low from
// outside and read back; asserted they stay low whatever the outside does.
// A push-pull port drives its released lines high and reads nothing.
TEST(ParallelPortBoard, ReleasedControlLinesReadWhatTheOutsideApplies) {
    Machine m;
    ParallelPortBoard& oc = m.add<ParallelPortBoard>(lpt1);
    ParallelPortBoard& pp = m.add<ParallelPortBoard>(std::uint16_t(0x278));
    pp.setControlDrive(ParallelPortBoard::PushPull);
    for (std::uint16_t base : {lpt1, std::uint16_t(0x278)}) {
        m.outByte(base + 2, 0x04);
        EXPECT_EQ(0xC4, m.inByte(base + 2));
    }
    oc.setControlApplied(0x05);   // pins 14 and 17 pulled low
    pp.setControlApplied(0x05);
    EXPECT_EQ(0xCE, m.inByte(control)) << "AUTOFEED and SELECT IN read as asserted";
    EXPECT_FALSE(oc.drivesLow(14));
    EXPECT_FALSE(oc.pinLevel(14));
    EXPECT_EQ(0xC4, m.inByte(0x27A)) << "push-pull drivers win";

    oc.setControlApplied(0x0B);   // INIT pulled low
    EXPECT_EQ(0xC0, m.inByte(control));
    m.outByte(control, 0x0C);     // SELECT IN asserted by the port
    oc.setControlApplied(0x0F);
    EXPECT_FALSE(oc.pinLevel(17));
    EXPECT_EQ(0xCC, m.inByte(control));
}

TEST(ParallelPortBoard, DataPinsFollowTheLatchUnlessABidirectionalPortTurnsThemOff) {
    Machine m;
    ParallelPortBoard& ps2 = m.add<ParallelPortBoard>(lpt1);
    ParallelPortBoard& spp = m.add<ParallelPortBoard>(std::uint16_t(0x3BC));
    spp.setBidirectional(false);
    for (ParallelPortBoard* port : {&ps2, &spp}) {
        const std::uint16_t base = port->basePort();
        port->setDataApplied(0x0F);
        m.outByte(base, 0xA5);
        EXPECT_EQ(0xA5, m.inByte(base));
        for (unsigned bit = 0; bit < 8; ++bit)
            EXPECT_EQ(((0xA5 >> bit) & 1) != 0, port->pinLevel(2 + bit)) << bit;
        m.outByte(base + 2, 0x24);
    }
    EXPECT_FALSE(ps2.dataDriven());
    EXPECT_EQ(0x0F, m.inByte(data)) << "drivers off: the outside's levels";
    EXPECT_EQ(0xE4, m.inByte(control));
    EXPECT_TRUE(spp.dataDriven());
    EXPECT_EQ(0xA5, m.inByte(0x3BC)) << "no bidirectional mode: still driven";
    EXPECT_EQ(0xE4, m.inByte(0x3BE)) << "bit 5 unimplemented, reads 1";
    EXPECT_EQ(0xA5, ps2.dataLatch());
}

TEST(ParallelPortBoard, GroundAndUnknownPinsAreSceneErrors) {
    ParallelPortBoard port(lpt1);
    EXPECT_FALSE(port.pinLevel(18));
    EXPECT_THROW(port.setPinLevel(25, false), std::out_of_range);
    EXPECT_THROW(port.pinLevel(0), std::out_of_range);
    EXPECT_THROW(port.pinLevel(26), std::out_of_range);
    EXPECT_THROW(ParallelPortBoard::statusPin(2), std::out_of_range);
    EXPECT_EQ(11u, ParallelPortBoard::statusPin(7));
    EXPECT_EQ(17u, ParallelPortBoard::controlPin(3));
}

// The 0x11C-byte window a program maps at 0x400 lies in the area's memory:
// the port words at offsets 8-14, the rest of the area as the BIOS left it.
TEST(BiosDataArea, PortTableSeenThroughAWindowAt0x400) {
    ScopedMachine m;
    BiosDataArea& bda = m.add<BiosDataArea>();
    bda.setLptPort(1, 0x378).setLptPort(2, 0x278).setLptPort(4, 0x2BC);
    std::unique_ptr<PhysicalMemory> window(new PhysicalMemory(0x400, 0x11C, false));
    EXPECT_EQ(0x3F8, window->readShort(0));
    EXPECT_EQ(0x378, window->readShort(8));
    EXPECT_EQ(0x278, window->readShort(10));
    EXPECT_EQ(0, window->readShort(12));
    EXPECT_EQ(0x2BC, window->readShort(14));
    EXPECT_EQ(0x8423, window->readShort(0x10) & 0xFFFF) << "two printers, two serial ports";
    EXPECT_EQ(Region::powerUpByte(0x11B), static_cast<std::uint8_t>(window->readChar(0x11B)));

    bda.setLptPort(1, 0).setEbdaSegment(0x9FC0);
    EXPECT_EQ(0, window->readShort(8)) << "the window is the area's memory";
    EXPECT_EQ(std::int16_t(0x9FC0), window->readShort(14));
    EXPECT_EQ(0x4423, bda.equipmentWord()) << "0x40E is not counted";
    window->writeChar(0x11B, 0x5A);
    m.advance(1);
    EXPECT_EQ(0x5A, bda.memory().read8(0x11B)) << "real memory, not open bus";
    window.reset();
    EXPECT_EQ(0u, m.liveMappings());
}

TEST(BiosDataArea, WordsSetBeforePluggingAreThereAfterwards) {
    Machine m;
    BiosDataArea* bda = new BiosDataArea;
    bda->setLptPort(3, 0x3BC).setComPort(2, 0);
    m.plug(std::unique_ptr<Tavex::Sim::Board>(bda));
    EXPECT_EQ(0x3BC, bda->word(0x40C));
    EXPECT_EQ(0x3BC, bda->lptPort(3));
    EXPECT_EQ(0, bda->comPort(2));
    EXPECT_EQ(0x4223, bda->equipmentWord());
    EXPECT_THROW(bda->setLptPort(5, 0x378), std::out_of_range);
    EXPECT_THROW(bda->setLptPort(0, 0x378), std::out_of_range);
}
