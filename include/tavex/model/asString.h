// asString: printf-style formatting of message texts.
#ifndef TAVEX_MODEL_ASSTRING_H
#define TAVEX_MODEL_ASSTRING_H

#include <string>

#include "tavex/Export.h"

namespace Tavex {

#if defined(__GNUC__)
TAVEX_API std::string asString(const char* format, ...) __attribute__((format(printf, 1, 2)));
#else
TAVEX_API std::string asString(const char* format, ...);
#endif

}  // namespace Tavex

#endif
