// IOPort: one address of the processor's I/O space.
#ifndef TAVEX_PLATFORM_IOPORT_H
#define TAVEX_PLATFORM_IOPORT_H

#include <cstdint>

#include "tavex/Export.h"
#include "tavex/platform/Platform.h"

namespace Tavex {

class TAVEX_API IOPort {
public:
    IOPort(unsigned int port, bool flag) : port_(port), flag_(flag) {}
    ~IOPort() {}

    IOPort& writeChar(char value) {
        Platform::current().outByte(address(), static_cast<std::uint8_t>(value));
        return *this;
    }
    IOPort& writeShort(short value) {
        Platform::current().outWord(address(), static_cast<std::uint16_t>(value));
        return *this;
    }
    IOPort& writeLong(long value) {
        Platform::current().outDword(address(), static_cast<std::uint32_t>(value));
        return *this;
    }

    char readChar() const { return static_cast<char>(Platform::current().inByte(address())); }
    short readShort() const {
        return static_cast<short>(Platform::current().inWord(address()));
    }
    // A 32-bit port value, sign-extended where long is wider.
    long readLong() const {
        return static_cast<long>(static_cast<std::int32_t>(Platform::current().inDword(address())));
    }

private:
    std::uint16_t address() const { return static_cast<std::uint16_t>(port_); }

    unsigned int port_;
    bool flag_;
};

}  // namespace Tavex

#endif
