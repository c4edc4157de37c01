// PlantScan: a Tavex::Scan of a plant's tracks, built from its opened
// cards and tracks (PlantIO): the plant's period, every track in the order
// of the file, and the plant's safe values on every track with output
// points (an output the file gives none is safe at 0).
//
//   Tavex::PlantIO io(Tavex::Plant::load("line.toml"));
//   Tavex::PlantScan scan(io);             // after io: the scan goes first
//   scan.run([&] { io.track("motors")[0] = io.track("eyes")[4]; });
#ifndef TAVEX_PLANT_PLANTSCAN_H
#define TAVEX_PLANT_PLANTSCAN_H

#include <chrono>

#include "tavex/plant/Plant.h"
#include "tavex/scan/Scan.h"

namespace Tavex {

class PlantScan : public Scan {
public:
    explicit PlantScan(PlantIO& io);
    // The same with a period of the caller's instead of the plant's.
    PlantScan(PlantIO& io, std::chrono::nanoseconds period);
};

}  // namespace Tavex

#endif
