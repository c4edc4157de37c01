#include "tavex/sim/Region.h"

#include <cstring>
#include <new>
#include <stdexcept>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

// Under the address sanitizer the bytes between the leading guard page and
// the first byte of the data are poisoned, so that an access a little
// before a region is caught too, not only one far enough to reach the page
// (to the sanitizer's granule of 8 bytes: the data end on the page, so they
// start on a granule only when their size is a multiple of 8).
#if defined(__SANITIZE_ADDRESS__)
#define TAVEX_SIM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVEX_SIM_ASAN 1
#endif
#endif
#if defined(TAVEX_SIM_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace Tavex {
namespace Sim {

namespace {

std::size_t pageSize() {
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
#endif
}

// The inaccessible space on each side of the data: one page where address
// space is scarce; on a 64-bit POSIX system 4 GiB, reserved with no memory
// behind it, so that any 32-bit offset from anywhere in the data, forwards or
// backwards, faults (cards compute their offsets in 32 bits), not only one
// that lands on the next page.
std::size_t guardSize(std::size_t page) {
#if !defined(_WIN32) && UINTPTR_MAX > 0xFFFFFFFFu
    (void)page;
    return static_cast<std::size_t>(0x100000000ULL);
#else
    return page;
#endif
}

}  // namespace

GuardedBuffer::GuardedBuffer(std::uint32_t size) : base_(0), reserved_(0), data_(0), size_(size) {
    const std::size_t page = pageSize();
    const std::size_t guard = guardSize(page);
    const std::size_t dataPages = (static_cast<std::size_t>(size) + page - 1) / page;
    reserved_ = guard + dataPages * page + guard;
#if defined(_WIN32)
    base_ = VirtualAlloc(0, reserved_, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
    if (base_ == 0)
        throw std::bad_alloc();
    DWORD old = 0;
    if (dataPages && !VirtualProtect(static_cast<char*>(base_) + guard, dataPages * page,
                                     PAGE_READWRITE, &old)) {
        VirtualFree(base_, 0, MEM_RELEASE);
        throw std::bad_alloc();
    }
#else
    base_ = ::mmap(0, reserved_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base_ == MAP_FAILED)
        throw std::bad_alloc();
    if (dataPages &&
        ::mprotect(static_cast<char*>(base_) + guard, dataPages * page, PROT_READ | PROT_WRITE) !=
            0) {
        ::munmap(base_, reserved_);
        throw std::bad_alloc();
    }
#endif
    // The data end where the trailing guard begins.
    std::uint8_t* const firstPage = static_cast<std::uint8_t*>(base_) + guard;
    data_ = firstPage + dataPages * page - size;
#if defined(TAVEX_SIM_ASAN)
    ASAN_POISON_MEMORY_REGION(firstPage, static_cast<std::size_t>(data_ - firstPage));
#endif
}

GuardedBuffer::~GuardedBuffer() {
#if defined(TAVEX_SIM_ASAN)
    // The pages go back to the system; whoever maps them next must find
    // them addressable.  The poisoned bytes lie on the first data page.
    const std::uintptr_t page = static_cast<std::uintptr_t>(pageSize());
    std::uint8_t* const firstPage = reinterpret_cast<std::uint8_t*>(
        reinterpret_cast<std::uintptr_t>(data_) / page * page);
    ASAN_UNPOISON_MEMORY_REGION(firstPage, static_cast<std::size_t>(data_ - firstPage));
#endif
#if defined(_WIN32)
    VirtualFree(base_, 0, MEM_RELEASE);
#else
    ::munmap(base_, reserved_);
#endif
}

Region::Region(Board* owner, std::uint32_t address, std::uint32_t size, const std::string& name)
    : owner_(owner), address_(address), name_(name), memory_(size) {
    fillPowerUpPattern();
}

bool Region::contains(std::uint32_t address, std::uint32_t size) const {
    const std::uint64_t start = address;
    const std::uint64_t end = start + size;
    return start >= address_ && end <= static_cast<std::uint64_t>(address_) + this->size();
}

void Region::check(std::uint32_t offset, std::uint32_t length) const {
    if (static_cast<std::uint64_t>(offset) + length > size())
        throw std::out_of_range("Sim::Region " + name_ + ": access outside the region");
}

std::uint8_t Region::read8(std::uint32_t offset) const {
    check(offset, 1);
    return data()[offset];
}

std::uint16_t Region::read16(std::uint32_t offset) const {
    check(offset, 2);
    return static_cast<std::uint16_t>(data()[offset] | (data()[offset + 1] << 8));
}

std::uint32_t Region::read32(std::uint32_t offset) const {
    check(offset, 4);
    return static_cast<std::uint32_t>(data()[offset]) |
           (static_cast<std::uint32_t>(data()[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(data()[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(data()[offset + 3]) << 24);
}

void Region::write8(std::uint32_t offset, std::uint8_t value) {
    check(offset, 1);
    data()[offset] = value;
}

void Region::write16(std::uint32_t offset, std::uint16_t value) {
    check(offset, 2);
    data()[offset] = static_cast<std::uint8_t>(value);
    data()[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Region::write32(std::uint32_t offset, std::uint32_t value) {
    check(offset, 4);
    for (int i = 0; i < 4; ++i)
        data()[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Region::read(std::uint32_t offset, void* to, std::uint32_t length) const {
    check(offset, length);
    std::memcpy(to, data() + offset, length);
}

void Region::write(std::uint32_t offset, const void* from, std::uint32_t length) {
    check(offset, length);
    std::memcpy(data() + offset, from, length);
}

void Region::fill(std::uint32_t offset, std::uint32_t length, std::uint8_t value) {
    check(offset, length);
    std::memset(data() + offset, value, length);
}

std::uint8_t Region::powerUpByte(std::uint32_t offset) {
    const std::uint8_t value = static_cast<std::uint8_t>(offset * 37u + 0x5Au);
    return value ? value : 0xA5;
}

// The pattern repeats every 256 bytes: the first period is computed, the
// rest copied, which keeps a 2 MiB region cheap in sanitizer builds.
void Region::fillPowerUpPattern() {
    const std::uint32_t period = 256;
    const std::uint32_t first = size() < period ? size() : period;
    for (std::uint32_t i = 0; i < first; ++i)
        data()[i] = powerUpByte(i);
    for (std::uint32_t at = first; at < size(); at += period) {
        const std::uint32_t left = size() - at;
        std::memcpy(data() + at, data(), left < period ? left : period);
    }
}

}  // namespace Sim
}  // namespace Tavex
