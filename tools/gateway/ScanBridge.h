// ScanBridge: the gateway's part of each scan cycle, run between the
// inputs and the outputs.  It puts the values that clients wrote into the
// output tracks, writes every output's safe value when the watchdog has
// run out, and publishes the cycle's values as the snapshot that requests
// are answered from.  It allocates nothing, takes no lock and never waits,
// so it can sit inside the scan's logic.
#ifndef TAVEX_TOOLS_GATEWAY_SCANBRIDGE_H
#define TAVEX_TOOLS_GATEWAY_SCANBRIDGE_H

#include <cstdint>
#include <functional>
#include <vector>

#include "Exchange.h"
#include "RegisterMap.h"
#include "tavex/model/IOTrack.h"

namespace Tavex {
namespace Gateway {

// The steady clock in nanoseconds; tests give their own.
typedef std::function<std::int64_t()> Clock;
std::int64_t steadyNow();

class ScanBridge {
public:
    // tracks: the map's tracks, built, in the map's order.  watchdogMs: the
    // time without a client's write after which the outputs go to their
    // safe values; 0: no watchdog.
    ScanBridge(const RegisterMap& map, Exchange& exchange, const std::vector<IOTrack*>& tracks,
               unsigned long watchdogMs, Clock clock = steadyNow);

    // Once per cycle, after the inputs and before the outputs.
    void cycle(std::uint64_t cycle);
    // Sets every output point to its safe value (the watchdog's write).
    void setSafeValues();

    // Times the watchdog ran out.
    std::uint64_t watchdogTrips() const { return trips_; }

private:
    const RegisterMap& map_;
    Exchange& exchange_;
    std::vector<IOTrack*> tracks_;
    std::vector<std::uint32_t> trackOf_;   // by value index
    std::int64_t watchdog_;                // ns, 0: none
    Clock clock_;
    std::int64_t armedAt_;                 // the write the watchdog last ran out after
    std::uint64_t trips_;
};

}  // namespace Gateway
}  // namespace Tavex

#endif
