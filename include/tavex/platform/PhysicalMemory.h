// PhysicalMemory: a window of physical memory mapped into the process for
// the object's lifetime.  Every accessor is one access of its width at
// window + offset, little-endian, with no alignment requirement; offsets
// are not checked against the size.
#ifndef TAVEX_PLATFORM_PHYSICALMEMORY_H
#define TAVEX_PLATFORM_PHYSICALMEMORY_H

#include <cstdint>

#include "tavex/Export.h"

namespace Tavex {

namespace detail {
#if defined(__GNUC__)
typedef std::uint16_t __attribute__((aligned(1), may_alias)) UnalignedU16;
typedef std::uint32_t __attribute__((aligned(1), may_alias)) UnalignedU32;
#else
typedef std::uint16_t UnalignedU16;
typedef std::uint32_t UnalignedU32;
#endif
}  // namespace detail

class TAVEX_API PhysicalMemory {
public:
    PhysicalMemory(unsigned long physicalAddress, unsigned long size, bool flag);
    // Unmapping may fail; the error reaches the caller unless another
    // exception is already unwinding the stack.
    ~PhysicalMemory() noexcept(false);

    char readChar(unsigned long offset) const {
        return static_cast<char>(*(bytes() + offset));
    }
    short readShort(unsigned long offset) const {
        return static_cast<short>(
            *reinterpret_cast<const volatile detail::UnalignedU16*>(bytes() + offset));
    }
    long readLong(unsigned long offset) const {
        return static_cast<long>(static_cast<std::int32_t>(
            *reinterpret_cast<const volatile detail::UnalignedU32*>(bytes() + offset)));
    }

    PhysicalMemory& writeChar(unsigned long offset, char value) {
        *(bytes() + offset) = static_cast<std::uint8_t>(value);
        return *this;
    }
    PhysicalMemory& writeShort(unsigned long offset, short value) {
        *reinterpret_cast<volatile detail::UnalignedU16*>(bytes() + offset) =
            static_cast<std::uint16_t>(value);
        return *this;
    }
    PhysicalMemory& writeLong(unsigned long offset, long value) {
        *reinterpret_cast<volatile detail::UnalignedU32*>(bytes() + offset) =
            static_cast<std::uint32_t>(value);
        return *this;
    }

    const PhysicalMemory& readMemoryBlock(void* destination, unsigned long length,
                                          unsigned long offset) const;
    PhysicalMemory& writeMemoryBlock(const void* const source, unsigned long length,
                                     unsigned long offset);

    unsigned long size() const { return size_; }

private:
    PhysicalMemory(const PhysicalMemory&);
    PhysicalMemory& operator=(const PhysicalMemory&);

    volatile std::uint8_t* bytes() const { return static_cast<volatile std::uint8_t*>(window_); }

    void* window_;
    unsigned long size_;
    bool flag_;
};

}  // namespace Tavex

#endif
