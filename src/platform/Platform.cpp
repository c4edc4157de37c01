#include "tavex/platform/Platform.h"

#include "native/NativePlatform.h"
#include "tavex/pci/PCIBus.h"
#include "tavex/platform/OSInterface.h"

namespace Tavex {

namespace {
Platform* installed = 0;
}

Platform::Handle Platform::invalidHandle() { return reinterpret_cast<Handle>(-1); }

Platform::~Platform() {}

Platform& Platform::current() { return installed ? *installed : detail::nativePlatform(); }

Platform* Platform::install(Platform* p) {
    // The singletons belong to the machine they were built on: the OS
    // interface closes its device through the platform that opened it.
    OSInterface::drop();
    PCIBus::drop();
    Platform* previous = installed;
    installed = p;
    return previous;
}

}  // namespace Tavex
