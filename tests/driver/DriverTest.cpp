// tavex.sys under Wine: the test build (a paged section stands in for the
// physical range standInBase..+standInSize) installed by tavex-driver.exe,
// started by the library, and every request through DeviceIoControl.  The
// tests share one service and run in the order written.
#include <aclapi.h>
#include <setupapi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "DriverHarness.h"
#include "DriverTest.h"
#include "standin.h"
#include "tavex/platform/OSInterface.h"
#include "tavex/platform/PhysicalMemory.h"
#include "tavex/platform/Platform.h"

using namespace DriverHarness;

namespace {

const char* const mapError = "OS Interface: can not get pointer to physical memory block.";

// Installs the test build with a usual physical memory list, and removes
// both at the end.
class DriverEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        writeList(usualList());
        ProgramRun removed = installer("remove");
        ASSERT_EQ(0u, removed.exitCode) << removed.output;
        ProgramRun installed = installer("install \"" + programFolder() + "tavex-test.sys\"");
        ASSERT_EQ(0u, installed.exitCode) << installed.output;
    }
    void TearDown() override {
        // The library's handle goes first: a driver stops once nothing
        // has its device open.
        Tavex::Platform::install(0);
        ProgramRun removed = installer("remove");
        EXPECT_EQ(0u, removed.exitCode) << removed.output;
        deleteList();
    }
};

}  // namespace

// ---- the service --------------------------------------------------------

TEST(DriverService, TheLibraryStartsItAndASecondStartIsRefusedAsAlreadyRunning) {
    EXPECT_NE(std::string::npos, installer("status").output.find("installed and stopped"));

    Tavex::OSInterface& os = Tavex::OSInterface::osinterface();
    EXPECT_TRUE(os.isUnderNt());
    ProgramRun status = installer("status");
    EXPECT_EQ(0u, status.exitCode);
    EXPECT_NE(std::string::npos, status.output.find("installed and running, started on demand"))
        << status.output;

    SC_HANDLE manager = OpenSCManagerA(0, 0, SC_MANAGER_CONNECT);
    ASSERT_TRUE(manager != 0);
    SC_HANDLE service = OpenServiceA(manager, "tavex", SERVICE_START);
    ASSERT_TRUE(service != 0);
    EXPECT_FALSE(StartServiceA(service, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING), GetLastError());
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST(DriverService, TheInstallerRefusesWhatItCannotDo) {
    struct Case {
        const char* arguments;
        DWORD exitCode;
        const char* says;
    } const cases[] = {
        {"", 2, "usage: tavex-driver install [driver file] | remove | status"},
        {"start", 2, "usage:"},
        {"install a.sys b.sys", 2, "usage:"},
        {"remove now", 2, "usage:"},
        {"install C:\\nowhere\\tavex.sys", 1, "there is no driver file C:\\nowhere\\tavex.sys"},
    };
    for (const Case& c : cases) {
        ProgramRun run = installer(c.arguments);
        EXPECT_EQ(c.exitCode, run.exitCode) << c.arguments;
        EXPECT_NE(std::string::npos, run.output.find(c.says)) << c.arguments << ": " << run.output;
    }
}

// ---- the device -----------------------------------------------------------

// On Windows a handle to the device reads back the device's descriptor.
// Wine keeps the descriptor the driver sets (the driver reads it back as it
// loads, and does not load unless it grants SYSTEM and Administrators
// only) but gives a handle a descriptor of its own, so there this test
// cannot look.
TEST_F(DriverTest, OnlySystemAndAdministratorsMayOpenTheDevice) {
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "under Wine a device handle does not show the device's descriptor";
    HANDLE readable = CreateFileA("\\\\.\\tavex", READ_CONTROL, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, readable) << GetLastError();
    PACL dacl = 0;
    PSECURITY_DESCRIPTOR descriptor = 0;
    DWORD result = GetSecurityInfo(readable, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, 0, 0,
                                   &dacl, 0, &descriptor);
    CloseHandle(readable);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), result);
    ASSERT_TRUE(dacl != 0) << "no DACL: anyone may open the device";

    BYTE system[SECURITY_MAX_SID_SIZE], administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof system;
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, 0, system, &size));
    size = sizeof administrators;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, 0, administrators, &size));
    bool grantsSystem = false, grantsAdministrators = false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = 0;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        ASSERT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->AceType) << "ACE " << i;
        PSID sid = &reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
        if (EqualSid(sid, system))
            grantsSystem = true;
        else if (EqualSid(sid, administrators))
            grantsAdministrators = true;
        else
            ADD_FAILURE() << "ACE " << i << " grants someone else";
    }
    LocalFree(descriptor);
    EXPECT_TRUE(grantsSystem);
    EXPECT_TRUE(grantsAdministrators);
}

TEST_F(DriverTest, EveryOtherRequestIsRefusedWithItsStatus) {
    const ULONG a = addressSize;
    const ULONG other = a == 8 ? 4 : 8;  // the address size of the other width
    struct Case {
        const char* what;
        ULONG code;
        std::uint32_t request[4];  // what the input buffer holds
        ULONG inSize, outSize;
        NTSTATUS status;
    } const cases[] = {
        // Codes: only the two, whatever the buffers.
        {"no code", 0, {standInBase, 0, 16, 0}, 16, a, STATUS_INVALID_DEVICE_REQUEST},
        {"the next function", 0x80002008, {standInBase, 0, 16, 0}, 16, a,
         STATUS_INVALID_DEVICE_REQUEST},
        {"map's function, direct in", 0x80002001, {standInBase, 0, 16, 0}, 16, a,
         STATUS_INVALID_DEVICE_REQUEST},
        {"map's function, neither", 0x80002003, {standInBase, 0, 16, 0}, 16, a,
         STATUS_INVALID_DEVICE_REQUEST},
        {"map's function, read and write access", 0x8000E000, {standInBase, 0, 16, 0}, 16, a,
         STATUS_INVALID_DEVICE_REQUEST},
        {"map's function, another device type", 0x00222000, {standInBase, 0, 16, 0}, 16, a,
         STATUS_INVALID_DEVICE_REQUEST},
        // Map: 16 bytes in, one address out, exactly.
        {"map, nothing in", mapCode, {0, 0, 0, 0}, 0, a, STATUS_INVALID_BUFFER_SIZE},
        {"map, 12 bytes in", mapCode, {standInBase, 0, 16, 0}, 12, a, STATUS_INVALID_BUFFER_SIZE},
        {"map, 15 bytes in", mapCode, {standInBase, 0, 16, 0}, 15, a, STATUS_INVALID_BUFFER_SIZE},
        {"map, nothing out", mapCode, {standInBase, 0, 16, 0}, 16, 0, STATUS_INVALID_BUFFER_SIZE},
        {"map, the other width's address out", mapCode, {standInBase, 0, 16, 0}, 16, other,
         STATUS_INVALID_BUFFER_SIZE},
        {"map, 16 bytes out", mapCode, {standInBase, 0, 16, 0}, 16, 16,
         STATUS_INVALID_BUFFER_SIZE},
        // Map: the fields.
        {"map above 4 GiB", mapCode, {standInBase, 1, 16, 0}, 16, a, STATUS_INVALID_PARAMETER_2},
        {"map at the top of 64 bits", mapCode, {0xFFFFF000, 0xFFFFFFFF, 16, 0}, 16, a,
         STATUS_INVALID_PARAMETER_2},
        {"map nothing", mapCode, {standInBase, 0, 0, 0}, 16, a, STATUS_INVALID_PARAMETER_3},
        {"map past 4 GiB by a byte", mapCode, {0xFFFFF000, 0, 0x1001, 0}, 16, a,
         STATUS_INTEGER_OVERFLOW},
        {"map the top byte and one more", mapCode, {0xFFFFFFFF, 0, 2, 0}, 16, a,
         STATUS_INTEGER_OVERFLOW},
        {"map a length that wraps", mapCode, {0x80000000, 0, 0x80000001, 0}, 16, a,
         STATUS_INTEGER_OVERFLOW},
        // Up to 4 GiB exactly is no wrap; the top page is no board's.
        {"map the top page", mapCode, {0xFFFFF000, 0, 0x1000, 0}, 16, a,
         STATUS_INVALID_PARAMETER_1},
        // Unmap: one address in, nothing out, exactly.
        {"unmap, nothing in", unmapCode, {0, 0, 0, 0}, 0, 0, STATUS_INVALID_BUFFER_SIZE},
        {"unmap, the other width's address in", unmapCode, {0, 0, 0, 0}, other, 0,
         STATUS_INVALID_BUFFER_SIZE},
        {"unmap, 16 bytes in", unmapCode, {0, 0, 0, 0}, 16, 0, STATUS_INVALID_BUFFER_SIZE},
        {"unmap, an address out", unmapCode, {0, 0, 0, 0}, a, a, STATUS_INVALID_BUFFER_SIZE},
        // Unmap: only a window of this handle.
        {"unmap no window", unmapCode, {0, 0, 0, 0}, a, 0, STATUS_NOT_MAPPED_VIEW},
        {"unmap an address never handed out", unmapCode, {0x12345000, 0, 0, 0}, a, 0,
         STATUS_NOT_MAPPED_VIEW},
    };
    for (const Case& c : cases) {
        std::uint8_t out[16];
        std::memset(out, 0xA5, sizeof out);
        Reply reply = control(device, c.code, c.request, c.inSize, out, c.outSize);
        EXPECT_EQ(hex(c.status), hex(reply.status)) << c.what;
        EXPECT_EQ(0xA5, out[0]) << c.what << ": the reply buffer was written";
    }
}

// On 64-bit Windows a 32-bit process sends and receives 4-byte addresses
// and gets windows its addresses reach (tests/driver/wow64-client.c).
TEST_F(DriverTest, AThirtyTwoBitProcessGetsFourByteAddressesAndLowWindows) {
    if (sizeof(void*) == 4)
        GTEST_SKIP() << "a 32-bit driver: this program is the 32-bit client";
    const char* const client = "tavex_driver_wow64_client.exe";
    if (GetFileAttributesA((programFolder() + client).c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << client << " was not built (no i686 compiler)";
    ProgramRun run = runBeside(client, hex(standInBase) + " " + hex(standInSize));
    if (!run.started)
        GTEST_SKIP() << "this system cannot start a 32-bit program (error " << run.exitCode << ")";
    EXPECT_EQ(0u, run.exitCode) << run.output;
}

// ---- the physical memory list ---------------------------------------------

class RamListTest : public DriverTest {
protected:
    void TearDown() override { writeList(usualList()); }
};

TEST_F(RamListTest, RangesOverlappingRamAreRefusedAndAnUnreadableListRefusesAll) {
    const std::uint32_t b = standInBase;
    const std::uint32_t s = standInSize;
    struct Case {
        const char* what;
        std::vector<std::uint8_t> list;
        DWORD type;
        std::uint32_t address, length;
        NTSTATUS status;
    } const cases[] = {
        {"the usual PC", usualList(), REG_RESOURCE_LIST, b, s, STATUS_SUCCESS},
        {"RAM ending where the range starts",
         resourceList({{{memory, 0, 0x1000, b - 0x1000}}}), REG_RESOURCE_LIST, b, s,
         STATUS_SUCCESS},
        {"RAM starting where the range ends", resourceList({{{memory, 0, b + s, 0x100000}}}),
         REG_RESOURCE_LIST, b, s, STATUS_SUCCESS},
        {"ports and interrupts over the range, RAM elsewhere",
         resourceList({{{port, 0, b, s}, {2, 0, b, 1}, {memory, 0, 0x100000, 0x100000}}}),
         REG_RESOURCE_LIST, b, s, STATUS_SUCCESS},
        {"RAM covering the range's first byte", resourceList({{{memory, 0, 0x1000, b - 0xFFF}}}),
         REG_RESOURCE_LIST, b, s, STATUS_CONFLICTING_ADDRESSES},
        {"RAM covering its last byte", resourceList({{{memory, 0, b + s - 1, 0x1000}}}),
         REG_RESOURCE_LIST, b, s, STATUS_CONFLICTING_ADDRESSES},
        {"RAM inside it", resourceList({{{memory, 0, b + 0x8000, 0x10}}}), REG_RESOURCE_LIST, b, s,
         STATUS_CONFLICTING_ADDRESSES},
        {"RAM around it", resourceList({{{memory, 0, 0x1000, 0x3FFFF000}}}), REG_RESOURCE_LIST, b,
         0x10, STATUS_CONFLICTING_ADDRESSES},
        {"RAM in the same page as a small range",
         resourceList({{{memory, 0, b + 0x800, 0x100}}}), REG_RESOURCE_LIST, b, 0x10,
         STATUS_CONFLICTING_ADDRESSES},
        {"RAM in the second list", resourceList({{{memory, 0, 0x1000, 0x9E000}}, {{memory, 0, b, s}}}),
         REG_RESOURCE_LIST, b + 0x100, 0x100, STATUS_CONFLICTING_ADDRESSES},
        {"large RAM, 40-bit lengths", resourceList({{{largeMemory, 0x200, 0, 0x400000}}}),
         REG_RESOURCE_LIST, b, 0x10, STATUS_CONFLICTING_ADDRESSES},
        {"large RAM, 48-bit lengths", resourceList({{{largeMemory, 0x400, b, 1}}}),
         REG_RESOURCE_LIST, b + s - 1, 1, STATUS_CONFLICTING_ADDRESSES},
        {"large RAM, 64-bit lengths", resourceList({{{largeMemory, 0x800, 0, 1}}}),
         REG_RESOURCE_LIST, b, 0x10, STATUS_CONFLICTING_ADDRESSES},
        {"large RAM above the range", resourceList({{{largeMemory, 0x400, b + s, 1}}}),
         REG_RESOURCE_LIST, b, s, STATUS_SUCCESS},
        // RAM is refused in every allowed area.
        {"RAM listed at page 0", resourceList({{{memory, 0, 0, 0x1000}}}), REG_RESOURCE_LIST,
         0x400, 0x100, STATUS_CONFLICTING_ADDRESSES},
        {"RAM listed inside a board's BAR",
         resourceList({{{memory, 0, TAVEX_STANDIN_PFB_BAR + 0x100000, 0x1000}}}), REG_RESOURCE_LIST,
         TAVEX_STANDIN_PFB_BAR, TAVEX_STANDIN_PFB_SIZE, STATUS_CONFLICTING_ADDRESSES},
        // Fail closed.
        {"no list", std::vector<std::uint8_t>(), 0, b, s, STATUS_OBJECT_NAME_NOT_FOUND},
        {"a list of another type", usualList(), REG_BINARY, b, s, STATUS_OBJECT_TYPE_MISMATCH},
        {"an empty value", std::vector<std::uint8_t>(), REG_RESOURCE_LIST, b, s,
         STATUS_REGISTRY_CORRUPT},
        {"no lists", resourceList({}), REG_RESOURCE_LIST, b, s, STATUS_REGISTRY_CORRUPT},
        {"no memory in it", resourceList({{{port, 0, 0x300, 8}}}), REG_RESOURCE_LIST, b, s,
         STATUS_REGISTRY_CORRUPT},
        {"large memory of no known unit", resourceList({{{largeMemory, 0, 0, 0x100}}}),
         REG_RESOURCE_LIST, b, s, STATUS_REGISTRY_CORRUPT},
        {"large memory of two units",
         resourceList({{{largeMemory, 0x600, 0, 0x100}, {memory, 0, 0x100000, 0x1000}}}),
         REG_RESOURCE_LIST, b, s, STATUS_REGISTRY_CORRUPT},
    };
    for (const Case& c : cases) {
        if (c.type == 0)
            deleteList();
        else
            writeList(c.list, c.type);
        void* window = 0;
        Reply reply = map(device, c.address, c.length, &window);
        EXPECT_EQ(hex(c.status), hex(reply.status)) << c.what;
        if (reply.status == STATUS_SUCCESS) {
            EXPECT_EQ(hex(STATUS_SUCCESS), hex(unmap(device, window).status)) << c.what;
        }
    }

    // A list cut short anywhere is refused.
    const std::vector<std::uint8_t> full = usualList();
    for (std::size_t size = 0; size < full.size(); ++size) {
        writeList(std::vector<std::uint8_t>(full.begin(), full.begin() + size));
        void* window = 0;
        EXPECT_EQ(hex(STATUS_REGISTRY_CORRUPT), hex(map(device, b, s, &window).status))
            << size << " of " << full.size() << " bytes";
    }
}

TEST_F(RamListTest, TheLibraryReportsARefusedRangeAsItsMappingError) {
    writeList(resourceList({{{memory, 0, standInBase, standInSize}}}));
    try {
        Tavex::PhysicalMemory memory(standInBase, 0x100, false);
        ADD_FAILURE() << "RAM mapped";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(mapError, e.what());
    }
}

// ---- windows ----------------------------------------------------------------

// Windows at any offset and size show the right bytes of the range: what
// one writes, another sees at the same physical address.
TEST_F(DriverTest, TheLibraryMapsReadsWritesAndUnmapsThroughTheDriver) {
    struct Case {
        std::uint32_t offset, size;
    } const cases[] = {
        {0, 1},           {0, standInSize},     {0x1235, 7},          {0x0FFE, 4},
        {0x8000, 0x2001}, {standInSize - 4, 4}, {standInSize - 0x1001, 0x1001},
    };
    Tavex::PhysicalMemory whole(standInBase, standInSize, false);
    for (const Case& c : cases) {
        std::vector<char> pattern(c.size);
        for (std::uint32_t i = 0; i < c.size; ++i)
            pattern[i] = static_cast<char>(c.offset * 7 + i * 13 + 1);
        {
            Tavex::PhysicalMemory part(standInBase + c.offset, c.size, false);
            part.writeMemoryBlock(&pattern[0], c.size, 0);
            if (c.size >= 8) {
                part.writeLong(c.size - 4, 0x12345678L).writeShort(0, -2).writeChar(2, 'x');
                const char written[] = {'\xFE', '\xFF', 'x'};
                std::copy(written, written + 3, pattern.begin());
                const char value[] = {0x78, 0x56, 0x34, 0x12};
                std::copy(value, value + 4, pattern.end() - 4);
            }
        }
        std::vector<char> seen(c.size);
        whole.readMemoryBlock(&seen[0], c.size, c.offset);
        EXPECT_EQ(pattern, seen) << "offset " << c.offset << " size " << c.size;
        Tavex::PhysicalMemory again(standInBase + c.offset, c.size, false);
        EXPECT_EQ(pattern[0], again.readChar(0)) << "offset " << c.offset;
        if (c.size >= 8) {
            EXPECT_EQ(0x12345678L, again.readLong(c.size - 4)) << "offset " << c.offset;
        }
    }
}

TEST_F(DriverTest, AWindowIsUnmappedOnlyByTheHandleThatMappedIt) {
    Device other;
    ASSERT_NE(INVALID_HANDLE_VALUE, static_cast<HANDLE>(other));
    void* second = 0;
    Reply reply = map(device, standInBase + 0x10, 0x20, &second);
    ASSERT_EQ(hex(STATUS_SUCCESS), hex(reply.status));
    EXPECT_EQ(addressSize, reply.information);
    void* window = 0;
    ASSERT_EQ(hex(STATUS_SUCCESS), hex(map(device, standInBase + 0x10, 0x20, &window).status));
    EXPECT_NE(second, window) << "two requests, two windows";

    EXPECT_EQ(hex(STATUS_NOT_MAPPED_VIEW), hex(unmap(other, window).status));
    EXPECT_EQ(static_cast<DWORD>(MEM_MAPPED), memoryType(window));

    EXPECT_EQ(hex(STATUS_SUCCESS), hex(unmap(device, window).status));
    EXPECT_EQ(static_cast<DWORD>(MEM_FREE), memoryType(window));
    EXPECT_EQ(hex(STATUS_NOT_MAPPED_VIEW), hex(unmap(device, window).status)) << "twice";
    EXPECT_EQ(hex(STATUS_SUCCESS), hex(unmap(device, second).status));
}

TEST_F(DriverTest, ClosingAHandleUnmapsEveryWindowItStillHas) {
    HANDLE handle = device.release();
    void* windows[3] = {0, 0, 0};
    ASSERT_EQ(hex(STATUS_SUCCESS), hex(map(handle, standInBase, 0x100, &windows[0]).status));
    ASSERT_EQ(hex(STATUS_SUCCESS), hex(map(handle, standInBase + 0x3001, 0x2000, &windows[1]).status));
    ASSERT_EQ(hex(STATUS_SUCCESS), hex(map(handle, standInBase, standInSize, &windows[2]).status));
    EXPECT_EQ(hex(STATUS_SUCCESS), hex(unmap(handle, windows[1]).status));
    for (void* window : {windows[0], windows[2]})
        ASSERT_EQ(static_cast<DWORD>(MEM_MAPPED), memoryType(window));

    CloseHandle(handle);
    for (void* window : windows)
        EXPECT_TRUE(becomesFree(window)) << window;

    // Nothing of them is left to unmap from a new handle either.
    Device fresh;
    for (void* window : windows)
        EXPECT_EQ(hex(STATUS_NOT_MAPPED_VIEW), hex(unmap(fresh, window).status));
}

// ---- unload -----------------------------------------------------------------

// Stopped with nothing open, the driver removes its device and link; a
// second load creates them again.
TEST(DriverUnload, TheDriverUnloadsCleanlyAndLoadsAgain) {
    Tavex::Platform::install(0);  // the library closes its handle
    ProgramRun removed = installer("remove");
    ASSERT_EQ(0u, removed.exitCode) << removed.output;
    EXPECT_EQ(3u, installer("status").exitCode);
    EXPECT_EQ(INVALID_HANDLE_VALUE, openDevice());

    ProgramRun installed = installer("install \"" + programFolder() + "tavex-test.sys\"");
    ASSERT_EQ(0u, installed.exitCode) << installed.output;
    Tavex::OSInterface::osinterface();
    Device device;
    ASSERT_NE(INVALID_HANDLE_VALUE, static_cast<HANDLE>(device));
    void* window = 0;
    EXPECT_EQ(hex(STATUS_SUCCESS), hex(map(device, standInBase, 0x10, &window).status));
    EXPECT_EQ(hex(STATUS_SUCCESS), hex(unmap(device, window).status));
}

// The INF installs the driver (the real one, tavex.sys) and removes it.
// Under Wine that driver does not load: there is no physical memory to
// open, and it fails closed, so the library finds no device.
TEST(DriverUnload, TheInfInstallsAndRemovesTheDriver) {
    Tavex::Platform::install(0);
    ProgramRun removed = installer("remove");
    ASSERT_EQ(0u, removed.exitCode) << removed.output;
    const std::string inf = programFolder() + "tavex.inf";
    char systemFolder[MAX_PATH];
    GetSystemDirectoryA(systemFolder, sizeof systemFolder);
    const std::string installed = std::string(systemFolder) + "\\drivers\\tavex.sys";

    InstallHinfSectionA(0, 0, ("DefaultInstall 132 " + inf).c_str(), 0);
    ProgramRun status = installer("status");
    EXPECT_EQ(0u, status.exitCode);
    EXPECT_NE(std::string::npos, status.output.find("installed and stopped, started on demand"))
        << status.output;
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(installed.c_str()));
    InstallHinfSectionA(0, 0, ("DefaultUninstall 132 " + inf).c_str(), 0);
    EXPECT_EQ(3u, installer("status").exitCode);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(installed.c_str()));

    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        return;
    // (Wine keeps the image of a driver that did not load open: its file
    // stays until Wine's driver host ends.)
    InstallHinfSectionA(0, 0, ("DefaultInstall 132 " + inf).c_str(), 0);
    try {
        Tavex::OSInterface::osinterface();
        ADD_FAILURE() << "the real driver loaded under Wine";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("OS Interface: can not open tavex.sys driver.", e.what());
    }
    InstallHinfSectionA(0, 0, ("DefaultUninstall 132 " + inf).c_str(), 0);
    EXPECT_EQ(3u, installer("status").exitCode);
}

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], childSwitch) == 0)
        return childMain(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new DriverEnvironment);
    return RUN_ALL_TESTS();
}
