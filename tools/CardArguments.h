// The words of the tavex command line that name hardware: CARD, TRACK and
// VALUES, read by the plant library (tavex/plant/CardString.h) as every
// front end reads them.  A mistake in them is a mistake of the command line.
#ifndef TAVEX_TOOLS_CARDARGUMENTS_H
#define TAVEX_TOOLS_CARDARGUMENTS_H

#include "tavex/plant/CardString.h"

namespace Tavex {
namespace Tool {

// A mistake on the command line, reported with the usage exit code.
using UsageError = CardStringError;

using Tavex::CardArguments;
using Tavex::TrackArguments;
using Tavex::cardSyntax;
using Tavex::parseCard;
using Tavex::parseTrack;
using Tavex::parseCount;
using Tavex::parseUnsigned;
using Tavex::parseValue;
using Tavex::parseValues;

}  // namespace Tool
}  // namespace Tavex

#endif
