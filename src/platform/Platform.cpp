#include "tavex/platform/Platform.h"

#include "native/NativePlatform.h"
#include "tavex/pci/PCIBus.h"
#include "tavex/platform/OSInterface.h"

namespace Tavex {

Platform* Platform::installed_ = 0;

Platform::Handle Platform::invalidHandle() { return reinterpret_cast<Handle>(-1); }

Platform::~Platform() {}

std::string Platform::lastErrorText() { return std::string(); }

Platform& Platform::native() { return detail::nativePlatform(); }

Platform* Platform::install(Platform* p) {
    // The singletons belong to the machine they were built on: the OS
    // interface closes its device through the platform that opened it.
    OSInterface::drop();
    PCIBus::drop();
    Platform* previous = installed_;
    installed_ = p;
    return previous;
}

}  // namespace Tavex
