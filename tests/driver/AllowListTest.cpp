// What tavex.sys maps and for whom: the allow list over the test build's
// stand-ins (standin.h), handles bound to the process that opened them,
// views checked before they are unmapped, and the installer's folder rule.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "DriverHarness.h"
#include "DriverTest.h"
#include "standin.h"
#include "tavex/platform/PhysicalMemory.h"

using namespace DriverHarness;

namespace {

bool underWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != 0; }

DWORD protectionOf(const void* address) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(address, &info, sizeof info) != sizeof info)
        return 0;
    return info.Protect;
}

}  // namespace

const char* const DriverHarness::childSwitch = "--child";

int DriverHarness::childMain(int argc, char** argv) {
    if (argc != 4)
        return 100;
    HANDLE inherited = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::strtoull(argv[2], 0, 0)));
    void* window = reinterpret_cast<void*>(static_cast<ULONG_PTR>(std::strtoull(argv[3], 0, 0)));
    void* mine = 0;
    Reply mapped = map(inherited, standInBase, 0x100, &mine);
    Reply unmapped = unmap(inherited, window);
    std::printf("map %s unmap %s\n", hex(mapped.status).c_str(), hex(unmapped.status).c_str());
    return 0;
}

// ---- the allow list ---------------------------------------------------------

TEST_F(DriverTest, OnlyPageZeroTheAdapterAreaAndServedBoardsBarsAreMapped) {
    const NTSTATUS outside = STATUS_INVALID_PARAMETER_1;
    // A 32-bit driver cannot express a 4 GiB view; a 64-bit one finds it
    // outside every allowed area.
    const NTSTATUS oversize = sizeof(void*) == 4 ? STATUS_INVALID_VIEW_SIZE : outside;
    struct Case {
        const char* what;
        std::uint32_t address, length;
        NTSTATUS status;
    } const cases[] = {
        {"page 0, the BIOS data area", 0x400, 0x100, STATUS_SUCCESS},
        {"all of page 0", 0, 0x1000, STATUS_SUCCESS},
        {"page 0 and the next", 0xF00, 0x200, outside},
        {"conventional memory the RAM list leaves out", 0x9F000, 0x1000, outside},
        {"the adapter area's first page", 0xA0000, 0x1000, STATUS_SUCCESS},
        {"the adapter area's last byte", 0xFFFFF, 1, STATUS_SUCCESS},
        {"all of the adapter area", 0xA0000, 0x60000, STATUS_SUCCESS},
        {"into the adapter area from below", 0x9FFFF, 2, outside},
        {"out of the adapter area past 1 MiB", 0xFFFFF, 2, outside},
        {"the 5136-PFB-PCI's BAR 0, whole", TAVEX_STANDIN_PFB_BAR, TAVEX_STANDIN_PFB_SIZE,
         STATUS_SUCCESS},
        {"inside the 5136-PFB-PCI's BAR 0", TAVEX_STANDIN_PFB_BAR + 0x1FFF00, 0x100,
         STATUS_SUCCESS},
        {"past the end of its BAR", TAVEX_STANDIN_PFB_BAR + 0x1FF000, 0x2000, outside},
        {"a network adapter's BAR (a bus master)", TAVEX_STANDIN_NIC_BAR, 0x1000, outside},
        {"a 9050 bridge's memory BAR", 0xFE300000, 0x100, outside},
        {"the I/O APIC", 0xFEC00000, 0x400, outside},
        {"the local APIC", 0xFEE00000, 0x1000, outside},
        {"PCIe configuration space", 0xE0000000, 0x1000, outside},
        {"the firmware's flash", 0xFFF00000, 0x100000, outside},
        {"everything below 4 GiB", 0, 0xFFFFFFFF, oversize},
    };
    for (const Case& c : cases) {
        void* window = 0;
        Reply reply = map(device, c.address, c.length, &window);
        EXPECT_EQ(hex(c.status), hex(reply.status)) << c.what;
        if (reply.status == STATUS_SUCCESS) {
            EXPECT_EQ(hex(STATUS_SUCCESS), hex(unmap(device, window).status)) << c.what;
        }
    }
}

TEST_F(DriverTest, PageZeroIsShownReadOnly) {
    void* window = 0;
    ASSERT_EQ(hex(STATUS_SUCCESS), hex(map(device, 0x400, 0x100, &window).status));
    EXPECT_EQ(static_cast<DWORD>(PAGE_READONLY), protectionOf(window) & 0xFF);
    EXPECT_TRUE(IsBadWritePtr(window, 1)) << "a write to the BIOS data area went through";
    char byte = 0x5A;
    SIZE_T written = 0;
    EXPECT_FALSE(WriteProcessMemory(GetCurrentProcess(), window, &byte, 1, &written))
        << "WriteProcessMemory wrote the BIOS data area";
    DWORD old = 0;
    EXPECT_FALSE(VirtualProtect(window, 1, PAGE_READWRITE, &old))
        << "the view of page 0 was made writable";
    EXPECT_EQ(hex(STATUS_SUCCESS), hex(unmap(device, window).status));

    // The adapter area stays writable.
    ASSERT_EQ(hex(STATUS_SUCCESS), hex(map(device, standInBase, 0x100, &window).status));
    EXPECT_FALSE(IsBadWritePtr(window, 1));
    EXPECT_EQ(hex(STATUS_SUCCESS), hex(unmap(device, window).status));
}

// The 5136-PFB-PCI of the stand-in configuration space: its BAR 0 is found
// by the driver and mapped whole, as the card maps it.
TEST_F(DriverTest, TheLibraryMapsAServedBoardsBarFoundInConfigurationSpace) {
    Tavex::PhysicalMemory board(TAVEX_STANDIN_PFB_BAR, TAVEX_STANDIN_PFB_SIZE, true);
    board.writeLong(0, 0x5136).writeLong(TAVEX_STANDIN_PFB_SIZE - 4, 0x1000);
    Tavex::PhysicalMemory again(TAVEX_STANDIN_PFB_BAR, TAVEX_STANDIN_PFB_SIZE, true);
    EXPECT_EQ(0x5136L, again.readLong(0));
    EXPECT_EQ(0x1000L, again.readLong(TAVEX_STANDIN_PFB_SIZE - 4));
}

// ---- who may use a handle ---------------------------------------------------

TEST_F(DriverTest, AnotherProcessWithTheHandleCanNeitherMapNorUnmap) {
    Device inheritable(openDevice(GENERIC_READ | GENERIC_WRITE, true));
    ASSERT_NE(INVALID_HANDLE_VALUE, static_cast<HANDLE>(inheritable));
    void* window = 0;
    ASSERT_EQ(hex(STATUS_SUCCESS), hex(map(inheritable, standInBase, 0x100, &window).status));

    char arguments[64];
    std::snprintf(arguments, sizeof arguments, "%s 0x%llX 0x%llX", childSwitch,
                  static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(
                      static_cast<HANDLE>(inheritable))),
                  static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(window)));
    ProgramRun child = runBeside("tavex_driver_tests.exe", arguments);
    ASSERT_TRUE(child.started);
    EXPECT_EQ(0u, child.exitCode) << child.output;
    EXPECT_EQ("map " + hex(STATUS_ACCESS_DENIED) + " unmap " + hex(STATUS_ACCESS_DENIED) + "\n",
              child.output);

    // The process that opened it still can, and its window is still there.
    EXPECT_EQ(static_cast<DWORD>(MEM_MAPPED), memoryType(window));
    EXPECT_EQ(hex(STATUS_SUCCESS), hex(unmap(inheritable, window).status));
}

// Windows passes the access a handle asks for to the driver, which opens
// no handle that cannot read and write data; Wine passes no access (its
// kernel gives IRP_MJ_CREATE no security context), so there every open
// goes through and this test cannot look.
TEST_F(DriverTest, AHandleWithoutReadAndWriteDataAccessIsNotOpened) {
    struct Case {
        const char* what;
        DWORD access;
        bool opens;
    } const cases[] = {
        {"SYNCHRONIZE alone", SYNCHRONIZE, false},
        {"no access", 0, false},
        {"reading only", GENERIC_READ, false},
        {"writing only", GENERIC_WRITE, false},
        {"reading and writing data", FILE_READ_DATA | FILE_WRITE_DATA, true},
        {"generic read and write, as the library opens it", GENERIC_READ | GENERIC_WRITE, true},
    };
    for (const Case& c : cases) {
        Device handle(openDevice(c.access));
        const bool opened = static_cast<HANDLE>(handle) != INVALID_HANDLE_VALUE;
        if (opened && !c.opens && underWine())
            GTEST_SKIP() << "Wine does not pass the access of an open to the driver";
        EXPECT_EQ(c.opens, opened) << c.what;
    }
}

// ---- views replaced behind the driver's back --------------------------------

// The process unmaps a window itself and puts other memory at its address.
// Neither an unmap request nor closing the handle may unmap that memory.
TEST_F(DriverTest, MemoryPutWhereAWindowWasIsLeftAlone) {
    enum How { UnmapRequest, CloseHandleOnly };
    enum What { PrivateMemory, LargerFileView };
    struct Case {
        const char* what;
        How how;
        What put;
    } const cases[] = {
        {"private memory, then an unmap request", UnmapRequest, PrivateMemory},
        {"private memory, then the handle closed", CloseHandleOnly, PrivateMemory},
        {"a larger file view, then an unmap request", UnmapRequest, LargerFileView},
        {"a larger file view, then the handle closed", CloseHandleOnly, LargerFileView},
    };
    for (const Case& c : cases) {
        HANDLE handle = openDevice();
        ASSERT_NE(INVALID_HANDLE_VALUE, handle) << c.what;
        void* window = 0;
        // Page-aligned at a stand-in boundary: the window is the view.
        ASSERT_EQ(hex(STATUS_SUCCESS), hex(map(handle, standInBase, 0x1000, &window).status))
            << c.what;
        ASSERT_TRUE(UnmapViewOfFile(window)) << c.what;

        HANDLE section = 0;
        void* put = 0;
        if (c.put == PrivateMemory) {
            put = VirtualAlloc(window, 0x1000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        } else {
            section = CreateFileMappingA(INVALID_HANDLE_VALUE, 0, PAGE_READWRITE, 0, 0x20000, 0);
            put = section ? MapViewOfFileEx(section, FILE_MAP_WRITE, 0, 0, 0x20000, window) : 0;
        }
        ASSERT_EQ(window, put) << c.what << ": the address was taken meanwhile";
        static_cast<volatile char*>(put)[0] = 0x3C;

        if (c.how == UnmapRequest) {
            EXPECT_EQ(hex(STATUS_NOT_MAPPED_VIEW), hex(unmap(handle, window).status)) << c.what;
        }
        CloseHandle(handle);
        Sleep(50);  // Wine's driver host works through this process's threads
        EXPECT_EQ(static_cast<DWORD>(c.put == PrivateMemory ? MEM_PRIVATE : MEM_MAPPED),
                  memoryType(window))
            << c.what;
        EXPECT_EQ(0x3C, static_cast<volatile char*>(put)[0]) << c.what;

        if (c.put == PrivateMemory) {
            VirtualFree(put, 0, MEM_RELEASE);
        } else {
            UnmapViewOfFile(put);
            CloseHandle(section);
        }
    }
}

// ---- the installer ------------------------------------------------------------

// Only a driver in a folder that only Administrators and SYSTEM can write
// is installed.  Under Wine access lists come from the Unix mode bits:
// Everyone may write what is world-writable.
TEST(DriverInstaller, RefusesADriverOthersCanWrite) {
    const std::string folder = programFolder() + "writable-folder";
    const std::string driver = folder + "\\tavex-test.sys";
    CreateDirectoryA(folder.c_str(), 0);
    ASSERT_TRUE(CopyFileA((programFolder() + "tavex-test.sys").c_str(), driver.c_str(), FALSE));
    struct Case {
        const char* what;
        const char* folderAccess;  // SDDL of the folder's DACL
        const char* fileAccess;
        const char* says;
    } const cases[] = {
        {"Everyone may write the folder", "D:P(A;OICI;FA;;;WD)", "D:P(A;;FR;;;WD)",
         "refusing the driver in"},
        {"Everyone may write the file", "D:P(A;OICI;FR;;;WD)", "D:P(A;;FA;;;WD)",
         "refusing the driver"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(setAccess(folder, c.folderAccess)) << c.what;
        ASSERT_TRUE(setAccess(driver, c.fileAccess)) << c.what;
        ProgramRun run = installer("install \"" + driver + "\"");
        EXPECT_EQ(1u, run.exitCode) << c.what << ": " << run.output;
        EXPECT_NE(std::string::npos, run.output.find(c.says)) << c.what << ": " << run.output;
    }
    setAccess(folder, "D:P(A;OICI;FA;;;WD)");
    setAccess(driver, "D:P(A;;FA;;;WD)");
    DeleteFileA(driver.c_str());
    RemoveDirectoryA(folder.c_str());

    // This program's folder only its owner may write.
    ProgramRun installed = installer("install \"" + programFolder() + "tavex-test.sys\"");
    EXPECT_EQ(0u, installed.exitCode) << installed.output;
    ProgramRun removed = installer("remove");
    EXPECT_EQ(0u, removed.exitCode) << removed.output;
}
