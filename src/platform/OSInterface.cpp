#include "tavex/platform/OSInterface.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "platform/DriverRequest.h"

namespace Tavex {

namespace {

const unsigned long platformWin32Nt = 2;

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
        throw std::runtime_error("OS Interface: failed to open service manager.");

    Platform::Handle service = platform_->openService(manager, DriverRequest::serviceName,
                                                        DriverRequest::serviceStart);
    if (service == 0) {
        platform_->closeServiceHandle(manager);
        throw std::runtime_error("OS Interface: tavex.sys driver possibly not installed");
    }

    // A service that already runs refuses to start again; that is fine.
    platform_->startService(service);
    platform_->closeServiceHandle(service);
    platform_->closeServiceHandle(manager);

    device_ = platform_->createFile(DriverRequest::deviceName,
                                    DriverRequest::genericRead | DriverRequest::genericWrite);
    if (device_ == Platform::invalidHandle())
        throw std::runtime_error("OS Interface: can not open tavex.sys driver.");
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

    DriverRequest::MapRequest request;
    request.addressLow = static_cast<std::uint32_t>(physicalAddress);
    request.addressHigh = 0;
    request.length = static_cast<std::uint32_t>(size);
    request.reserved = 0;
    void* window = 0;
    unsigned long bytesReturned = 0;
    // A reply that is not exactly one address is no mapping.
    if (!platform_->deviceIoControl(device_, DriverRequest::mapCode, &request, sizeof request,
                                    &window, sizeof window, bytesReturned) ||
        bytesReturned != DriverRequest::addressSize)
        throw std::runtime_error("OS Interface: can not get pointer to physical memory block.");
    return window;
}

OSInterface& OSInterface::unmapMemory(void* window) {
    if (!underNt_ || window == 0)
        return *this;
    unsigned long bytesReturned = 0;
    if (!platform_->deviceIoControl(device_, DriverRequest::unmapCode, &window, sizeof window, 0, 0,
                                    bytesReturned))
        throw std::runtime_error("OS Interface: can not release physical memory block.");
    return *this;
}

}  // namespace Tavex
