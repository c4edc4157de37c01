// DriverRequest: what the library and tavex.sys say to each other.  The
// library's OSInterface sends these requests, the Linux backend answers them
// over /dev/mem, and the simulated machine answers them over its regions;
// all three read this one definition.  Internal to the library.
#ifndef TAVEX_SRC_PLATFORM_DRIVERREQUEST_H
#define TAVEX_SRC_PLATFORM_DRIVERREQUEST_H

#include <cstdint>

#include "tavex/platform/OSInterface.h"

namespace Tavex {
namespace DriverRequest {

// The kernel service that loads the driver, and the device it creates.
const char* const serviceName = "tavex";
const char* const deviceName = "\\\\.\\tavex";

// Access rights the library asks for: the service manager is opened for
// reading, the service for starting, the device for reading and writing.
const unsigned long genericRead = 0x80000000UL;
const unsigned long genericWrite = 0x40000000UL;
const unsigned long serviceStart = 0x0010UL;

// Device type 0x8000, functions 0x800 and 0x801, buffered, any access.
const unsigned long mapCode = OSInterface::mapControlCode;
const unsigned long unmapCode = OSInterface::unmapControlCode;

// Map request, 16 bytes in, little-endian.  The high half of the address
// is always 0; the reserved word carries 0 and the driver ignores it.
struct MapRequest {
    std::uint32_t addressLow;
    std::uint32_t addressHigh;
    std::uint32_t length;
    std::uint32_t reserved;
};
static_assert(sizeof(MapRequest) == 16, "the driver takes a 16-byte map request");

// The map reply and the unmap request carry the window's address in the
// calling process: 4 bytes in a 32-bit process, 8 in a 64-bit one.
const unsigned long addressSize = sizeof(void*);

}  // namespace DriverRequest
}  // namespace Tavex

#endif
