/*
 * A 32-bit client of the 64-bit driver, built with the i686 compiler in the
 * x86_64 build and started by tavex_driver_tests.  On 64-bit Windows a
 * 32-bit process sends and receives 4-byte addresses, and its window must
 * lie where 4 bytes reach.
 *
 *   tavex_driver_wow64_client <stand-in base> <stand-in size>
 *
 * Prints one line per check that failed and exits with their number.
 */
#define WIN32_LEAN_AND_MEAN
#define WIN32_NO_STATUS
#include <windows.h>
#include <winternl.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>

#include <stdio.h>
#include <stdlib.h>

static int failures;

static void check(int ok, const char* what, NTSTATUS status) {
    if (!ok) {
        printf("wow64 client: %s (status 0x%08lX)\n", what, (unsigned long)status);
        ++failures;
    }
}

static NTSTATUS control(HANDLE device, ULONG code, void* in, ULONG inSize, void* out,
                        ULONG outSize, ULONG_PTR* information) {
    IO_STATUS_BLOCK io;
    NTSTATUS status;
    io.Information = 0;
    status = NtDeviceIoControlFile(device, 0, 0, 0, &io, code, in, inSize, out, outSize);
    *information = io.Information;
    return status;
}

int main(int argc, char** argv) {
    const ULONG mapCode = 0x80002000UL, unmapCode = 0x80002004UL;
    ULONG request[4], window = 0, other = 0, wide[2] = {0, 0};
    ULONG_PTR information = 0;
    NTSTATUS status;
    HANDLE device;

    if (argc != 3) {
        printf("usage: %s <stand-in base> <stand-in size>\n", argv[0]);
        return 100;
    }
    request[0] = strtoul(argv[1], 0, 0);
    request[1] = 0;
    request[2] = strtoul(argv[2], 0, 0);
    request[3] = 0;
    device = CreateFileA("\\\\.\\tavex", GENERIC_READ | GENERIC_WRITE, 0, 0, OPEN_EXISTING, 0, 0);
    if (device == INVALID_HANDLE_VALUE) {
        printf("wow64 client: cannot open the device (error %lu)\n", GetLastError());
        return 100;
    }

    status = control(device, mapCode, request, sizeof request, wide, sizeof wide, &information);
    check(status == STATUS_INVALID_BUFFER_SIZE, "an 8-byte map reply was not refused", status);

    status = control(device, mapCode, request, sizeof request, &window, sizeof window, &information);
    check(status == STATUS_SUCCESS && information == 4 && window != 0,
          "a 4-byte map reply was not given", status);
    if (status == STATUS_SUCCESS) {
        check(window + request[2] - 1 < 0x80000000UL, "the window lies above 2 GiB", status);
        status = control(device, mapCode, request, sizeof request, &other, sizeof other,
                         &information);
        check(status == STATUS_SUCCESS, "a second window was not given", status);
        if (status == STATUS_SUCCESS) {
            ((volatile UCHAR*)(ULONG_PTR)window)[request[2] - 1] = 0x5A;
            check(((volatile UCHAR*)(ULONG_PTR)other)[request[2] - 1] == 0x5A,
                  "two windows show different memory", status);
            status = control(device, unmapCode, &other, sizeof other, 0, 0, &information);
            check(status == STATUS_SUCCESS, "a 4-byte unmap request was refused", status);
        }
        wide[0] = window;
        status = control(device, unmapCode, wide, sizeof wide, 0, 0, &information);
        check(status == STATUS_INVALID_BUFFER_SIZE, "an 8-byte unmap request was not refused",
              status);
        status = control(device, unmapCode, &window, sizeof window, 0, 0, &information);
        check(status == STATUS_SUCCESS, "a 4-byte unmap request was refused", status);
    }
    CloseHandle(device);
    return failures;
}
