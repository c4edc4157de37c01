// A client's own Platform under the library: every operating-system call,
// driver request and port instruction the library makes reaches it, with
// the arguments and buffers of the driver interface.
#include <gtest/gtest.h>

#include "support/ExpectThrow.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tavex/model/DummyCard.h"
#include "tavex/model/IOTrack.h"
#include "tavex/platform/IOPort.h"
#include "tavex/platform/OSInterface.h"
#include "tavex/platform/PhysicalMemory.h"
#include "tavex/platform/Platform.h"
#include "tavex/scan/Scan.h"

using Tavex::IOPort;
using Tavex::OSInterface;
using Tavex::PhysicalMemory;
using Tavex::Platform;

namespace {

typedef std::vector<std::string> Log;
typedef std::vector<std::uint8_t> Bytes;

std::string hex(unsigned long value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%lX", value);
    return text;
}

// Records every call as a line of text; the "physical memory" it maps is a
// small buffer of its own.
class ClientPlatform : public Platform {
public:
    explicit ClientPlatform(unsigned long platformId) : platformId(platformId) {
        std::memset(memory, 0xA5, sizeof memory);
    }

    unsigned long platformId;
    bool nullReply = false;
    unsigned long replyBytes = sizeof(void*);   // what a map reply says it returned
    Log log;
    std::vector<Bytes> requests;        // the input buffer of each DeviceIoControl
    std::vector<unsigned long> replySizes;
    std::map<std::uint16_t, std::uint32_t> portValues;
    std::uint8_t memory[64];

    Handle manager() const { return handle(0x100); }
    Handle service() const { return handle(0x200); }
    Handle device() const { return handle(0x300); }

    std::uint8_t inByte(std::uint16_t port) override {
        log.push_back("inb(" + hex(port) + ")");
        return static_cast<std::uint8_t>(portValues[port]);
    }
    std::uint16_t inWord(std::uint16_t port) override {
        log.push_back("inw(" + hex(port) + ")");
        return static_cast<std::uint16_t>(portValues[port]);
    }
    std::uint32_t inDword(std::uint16_t port) override {
        log.push_back("ind(" + hex(port) + ")");
        return portValues[port];
    }
    void outByte(std::uint16_t port, std::uint8_t value) override {
        log.push_back("outb(" + hex(port) + "," + hex(value) + ")");
    }
    void outWord(std::uint16_t port, std::uint16_t value) override {
        log.push_back("outw(" + hex(port) + "," + hex(value) + ")");
    }
    void outDword(std::uint16_t port, std::uint32_t value) override {
        log.push_back("outd(" + hex(port) + "," + hex(value) + ")");
    }

    bool getVersionEx(unsigned long& id) override {
        log.push_back("GetVersionEx");
        id = platformId;
        return true;
    }
    Handle openSCManager(unsigned long access) override {
        log.push_back("OpenSCManager(" + hex(access) + ")");
        return manager();
    }
    Handle openService(Handle m, const char* name, unsigned long access) override {
        log.push_back("OpenService(" + name_(m) + "," + name + "," + hex(access) + ")");
        return service();
    }
    bool startService(Handle s) override {
        log.push_back("StartService(" + name_(s) + ")");
        return true;
    }
    bool closeServiceHandle(Handle h) override {
        log.push_back("CloseServiceHandle(" + name_(h) + ")");
        return true;
    }
    Handle createFile(const char* name, unsigned long access) override {
        log.push_back(std::string("CreateFile(") + name + "," + hex(access) + ")");
        return device();
    }
    bool deviceIoControl(Handle d, unsigned long code, const void* in, unsigned long inSize,
                         void* out, unsigned long outSize, unsigned long& bytesReturned) override {
        log.push_back("DeviceIoControl(" + name_(d) + "," + hex(code) + ")");
        const std::uint8_t* bytes = static_cast<const std::uint8_t*>(in);
        requests.push_back(in ? Bytes(bytes, bytes + inSize) : Bytes());
        replySizes.push_back(out ? outSize : 0);
        bytesReturned = 0;
        if (code == OSInterface::mapControlCode && out && outSize == sizeof(void*)) {
            void* window = nullReply ? 0 : static_cast<void*>(memory);
            std::memcpy(out, &window, sizeof window);
            bytesReturned = replyBytes;
        }
        return true;
    }
    bool closeHandle(Handle h) override {
        log.push_back("CloseHandle(" + name_(h) + ")");
        return true;
    }
    void sleep(unsigned long milliseconds) override {
        log.push_back("Sleep(" + std::to_string(milliseconds) + ")");
    }
    void* dpmiMapPhysical(unsigned long address, unsigned long size) override {
        log.push_back("DpmiMapPhysical(" + hex(address) + "," + hex(size) + ")");
        return memory;
    }

private:
    static Handle handle(std::uintptr_t value) { return reinterpret_cast<Handle>(value); }
    std::string name_(Handle h) const {
        if (h == manager()) return "manager";
        if (h == service()) return "service";
        if (h == device()) return "device";
        return "unknown handle";
    }
};

// The 16-byte map request: address low, address high, length, reserved.
Bytes mapRequest(std::uint32_t address, std::uint32_t length) {
    const std::uint32_t words[4] = {address, 0, length, 0};
    Bytes bytes;
    for (std::uint32_t word : words)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
    return bytes;
}

Bytes pointerBytes(const void* pointer) {
    Bytes bytes(sizeof pointer);
    std::memcpy(bytes.data(), &pointer, sizeof pointer);
    return bytes;
}

class ClientPlatformTest : public ::testing::Test {
protected:
    void install(ClientPlatform& platform) {
        EXPECT_EQ(nullptr, Platform::install(&platform)) << "a platform was left installed";
        EXPECT_EQ(&platform, &Platform::current());
    }
    void uninstall(ClientPlatform& platform) { EXPECT_EQ(&platform, Platform::install(0)); }
};

}  // namespace

TEST_F(ClientPlatformTest, DriverLinkMapAndUnmapGoThroughTheSeam) {
    ClientPlatform platform(2);
    install(platform);
    {
        PhysicalMemory window(0xC0000, 0x810, true);
        window.writeChar(3, 0x5A);
        EXPECT_EQ(0x5A, platform.memory[3]) << "the window is the memory the platform mapped";
        PhysicalMemory pci(0xFEBC1230UL, 0x200000, false);
    }
    const Log expected = {
        "GetVersionEx",
        "OpenSCManager(0x80000000)",
        "OpenService(manager,tavex,0x10)",
        "StartService(service)",
        "CloseServiceHandle(service)",
        "CloseServiceHandle(manager)",
        "CreateFile(\\\\.\\tavex,0xC0000000)",
        "DeviceIoControl(device,0x80002000)",
        "DeviceIoControl(device,0x80002000)",
        "DeviceIoControl(device,0x80002004)",
        "DeviceIoControl(device,0x80002004)",
    };
    EXPECT_EQ(expected, platform.log);

    ASSERT_EQ(4u, platform.requests.size());
    EXPECT_EQ(mapRequest(0xC0000, 0x810), platform.requests[0]);
    EXPECT_EQ(mapRequest(0xFEBC1230u, 0x200000), platform.requests[1]);
    EXPECT_EQ(sizeof(void*), platform.replySizes[0]) << "the reply is a pointer-sized address";
    EXPECT_EQ(sizeof(void*), platform.replySizes[1]);
    EXPECT_EQ(pointerBytes(platform.memory), platform.requests[2]);
    EXPECT_EQ(pointerBytes(platform.memory), platform.requests[3]);
    EXPECT_EQ(0u, platform.replySizes[2]) << "the unmap request has no output";
    EXPECT_EQ(0u, platform.replySizes[3]);

    // Switching platforms closes the device through the platform that opened it.
    platform.log.clear();
    uninstall(platform);
    EXPECT_EQ(Log{"CloseHandle(device)"}, platform.log);
}

TEST_F(ClientPlatformTest, InstallReturnsThePreviousPlatformAndClosesTheOldDevice) {
    ClientPlatform first(2);
    ClientPlatform second(2);
    install(first);
    { PhysicalMemory window(0xC0000, 0x10, true); }
    first.log.clear();

    EXPECT_EQ(&first, Platform::install(&second));
    EXPECT_EQ(&second, &Platform::current());
    EXPECT_EQ(Log{"CloseHandle(device)"}, first.log);
    EXPECT_TRUE(second.log.empty());

    // The next window builds a new link on the new platform.
    { PhysicalMemory window(0xC0000, 0x10, true); }
    EXPECT_EQ("GetVersionEx", second.log.front());
    EXPECT_EQ(1u, first.log.size());

    EXPECT_EQ(&second, Platform::install(&first));
    EXPECT_EQ("CloseHandle(device)", second.log.back());
    uninstall(first);
}

// A driver that answers a map request without a whole address, or with no
// address, has mapped nothing the library can use: the window refuses, and
// nothing is released for it.
TEST_F(ClientPlatformTest, MapReplyWithoutAnAddressIsAFailedMapping) {
    const struct {
        const char* reply;
        bool nullReply;
        unsigned long replyBytes;
    } cases[] = {
        {"null address", true, sizeof(void*)},
        {"no bytes returned", false, 0},
        {"half an address", false, sizeof(void*) / 2},
        {"more than an address", false, sizeof(void*) + 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        ClientPlatform platform(2);
        install(platform);
        { PhysicalMemory window(0xC0000, 0x10, true); }
        platform.nullReply = c.nullReply;
        platform.replyBytes = c.replyBytes;
        platform.log.clear();
        TAVEX_EXPECT_THROW_TEXT(PhysicalMemory(0xD0000, 0x10, true), std::runtime_error,
                                "OS Interface: can not get pointer to physical memory block.");
        EXPECT_EQ(Log{"DeviceIoControl(device,0x80002000)"}, platform.log);
        uninstall(platform);
    }
}

TEST_F(ClientPlatformTest, Windows9xMapsThroughDpmiAndReleasesNothing) {
    ClientPlatform platform(1);
    install(platform);
    {
        PhysicalMemory window(0xC0000, 0x810, true);
        EXPECT_FALSE(OSInterface::osinterface().isUnderNt());
        platform.memory[4] = 0x77;
        EXPECT_EQ(0x77, window.readChar(4));
    }
    const Log expected = {"GetVersionEx", "DpmiMapPhysical(0xC0000,0x810)"};
    EXPECT_EQ(expected, platform.log);
    uninstall(platform);
    EXPECT_EQ(expected, platform.log) << "no device to close";
}

TEST_F(ClientPlatformTest, PortInstructionsAndSleepsReachThePlatform) {
    ClientPlatform platform(2);
    install(platform);
    platform.portValues[0x379] = 0x87;
    platform.portValues[0x37A] = 0xFFFF;
    platform.portValues[0x37C] = 0xFFFFFFFFu;

    IOPort(0x378, true).writeChar(0x55);
    IOPort(0x37A, false).writeShort(0x1234);
    IOPort(0x37C, true).writeLong(0x12345678L);
    EXPECT_EQ(static_cast<char>(0x87), IOPort(0x379, false).readChar());
    EXPECT_EQ(-1, IOPort(0x37A, true).readShort());
    EXPECT_EQ(-1L, IOPort(0x37C, true).readLong());
    OSInterface::sleep(2500);
    OSInterface::sleep(999);
    OSInterface::sleep(2000000);

    const Log expected = {
        "outb(0x378,0x55)", "outw(0x37A,0x1234)", "outd(0x37C,0x12345678)",
        "inb(0x379)",       "inw(0x37A)",         "ind(0x37C)",
        "Sleep(2)",         "Sleep(0)",           "Sleep(2000)",
    };
    EXPECT_EQ(expected, platform.log);
    uninstall(platform);
}

// A platform of the client's that knows only sleep(), whose sleeps take no
// real time, still runs a scan: its clock is the steady clock plus what its
// sleeps were asked for and did not take, so each cycle sleeps one period
// and the whole run takes next to no real time.
TEST_F(ClientPlatformTest, AScanRunsOnAPlatformThatOnlySleeps) {
    ClientPlatform platform(2);
    install(platform);
    const auto started = std::chrono::steady_clock::now();
    {
        Tavex::DummyCard card;
        Tavex::IOTrack track(card, 0, "IO");
        Tavex::Scan scan(std::chrono::milliseconds(5));
        scan.add(track);
        scan.run([&] {
            if (scan.cycle() == 200)
                scan.stop();
        });
    }
    const long realMs = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - started)
                                              .count());
    EXPECT_LT(realMs, 500);
    long slept = 0;
    for (const std::string& call : platform.log) {
        unsigned long ms = 99;
        ASSERT_EQ(1, std::sscanf(call.c_str(), "Sleep(%lu)", &ms)) << call;
        EXPECT_LE(ms, 5ul);
        slept += static_cast<long>(ms);
    }
    // 200 periods of the platform's time, less what passed for real.
    EXPECT_GE(slept, 1000 - realMs - 1);
    EXPECT_LE(slept, 1001);
    EXPECT_LE(platform.log.size(), 200u);
    uninstall(platform);
}
