#include "tavex/model/asString.h"

#include <cstdarg>

#include "platform/MessageText.h"

namespace Tavex {

std::string asString(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = messageText(format, arguments);
    va_end(arguments);
    return text;
}

}  // namespace Tavex
