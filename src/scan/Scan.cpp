#include "tavex/scan/Scan.h"

#include <atomic>
#include <stdexcept>
#include <system_error>

#include "tavex/model/IOTrack.h"
#include "tavex/platform/Platform.h"

namespace Tavex {

namespace {

// stop() is called from signal handlers.
static_assert(std::atomic<bool>::is_always_lock_free, "stop() needs a lock-free flag");

// The scan's thread is the only writer of every figure, so a counter is
// bumped with a plain load and store: no locked instruction in the cycle,
// and a reader on another thread still sees whole values.
inline void bump(std::atomic<std::uint64_t>& counter, std::uint64_t by = 1) {
    counter.store(counter.load(std::memory_order_relaxed) + by, std::memory_order_relaxed);
}

inline unsigned highestBit(std::uint64_t v) {
#if defined(__GNUC__)
    return 63u - static_cast<unsigned>(__builtin_clzll(v));
#else
    unsigned bit = 0;
    while (v >>= 1)
        ++bit;
    return bit;
#endif
}

// Nanoseconds in fixed buckets, log-linear: every value below 64 has a bucket
// of its own, above that each power of two is split into 32 buckets.
class Histogram {
public:
    enum { exact = 64, perOctave = 32, buckets = exact + (64 - 6) * perOctave };

    Histogram() { clear(); }

    void clear() {
        for (std::atomic<std::uint64_t>& c : counts_)
            c.store(0, std::memory_order_relaxed);
        sum_.store(0, std::memory_order_relaxed);
        min_.store(~std::uint64_t(0), std::memory_order_relaxed);
        max_.store(0, std::memory_order_relaxed);
    }

    // The bucket last, with release: a reader that counts the value also
    // sees it in min and max.
    void record(std::uint64_t v) {
        bump(sum_, v);
        if (v < min_.load(std::memory_order_relaxed))
            min_.store(v, std::memory_order_relaxed);
        if (v > max_.load(std::memory_order_relaxed))
            max_.store(v, std::memory_order_relaxed);
        std::atomic<std::uint64_t>& bucket = counts_[bucketOf(v)];
        bucket.store(bucket.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    Scan::Figures figures() const {
        Scan::Figures f = {0, 0, 0, 0, 0, 0, 0};
        std::uint64_t snapshot[buckets];
        for (unsigned i = 0; i < buckets; ++i) {
            snapshot[i] = counts_[i].load(std::memory_order_acquire);
            f.count += snapshot[i];
        }
        if (f.count == 0)
            return f;
        f.min = min_.load(std::memory_order_relaxed);
        f.max = max_.load(std::memory_order_relaxed);
        f.mean = sum_.load(std::memory_order_relaxed) / f.count;
        f.p50 = percentile(snapshot, f.count, 500, f.max);
        f.p99 = percentile(snapshot, f.count, 990, f.max);
        f.p999 = percentile(snapshot, f.count, 999, f.max);
        return f;
    }

    static unsigned bucketOf(std::uint64_t v) {
        if (v < exact)
            return static_cast<unsigned>(v);
        const unsigned msb = highestBit(v);   // 6 and up
        const unsigned shift = msb - 5;
        return exact + (msb - 6) * perOctave + static_cast<unsigned>((v >> shift) - perOctave);
    }

    static std::uint64_t upperEdge(unsigned bucket) {
        if (bucket < exact)
            return bucket;
        const unsigned k = bucket - exact;
        const unsigned shift = k / perOctave + 1;
        const std::uint64_t lower = static_cast<std::uint64_t>(perOctave + k % perOctave) << shift;
        return lower + ((std::uint64_t(1) << shift) - 1);
    }

private:
    // The smallest bucket edge at or below which perMille of the values lie.
    static std::uint64_t percentile(const std::uint64_t* counts, std::uint64_t total,
                                    unsigned perMille, std::uint64_t max) {
        const std::uint64_t rank = (total * perMille + 999) / 1000;
        std::uint64_t seen = 0;
        for (unsigned i = 0; i < buckets; ++i) {
            seen += counts[i];
            if (seen >= rank && seen != 0) {
                const std::uint64_t edge = upperEdge(i);
                return edge < max ? edge : max;
            }
        }
        return max;
    }

    std::atomic<std::uint64_t> counts_[buckets];
    std::atomic<std::uint64_t> sum_, min_, max_;
};

struct Entry {
    IOTrack* track;
    bool inputs;
    bool outputs;
    bool hasSafeValues;
    std::vector<long> safeValues;
};

bool isOutputLetter(char letter) {
    return letter == IOTrack::DigitalOutput || letter == IOTrack::AnalogOutput;
}

std::string refusal(const char* what, int code) {
    if (code == Platform::notAvailable)
        return std::string(what) + " is not available on this platform";
    return std::string(what) + " refused: " + std::system_category().message(code);
}

}  // namespace

struct Scan::State {
    explicit State(std::uint64_t p)
        : period(p), started(false), next(0), consecutiveBad(0), badLimit(0), stopReason(Running),
          stopRequested(false), badTracks(0), cycle(0), cycles(0), overruns(0), missedPeriods(0),
          badCycles(0) {}

    const std::uint64_t period;   // ns
    std::vector<Entry> entries;
    bool started;                 // cycles are planned; the safe values are owed at the stop
    std::uint64_t next;           // planned start of the next cycle
    unsigned consecutiveBad;
    unsigned badLimit;
    StopReason stopReason;
    std::string safeStateError;

    std::atomic<bool> stopRequested;
    std::atomic<unsigned> badTracks;
    std::atomic<std::uint64_t> cycle;   // since the last start
    std::atomic<std::uint64_t> cycles, overruns, missedPeriods, badCycles;
    Histogram latency, duration;

    // Reads, thinks, writes.  Returns whether any track reported a state
    // other than 0.
    bool cycleOnce(const std::function<void()>& logic) {
        unsigned bad = 0;
        for (Entry& e : entries)
            if (e.inputs && e.track->updateInputs().trackState() != 0)
                ++bad;
        badTracks.store(bad, std::memory_order_relaxed);
        if (logic)
            logic();
        bool badOutputs = false;
        for (Entry& e : entries)
            if (e.outputs && e.track->updateOutputs().trackState() != 0)
                badOutputs = true;
        return bad != 0 || badOutputs;
    }

    // Every track with safe values gets them, whatever the others do; the
    // failures are collected and told afterwards.  Only output points are
    // set: a counter's value would be a preset.
    bool writeSafe() noexcept {
        safeStateError.clear();
        bool ok = true;
        for (std::size_t t = 0; t < entries.size(); ++t) {
            Entry& e = entries[t];
            if (!e.hasSafeValues)
                continue;
            try {
                IOTrack& track = *e.track;
                for (unsigned i = 0; i < track.numberOfPoints(); ++i)
                    if (isOutputLetter(track.pointType(i)))
                        track[i] = e.safeValues[i];
                track.updateOutputs();
            } catch (const std::exception& error) {
                ok = false;
                note(t, error.what());
            } catch (...) {
                ok = false;
                note(t, "unknown exception");
            }
        }
        started = false;
        return ok;
    }

    void note(std::size_t track, const char* what) noexcept {
        try {
            safeStateError += std::string(safeStateError.empty()
                                              ? "Tavex::Scan: safe values not written to track "
                                              : "; track ") +
                              std::to_string(track + 1) + " (" + entries[track].track->card().type() +
                              "): " + what;
        } catch (...) {
            // Out of memory while telling: the failure itself is still known.
            if (safeStateError.empty())
                safeStateError = "Tavex::Scan: safe values not written";
        }
    }

    // The stop path: safe values, then the reason; a failed safe write is
    // thrown only when no other exception is on its way.
    void finish(StopReason reason) {
        const bool ok = writeSafe();
        stopReason = reason;
        if (!ok && reason != Failed)
            throw std::runtime_error(safeStateError);
    }
};

Scan::Scan(std::chrono::nanoseconds period) {
    if (period.count() < 1000)
        throw std::range_error("Tavex::Scan: the period must be 1 microsecond or more");
    state_.reset(new State(static_cast<std::uint64_t>(period.count())));
}

Scan::~Scan() {
    if (state_->started)
        state_->writeSafe();
}

Scan& Scan::add(IOTrack& track) {
    State& s = *state_;
    if (s.started)
        throw std::logic_error("Tavex::Scan: a track cannot be added while the scan runs");
    for (const Entry& e : s.entries)
        if (e.track == &track)
            throw std::logic_error("Tavex::Scan: the track is already in the scan");
    Entry e;
    e.track = &track;
    e.inputs = track.hasPointOfType(IOTrack::DigitalInput) ||
               track.hasPointOfType(IOTrack::AnalogInput) ||
               track.hasPointOfType(IOTrack::Counter) ||
               track.hasPointOfType(IOTrack::ReverseCounter);
    // A counter's count is written when the logic changed it: a preset.
    e.outputs = track.hasPointOfType(IOTrack::DigitalOutput) ||
                track.hasPointOfType(IOTrack::AnalogOutput) ||
                track.hasPointOfType(IOTrack::Counter) ||
                track.hasPointOfType(IOTrack::ReverseCounter);
    e.hasSafeValues = false;
    s.entries.push_back(e);
    return *this;
}

Scan& Scan::add(IOTrack& track, const std::vector<long>& safeValues) {
    if (safeValues.size() != track.numberOfPoints())
        throw std::logic_error("Tavex::Scan: " + std::to_string(safeValues.size()) +
                               " safe values for a track of " +
                               std::to_string(track.numberOfPoints()) + " points");
    add(track);
    Entry& e = state_->entries.back();
    e.hasSafeValues = true;
    e.safeValues = safeValues;
    return *this;
}

Scan& Scan::setBadCycleLimit(unsigned n) {
    state_->badLimit = n;
    return *this;
}

std::vector<std::string> Scan::enterRealTime(const RealTime& options) {
    if (options.priority < 0 || options.priority > 99)
        throw std::range_error("Tavex::Scan: real-time priority " +
                               std::to_string(options.priority) + " is not from 0 to 99");
    if (options.cpu < -1)
        throw std::range_error("Tavex::Scan: CPU " + std::to_string(options.cpu) +
                               " is not a processor number");
    Platform& platform = Platform::current();
    std::vector<std::string> warnings;
    const auto check = [&](int code, const std::string& what) {
        if (code == 0)
            return;
        const std::string text = "Tavex::Scan: " + refusal(what.c_str(), code);
        if (!options.bestEffort)
            throw std::runtime_error(text);
        warnings.push_back(text + "; running without it");
    };
    if (options.lockMemory)
        check(platform.lockMemory(), "locked memory");
    if (options.cpu >= 0)
        check(platform.setThreadCpu(static_cast<unsigned>(options.cpu)),
              "CPU " + std::to_string(options.cpu));
    if (options.priority > 0)
        check(platform.setRealTimePriority(options.priority),
              "real-time priority " + std::to_string(options.priority));
    return warnings;
}

bool Scan::step(const std::function<void()>& logic) {
    State& s = *state_;
    Platform& clock = Platform::current();
    if (!s.started) {
        s.started = true;
        s.stopReason = Running;
        s.consecutiveBad = 0;
        s.cycle.store(0, std::memory_order_relaxed);
        s.next = clock.monotonicNanoseconds() + s.period;
    }
    if (s.stopRequested.exchange(false)) {
        s.finish(Stopped);
        return false;
    }
    clock.sleepUntil(s.next);
    const std::uint64_t woke = clock.monotonicNanoseconds();
    if (s.stopRequested.exchange(false)) {
        s.finish(Stopped);
        return false;
    }
    bump(s.cycle);
    bool bad;
    try {
        bad = s.cycleOnce(logic);
    } catch (...) {
        s.finish(Failed);
        throw;
    }
    const std::uint64_t end = clock.monotonicNanoseconds();

    s.latency.record(woke > s.next ? woke - s.next : 0);
    s.duration.record(end > woke ? end - woke : 0);
    bump(s.cycles);
    s.next += s.period;
    if (end > s.next) {
        const std::uint64_t missed = (end - s.next + s.period - 1) / s.period;
        bump(s.overruns);
        bump(s.missedPeriods, missed);
        s.next += missed * s.period;
    }
    if (bad) {
        bump(s.badCycles);
        ++s.consecutiveBad;
        if (s.badLimit != 0 && s.consecutiveBad >= s.badLimit) {
            s.finish(BadCycles);
            return false;
        }
    } else {
        s.consecutiveBad = 0;
    }
    return true;
}

Scan::StopReason Scan::run(const std::function<void()>& logic) {
    while (step(logic)) {
    }
    return state_->stopReason;
}

void Scan::stop() noexcept { state_->stopRequested.store(true); }

void Scan::writeSafeValues() noexcept { state_->writeSafe(); }

std::chrono::nanoseconds Scan::period() const {
    return std::chrono::nanoseconds(static_cast<std::chrono::nanoseconds::rep>(state_->period));
}

std::size_t Scan::trackCount() const { return state_->entries.size(); }

unsigned Scan::badTracks() const { return state_->badTracks.load(std::memory_order_relaxed); }

std::uint64_t Scan::cycle() const { return state_->cycle.load(std::memory_order_relaxed); }

Scan::StopReason Scan::stopReason() const { return state_->stopReason; }

const std::string& Scan::safeStateError() const { return state_->safeStateError; }

Scan::Statistics Scan::statistics() const {
    const State& s = *state_;
    Statistics statistics;
    statistics.cycles = s.cycles.load(std::memory_order_relaxed);
    statistics.overruns = s.overruns.load(std::memory_order_relaxed);
    statistics.missedPeriods = s.missedPeriods.load(std::memory_order_relaxed);
    statistics.badCycles = s.badCycles.load(std::memory_order_relaxed);
    statistics.latency = s.latency.figures();
    statistics.duration = s.duration.figures();
    return statistics;
}

}  // namespace Tavex
