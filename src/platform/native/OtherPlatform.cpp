// Native backend for systems that have neither the driver link nor port
// access: every call fails cleanly.
#if !defined(_WIN32) && !defined(__linux__)

#include <chrono>
#include <stdexcept>
#include <thread>

#include "NativePlatform.h"

namespace Tavex {
namespace detail {
namespace {

void noPortIo() {
    throw std::runtime_error("Tavex: port I/O is not available on this system.");
}

class UnsupportedPlatform : public Platform {
public:
    std::uint8_t inByte(std::uint16_t) override { noPortIo(); return 0xFF; }
    std::uint16_t inWord(std::uint16_t) override { noPortIo(); return 0xFFFF; }
    std::uint32_t inDword(std::uint16_t) override { noPortIo(); return 0xFFFFFFFFu; }
    void outByte(std::uint16_t, std::uint8_t) override { noPortIo(); }
    void outWord(std::uint16_t, std::uint16_t) override { noPortIo(); }
    void outDword(std::uint16_t, std::uint32_t) override { noPortIo(); }
    bool getVersionEx(unsigned long& platformId) override { platformId = 2; return true; }
    Handle openSCManager(unsigned long) override { return 0; }
    Handle openService(Handle, const char*, unsigned long) override { return 0; }
    bool startService(Handle) override { return false; }
    bool closeServiceHandle(Handle) override { return false; }
    Handle createFile(const char*, unsigned long) override { return invalidHandle(); }
    bool deviceIoControl(Handle, unsigned long, const void*, unsigned long, void*, unsigned long,
                         unsigned long& bytesReturned) override {
        bytesReturned = 0;
        return false;
    }
    bool closeHandle(Handle) override { return false; }
    void sleep(unsigned long ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    void* dpmiMapPhysical(unsigned long, unsigned long) override { return 0; }
};

}  // namespace

Platform& nativePlatform() {
    static UnsupportedPlatform platform;
    return platform;
}

}  // namespace detail
}  // namespace Tavex

#endif
