// SystemRam: the physical ranges that /proc/iomem gives to the kernel and the
// firmware, and whether a mapping of /dev/mem may cover an address range.
// Memory that the kernel, the firmware or a process owns is never mapped for
// a card: a wrong address in a client must fail, not read or overwrite it.
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
// Never mapped, at any depth of the list: System RAM (also "System RAM
// (kmem)" and the like, RAM given to the kernel later), persistent and
// soft-reserved memory, which are RAM too, and the ACPI tables, the ACPI
// non-volatile storage and reserved ranges of the firmware, where interrupt
// controllers, the configuration space and the firmware's own data lie.  The
// last three only outside the adapter area 0xA0000-0xFFFFF: many firmwares
// list the whole of it as reserved, and the ROMs and the memory of ISA boards
// are there.
//
// Only a reader with CAP_SYS_ADMIN sees the addresses; anyone else gets every
// line as 00000000-00000000.  Such a list tells RAM from nothing, so it
// allows no mapping at all, and neither does a list without System RAM nor
// one that cannot be read or parsed.  Header-only, so that its tests compile
// it on any system.
#ifndef TAVEX_SRC_PLATFORM_NATIVE_SYSTEMRAM_H
#define TAVEX_SRC_PLATFORM_NATIVE_SYSTEMRAM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace Tavex {
namespace detail {

class SystemRam {
public:
    // Nothing known: no mapping is allowed.
    SystemRam() : state_(Unreadable) {}

    static SystemRam fromIomem(const std::string& text) {
        SystemRam map;
        bool addressesShown = false;
        bool ramListed = false;
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find('\n', at);
            if (end == std::string::npos)
                end = text.size();
            Range range;
            if (!blank(text, at, end)) {
                if (!parseLine(text, at, end, range))
                    return SystemRam();
                addressesShown = addressesShown || range.last != 0;
                const Kind kind = kindOf(range.name);
                ramListed = ramListed || named(range.name, "System RAM");
                if (kind != Other) {
                    range.adapterAreaAllowed = kind == FirmwareOwned;
                    map.ranges_.push_back(range);
                }
            }
            at = end + 1;
        }
        if (text.empty())
            map.state_ = Unreadable;
        else if (!addressesShown)
            map.state_ = Hidden;
        else if (!ramListed)
            map.state_ = NoRam;
        else
            map.state_ = Known;
        return map;
    }

    // Whether /dev/mem may be mapped for [address, address + length): the
    // whole pages that such a mapping covers must hold nothing that is never
    // mapped.  A refusal is explained in why, when given.
    bool allowsMapping(std::uint64_t address, std::uint64_t length, std::uint64_t pageSize,
                       std::string* why = 0) const {
        if (state_ != Known)
            return refuse(why, stateText());
        if (length == 0 || pageSize == 0 || (pageSize & (pageSize - 1)) != 0)
            return refuse(why, "an empty window");
        const std::uint64_t top = ~static_cast<std::uint64_t>(0);
        if (length - 1 > top - address || address + (length - 1) > top - (pageSize - 1))
            return refuse(why, "a window past the top of the address space");
        const std::uint64_t first = address & ~(pageSize - 1);
        const std::uint64_t last = ((address + (length - 1)) | (pageSize - 1));
#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
        // The first page of a PC holds the real-mode interrupt vectors and
        // the BIOS data area (the LPT and COM port table at 0x400).  The
        // kernel never hands it out, yet kernels list it as System RAM or as
        // reserved.
        if (last < firmwarePageSize)
            return true;
#endif
        for (std::size_t i = 0; i < ranges_.size(); ++i) {
            const Range& r = ranges_[i];
            const std::uint64_t low = r.first > first ? r.first : first;
            const std::uint64_t high = r.last < last ? r.last : last;
            if (low > high)
                continue;
            if (r.adapterAreaAllowed && low >= adapterAreaFirst && high <= adapterAreaLast)
                continue;
            if (why != 0) {
                char text[160];
                std::snprintf(text, sizeof text, "pages %llx-%llx overlap %llx-%llx \"",
                              static_cast<unsigned long long>(first),
                              static_cast<unsigned long long>(last),
                              static_cast<unsigned long long>(r.first),
                              static_cast<unsigned long long>(r.last));
                *why = std::string(text) + r.name + "\" in /proc/iomem, which is never mapped";
            }
            return false;
        }
        return true;
    }

private:
    static constexpr std::uint64_t firmwarePageSize = 0x1000;
    static constexpr std::uint64_t adapterAreaFirst = 0xA0000;
    static constexpr std::uint64_t adapterAreaLast = 0xFFFFF;

    enum State { Unreadable, Hidden, NoRam, Known };
    enum Kind { Ram, FirmwareOwned, Other };

    struct Range {
        std::uint64_t first;
        std::uint64_t last;
        std::string name;
        bool adapterAreaAllowed;
    };

    // The name as the kernel writes it, alone or followed by a note
    // ("System RAM (kmem)"); older kernels write "reserved".
    static bool named(const std::string& name, const char* kind) {
        std::size_t i = 0;
        for (; kind[i] != '\0'; ++i)
            if (i == name.size() || lower(name[i]) != lower(kind[i]))
                return false;
        return i == name.size() || name[i] == ' ';
    }

    static char lower(char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }

    static Kind kindOf(const std::string& name) {
        if (named(name, "System RAM"))
            return Ram;
        // RAM as well, only not handed to the kernel as such.
        if (named(name, "Persistent Memory") || named(name, "Soft Reserved"))
            return Ram;
        if (named(name, "ACPI Tables") || named(name, "ACPI Non-volatile Storage") ||
            named(name, "Reserved"))
            return FirmwareOwned;
        return Other;
    }

    const char* stateText() const {
        switch (state_) {
        case Hidden:
            return "/proc/iomem shows this process no addresses, so RAM cannot be told from a "
                   "board: run as root or with CAP_SYS_ADMIN";
        case NoRam:
            return "/proc/iomem lists no System RAM, so RAM cannot be told from a board";
        default:
            return "/proc/iomem could not be read";
        }
    }

    static bool refuse(std::string* why, const char* text) {
        if (why != 0)
            *why = text;
        return false;
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
    static bool parseLine(const std::string& text, std::size_t at, std::size_t end, Range& range) {
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
        range.name.assign(text, at, end - at);
        return true;
    }

    std::vector<Range> ranges_;
    State state_;
};

}  // namespace detail
}  // namespace Tavex

#endif
