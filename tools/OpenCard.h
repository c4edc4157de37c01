// OpenCard: the plant library's card opener (tavex/plant/OpenCard.h), on
// the demo plant or on this PC's boards.
#ifndef TAVEX_TOOLS_OPENCARD_H
#define TAVEX_TOOLS_OPENCARD_H

#include "CardArguments.h"
#include "tavex/plant/OpenCard.h"

namespace Tavex {
namespace Tool {

class DemoPlant;

// The options that open cards on the demo plant (plant not null: an empty
// ktx firmware path means the plant's own files) or on the hardware.
OpenOptions openOptions(const DemoPlant* plant);

class OpenCard : public Tavex::OpenCard {
public:
    OpenCard(const CardArguments& wanted, const DemoPlant* plant)
        : Tavex::OpenCard(wanted, openOptions(plant)) {}
};

}  // namespace Tool
}  // namespace Tavex

#endif
