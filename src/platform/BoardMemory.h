// BoardMemory: unsigned reads of a board's shared memory.  PhysicalMemory
// hands back char and short, whose sign depends on the compiler; the board's
// bytes and words are unsigned quantities.  Internal to the library.
#ifndef TAVEX_SRC_PLATFORM_BOARDMEMORY_H
#define TAVEX_SRC_PLATFORM_BOARDMEMORY_H

#include <cstdint>

#include "tavex/platform/PhysicalMemory.h"

namespace Tavex {

inline std::uint8_t byteAt(const PhysicalMemory& memory, unsigned long offset) {
    return static_cast<std::uint8_t>(memory.readChar(offset));
}

inline std::uint16_t wordAt(const PhysicalMemory& memory, unsigned long offset) {
    return static_cast<std::uint16_t>(memory.readShort(offset));
}

}  // namespace Tavex

#endif
