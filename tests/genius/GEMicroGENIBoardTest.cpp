// The PCIM / MicroGENI board model, driven by hand from the PC's side: the
// two registers through the machine's port instructions and the RAM window
// as plain memory, the way a driver reaches the board.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/GEPCIMBoard.h"

using Tavex::Sim::GEMicroGENIBoard;
using Tavex::Sim::GEPCIMBoard;
using Tavex::Sim::Machine;
using Tavex::Sim::Region;

namespace {

typedef GEMicroGENIBoard Channel;

const std::uint16_t statusPort = 0x3E4;
const std::uint16_t controlPort = 0x3E5;
const std::uint32_t ramAddress = 0xD0000;
const std::uint8_t healthy = 0xE7;
const std::uint8_t held = 0xFE;
const std::uint8_t down = 0xFF;

// One channel on a two-place motherboard, and the PC's register operations.
struct Scene {
    explicit Scene(Channel::PowerUp powerUp = Channel::Running)
        : pcim(m.add<GEPCIMBoard>(0x3E0)),
          ch(pcim.addMicroGENI(statusPort, ramAddress, powerUp)),
          mem(ch.memory()) {}

    std::uint8_t status() { return m.inByte(statusPort); }
    std::uint8_t control() { return m.inByte(controlPort); }
    void control(std::uint8_t value) { m.outByte(controlPort, value); }
    void clearReset() {
        const std::uint8_t v = control() & 0xFD;
        control(v);
        control(v | 0x02);
    }
    void reset(bool on) {
        const std::uint8_t v = control();
        control(on ? (v | 0x40) : (v & 0xBF));
    }
    void resetSequence(unsigned long pause = 10, bool lastClear = true) {
        clearReset();
        reset(false);
        if (pause)
            m.sleep(pause);
        reset(true);
        if (lastClear)
            clearReset();
    }
    std::uint8_t entryByte(unsigned station, unsigned byte) {
        return mem.read8(Channel::entry(station) + byte);
    }
    void enableOutputs(unsigned station) {
        mem.write8(Channel::entry(station) + Channel::EntryOutputsHeld, 0);
    }
    bool untouched(std::uint32_t from, std::uint32_t to) {
        for (std::uint32_t i = from; i < to; ++i)
            if (mem.read8(i) != Region::powerUpByte(i))
                return false;
        return true;
    }

    Machine m;
    GEPCIMBoard& pcim;
    Channel& ch;
    Region& mem;
};

}  // namespace

TEST(GEMicroGENIBoard, PowersUpRunningOrHeldWithItsRegisters) {
    {
        Scene s(Channel::Held);
        EXPECT_EQ(0x4000u, s.mem.size());
        EXPECT_EQ(&s.mem, s.m.findRegion(ramAddress, 0x4000));
        EXPECT_EQ(held, s.status());
        EXPECT_EQ(0x00, s.control());
        s.m.sleep(10000);                       // it never starts on its own
        EXPECT_EQ(held, s.status());
        EXPECT_TRUE(s.untouched(0, 0x4000));
    }
    Scene s;
    EXPECT_EQ(healthy, s.status());
    EXPECT_EQ(0x42, s.control());
    EXPECT_EQ(32, s.mem.read8(Channel::IOTableSizeByte));
    EXPECT_EQ(0, s.mem.read8(Channel::LockoutRequest));
    EXPECT_EQ(0, s.mem.read8(Channel::LockoutState));
    for (unsigned st = 0; st < 32; ++st)
        for (unsigned b = 0; b < 8; ++b)
            EXPECT_EQ(b == 1 ? 1 : 0, s.entryByte(st, b)) << st << "." << b;
    for (std::uint32_t i = 0x2000; i < 0x2000 + 64 * 32; ++i)
        ASSERT_EQ(0, s.mem.read8(i)) << std::hex << i;
    // The processor writes nothing else.
    EXPECT_TRUE(s.untouched(0, Channel::IOTableSizeByte));
    EXPECT_TRUE(s.untouched(Channel::IOTableSizeByte + 1, Channel::LockoutRequest));
    EXPECT_TRUE(s.untouched(Channel::LockoutState + 1, Channel::StationTable));
    EXPECT_TRUE(s.untouched(0x1F00, 0x2000));
    EXPECT_TRUE(s.untouched(0x2000 + 64 * 32, 0x4000));

    // Control bits it does not use are kept; the status port takes no writes.
    s.control(0xC3);
    s.m.outByte(statusPort, 0x00);
    EXPECT_EQ(0xC3, s.control());
    EXPECT_EQ(healthy, s.status());
    EXPECT_EQ(1u, s.ch.strayWrites());
    // A word read reaches both byte-wide registers.
    EXPECT_EQ(0xC3E7, s.m.inWord(statusPort));
}

TEST(GEMicroGENIBoard, ComesUpAfterItsResetSequence) {
    struct Case {
        Channel::PowerUp powerUp;
        unsigned long startup, comm;
    } cases[] = {{Channel::Held, 400, 100}, {Channel::Running, 30, 0}, {Channel::Held, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.startup);
        Scene s(c.powerUp);
        s.ch.setStartupTime(c.startup).setCommDelay(c.comm).placeStation(4, Channel::InputsOnly);

        s.clearReset();
        s.reset(false);
        EXPECT_EQ(held, s.status());
        // The RAM keeps the table of the run before while the processor is held.
        if (c.powerUp == Channel::Running) {
            EXPECT_EQ(1, s.entryByte(4, 2));
        }
        s.m.sleep(10);
        s.reset(true);
        EXPECT_EQ(held, s.status()) << "the latch still holds it";
        s.clearReset();
        EXPECT_EQ(0x42, s.control());

        // Poll every millisecond: board OK at startup, comm OK and the
        // station logged in commDelay later.
        long boardOK = -1, commOK = -1, present = -1;
        for (unsigned long t = 10; t <= 10 + c.startup + c.comm + 5; ++t) {
            const std::uint8_t st = s.status();
            EXPECT_EQ(0x01, st & 0x01);
            if (boardOK < 0 && !(st & 0x08))
                boardOK = static_cast<long>(s.m.now());
            if (commOK < 0 && !(st & 0x10))
                commOK = static_cast<long>(s.m.now());
            if (present < 0 && boardOK >= 0 && s.entryByte(4, 2) == 1)
                present = static_cast<long>(s.m.now());
            s.m.sleep(1);
        }
        EXPECT_EQ(static_cast<long>(10 + c.startup), boardOK);
        EXPECT_EQ(static_cast<long>(10 + c.startup + c.comm), commOK);
        EXPECT_EQ(commOK, present);
        EXPECT_EQ(healthy, s.status());

        ASSERT_EQ(1u, s.ch.resetPulses().size());
        EXPECT_EQ(0u, s.ch.resetPulses()[0].start);
        EXPECT_EQ(10u, s.ch.resetPulses()[0].end);
        EXPECT_FALSE(s.ch.resetPulses()[0].tooShort);
        EXPECT_EQ(2u, s.ch.clearResetPulses());
        EXPECT_EQ(1u, s.ch.starts());
    }
}

TEST(GEMicroGENIBoard, StaysDownAfterAWrongStart) {
    struct Case {
        const char* name;
        bool neverComesUp;
        unsigned long pause;
        bool lastClear;
        std::uint8_t status;
        Channel::Phase phase;
    } cases[] = {
        {"self-test never ends", true, 10, true, down, Channel::Hung},
        {"reset pulse too short", false, 0, true, down, Channel::Hung},
        {"latch never cleared", false, 10, false, held, Channel::ProcessorHeld},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s(Channel::Held);
        s.ch.setNeverComesUp(c.neverComesUp);
        s.resetSequence(c.pause, c.lastClear);
        for (int i = 0; i < 60; ++i)
            s.m.sleep(1000);
        EXPECT_EQ(c.status, s.status());
        EXPECT_EQ(c.phase, s.ch.phase());
        EXPECT_TRUE(s.untouched(0, 0x4000));

        // A proper start brings it up.
        s.ch.setNeverComesUp(false);
        s.resetSequence();
        s.m.sleep(s.ch.startupTime() + s.ch.commDelay());
        EXPECT_EQ(healthy, s.status());
    }
}

TEST(GEMicroGENIBoard, LaysOutItsIOTableForItsSize) {
    for (unsigned size : {1u, 16u, 128u}) {
        SCOPED_TRACE(size);
        Scene s(Channel::Held);
        s.ch.setIOTableSize(static_cast<std::uint8_t>(size));
        s.ch.placeStation(0, Channel::InputsAndOutputs).placeStation(31, Channel::InputsAndOutputs);
        for (unsigned b = 0; b < size; ++b)
            s.ch.setInputByte(31, b, static_cast<std::uint8_t>(0x80 + b));
        s.ch.setInputByte(0, 0, 0x11);
        s.resetSequence();
        s.m.sleep(500);
        ASSERT_EQ(healthy, s.status());
        EXPECT_EQ(size, s.mem.read8(Channel::IOTableSizeByte));
        EXPECT_EQ(0x11, s.mem.read8(0x2000));
        for (unsigned b = 0; b < size; ++b)
            EXPECT_EQ(0x80 + b, s.mem.read8(0x2000 + 31 * size + b)) << b;

        const std::uint32_t out31 = 0x2000 + 63 * size;
        EXPECT_EQ(out31, s.ch.outputBlock(31));
        s.enableOutputs(31);
        s.mem.write8(out31 + size - 1, 0xA5);
        s.mem.write8(out31, 0x5A);
        s.m.sleep(0);
        EXPECT_EQ(0x5A, s.ch.outputByte(31, 0));
        EXPECT_EQ(size == 1 ? 0x5A : 0xA5, s.ch.outputByte(31, size - 1));
        EXPECT_TRUE(s.untouched(0x2000 + 64 * size, 0x4000));
    }

    // A size byte out of range is written, and the board keeps off the table.
    for (unsigned size : {0u, 129u, 255u}) {
        SCOPED_TRACE(size);
        Scene s(Channel::Held);
        s.ch.setIOTableSize(static_cast<std::uint8_t>(size)).placeStation(0, Channel::InputsOnly);
        s.resetSequence();
        s.m.sleep(500);
        s.ch.setInputByte(0, 0, 0x33);
        s.m.sleep(10);
        EXPECT_EQ(healthy, s.status());
        EXPECT_EQ(size, s.mem.read8(Channel::IOTableSizeByte));
        EXPECT_TRUE(s.untouched(0x2000, 0x4000));
    }
}

TEST(GEMicroGENIBoard, ExchangesDataAsEachStationIsConfigured) {
    struct Case {
        std::uint8_t configuration;
        bool inputs, outputs;
    } cases[] = {{1, true, false}, {2, false, true}, {3, true, true}, {0, false, false},
                 {7, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.configuration));
        Scene s;
        s.ch.placeStation(5, c.configuration);
        EXPECT_EQ(1, s.entryByte(5, 2));
        EXPECT_EQ(c.configuration, s.entryByte(5, 7));
        const std::uint32_t in = s.ch.inputBlock(5), out = s.ch.outputBlock(5);

        s.ch.setInputByte(5, 0, 0xA5);          // at once, no tick needed
        EXPECT_EQ(c.inputs ? 0xA5 : 0x00, s.mem.read8(in));

        s.mem.write8(out, 0x3C);
        s.m.sleep(10);
        EXPECT_EQ(0, s.ch.outputByte(5, 0)) << "outputs held off until the PC enables them";
        s.enableOutputs(5);
        s.m.sleep(0);
        EXPECT_EQ(c.outputs ? 0x3C : 0x00, s.ch.outputByte(5, 0));

        // Off the bus: absent, its configuration and last inputs kept.
        s.ch.removeStation(5).setInputByte(5, 0, 0x5A);
        s.mem.write8(out, 0x99);
        s.m.sleep(10);
        EXPECT_EQ(0, s.entryByte(5, 2));
        EXPECT_EQ(c.configuration, s.entryByte(5, 7));
        EXPECT_EQ(c.inputs ? 0xA5 : 0x00, s.mem.read8(in));
        EXPECT_EQ(c.outputs ? 0x3C : 0x00, s.ch.outputByte(5, 0));
    }

    // Points and words as the station numbers them.
    Scene s;
    s.ch.placeStation(2, Channel::InputsAndOutputs);
    s.ch.setInput(2, 9, true).setInputWord(2, 3, 0x8001);
    EXPECT_EQ(0x02, s.mem.read8(s.ch.inputBlock(2) + 1));
    EXPECT_EQ(0x8001, s.mem.read16(s.ch.inputBlock(2) + 6));
    s.enableOutputs(2);
    s.mem.write16(s.ch.outputBlock(2) + 4, 0xFFFE);
    s.m.sleep(0);
    EXPECT_EQ(0xFFFE, s.ch.outputWord(2, 2));
    EXPECT_THROW(s.ch.placeStation(32, 1), std::out_of_range);
    EXPECT_THROW(s.ch.setInputWord(2, 64, 0), std::out_of_range);
}

TEST(GEMicroGENIBoard, ReportsBusAndBoardFaults) {
    struct Case {
        const char* name;
        bool bus;
        std::uint8_t status;
        bool scanning;
    } cases[] = {{"bus fault", true, 0xF7, false}, {"board fault", false, 0xEF, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        s.ch.placeStation(2, Channel::InputsOnly);
        if (c.bus)
            s.ch.setBusFault(true);
        else
            s.ch.setBoardFault(true);
        s.ch.setInputByte(2, 0, 0x42);
        s.m.sleep(1000);
        EXPECT_EQ(c.status, s.status());
        EXPECT_EQ(c.scanning ? 1 : 0, s.entryByte(2, 2));
        EXPECT_EQ(c.scanning ? 0x42 : 0x00, s.mem.read8(s.ch.inputBlock(2)));

        s.ch.setBusFault(false).setBoardFault(false);
        s.m.sleep(s.ch.commDelay() - 1);
        EXPECT_EQ(c.bus ? 0xF7 : healthy, s.status());
        s.m.sleep(1);
        EXPECT_EQ(healthy, s.status());
        EXPECT_EQ(1, s.entryByte(2, 2));
        EXPECT_EQ(0x42, s.mem.read8(s.ch.inputBlock(2)));
    }
}

TEST(GEMicroGENIBoard, AnswersTheLockoutHandshake) {
    Scene s;
    s.ch.placeStation(1, Channel::InputsAndOutputs);
    s.enableOutputs(1);
    const std::uint32_t in = s.ch.inputBlock(1), out = s.ch.outputBlock(1);

    s.mem.write8(Channel::LockoutRequest, 1);
    EXPECT_EQ(0, s.mem.read8(Channel::LockoutState)) << "only its processor answers";
    s.m.sleep(5);
    EXPECT_EQ(1, s.mem.read8(Channel::LockoutState));
    ASSERT_EQ(1u, s.ch.lockouts().size());
    EXPECT_TRUE(s.ch.lockouts()[0].granted);
    EXPECT_EQ(5u, s.ch.lockouts()[0].grantedAt);

    // The I/O table is the PC's while the lockout lasts.
    s.ch.setInputByte(1, 0, 0x77);
    s.mem.write8(out, 0x66);
    s.m.sleep(10);
    EXPECT_EQ(0x00, s.mem.read8(in));
    EXPECT_EQ(0x00, s.ch.outputByte(1, 0));

    s.mem.write8(Channel::LockoutRequest, 0);
    s.m.sleep(1);
    EXPECT_EQ(0, s.mem.read8(Channel::LockoutState));
    EXPECT_TRUE(s.ch.lockouts()[0].ended);
    EXPECT_EQ(16u, s.ch.lockouts()[0].endedAt);
    EXPECT_EQ(0x77, s.mem.read8(in));
    EXPECT_EQ(0x66, s.ch.outputByte(1, 0));

    // Never answered: the request is seen, the table keeps moving.
    s.ch.setLockoutAnswers(false);
    s.mem.write8(Channel::LockoutRequest, 1);
    s.m.sleep(1000);
    EXPECT_EQ(0, s.mem.read8(Channel::LockoutState));
    ASSERT_EQ(2u, s.ch.lockouts().size());
    EXPECT_FALSE(s.ch.lockouts()[1].granted);
    s.ch.setInputByte(1, 0, 0x78);
    EXPECT_EQ(0x78, s.mem.read8(in));

    // Held by another program: the board keeps both bytes and the table.
    Scene other;
    other.ch.placeStation(1, Channel::InputsOnly);
    other.mem.write8(Channel::LockoutRequest, 1);
    other.mem.write8(Channel::LockoutState, 1);
    other.ch.setInputByte(1, 0, 0x12);
    other.m.sleep(100);
    EXPECT_EQ(1, other.mem.read8(Channel::LockoutRequest));
    EXPECT_EQ(1, other.mem.read8(Channel::LockoutState));
    EXPECT_EQ(0x00, other.mem.read8(other.ch.inputBlock(1)));
}

TEST(GEPCIMBoard, HoldsOneOrTwoChannels) {
    for (unsigned type : {0u, 1u, 2u, 3u}) {
        SCOPED_TRACE(type);
        Machine m;
        GEPCIMBoard& pcim = m.add<GEPCIMBoard>(0x300, type);
        EXPECT_EQ('A', pcim.addMicroGENI(0x300, 0xD0000).place());
        if (type != 2) {
            EXPECT_THROW(pcim.addMicroGENI(0x308, 0xD4000), std::logic_error);
            EXPECT_EQ(nullptr, pcim.channelB());
            continue;
        }
        Channel& b = pcim.addMicroGENI(0x308, 0xD4000);
        EXPECT_EQ(&b, pcim.channelB());
        EXPECT_THROW(pcim.addMicroGENI(0x310, 0xD8000), std::logic_error);

        // Each channel answers at its own ports and runs on its own.
        m.outByte(0x301, 0x02);
        EXPECT_EQ(held, m.inByte(0x300));
        EXPECT_EQ(healthy, m.inByte(0x308));
        EXPECT_EQ(&b.memory(), m.findRegion(0xD4000, 0x4000));
    }

    // A channel on ports or RAM already taken leaves nothing behind.
    Machine m;
    GEPCIMBoard& pcim = m.add<GEPCIMBoard>(0x300);
    pcim.addMicroGENI(0x300, 0xD0000);
    EXPECT_THROW(pcim.addMicroGENI(0x301, 0xD4000), std::logic_error);
    EXPECT_EQ(nullptr, m.findRegion(0xD4000));
    EXPECT_THROW(pcim.addMicroGENI(0x308, 0xD2000), std::logic_error);
    EXPECT_EQ(nullptr, m.portOwner(0x308));
    EXPECT_EQ(nullptr, pcim.channelB());

    // Channels fitted before the motherboard goes into the machine.
    Machine later;
    std::unique_ptr<GEPCIMBoard> board(new GEPCIMBoard(0x300));
    Channel& a = board->addMicroGENI(0x304, 0xCC000, Channel::Held);
    later.plug(std::move(board));
    EXPECT_EQ(held, later.inByte(0x304));
    EXPECT_EQ(&a.memory(), later.findRegion(0xCC000, 0x4000));
}
