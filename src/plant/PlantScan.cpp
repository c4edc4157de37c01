#include "tavex/plant/PlantScan.h"

namespace Tavex {

namespace {

bool hasOutputs(const IOTrack& track) {
    return track.hasPointOfType(IOTrack::DigitalOutput) ||
           track.hasPointOfType(IOTrack::AnalogOutput);
}

void addTracks(Scan& scan, PlantIO& io) {
    for (std::size_t i = 0; i < io.trackCount(); ++i) {
        IOTrack& track = io.track(i);
        if (hasOutputs(track))
            scan.add(track, io.trackInfo(i).safe);
        else
            scan.add(track);
    }
}

}  // namespace

PlantScan::PlantScan(PlantIO& io)
    : Scan(std::chrono::microseconds(io.plant().period())) {
    addTracks(*this, io);
}

PlantScan::PlantScan(PlantIO& io, std::chrono::nanoseconds period) : Scan(period) {
    addTracks(*this, io);
}

}  // namespace Tavex
