// Region: a range of the simulated physical address space, backed by memory
// that the owning board reads and writes from its side.  The memory ends
// where an inaccessible guard begins, so an access that runs off its end
// faults at once; another guard lies before the first data page, so an
// access far enough before its start faults too.  A guard is one page, or
// on a 64-bit POSIX system 4 GiB of reserved address space, so that there
// an access at any 32-bit offset from the memory, either way, faults
// instead of reaching whatever the process has mapped nearby.
#ifndef TAVEX_SIM_REGION_H
#define TAVEX_SIM_REGION_H

#include <cstdint>
#include <string>

namespace Tavex {
namespace Sim {

class Board;

// Memory whose last byte is followed by an inaccessible guard; the guard
// before its first data page is inaccessible too.
class GuardedBuffer {
public:
    explicit GuardedBuffer(std::uint32_t size);
    ~GuardedBuffer();

    std::uint8_t* data() const { return data_; }
    std::uint32_t size() const { return size_; }

private:
    GuardedBuffer(const GuardedBuffer&);
    GuardedBuffer& operator=(const GuardedBuffer&);

    void* base_;
    std::size_t reserved_;
    std::uint8_t* data_;
    std::uint32_t size_;
};

class Region {
public:
    Region(Board* owner, std::uint32_t address, std::uint32_t size, const std::string& name);

    std::uint32_t address() const { return address_; }
    std::uint32_t size() const { return memory_.size(); }
    const std::string& name() const { return name_; }
    Board* owner() const { return owner_; }
    bool contains(std::uint32_t address, std::uint32_t size) const;

    // Board-side access, by offset from the start of the region.
    std::uint8_t* data() { return memory_.data(); }
    const std::uint8_t* data() const { return memory_.data(); }
    std::uint8_t read8(std::uint32_t offset) const;
    std::uint16_t read16(std::uint32_t offset) const;
    std::uint32_t read32(std::uint32_t offset) const;
    void write8(std::uint32_t offset, std::uint8_t value);
    void write16(std::uint32_t offset, std::uint16_t value);
    void write32(std::uint32_t offset, std::uint32_t value);
    void read(std::uint32_t offset, void* to, std::uint32_t length) const;
    void write(std::uint32_t offset, const void* from, std::uint32_t length);
    void fill(std::uint32_t offset, std::uint32_t length, std::uint8_t value);

    // The power-up contents of dual-port RAM: a non-zero pattern.
    void fillPowerUpPattern();
    static std::uint8_t powerUpByte(std::uint32_t offset);

private:
    Region(const Region&);
    Region& operator=(const Region&);

    void check(std::uint32_t offset, std::uint32_t length) const;

    Board* owner_;
    std::uint32_t address_;
    std::string name_;
    GuardedBuffer memory_;
};

}  // namespace Sim
}  // namespace Tavex

#endif
