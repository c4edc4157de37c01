#include "OpenCard.h"

#include "DemoPlant.h"

namespace Tavex {
namespace Tool {

OpenOptions openOptions(const DemoPlant* plant) {
    OpenOptions options;
    if (plant)
        options.ktxFirmwarePath = plant->firmwarePath();
    return options;
}

}  // namespace Tool
}  // namespace Tavex
