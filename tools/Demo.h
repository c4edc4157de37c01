// tavex demo: a control program for the demo plant's bottling line, with a
// track on every card, shown as a live table of its tracks.
#ifndef TAVEX_TOOLS_DEMO_H
#define TAVEX_TOOLS_DEMO_H

#include <ostream>

#include "TavexTool.h"

namespace Tavex {
namespace Tool {

class DemoPlant;

// Runs the line for the given seconds of plant time, one scan every
// 100 ms.  In a terminal the table, fitted to its width, is redrawn in
// place and every scan also waits 100 ms for real; elsewhere each scan is
// one line and nothing waits.  colour: track states 2 and 3 in colour.
void runDemo(std::ostream& out, const Environment& environment, DemoPlant& plant,
             unsigned seconds, bool colour = false);

}  // namespace Tool
}  // namespace Tavex

#endif
