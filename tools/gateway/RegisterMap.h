// RegisterMap: where every point of the served tracks sits in the four
// Modbus tables of its card's unit.
//
//   discrete inputs    the I points, one bit each
//   coils              the O points, one bit each
//   input registers    the A, C and R points, two registers each (a signed
//                      32-bit value), then from statusBase: the scan counter
//                      (two registers), the age of the snapshot in ms (one,
//                      65535 at most), and the state of each of the unit's
//                      tracks (one each, in the order of the plant file)
//   holding registers  the U points, two registers each
//
// Each card is one unit; its tracks fill each table from address 0 in the
// order of the plant file, point after point; N points take no address.
// The two registers of a 32-bit value hold the high word first, or the low
// word first where the options say so.
#ifndef TAVEX_TOOLS_GATEWAY_REGISTERMAP_H
#define TAVEX_TOOLS_GATEWAY_REGISTERMAP_H

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace Tavex {
namespace Gateway {

// A served track, as the plant file describes it.
struct TrackSpec {
    std::string name;
    std::string card;                  // the name of its card
    std::string letters;               // one per point
    std::vector<std::string> points;   // point names by position, may be shorter
    std::vector<long> safe;            // safe value of every point (outputs only matter)
};

enum Table { Coils, DiscreteInputs, HoldingRegisters, InputRegisters, TableCount };

// A point of the map: its track (index into the map's tracks), its
// position in the track, and its index among all points of all tracks
// (the index of its value in a snapshot).
struct PointRef {
    unsigned track;
    unsigned point;
    unsigned value;
};

struct Unit {
    int id;
    std::string card;
    std::vector<unsigned> tracks;          // this unit's tracks, in file order
    std::vector<PointRef> points[TableCount];   // by bit, or by register pair
};

class RegisterMap {
public:
    enum { DefaultStatusBase = 9000, StatusCounter = 0, StatusAge = 2, StatusStates = 3 };

    // units: the unit id of each card, by card name, in the order the
    // units are to be listed.  std::invalid_argument when a track's card
    // has no unit, two cards share a unit id, or the points of a unit reach
    // into its status registers.
    RegisterMap(const std::vector<TrackSpec>& tracks,
                const std::vector<std::pair<std::string, int> >& units,
                unsigned statusBase = DefaultStatusBase);

    const std::vector<TrackSpec>& tracks() const { return tracks_; }
    const std::vector<Unit>& units() const { return units_; }
    // The unit of that id, or null.
    const Unit* unit(int id) const;
    unsigned statusBase() const { return statusBase_; }
    // Values of all tracks together; offset(track) is where a track's start.
    std::size_t valueCount() const { return valueCount_; }
    std::size_t offset(unsigned track) const { return offsets_[track]; }

    // Registers of a table (twice the points for the register tables;
    // the input registers without the status block).
    static std::size_t size(const Unit& unit, Table table);
    // The registers of the status block of a unit.
    static std::size_t statusSize(const Unit& unit) { return StatusStates + unit.tracks.size(); }

    // One line per point and status register: unit, table, 0-based
    // address, 5-digit address, track, point, type, name.
    void print(std::ostream& out) const;

private:
    std::vector<TrackSpec> tracks_;
    std::vector<Unit> units_;
    std::vector<std::size_t> offsets_;
    std::size_t valueCount_;
    unsigned statusBase_;
};

// The 5-digit reference of a 0-based address: 00001-09999 coils,
// 10001-19999 discrete inputs, 30001-39999 input registers, 40001-49999
// holding registers; "-" beyond 9998, which only 6-digit references reach.
std::string fiveDigit(Table table, unsigned address);

}  // namespace Gateway
}  // namespace Tavex

#endif
