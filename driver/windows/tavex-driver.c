/*
 * tavex-driver: installs, removes and reports the Tavex kernel driver.
 *
 *   tavex-driver install [driver file]
 *       copies the driver (tavex.sys beside this program, unless a file is
 *       named) to %SystemRoot%\System32\drivers\tavex.sys and creates the
 *       kernel service "tavex", started on demand (the Tavex library starts
 *       it).  A service that is there already is stopped and updated.
 *   tavex-driver remove
 *       stops the service, deletes it and deletes the driver file.
 *   tavex-driver status
 *       says whether the service is installed, whether it runs, and from
 *       which file.
 *
 * Exit status: 0 done (status: installed), 1 failed, 2 wrong arguments,
 * 3 status: not installed.  Needs an Administrator.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdio.h>
#include <string.h>

#define SERVICE_NAME "tavex"
#define DISPLAY_NAME "Tavex board memory driver"
#define DRIVER_FILE "tavex.sys"
/* The form the kernel resolves on every NT version. */
#define IMAGE_PATH "\\SystemRoot\\System32\\drivers\\" DRIVER_FILE

enum { DONE = 0, FAILED = 1, USAGE = 2, NOT_INSTALLED = 3 };

static int failed(const char* what) {
    DWORD error = GetLastError();
    char text[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, text,
                   sizeof text, NULL);
    text[strcspn(text, "\r\n")] = '\0';
    fprintf(stderr, "tavex-driver: %s: %s (error %lu)\n", what, text, (unsigned long)error);
    return FAILED;
}

/* A 32-bit program on 64-bit Windows would install a 32-bit driver, which
 * that Windows does not load, and its file system view is redirected. */
static int underWow64(void) {
    typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, PBOOL);
    IsWow64ProcessFunction isWow64Process = (IsWow64ProcessFunction)(void (*)(void))GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64Process && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

static const char* stateName(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "starting";
    case SERVICE_STOP_PENDING: return "stopping";
    case SERVICE_RUNNING: return "running";
    default: return "in an unusual state";
    }
}

/* Stops the service and waits up to 10 s for it to stop.  A driver stops
 * only when no program has its device open. */
static int stop(SC_HANDLE service) {
    SERVICE_STATUS status;
    int waited;
    if (!QueryServiceStatus(service, &status))
        return failed("cannot query the service " SERVICE_NAME);
    if (status.dwCurrentState == SERVICE_STOPPED)
        return DONE;
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        return failed("cannot stop the service " SERVICE_NAME);
    for (waited = 0; waited < 100; ++waited) {
        if (!QueryServiceStatus(service, &status))
            return failed("cannot query the service " SERVICE_NAME);
        if (status.dwCurrentState == SERVICE_STOPPED)
            return DONE;
        Sleep(100);
    }
    fprintf(stderr, "tavex-driver: the service " SERVICE_NAME " does not stop (%s): close the "
                    "programs that use the driver, then try again\n",
            stateName(status.dwCurrentState));
    return FAILED;
}

/* %SystemRoot%\System32\drivers\tavex.sys */
static int installedFile(char* path, DWORD size) {
    UINT length = GetSystemDirectoryA(path, size);
    if (length == 0 || length + sizeof "\\drivers\\" DRIVER_FILE > size)
        return failed("cannot find the system folder");
    strcat(path, "\\drivers\\" DRIVER_FILE);
    return DONE;
}

static int install(const char* given) {
    char source[MAX_PATH], target[MAX_PATH];
    SC_HANDLE manager, service;
    int result = DONE;

    if (underWow64()) {
        fprintf(stderr, "tavex-driver: this is the 32-bit installer on 64-bit Windows; use the "
                        "64-bit tavex-driver with the 64-bit " DRIVER_FILE "\n");
        return FAILED;
    }
    if (given) {
        if (!GetFullPathNameA(given, sizeof source, source, NULL))
            return failed("cannot find the driver file");
    } else {
        DWORD length = GetModuleFileNameA(NULL, source, sizeof source);
        char* slash;
        if (length == 0 || length >= sizeof source)
            return failed("cannot find this program's folder");
        slash = strrchr(source, '\\');
        if (!slash || (size_t)(slash + 1 - source) + sizeof DRIVER_FILE > sizeof source)
            return failed("cannot find this program's folder");
        strcpy(slash + 1, DRIVER_FILE);
    }
    if (GetFileAttributesA(source) == INVALID_FILE_ATTRIBUTES) {
        fprintf(stderr, "tavex-driver: there is no driver file %s\n", source);
        return FAILED;
    }
    if (installedFile(target, sizeof target) != DONE)
        return FAILED;

    manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (!manager)
        return failed("cannot open the service manager (run as Administrator)");
    service = OpenServiceA(manager, SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (service && stop(service) != DONE)
        result = FAILED;
    else if (!CopyFileA(source, target, FALSE))
        result = failed("cannot copy the driver to the drivers folder");
    else if (service ? !ChangeServiceConfigA(service, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                             SERVICE_ERROR_NORMAL, IMAGE_PATH, NULL, NULL, NULL,
                                             NULL, NULL, DISPLAY_NAME)
                     : !(service = CreateServiceA(manager, SERVICE_NAME, DISPLAY_NAME,
                                                  SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                                  SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                                  IMAGE_PATH, NULL, NULL, NULL, NULL, NULL)))
        result = failed("cannot create the service " SERVICE_NAME);
    else
        printf("tavex-driver: installed %s as the kernel service " SERVICE_NAME
               " (started on demand)\n",
               target);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

static int removeDriver(void) {
    char target[MAX_PATH];
    SC_HANDLE manager, service;
    int result = DONE;

    if (installedFile(target, sizeof target) != DONE)
        return FAILED;
    manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (!manager)
        return failed("cannot open the service manager (run as Administrator)");
    service = OpenServiceA(manager, SERVICE_NAME, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!service) {
        if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST)
            result = failed("cannot open the service " SERVICE_NAME);
        else
            printf("tavex-driver: the service " SERVICE_NAME " is not installed\n");
    } else {
        if (stop(service) != DONE)
            result = FAILED;
        else if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            result = failed("cannot delete the service " SERVICE_NAME);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    if (result == DONE && !DeleteFileA(target) && GetLastError() != ERROR_FILE_NOT_FOUND)
        result = failed("cannot delete the driver file");
    if (result == DONE && service)
        printf("tavex-driver: removed the service " SERVICE_NAME " and %s\n", target);
    return result;
}

static int status(void) {
    union {
        QUERY_SERVICE_CONFIGA config;
        char bytes[8192];
    } buffer;
    SERVICE_STATUS state;
    SC_HANDLE manager, service;
    DWORD needed = 0;
    int result = DONE;

    manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (!manager)
        return failed("cannot open the service manager");
    service = OpenServiceA(manager, SERVICE_NAME, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    if (!service) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            printf("tavex-driver: the service " SERVICE_NAME " is not installed\n");
            result = NOT_INSTALLED;
        } else {
            result = failed("cannot open the service " SERVICE_NAME);
        }
    } else {
        if (!QueryServiceStatus(service, &state) ||
            !QueryServiceConfigA(service, &buffer.config, sizeof buffer, &needed))
            result = failed("cannot query the service " SERVICE_NAME);
        else
            printf("tavex-driver: the service " SERVICE_NAME " is installed and %s, started %s, "
                   "from %s\n",
                   stateName(state.dwCurrentState),
                   buffer.config.dwStartType == SERVICE_DEMAND_START ? "on demand"
                   : buffer.config.dwStartType == SERVICE_DISABLED   ? "never (disabled)"
                                                                     : "at boot or system start",
                   buffer.config.lpBinaryPathName ? buffer.config.lpBinaryPathName : "?");
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return result;
}

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "install") == 0)
        return install(NULL);
    if (argc == 3 && strcmp(argv[1], "install") == 0)
        return install(argv[2]);
    if (argc == 2 && strcmp(argv[1], "remove") == 0)
        return removeDriver();
    if (argc == 2 && strcmp(argv[1], "status") == 0)
        return status();
    fprintf(stderr, "usage: tavex-driver install [driver file] | remove | status\n");
    return USAGE;
}
