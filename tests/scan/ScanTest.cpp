// The scan on the simulated PC: the order of a cycle, the deadlines and the
// overrun policy in virtual time, the safe values at every kind of stop,
// the real-time requests, the figures, and a cycle that allocates nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "ScriptedCard.h"
#include "support/AllocationCounter.h"
#include "support/ExpectThrow.h"
#include "tavex/cards/AC5Card.h"
#include "tavex/model/DummyCard.h"
#include "tavex/model/IOTrack.h"
#include "tavex/scan/Scan.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/AC5Board.h"

using Tavex::IOTrack;
using Tavex::Scan;
using Tavex::Sim::Machine;

namespace {

const std::uint64_t ms = 1000000;   // ns
const std::chrono::milliseconds period(1);

class ScanTest : public ::testing::Test {
public:   // the cases' functions reach the cards
    ScanTest()
        : a(log, 0), b(log, 10), inputs(a, 0, "IIII"), lamps(a, 0, "OOOO"),
          panel(b, 0, "IIOO") {}

    Tavex::Sim::ScopedMachine machine;
    CallLog log;
    ScriptedCard a, b;
    IOTrack inputs;   // track 0
    IOTrack lamps;    // track 1
    IOTrack panel;    // track 10
};

TEST_F(ScanTest, EachCycleReadsThenThinksThenWritesInTheOrderTheTracksWereAdded) {
    Scan scan(period);
    IOTrack unused(b, 0, "NN");   // track 11: neither read nor written
    scan.add(lamps).add(panel).add(inputs).add(unused);
    const Scan::StopReason why = scan.run([&] {
        log.add('L', static_cast<int>(scan.cycle()));
        if (scan.cycle() == 3)
            scan.stop();
    });

    EXPECT_EQ(Scan::Stopped, why);
    std::vector<Call> expected;
    for (int n = 1; n <= 3; ++n) {
        const std::vector<Call> cycle = {{'I', 10}, {'I', 0}, {'L', n}, {'O', 1}, {'O', 10}};
        expected.insert(expected.end(), cycle.begin(), cycle.end());
    }
    EXPECT_EQ(expected, log.calls());
    EXPECT_EQ(3u, scan.statistics().cycles);
    EXPECT_EQ(3 * ms, machine.nanoseconds());   // the first cycle one period after the start
    EXPECT_EQ(3ul, machine.now());
    EXPECT_TRUE(machine.sleeps().empty());      // waits are not sleeps of a card
}

// Planned starts and overruns for logic of various lengths, in virtual time:
// a cycle that ends past the next planned start is one overrun, and the scan
// goes on at the next period boundary still ahead, without catching up.
TEST_F(ScanTest, DeadlinesAreAbsoluteAndMissedPeriodsAreSkipped) {
    struct Case {
        const char* logic;
        std::uint64_t takes;        // ns of virtual time the logic takes
        std::uint64_t gap;          // between planned starts
        std::uint64_t overruns;     // of 10 cycles
        std::uint64_t missed;
    } cases[] = {
        {"none", 0, 1 * ms, 0, 0},
        {"a third of a period", ms / 3, 1 * ms, 0, 0},
        {"exactly one period", 1 * ms, 1 * ms, 0, 0},
        {"1.2 periods", 12 * ms / 10, 2 * ms, 10, 10},
        {"2.5 periods", 25 * ms / 10, 3 * ms, 10, 20},
        {"exactly three periods", 3 * ms, 3 * ms, 10, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logic);
        Scan scan(period);
        scan.add(inputs);
        std::vector<std::uint64_t> starts;
        const std::uint64_t t0 = machine.nanoseconds();
        scan.run([&] {
            starts.push_back(machine.nanoseconds() - t0);
            machine.advanceNanoseconds(c.takes);
            if (starts.size() == 10)
                scan.stop();
        });
        ASSERT_EQ(10u, starts.size());
        for (std::size_t i = 0; i < starts.size(); ++i)
            EXPECT_EQ(1 * ms + i * c.gap, starts[i]) << "cycle " << i + 1;
        const Scan::Statistics s = scan.statistics();
        EXPECT_EQ(c.overruns, s.overruns);
        EXPECT_EQ(c.missed, s.missedPeriods);
        EXPECT_EQ(0u, s.latency.max);   // every wake-up on its planned start
        EXPECT_EQ(c.takes, s.duration.max);
    }
}

TEST_F(ScanTest, HoldsThePeriodOverAHundredThousandCycles) {
    machine.setTracing(false);
    Scan scan(std::chrono::microseconds(250));
    scan.add(inputs).add(lamps);
    const std::uint64_t t0 = machine.nanoseconds();
    std::uint64_t late = 0;
    scan.run([&] {
        late += machine.nanoseconds() - t0 - scan.cycle() * 250000;
        if (scan.cycle() == 100000)
            scan.stop();
    });
    EXPECT_EQ(0u, late);
    EXPECT_EQ(std::uint64_t(100000) * 250000, machine.nanoseconds() - t0);
    EXPECT_EQ(25000ul, machine.now());   // and the boards ran every millisecond of it
    const Scan::Statistics s = scan.statistics();
    EXPECT_EQ(100000u, s.cycles);
    EXPECT_EQ(0u, s.overruns);
    EXPECT_EQ(100000u, s.latency.count);
}

// The percentiles of a known spread: cycle n's logic takes n microseconds.
TEST_F(ScanTest, FiguresComeFromTheHistogram) {
    Scan scan(std::chrono::milliseconds(2));
    scan.add(inputs);
    EXPECT_EQ(0u, scan.statistics().duration.max);
    scan.run([&] {
        machine.advanceNanoseconds(scan.cycle() * 1000);
        if (scan.cycle() == 1000)
            scan.stop();
    });
    const Scan::Figures d = scan.statistics().duration;
    EXPECT_EQ(1000u, d.count);
    EXPECT_EQ(1000u, d.min);
    EXPECT_EQ(1000000u, d.max);
    EXPECT_EQ(500500u, d.mean);
    // Buckets are about 3 % wide; a percentile is its bucket's upper edge.
    EXPECT_GE(d.p50, 500000u);
    EXPECT_LE(d.p50, 500000u * 103 / 100);
    EXPECT_GE(d.p99, 990000u);
    EXPECT_LE(d.p99, 1000000u);
    EXPECT_GE(d.p999, 999000u);
    EXPECT_LE(d.p999, 1000000u);
}

// Every way a scan stops leaves the safe values on the tracks that have
// them, and only there, and hands an exception on as it was.
TEST_F(ScanTest, EveryStopWritesTheSafeValues) {
    struct Case {
        const char* stop;
        std::function<void(ScanTest&, Scan&)> arm;    // before run
        std::function<void(ScanTest&, Scan&)> logic;
        Scan::StopReason reason;
        const char* thrown;        // text of the exception that run lets through
        std::uint64_t cycles;      // started before the stop
    } cases[] = {
        {"stop() from the logic", nullptr,
         [](ScanTest&, Scan& s) { if (s.cycle() == 3) s.stop(); }, Scan::Stopped, nullptr, 3},
        {"stop() before run", [](ScanTest&, Scan& s) { s.stop(); }, nullptr, Scan::Stopped,
         nullptr, 0},
        {"logic throws", nullptr,
         [](ScanTest&, Scan& s) { if (s.cycle() == 2) throw std::logic_error("valve stuck"); },
         Scan::Failed, "valve stuck", 2},
        {"a card throws in updateInputs", nullptr,
         [](ScanTest& t, Scan& s) { if (s.cycle() == 2) t.b.throwOnInputs = true; },
         Scan::Failed, "Scripted: inputs failed", 3},
        {"another track's card throws in updateOutputs", nullptr,
         [](ScanTest& t, Scan& s) { if (s.cycle() == 2) t.b.throwOnOutputs = true; },
         Scan::Failed, "Scripted: outputs failed", 2},
        // Bad: the outputs of 2, the inputs of 3, then 5, 6, 7 in a row.
        {"three bad cycles in a row", nullptr,
         [](ScanTest& t, Scan& s) { t.b.state = s.cycle() == 2 || s.cycle() >= 5 ? 3 : 0; },
         Scan::BadCycles, nullptr, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stop);
        b.throwOnInputs = b.throwOnOutputs = false;
        b.state = 0;
        Scan scan(period);
        scan.add(inputs).add(lamps, {5, 6, 7, 8}).add(panel);
        scan.setBadCycleLimit(3);
        if (c.arm)
            c.arm(*this, scan);
        std::function<void()> logic = [&] {
            for (unsigned i = 0; i < 4; ++i)
                lamps[i] = 1;
            if (c.logic)
                c.logic(*this, scan);
        };
        std::string thrown;
        try {
            EXPECT_EQ(c.reason, scan.run(logic));
        } catch (const std::exception& e) {
            thrown = e.what();
        }
        EXPECT_EQ(c.thrown ? c.thrown : "", thrown);
        EXPECT_EQ(c.reason, scan.stopReason());
        EXPECT_EQ(c.cycles, scan.cycle());
        EXPECT_EQ((std::vector<long>{5, 6, 7, 8}), a.written[1]);
        EXPECT_EQ("", scan.safeStateError());
    }
}

TEST_F(ScanTest, SafeValuesGoToOutputPointsOnly) {
    IOTrack mixed(a, 0, "IOCU");   // the card's third track
    Scan scan(period);
    scan.add(mixed, {9, 0, 9, 123});
    mixed[2] = 77;   // the counter's own value stays: a safe value there would be a preset
    scan.stop();
    scan.run(nullptr);
    EXPECT_EQ((std::vector<long>{0, 0, 77, 123}), a.written[2]);
}

// A card that fails its safe write does not keep the others from theirs;
// the failure is told afterwards, or kept beside an exception on its way.
TEST_F(ScanTest, AFailedSafeWriteIsReportedAfterEveryTrackHadItsValues) {
    IOTrack relays(a, 4, "OO");   // the card's third track
    const char* const told =
        "Tavex::Scan: safe values not written to track 2 (Scripted): Scripted: outputs failed";
    {
        Scan scan(period);
        scan.add(lamps, {1, 1, 0, 0}).add(panel, {0, 0, 1, 1}).add(relays, {1, 0});
        scan.stop();
        b.throwOnOutputs = true;
        TAVEX_EXPECT_THROW_TEXT(scan.run(nullptr), std::runtime_error, told);
        EXPECT_EQ(told, scan.safeStateError());
        EXPECT_EQ((std::vector<long>{1, 1, 0, 0}), a.written[1]);
        EXPECT_EQ((std::vector<long>{1, 0}), a.written[2]);
    }
    {
        b.throwOnOutputs = false;
        Scan scan(period);
        scan.add(lamps, {0, 0, 0, 0}).add(panel, {0, 0, 1, 1}).add(relays, {0, 1});
        TAVEX_EXPECT_THROW_TEXT(scan.run([&] {
            b.throwOnOutputs = true;
            throw std::range_error("setpoint");
        }),
                                std::range_error, "setpoint");
        EXPECT_EQ(Scan::Failed, scan.stopReason());
        EXPECT_EQ(told, scan.safeStateError());
        EXPECT_EQ((std::vector<long>{0, 1}), a.written[2]);
    }
}

TEST_F(ScanTest, ACallersOwnLoopGetsTheSafeValuesWhenItsScanGoes) {
    {
        Scan scan(period);
        scan.add(lamps, {0, 0, 0, 0});
        for (int n = 0; n < 5; ++n)
            ASSERT_TRUE(scan.step([&] { lamps[0] = 1; }));
        EXPECT_EQ((std::vector<long>{1, 0, 0, 0}), a.written[1]);
        EXPECT_EQ(5 * ms, machine.nanoseconds());
    }
    EXPECT_EQ((std::vector<long>{0, 0, 0, 0}), a.written[1]);

    Scan scan(period);
    scan.add(lamps, {0, 0, 0, 1});
    ASSERT_TRUE(scan.step([&] { lamps[0] = 1; }));
    scan.stop();
    EXPECT_FALSE(scan.step(nullptr));
    EXPECT_EQ((std::vector<long>{0, 0, 0, 1}), a.written[1]);
    // A step after the stop starts afresh; writeSafeValues ends such a loop too.
    const unsigned writes = a.outputWrites;
    ASSERT_TRUE(scan.step(nullptr));
    EXPECT_EQ(1u, scan.cycle());
    scan.writeSafeValues();
    EXPECT_EQ(writes + 2, a.outputWrites);
}

TEST_F(ScanTest, TheLogicSeesTracksWhoseStateIsNotZero) {
    Scan scan(period);
    scan.add(inputs).add(panel).add(lamps);
    std::vector<unsigned> seen;
    scan.run([&] {
        seen.push_back(scan.badTracks());
        a.state = scan.cycle() == 2 ? 2 : 0;
        b.state = scan.cycle() >= 2 ? 3 : 0;
        if (scan.cycle() == 4)
            scan.stop();
    });
    EXPECT_EQ((std::vector<unsigned>{0, 0, 2, 1}), seen);
    EXPECT_EQ(3u, scan.statistics().badCycles);   // outputs of cycle 2 on: no limit set
}

TEST_F(ScanTest, RefusesWhatCannotWork) {
    TAVEX_EXPECT_THROW_TEXT(Scan(std::chrono::nanoseconds(999)), std::range_error,
                            "Tavex::Scan: the period must be 1 microsecond or more");
    Scan scan(period);
    scan.add(lamps);
    TAVEX_EXPECT_THROW_TEXT(scan.add(lamps), std::logic_error,
                            "Tavex::Scan: the track is already in the scan");
    TAVEX_EXPECT_THROW_TEXT(scan.add(inputs, {0, 0, 0}), std::logic_error,
                            "Tavex::Scan: 3 safe values for a track of 4 points");
    EXPECT_EQ(1u, scan.trackCount());
    scan.run([&] {
        TAVEX_EXPECT_THROW_TEXT(scan.add(inputs), std::logic_error,
                                "Tavex::Scan: a track cannot be added while the scan runs");
        scan.stop();
    });
}

TEST_F(ScanTest, RealTimeRequestsAreGrantedRefusedOrWarnedAbout) {
    Scan scan(period);
    Scan::RealTime wanted;
    wanted.priority = 80;
    wanted.lockMemory = true;
    wanted.cpu = 1;
    EXPECT_TRUE(scan.enterRealTime(wanted).empty());
    EXPECT_EQ(80, machine.realTimePriority());
    EXPECT_TRUE(machine.memoryLocked());
    EXPECT_EQ(1, machine.threadCpu());

    machine.faults().realTimeRefused = true;
    const std::string why = std::system_category().message(1);
    TAVEX_EXPECT_THROW_TEXT(scan.enterRealTime(wanted), std::runtime_error,
                            "Tavex::Scan: locked memory refused: " + why);
    wanted.bestEffort = true;
    const std::vector<std::string> warnings = scan.enterRealTime(wanted);
    EXPECT_EQ((std::vector<std::string>{
                  "Tavex::Scan: locked memory refused: " + why + "; running without it",
                  "Tavex::Scan: CPU 1 refused: " + why + "; running without it",
                  "Tavex::Scan: real-time priority 80 refused: " + why + "; running without it"}),
              warnings);

    wanted.priority = 100;
    TAVEX_EXPECT_THROW_TEXT(scan.enterRealTime(wanted), std::range_error,
                            "Tavex::Scan: real-time priority 100 is not from 0 to 99");
}

// The cycle of real cards on their boards, from the first cycle on.
TEST(ScanCycle, AllocatesNothing) {
    Tavex::Sim::ScopedMachine machine;
    machine.setTracing(false);
    machine.add<Tavex::Sim::AC5Board>(0x300);
    Tavex::AC5Card card(0x300);
    Tavex::DummyCard dummy;
    IOTrack eyes(card, 0, "IIIIIIII");
    IOTrack motors(card, 1, "OOOOOOOO");
    IOTrack setpoints(dummy, 0, "UUAA");
    Scan scan(period);
    scan.add(eyes).add(motors, std::vector<long>(8, 0)).add(setpoints, {0, 0, 0, 0});
    std::function<void()> logic = [&] {
        motors[0] = eyes[0];
        if (scan.cycle() == 1000)
            scan.stop();
    };
    AllocationCounter::Window window;
    EXPECT_EQ(Scan::Stopped, scan.run(logic));
    if (AllocationCounter::seesLibrary()) {
        EXPECT_EQ(0u, window.allocated());
    }
    EXPECT_EQ(1000u, scan.statistics().cycles);
}

// A thrown logic leaves the board's outputs at their safe values.
TEST(ScanCycle, AThrownLogicLeavesTheBoardAtItsSafeValues) {
    Tavex::Sim::ScopedMachine machine;
    Tavex::Sim::AC5Board& board = machine.add<Tavex::Sim::AC5Board>(0x300);
    Tavex::AC5Card card(0x300);
    IOTrack valves(card, 1, "OOOOOOOO");
    Scan scan(period);
    scan.add(valves, {0, 0, 0, 0, 0, 0, 0, 1});   // point 7: the vent, open when stopped
    EXPECT_THROW(scan.run([&] {
        for (unsigned i = 0; i < 8; ++i)
            valves[i] = i < 7;
        if (scan.cycle() == 5)
            throw std::runtime_error("sensor");
    }),
                 std::runtime_error);
    for (unsigned i = 0; i < 8; ++i)
        EXPECT_EQ(i == 7, board.outputOn(1, i)) << "point " << i;
}

// Another thread reads the figures while the scan runs (ThreadSanitizer:
// the tsan preset).
TEST(ScanCycle, FiguresCanBeReadWhileTheScanRuns) {
    Tavex::Sim::ScopedMachine machine;
    machine.setTracing(false);
    Tavex::DummyCard card;
    IOTrack track(card, 0, "IO");
    Scan scan(period);
    scan.add(track);
    std::atomic<bool> done(false);
    std::atomic<unsigned> reads(0);
    bool ordered = true;
    std::thread reader([&] {
        std::uint64_t last = 0;
        while (!done.load()) {
            const Scan::Statistics s = scan.statistics();
            ordered = ordered && s.cycles >= last &&
                      (s.duration.count == 0 || s.duration.max >= s.duration.min);
            last = s.cycles;
            ++reads;
        }
    });
    // At least 20000 cycles, and as many as it takes the reader to look 100 times.
    scan.run([&] {
        machine.advanceNanoseconds(scan.cycle() % 7 * 1000);
        if (scan.cycle() >= 20000 && reads.load() >= 100)
            scan.stop();
    });
    done = true;
    reader.join();
    EXPECT_TRUE(ordered);
    EXPECT_GE(scan.statistics().cycles, 20000u);
}

}  // namespace
