// tavex demo: a control program for the demo plant's bottling line, with a
// track on every card, shown as a live table of its tracks.
#ifndef TAVEX_TOOLS_DEMO_H
#define TAVEX_TOOLS_DEMO_H

#include <cstddef>
#include <ostream>

#include "TavexTool.h"

namespace Tavex {
namespace Tool {

class DemoPlant;

// One track of the demo: its label, CARD and TRACK strings (as read and
// write take them), and whether the table shows its analog values as a
// share of full scale.  demoTracks() lists them all, in the demo's order;
// `tavex scan --sim` runs the same.
struct DemoTrack {
    const char* label;
    const char* card;
    const char* track;
    bool percent;
};
const DemoTrack* demoTracks(std::size_t& count);

// Runs the line for the given seconds of plant time, one scan every
// 100 ms.  In a terminal the table is redrawn in place and every scan
// also waits 100 ms for real; elsewhere each scan is one line and nothing
// waits.
void runDemo(std::ostream& out, const Environment& environment, DemoPlant& plant,
             unsigned seconds);

}  // namespace Tool
}  // namespace Tavex

#endif
