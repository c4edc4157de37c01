#include "tavex/platform/PhysicalMemory.h"

#include <exception>
#include <stdexcept>

#include "tavex/platform/OSInterface.h"

namespace Tavex {

PhysicalMemory::PhysicalMemory(unsigned long physicalAddress, unsigned long size, bool flag)
    : window_(0), size_(size), flag_(flag) {
    window_ = OSInterface::osinterface().mapMemory(physicalAddress, size, flag);
    // A refused DPMI mapping, or a system without that path, comes back as
    // no window at all; a card must never be handed one.
    if (window_ == 0)
        throw std::runtime_error("OS Interface: can not get pointer to physical memory block.");
}

PhysicalMemory::~PhysicalMemory() noexcept(false) {
    if (std::uncaught_exceptions() > 0) {
        try {
            OSInterface::osinterface().unmapMemory(window_);
        } catch (...) {
            // Another exception is already on its way; a second one would
            // end the program.
        }
        return;
    }
    OSInterface::osinterface().unmapMemory(window_);
}

const PhysicalMemory& PhysicalMemory::readMemoryBlock(void* destination, unsigned long length,
                                                      unsigned long offset) const {
    const volatile std::uint8_t* from = bytes() + offset;
    std::uint8_t* to = static_cast<std::uint8_t*>(destination);
    for (; length >= 4; length -= 4, from += 4, to += 4) {
        const std::uint32_t word = *reinterpret_cast<const volatile detail::UnalignedU32*>(from);
        *reinterpret_cast<detail::UnalignedU32*>(to) = word;
    }
    for (; length > 0; --length)
        *to++ = *from++;
    return *this;
}

PhysicalMemory& PhysicalMemory::writeMemoryBlock(const void* const source, unsigned long length,
                                                 unsigned long offset) {
    volatile std::uint8_t* to = bytes() + offset;
    const std::uint8_t* from = static_cast<const std::uint8_t*>(source);
    for (; length >= 4; length -= 4, from += 4, to += 4)
        *reinterpret_cast<volatile detail::UnalignedU32*>(to) =
            *reinterpret_cast<const detail::UnalignedU32*>(from);
    for (; length > 0; --length)
        *to++ = *from++;
    return *this;
}

}  // namespace Tavex
