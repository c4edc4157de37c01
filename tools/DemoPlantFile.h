// The demo plant as a plant file (tools/demo-plant.toml, built into the
// tool): the named cards and tracks of --sim.
#ifndef TAVEX_TOOLS_DEMOPLANTFILE_H
#define TAVEX_TOOLS_DEMOPLANTFILE_H

namespace Tavex {
namespace Tool {

const char* demoPlantFile();
// The name its errors and messages give it.
inline const char* demoPlantFileName() { return "demo-plant.toml"; }

}  // namespace Tool
}  // namespace Tavex

#endif
