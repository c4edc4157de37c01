#include "ScanBridge.h"

#include <chrono>
#include <stdexcept>

namespace Tavex {
namespace Gateway {

std::int64_t steadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

ScanBridge::ScanBridge(const RegisterMap& map, Exchange& exchange,
                       const std::vector<IOTrack*>& tracks, unsigned long watchdogMs,
                       Clock clock)
    : map_(map), exchange_(exchange), tracks_(tracks),
      watchdog_(std::int64_t(watchdogMs) * 1000000), clock_(clock), armedAt_(-1), trips_(0) {
    if (tracks_.size() != map.tracks().size())
        throw std::logic_error("ScanBridge: the tracks do not match the map");
    for (std::uint32_t t = 0; t < tracks_.size(); ++t)
        trackOf_.insert(trackOf_.end(), map.tracks()[t].letters.size(), t);
    // No client has written yet: the watchdog counts from now.
    exchange_.markWrite(clock_());
}

void ScanBridge::setSafeValues() {
    for (std::size_t t = 0; t < tracks_.size(); ++t) {
        const TrackSpec& track = map_.tracks()[t];
        for (unsigned p = 0; p < track.letters.size(); ++p)
            if (track.letters[p] == 'O' || track.letters[p] == 'U')
                (*tracks_[t])[p] = p < track.safe.size() ? track.safe[p] : 0;
    }
}

void ScanBridge::cycle(std::uint64_t cycle) {
    Snapshot& snapshot = exchange_.back();
    snapshot.applied = exchange_.drain([this](const Write& write) {
        const std::uint32_t t = trackOf_[write.value];
        (*tracks_[t])[unsigned(write.value - map_.offset(t))] = write.data;
    });

    const std::int64_t now = clock_();
    if (watchdog_ > 0) {
        const std::int64_t last = exchange_.lastWrite();
        if (last != armedAt_ && now - last >= watchdog_) {
            setSafeValues();
            armedAt_ = last;
            ++trips_;
        }
    }

    for (std::size_t t = 0; t < tracks_.size(); ++t) {
        const IOTrack& track = *tracks_[t];
        std::int32_t* out = &snapshot.values[map_.offset(t)];
        for (unsigned p = 0; p < track.numberOfPoints(); ++p)
            out[p] = static_cast<std::int32_t>(track[p]);
        snapshot.states[t] = static_cast<std::int32_t>(track.trackState());
    }
    snapshot.cycle = cycle;
    snapshot.published = now;
    exchange_.publish();
}

}  // namespace Gateway
}  // namespace Tavex
