// How the tool shows tracks: their values, their state, and tables that a
// terminal redraws in place or a pipe takes one line at a time.
#ifndef TAVEX_TOOLS_TRACKVIEW_H
#define TAVEX_TOOLS_TRACKVIEW_H

#include <ostream>
#include <string>
#include <vector>

#include "tavex/model/IOTrack.h"

namespace Tavex {
namespace Tool {

// "ok", "CARD OR NETWORK DOWN" (2), "NOT ANSWERING" (3), "state N" otherwise.
std::string stateLabel(long state);
// "state 0 (ok)", "state 3 (NOT ANSWERING)".
std::string stateText(long state);

// The values as write takes them: "1,0,0,1".
std::string valueList(const IOTrack& track);
// Short form: a digital track (letters I, O, N only) as bits in groups of
// eight ("00100000 1...."; N shows as '.'), any other as numbers ("12 -1"),
// or, with percent, analog values as a share of full scale ("+56% -12%").
std::string compactValues(const IOTrack& track, bool percent = false);
// Rows of eight points: "  0-7    I 1  I 0 ...", every cell as wide as the widest value.
std::vector<std::string> pointRows(const IOTrack& track);

// A frame of lines on the output.  In a terminal each frame is drawn over
// the one before, and states 2 and 3 are shown in colour; elsewhere every
// frame is simply written, and those states are written in capitals.
class Screen {
public:
    Screen(std::ostream& out, bool terminal);
    bool terminal() const { return terminal_; }
    void frame(const std::vector<std::string>& lines);
    // The state text, padded to width, and marked to stand out where it must.
    std::string state(long state, std::size_t width = 0) const;

private:
    std::ostream& out_;
    bool terminal_;
    std::size_t lastLines_;
};

}  // namespace Tool
}  // namespace Tavex

#endif
