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

struct CardFacts;

// "ok", "CARD OR NETWORK DOWN" (2), "NOT ANSWERING" (3), "state N" otherwise.
std::string stateLabel(long state);
// "state 0 (ok)", "state 3 (NOT ANSWERING)".
std::string stateText(long state);

// Most boards cannot read their outputs back: before a read, the outputs
// of a track are given a value that no read produces, and those that
// still hold it afterwards were not read back.
void markOutputs(IOTrack& track);

// One read of a track, as the tool shows it.
struct Reading {
    std::string letters;
    std::vector<long> values;
    std::vector<bool> known;   // false: an output the board did not read back
    long state;

    bool anyUnknown() const;
};
Reading readingOf(const IOTrack& track);

// How values are shown.
struct ViewOptions {
    ViewOptions() : facts(0), raw(false), columns(80) {}
    const CardFacts* facts;   // the card's encodings; null: raw only
    bool raw;                 // raw values only, no per cent of full scale
    unsigned columns;         // the width that rows must fit
};

// The values as write takes them: "1,0,0,1"; '-' for an output not read back.
std::string valueList(const Reading& reading);
// Per cent of full scale of the points whose encoding is known, '-' for the
// others: "+50.0%,-"; empty when the track has no such point or raw.
std::string percentList(const Reading& reading, const ViewOptions& view);
// Rows of up to eight points, fewer where the width asks for it:
// "  0-7     I 1  I 0 ...", each cell as wide as the widest; a row of one
// point is labelled with its number alone.
std::vector<std::string> pointRows(const Reading& reading, const ViewOptions& view);
// The line under the rows that says what '-' means, or empty.
std::string notReadBackNote(const Reading& reading);

// Short form: a digital track (letters I, O, N only) as bits in groups of
// eight ("00100000 1...."; N shows as '.'), any other as numbers ("12 -1"),
// or, with percent, analog values as a share of full scale ("+56% -12%").
std::string compactValues(const IOTrack& track, bool percent = false);

// A frame of lines on the output.  In a terminal each frame is drawn over
// the one before; with colour, states 2 and 3 are shown in colour, and
// without it in capitals.
class Screen {
public:
    Screen(std::ostream& out, bool terminal, bool colour = false, unsigned columns = 80);
    bool terminal() const { return terminal_; }
    unsigned columns() const { return columns_; }
    void frame(const std::vector<std::string>& lines);
    // The state text, padded to width, and marked to stand out where it must.
    std::string state(long state, std::size_t width = 0) const;

private:
    std::ostream& out_;
    bool terminal_;
    bool colour_;
    unsigned columns_;
    std::size_t lastLines_;
};

// The characters a line takes on a terminal, escape sequences left out.
std::size_t visibleLength(const std::string& line);

}  // namespace Tool
}  // namespace Tavex

#endif
