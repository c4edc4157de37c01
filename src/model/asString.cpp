#include "tavex/model/asString.h"

#include <cstdarg>
#include <cstdio>

namespace Tavex {

std::string asString(const char* format, ...) {
    // The buffer belongs to the call; a longer text is cut at 4095 characters.
    char buffer[4096];
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    if (written < 0)
        buffer[0] = '\0';
    return std::string(buffer);
}

}  // namespace Tavex
