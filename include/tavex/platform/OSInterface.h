// OSInterface: the library's one link to the operating system for mapping
// physical memory (through the tavex.sys driver under Windows NT, through
// DPMI under Windows 9x) and for delays.
#ifndef TAVEX_PLATFORM_OSINTERFACE_H
#define TAVEX_PLATFORM_OSINTERFACE_H

#include "tavex/Export.h"
#include "tavex/platform/Platform.h"

namespace Tavex {

class PhysicalMemory;
namespace detail {
class DriverPorts;
}

class TAVEX_API OSInterface {
public:
    static OSInterface& osinterface();

    ~OSInterface();

    // Suspends the caller for microseconds / 1000 whole milliseconds.
    static void sleep(unsigned long microseconds);

    bool isUnderNt() const { return underNt_; }

    // Driver request interface of tavex.sys.
    static const unsigned long mapControlCode = 0x80002000UL;
    static const unsigned long unmapControlCode = 0x80002004UL;

private:
    friend class PhysicalMemory;
    friend class Platform;
    friend class detail::DriverPorts;  // port requests on Windows NT share the device

    OSInterface();
    OSInterface(const OSInterface&);
    OSInterface& operator=(const OSInterface&);

    void* mapMemory(unsigned long physicalAddress, unsigned long size, bool flag);
    OSInterface& unmapMemory(void* window);

    // Drops the instance; the device is closed through the platform that
    // opened it.  Used when another platform is installed.
    static void drop();

    Platform::Handle device_;
    bool underNt_;
    Platform* platform_;

    static OSInterface* theInterface;
};

}  // namespace Tavex

#endif
