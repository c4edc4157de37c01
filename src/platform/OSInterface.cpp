#include "tavex/platform/OSInterface.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/DriverRequest.h"

namespace Tavex {

namespace {

const unsigned long platformWin32Nt = 2;

const char* const mapFailed = "OS Interface: can not get pointer to physical memory block.";

// The platform's reason for the call that has just failed.  Not having one
// must never hide the failure itself.
std::string causeOf(Platform& platform) noexcept {
    try {
        return platform.lastErrorText();
    } catch (...) {
        return std::string();
    }
}

// The library's own text, and after it in parentheses the reason that the
// platform gave, if it gave one.
std::runtime_error failure(const char* text, const std::string& cause) {
    if (cause.empty())
        return std::runtime_error(text);
    return std::runtime_error(std::string(text) + " (" + cause + ")");
}

// The driver request carries 32 bits of address and of length.
bool fitsRequest(unsigned long value) { return (value >> 16 >> 16) == 0; }

}  // namespace

OSInterface* OSInterface::theInterface = 0;

OSInterface& OSInterface::osinterface() {
    if (theInterface == 0)
        theInterface = new OSInterface();
    return *theInterface;
}

OSInterface::OSInterface()
    : device_(Platform::invalidHandle()), underNt_(false), platform_(&Platform::current()) {
    unsigned long platformId = 0;
    if (platform_->getVersionEx(platformId))
        underNt_ = platformId == platformWin32Nt;
    if (!underNt_)
        return;

    Platform::Handle manager = platform_->openSCManager(DriverRequest::genericRead);
    if (manager == 0)
        throw failure("OS Interface: failed to open service manager.", causeOf(*platform_));

    Platform::Handle service = platform_->openService(manager, DriverRequest::serviceName,
                                                        DriverRequest::serviceStart);
    if (service == 0) {
        const std::string cause = causeOf(*platform_);
        platform_->closeServiceHandle(manager);
        throw failure("OS Interface: tavex.sys driver possibly not installed", cause);
    }

    // A service that already runs refuses to start again; that is fine.
    platform_->startService(service);
    platform_->closeServiceHandle(service);
    platform_->closeServiceHandle(manager);

    device_ = platform_->createFile(DriverRequest::deviceName,
                                    DriverRequest::genericRead | DriverRequest::genericWrite);
    if (device_ == Platform::invalidHandle())
        throw failure("OS Interface: can not open tavex.sys driver.", causeOf(*platform_));
}

OSInterface::~OSInterface() {
    if (underNt_ && device_ != Platform::invalidHandle())
        platform_->closeHandle(device_);
}

void OSInterface::drop() {
    delete theInterface;
    theInterface = 0;
}

void OSInterface::sleep(unsigned long microseconds) {
    Platform::current().sleep(microseconds / 1000);
}

void* OSInterface::mapMemory(unsigned long physicalAddress, unsigned long size, bool) {
    if (!underNt_)
        return platform_->dpmiMapPhysical(physicalAddress, size);

    // Cut to 32 bits, a window above 4 GiB would be mapped somewhere below.
    if (!fitsRequest(physicalAddress) || !fitsRequest(size))
        throw std::runtime_error(mapFailed);

    DriverRequest::MapRequest request;
    request.addressLow = static_cast<std::uint32_t>(physicalAddress);
    request.addressHigh = 0;
    request.length = static_cast<std::uint32_t>(size);
    request.reserved = 0;
    void* window = 0;
    unsigned long bytesReturned = 0;
    if (!platform_->deviceIoControl(device_, DriverRequest::mapCode, &request, sizeof request,
                                    &window, sizeof window, bytesReturned))
        throw failure(mapFailed, causeOf(*platform_));
    // A reply that is not exactly one address is no mapping.
    if (bytesReturned != DriverRequest::addressSize)
        throw std::runtime_error(mapFailed);
    return window;
}

OSInterface& OSInterface::unmapMemory(void* window) {
    if (!underNt_ || window == 0)
        return *this;
    unsigned long bytesReturned = 0;
    if (!platform_->deviceIoControl(device_, DriverRequest::unmapCode, &window, sizeof window, 0, 0,
                                    bytesReturned))
        throw failure("OS Interface: can not release physical memory block.",
                      causeOf(*platform_));
    return *this;
}

}  // namespace Tavex
