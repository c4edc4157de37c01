// What tavex write is asked to write: one VALUES list (a value per point,
// separated by commas) or POINT=VALUE pairs, each value checked against
// its point on the card before anything is built.
#ifndef TAVEX_TOOLS_WRITEVALUES_H
#define TAVEX_TOOLS_WRITEVALUES_H

#include <string>
#include <vector>

namespace Tavex {
namespace Tool {

struct CardFacts;

struct WriteValues {
    std::vector<long> values;          // one per point
    std::vector<unsigned> unnamed;     // pairs: outputs not named, written as 0 or safe
};

// words: a single list, or pairs.  A POINT is its number or, where the
// plant file names the track's points, its name.  A value is a number
// (decimal or 0x hex, a minus sign allowed) or, for an analog point, a per
// cent of full scale ("50%", "-12.5%").  Outputs not named take their safe
// value where safe is given, else 0.  Every misfit is a UsageError naming
// the point.
WriteValues parseWriteValues(const std::vector<std::string>& words, const std::string& letters,
                             const CardFacts& facts,
                             const std::vector<std::string>& names = std::vector<std::string>(),
                             const std::vector<long>* safe = 0);

// Point numbers as ranges: "3, 5-7".
std::string pointRanges(const std::vector<unsigned>& points);

}  // namespace Tool
}  // namespace Tavex

#endif
