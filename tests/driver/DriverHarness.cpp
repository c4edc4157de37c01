#include "DriverHarness.h"

#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace DriverHarness {

namespace {

const char* const listKey = "HARDWARE\\RESOURCEMAP\\System Resources\\Physical Memory";

void put(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

std::string programFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(0, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

ProgramRun runBeside(const std::string& program, const std::string& arguments) {
    ProgramRun run = {false, 0, std::string()};
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, 0, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        throw std::runtime_error("no pipe for the installer's output");
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process;
    std::string line = "\"" + programFolder() + program + "\" " + arguments;
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');
    if (!CreateProcessA(0, &commandLine[0], 0, 0, TRUE, 0, 0, 0, &startup, &process)) {
        run.exitCode = GetLastError();
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return run;
    }
    CloseHandle(writeEnd);
    run.started = true;
    char buffer[512];
    DWORD got;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, 0) && got > 0)
        run.output.append(buffer, got);
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    std::string::size_type cr;
    while ((cr = run.output.find('\r')) != std::string::npos)
        run.output.erase(cr, 1);
    return run;
}

ProgramRun installer(const std::string& arguments) {
    ProgramRun run = runBeside("tavex-driver.exe", arguments);
    if (!run.started)
        throw std::runtime_error("cannot start tavex-driver.exe");
    return run;
}

HANDLE openDevice(DWORD access, bool inheritable) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, 0, TRUE};
    return CreateFileA("\\\\.\\tavex", access, 0, inheritable ? &inherit : 0, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, 0);
}

bool setAccess(const std::string& path, const char* sddl) {
    PSECURITY_DESCRIPTOR descriptor = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                              0))
        return false;
    const bool set = SetFileSecurityA(path.c_str(),
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                      descriptor) != 0;
    LocalFree(descriptor);
    return set;
}

std::string hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", value);
    return text;
}

Reply control(HANDLE device, ULONG code, const void* in, ULONG inSize, void* out, ULONG outSize) {
    IO_STATUS_BLOCK io;
    io.Pointer = 0;
    io.Information = 0xDEADBEEF;
    Reply reply;
    reply.status = NtDeviceIoControlFile(device, 0, 0, 0, &io, code, const_cast<void*>(in), inSize,
                                         out, outSize);
    reply.information = io.Information;
    if (reply.status == STATUS_PENDING) {
        WaitForSingleObject(device, INFINITE);
        reply.status = io.Status;
        reply.information = io.Information;
    }
    return reply;
}

Reply map(HANDLE device, std::uint32_t address, std::uint32_t length, void** window,
          std::uint32_t addressHigh) {
    const std::uint32_t request[4] = {address, addressHigh, length, 0};
    *window = 0;
    return control(device, mapCode, request, sizeof request, window, sizeof *window);
}

Reply unmap(HANDLE device, void* window) {
    return control(device, unmapCode, &window, sizeof window, 0, 0);
}

DWORD memoryType(const void* address) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(address, &info, sizeof info) != sizeof info)
        return 0;
    return info.State == MEM_FREE ? MEM_FREE : info.Type;
}

bool becomesFree(const void* address) {
    // Under Wine the driver unmaps through the process's own threads; a
    // sleep lets them.
    for (int waited = 0; waited < 500; ++waited) {
        if (memoryType(address) == MEM_FREE)
            return true;
        Sleep(10);
    }
    return false;
}

std::vector<std::uint8_t> resourceList(const std::vector<std::vector<Descriptor> >& lists) {
    std::vector<std::uint8_t> out;
    put(out, lists.size(), 4);
    for (const std::vector<Descriptor>& list : lists) {
        put(out, 0, 4);  // interface type: internal
        put(out, 0, 4);  // bus number
        put(out, 1, 2);  // version
        put(out, 1, 2);  // revision
        put(out, list.size(), 4);
        for (const Descriptor& d : list) {
            put(out, d.type, 1);
            put(out, 1, 1);  // share disposition: device exclusive
            put(out, d.flags, 2);
            put(out, d.start, 8);
            put(out, d.length, 4);
            // The descriptor's union holds an interrupt's processor
            // affinity, as wide as a pointer: 16 bytes on 64-bit Windows.
            put(out, 0, sizeof(void*) == 8 ? 4 : 0);
        }
    }
    return out;
}

std::vector<std::uint8_t> usualList() {
    return resourceList({{{memory, 0, 0x1000, 0x9E000}, {memory, 0, 0x100000, 0x3FF00000}}});
}

void writeList(const std::vector<std::uint8_t>& data, DWORD type) {
    HKEY key;
    // HKLM\HARDWARE lives only while the system runs: so must its keys.
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, listKey, 0, 0, REG_OPTION_VOLATILE, KEY_SET_VALUE, 0,
                        &key, 0) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create the physical memory list's key");
    LONG result = RegSetValueExA(key, ".Translated", 0, type, data.empty() ? 0 : &data[0],
                                 static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        throw std::runtime_error("cannot write the physical memory list");
}

void deleteList() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, listKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, ".Translated");
        RegCloseKey(key);
    }
}

}  // namespace DriverHarness
