#include "platform/MessageText.h"

#include <cstdio>

namespace Tavex {

std::string messageText(const char* format, va_list arguments) {
    char buffer[4096];
    const int written = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    if (written < 0)
        buffer[0] = '\0';
    return std::string(buffer);
}

}  // namespace Tavex
