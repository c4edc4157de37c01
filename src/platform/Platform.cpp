#include "tavex/platform/Platform.h"

#include "native/NativePlatform.h"
#include "tavex/platform/OSInterface.h"
#include "singletons.h"

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
    detail::dropPCIBus();
    Platform* previous = installed;
    installed = p;
    return previous;
}

}  // namespace Tavex
