// Scan: the periodic cycle of a control program.  Each cycle reads every
// track that has input points, runs the program's logic, and writes every
// track that has output points; then it waits for the next period.
//
//   Tavex::Scan scan(std::chrono::milliseconds(10));
//   scan.add(inputs);
//   scan.add(valves, {0, 0, 0, 0});          // written when the scan stops
//   scan.run([&] { valves[0] = inputs[0]; }); // until scan.stop()
//
// Time.  Deadlines are absolute, on the installed platform's monotonic
// clock (Platform::monotonicNanoseconds / sleepUntil): the first cycle is
// planned one period after the start, each next one a period after the one
// before, so the period does not drift by the time a cycle takes.  A cycle
// that ends after its successor's planned start is an overrun: it is
// counted, the period boundaries it ran over are counted as missed, and the
// next cycle is planned at the first boundary still in the future.  Missed
// cycles are not caught up (no burst of cycles after a stall).  On the
// simulated PC the clock is the machine's virtual one: a run takes no real
// time.
//
// Safe outputs.  A track added with safe values gets them written (one
// updateOutputs) whenever the scan stops: stop(), the consecutive bad-cycle
// limit, an exception from the logic or from a card (any track's, in any
// phase), and the destructor of a scan that is still between cycles of a
// caller's own step() loop.  The safe write never throws out of the stop
// path: every track gets its safe values first, then a failure is reported
// (see safeStateError()).  A stop that no program can see (power cut,
// kill -9) leaves the outputs where they are; only a board's hardware
// watchdog helps there.
//
// Bad cycles.  A cycle is bad when any track reports a state other than 0
// after its update; badTracks() tells the logic how many did at the inputs.
// With setBadCycleLimit(n), n bad cycles in a row stop the scan to its safe
// state (run() returns BadCycles, step() returns false).
//
// Threads.  Build, add tracks and run on one thread; stop() and
// statistics() may be called from any thread while the scan runs, and
// stop() from a signal handler too (one lock-free atomic store).  The cycle
// allocates nothing and takes no lock.
//
// Lifetime: the scan keeps references to its tracks; declare it after them,
// so that it goes first.
#ifndef TAVEX_SCAN_SCAN_H
#define TAVEX_SCAN_SCAN_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tavex/Export.h"

namespace Tavex {

class IOTrack;
class Platform;

class TAVEX_API Scan {
public:
    // Why a scan stopped.
    enum StopReason {
        Running,       // not stopped (yet)
        Stopped,       // stop() was called
        BadCycles,     // the bad-cycle limit was reached
        Failed         // the logic or a card threw; the exception went on to the caller
    };

    // Figures of one measured quantity, in nanoseconds.  The percentiles
    // come from a histogram with 32 buckets per power of two (about 3 %
    // resolution above 64 ns, exact below); each is the upper edge of its
    // bucket, never above max.  All 0 before the first cycle.
    struct Figures {
        std::uint64_t count;
        std::uint64_t min;
        std::uint64_t max;
        std::uint64_t mean;
        std::uint64_t p50;
        std::uint64_t p99;
        std::uint64_t p999;   // 99.9 %
    };

    struct Statistics {
        std::uint64_t cycles;          // cycles run
        std::uint64_t overruns;        // cycles that ended after the next cycle's planned start
        std::uint64_t missedPeriods;   // period boundaries skipped by the overruns
        std::uint64_t badCycles;       // cycles with a track state other than 0
        Figures latency;               // wake-up latency: woke minus planned start
        Figures duration;              // inputs + logic + outputs
    };

    // Real-time scheduling for the thread that runs the scan.
    struct RealTime {
        RealTime() : priority(0), lockMemory(false), cpu(-1), bestEffort(false) {}
        int priority;      // 1-99: SCHED_FIFO priority; Windows: a time-critical thread.  0: none
        bool lockMemory;   // mlockall(MCL_CURRENT | MCL_FUTURE)
        int cpu;           // the one processor to run on; -1: any
        bool bestEffort;   // refused: a warning instead of an error
    };

    // period: at least 1 microsecond, else std::range_error.
    explicit Scan(std::chrono::nanoseconds period);
    ~Scan();
    Scan(const Scan&) = delete;
    Scan& operator=(const Scan&) = delete;

    // Adds a track, to be updated every cycle in the order added: inputs if
    // it has input or counter points, outputs if it has output points.
    // safeValues: one value per point (values at input points are kept but
    // never written), written whenever the scan stops.  A track added twice,
    // a count that does not match, or an add while the scan runs:
    // std::logic_error.
    Scan& add(IOTrack& track);
    Scan& add(IOTrack& track, const std::vector<long>& safeValues);

    // n bad cycles in a row stop the scan; 0 (the default): never.
    Scan& setBadCycleLimit(unsigned n);

    // Applies the options to the calling thread and the process, through the
    // installed platform: call it on the thread that will run the scan,
    // before run().  Memory is locked first, then the CPU, then the
    // priority.  The first refusal throws std::runtime_error naming what was
    // refused and the system's reason; with bestEffort every refusal comes
    // back as a warning text instead and the rest is still applied.  A
    // priority outside 0-99 or a CPU below -1: std::range_error.
    std::vector<std::string> enterRealTime(const RealTime& options);

    // Runs cycles until stop() or the bad-cycle limit, then writes the safe
    // values and returns why it stopped.  An exception from the logic or a
    // card stops the scan the same way and is then rethrown as it was.
    // A stop() made before run() is acted on at once.
    StopReason run(const std::function<void()>& logic);

    // One cycle for a caller's own loop: waits for the cycle's planned
    // start, then inputs, logic, outputs.  Returns false, after writing the
    // safe values, when the scan has stopped (stop() or the bad-cycle
    // limit) instead of running a cycle; the next step() starts afresh.
    bool step(const std::function<void()>& logic);

    // Asks the scan to stop before its next cycle.  Any thread, a signal
    // handler or the logic itself; async-signal-safe.
    void stop() noexcept;

    // Writes the safe values now (the scan's own thread, between cycles):
    // for a caller's loop that ends without stop().  Never throws; the
    // result is in safeStateError().  The next step() starts afresh.
    void writeSafeValues() noexcept;

    std::chrono::nanoseconds period() const;
    std::size_t trackCount() const;
    // Tracks whose state was not 0 after this cycle's inputs (for the logic).
    unsigned badTracks() const;
    // Cycles run since the last start, the one in progress included.
    std::uint64_t cycle() const;
    StopReason stopReason() const;
    // Empty, or what went wrong when safe values were last written: every
    // track that failed, with the card's text.
    const std::string& safeStateError() const;

    // A consistent-enough snapshot, from any thread, without stopping the
    // scan: each counter is exact, the figures may lag a cycle behind them.
    Statistics statistics() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace Tavex

#endif
