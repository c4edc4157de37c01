#include "RegisterMap.h"

#include <cstdio>
#include <set>
#include <stdexcept>

namespace Tavex {
namespace Gateway {

namespace {

Table tableOf(char letter) {
    switch (letter) {
    case 'I': return DiscreteInputs;
    case 'O': return Coils;
    case 'A': case 'C': case 'R': return InputRegisters;
    case 'U': return HoldingRegisters;
    default: return TableCount;   // N, and letters no card knows: no address
    }
}

const char* const tableNames[TableCount] = {"coil", "discrete input", "holding register",
                                            "input register"};

}  // namespace

std::string fiveDigit(Table table, unsigned address) {
    static const unsigned first[TableCount] = {1, 10001, 40001, 30001};
    if (address > 9998)
        return "-";
    char text[8];
    std::snprintf(text, sizeof text, "%05u", first[table] + address);
    return text;
}

RegisterMap::RegisterMap(const std::vector<TrackSpec>& tracks,
                         const std::vector<std::pair<std::string, int> >& units,
                         unsigned statusBase)
    : tracks_(tracks), valueCount_(0), statusBase_(statusBase) {
    std::set<int> ids;
    for (const auto& unit : units) {
        if (!ids.insert(unit.second).second)
            throw std::invalid_argument("unit " + std::to_string(unit.second) +
                                        " is given to two cards");
        units_.push_back(Unit());
        units_.back().id = unit.second;
        units_.back().card = unit.first;
    }
    for (unsigned t = 0; t < tracks_.size(); ++t) {
        const TrackSpec& track = tracks_[t];
        offsets_.push_back(valueCount_);
        Unit* unit = 0;
        for (Unit& u : units_)
            if (u.card == track.card)
                unit = &u;
        if (!unit)
            throw std::invalid_argument("track " + track.name + ": card " + track.card +
                                        " has no unit");
        unit->tracks.push_back(t);
        for (unsigned p = 0; p < track.letters.size(); ++p) {
            const Table table = tableOf(track.letters[p]);
            if (table != TableCount)
                unit->points[table].push_back(PointRef{t, p, unsigned(valueCount_ + p)});
        }
        valueCount_ += track.letters.size();
    }
    for (const Unit& unit : units_)
        if (size(unit, InputRegisters) > statusBase_ ||
            statusBase_ + statusSize(unit) > 65536)
            throw std::invalid_argument("unit " + std::to_string(unit.id) + ": " +
                                        std::to_string(size(unit, InputRegisters)) +
                                        " input registers do not fit below the status "
                                        "registers at " + std::to_string(statusBase_));
}

const Unit* RegisterMap::unit(int id) const {
    for (const Unit& unit : units_)
        if (unit.id == id)
            return &unit;
    return 0;
}

std::size_t RegisterMap::size(const Unit& unit, Table table) {
    const std::size_t points = unit.points[table].size();
    return table == HoldingRegisters || table == InputRegisters ? 2 * points : points;
}

void RegisterMap::print(std::ostream& out) const {
    out << "unit  table             address    ref    track.point       type  name\n";
    char line[160];
    // Rows without a point name end at the type, not in blanks.
    const auto put = [&out, &line] {
        std::string text(line);
        text.erase(text.find_last_not_of(' ') + 1);
        out << text << '\n';
    };
    for (const Unit& unit : units_) {
        for (int t = 0; t < TableCount; ++t) {
            const Table table = static_cast<Table>(t);
            const bool pair = table == HoldingRegisters || table == InputRegisters;
            unsigned address = 0;
            for (const PointRef& ref : unit.points[t]) {
                const TrackSpec& track = tracks_[ref.track];
                const std::string where = track.name + "." + std::to_string(ref.point);
                const std::string name = ref.point < track.points.size() ? track.points[ref.point]
                                                                       : std::string();
                const std::string addresses =
                    pair ? std::to_string(address) + "-" + std::to_string(address + 1)
                         : std::to_string(address);
                std::snprintf(line, sizeof line, "%-5d %-17s %-10s %-6s %-17s %-5c %s",
                              unit.id, tableNames[t], addresses.c_str(),
                              fiveDigit(table, address).c_str(), where.c_str(),
                              track.letters[ref.point], name.c_str());
                put();
                address += pair ? 2 : 1;
            }
        }
        const auto status = [&, put](unsigned offset, const std::string& what, unsigned count) {
            const unsigned address = statusBase_ + offset;
            const std::string addresses =
                count == 2 ? std::to_string(address) + "-" + std::to_string(address + 1)
                           : std::to_string(address);
            std::snprintf(line, sizeof line, "%-5d %-17s %-10s %-6s %s", unit.id,
                          tableNames[InputRegisters], addresses.c_str(),
                          fiveDigit(InputRegisters, address).c_str(), what.c_str());
            put();
        };
        status(StatusCounter, "(scan counter)", 2);
        status(StatusAge, "(snapshot age, ms)", 1);
        for (unsigned i = 0; i < unit.tracks.size(); ++i)
            status(StatusStates + i, "(state of " + tracks_[unit.tracks[i]].name + ")", 1);
    }
}

}  // namespace Gateway
}  // namespace Tavex
