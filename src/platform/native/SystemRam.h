// SystemRam: the physical ranges that the kernel lists as "System RAM" in
// /proc/iomem, and whether a mapping of /dev/mem may cover an address range.
// Memory that the kernel or a process owns is never mapped for a card: a
// wrong address in a client must fail, not read or overwrite it.
//
// /proc/iomem has one resource a line, "start-end : name", both ends
// inclusive and in hexadecimal, children indented by two spaces a level:
//
//   00000000-00000fff : Reserved
//   00001000-0009fbff : System RAM
//   000c0000-000c95ff : Video ROM
//   00100000-bfffffff : System RAM
//     01000000-0225b13f : Kernel code
//
// Only a reader with CAP_SYS_ADMIN sees the addresses; anyone else gets every
// line as 00000000-00000000.  Such a list tells RAM from nothing, so it
// allows no mapping at all, and neither does a list that cannot be read or
// parsed.  Header-only, so that its tests compile it on any system.
#ifndef TAVEX_SRC_PLATFORM_NATIVE_SYSTEMRAM_H
#define TAVEX_SRC_PLATFORM_NATIVE_SYSTEMRAM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Tavex {
namespace detail {

class SystemRam {
public:
    // Nothing known: no mapping is allowed.
    SystemRam() : known_(false) {}

    static SystemRam fromIomem(const std::string& text) {
        SystemRam ram;
        bool addressesShown = false;
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find('\n', at);
            if (end == std::string::npos)
                end = text.size();
            Range range;
            std::string name;
            if (!blank(text, at, end)) {
                if (!parseLine(text, at, end, range, name))
                    return SystemRam();
                addressesShown = addressesShown || range.last != 0;
                if (name.compare(0, ramName().size(), ramName()) == 0)
                    ram.ranges_.push_back(range);
            }
            at = end + 1;
        }
        ram.known_ = addressesShown;
        return ram;
    }

    // Whether /dev/mem may be mapped for [address, address + length): the
    // whole pages that such a mapping covers must hold no System RAM.
    bool allowsMapping(std::uint64_t address, std::uint64_t length,
                       std::uint64_t pageSize) const {
        if (!known_ || length == 0 || pageSize == 0 || (pageSize & (pageSize - 1)) != 0)
            return false;
        const std::uint64_t top = ~static_cast<std::uint64_t>(0);
        if (length - 1 > top - address || address + (length - 1) > top - (pageSize - 1))
            return false;
        const std::uint64_t first = address & ~(pageSize - 1);
        const std::uint64_t last = ((address + (length - 1)) | (pageSize - 1));
#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
        // The first page of a PC holds the real-mode interrupt vectors and
        // the BIOS data area (the LPT and COM port table at 0x400).  The
        // kernel never hands it out, yet older kernels list it as System RAM.
        if (last < firmwarePageSize)
            return true;
#endif
        for (std::size_t i = 0; i < ranges_.size(); ++i)
            if (ranges_[i].first <= last && first <= ranges_[i].last)
                return false;
        return true;
    }

private:
    static constexpr std::uint64_t firmwarePageSize = 0x1000;

    struct Range {
        std::uint64_t first;
        std::uint64_t last;
    };

    // Also "System RAM (kmem)" and the like: memory given to the kernel later.
    static const std::string& ramName() {
        static const std::string name("System RAM");
        return name;
    }

    static bool blank(const std::string& text, std::size_t at, std::size_t end) {
        for (; at < end; ++at)
            if (text[at] != ' ' && text[at] != '\t' && text[at] != '\r')
                return false;
        return true;
    }

    static bool hexNumber(const std::string& text, std::size_t& at, std::size_t end,
                          std::uint64_t& value) {
        value = 0;
        std::size_t digits = 0;
        for (; at < end; ++at, ++digits) {
            const char c = text[at];
            unsigned digit;
            if (c >= '0' && c <= '9')
                digit = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<unsigned>(c - 'A' + 10);
            else
                break;
            if (digits == 16)
                return false;
            value = (value << 4) | digit;
        }
        return digits > 0;
    }

    // "  start-end : name", indented to any depth.
    static bool parseLine(const std::string& text, std::size_t at, std::size_t end, Range& range,
                          std::string& name) {
        while (at < end && text[at] == ' ')
            ++at;
        if (!hexNumber(text, at, end, range.first) || at == end || text[at] != '-')
            return false;
        ++at;
        if (!hexNumber(text, at, end, range.last) || range.last < range.first)
            return false;
        static const char separator[] = " : ";
        if (text.compare(at, sizeof separator - 1, separator) != 0)
            return false;
        at += sizeof separator - 1;
        while (end > at && text[end - 1] == '\r')
            --end;
        name.assign(text, at, end - at);
        return true;
    }

    std::vector<Range> ranges_;
    bool known_;
};

}  // namespace detail
}  // namespace Tavex

#endif
