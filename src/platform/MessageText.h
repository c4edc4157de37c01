// MessageText: printf-style formatting of an error text into a buffer of
// 4096 bytes that belongs to the call; a longer text is cut at 4095
// characters.  Internal to the library: the platform layer builds its texts
// with it, and the public asString hands its arguments on to it.
#ifndef TAVEX_SRC_PLATFORM_MESSAGETEXT_H
#define TAVEX_SRC_PLATFORM_MESSAGETEXT_H

#include <cstdarg>
#include <string>

namespace Tavex {

std::string messageText(const char* format, va_list arguments);

}  // namespace Tavex

#endif
