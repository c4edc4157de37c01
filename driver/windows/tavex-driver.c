/*
 * tavex-driver: installs, removes and reports the Tavex kernel driver.
 *
 *   tavex-driver install [driver file]
 *       copies the driver (tavex.sys beside this program, unless a file is
 *       named) to %SystemRoot%\System32\drivers\tavex.sys and creates the
 *       kernel service "tavex", started on demand (the Tavex library starts
 *       it).  A service that is there already is stopped and updated.
 *       The file and its folder must be writable by Administrators and
 *       SYSTEM only (and owned by one of them): whoever else could write
 *       them could have the kernel load a driver of their choosing.  The
 *       file is opened once, inside the folder handle that was checked,
 *       and copied from that handle.
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
#include <aclapi.h>
#include <winternl.h>

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

/* Whether the account this program runs as is Wine's one user.  Wine keeps
 * no owners of its own: every file shows the Unix user who owns it as that
 * account, and an access list made from the Unix mode bits (world-writable
 * means Everyone may write).  There that account stands for the
 * Administrator who owns the system's files. */
static int isWineUser(PSID sid) {
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    HANDLE token;
    DWORD size = 0;
    int result = 0;
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") ||
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return 0;
    if (GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &size))
        result = EqualSid(sid, buffer.user.User.Sid);
    CloseHandle(token);
    return result;
}

/* SYSTEM, Administrators and TrustedInstaller (which owns the system's
 * own folders): the only accounts that may write a driver's file or its
 * folder. */
static int trusted(PSID sid) {
    static const WELL_KNOWN_SID_TYPE kinds[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid};
    static SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
    BYTE known[SECURITY_MAX_SID_SIZE];
    PSID installer = NULL;
    DWORD size;
    int i, result = 0;
    for (i = 0; i < 2; ++i) {
        size = sizeof known;
        if (CreateWellKnownSid(kinds[i], NULL, known, &size) && EqualSid(sid, known))
            return 1;
    }
    if (isWineUser(sid))
        return 1;
    if (AllocateAndInitializeSid(&nt, 6, 80, 956008885, 3418522649UL, 1831038044, 1853292631,
                                 2271478464UL, 0, 0, &installer)) {
        result = EqualSid(sid, installer);
        FreeSid(installer);
    }
    return result;
}

/* The rights with which someone could change what a file or folder
 * holds, or who may. */
#define WRITE_RIGHTS                                                                              \
    (FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | \
     GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED)

/* Whether only trusted accounts own and may write the object behind a
 * handle.  Writes what is wrong to why. */
static int onlyTrustedWrite(HANDLE handle, char* why, size_t size) {
    PSECURITY_DESCRIPTOR descriptor = NULL;
    PSID owner = NULL;
    PACL dacl = NULL;
    DWORD i, error;
    int result = 1;

    error = GetSecurityInfo(handle, SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, NULL,
                            &dacl, NULL, &descriptor);
    if (error != ERROR_SUCCESS) {
        snprintf(why, size, "its security cannot be read (error %lu)", (unsigned long)error);
        return 0;
    }
    if (!owner || !trusted(owner)) {
        snprintf(why, size, "its owner is not Administrators, SYSTEM or TrustedInstaller");
        result = 0;
    } else if (!dacl) {
        snprintf(why, size, "it has no access list: anyone may write it");
        result = 0;
    }
    for (i = 0; result && i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = NULL;
        if (!GetAce(dacl, i, (void**)&ace)) {
            snprintf(why, size, "its access list cannot be read");
            result = 0;
        } else if (ace->AceType == ACCESS_DENIED_ACE_TYPE || (ace->AceFlags & INHERIT_ONLY_ACE)) {
            continue; /* takes rights away, or concerns only what is created inside */
        } else if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            snprintf(why, size, "its access list holds an entry of kind %u", ace->AceType);
            result = 0;
        } else if ((((ACCESS_ALLOWED_ACE*)ace)->Mask & WRITE_RIGHTS) &&
                   !trusted(&((ACCESS_ALLOWED_ACE*)ace)->SidStart)) {
            snprintf(why, size, "its access list lets others than Administrators and SYSTEM "
                                "write it");
            result = 0;
        }
    }
    LocalFree(descriptor);
    return result;
}

/* Opens the driver file for reading, once, inside its folder, after
 * checking that only trusted accounts can write the folder and the file.
 * Neither can be renamed, deleted or written while the handles are open. */
static int openDriverFile(const char* path, HANDLE* file) {
    char folder[MAX_PATH], why[160];
    const char* name;
    WCHAR wideName[MAX_PATH];
    UNICODE_STRING unicodeName;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    HANDLE directory;
    NTSTATUS status;

    name = strrchr(path, '\\');
    if (!name || (size_t)(name - path) + 2 > sizeof folder) {
        fprintf(stderr, "tavex-driver: there is no driver file %s\n", path);
        return FAILED;
    }
    memcpy(folder, path, (size_t)(name - path) + 1);
    folder[name - path + 1] = '\0';
    ++name;
    directory = CreateFileA(folder, FILE_LIST_DIRECTORY | FILE_TRAVERSE | READ_CONTROL,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (directory == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "tavex-driver: there is no driver file %s\n", path);
        return FAILED;
    }
    if (!onlyTrustedWrite(directory, why, sizeof why)) {
        fprintf(stderr, "tavex-driver: refusing the driver in %s: %s; put it in a folder that "
                        "only Administrators and SYSTEM can write\n",
                folder, why);
        CloseHandle(directory);
        return FAILED;
    }
    if (!MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, MAX_PATH)) {
        CloseHandle(directory);
        return failed("cannot read the driver file's name");
    }
    RtlInitUnicodeString(&unicodeName, wideName);
    InitializeObjectAttributes(&attributes, &unicodeName, OBJ_CASE_INSENSITIVE, directory, NULL);
    status = NtCreateFile(file, GENERIC_READ | READ_CONTROL | SYNCHRONIZE, &attributes, &io, NULL,
                          0, FILE_SHARE_READ, FILE_OPEN,
                          FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
    CloseHandle(directory);
    if (status == (NTSTATUS)0xC0000034L /* object name not found */ ||
        status == (NTSTATUS)0xC0000033L /* object name invalid */) {
        fprintf(stderr, "tavex-driver: there is no driver file %s\n", path);
        return FAILED;
    }
    if (status < 0) {
        SetLastError(RtlNtStatusToDosError(status));
        return failed("cannot open the driver file");
    }
    if (!onlyTrustedWrite(*file, why, sizeof why)) {
        fprintf(stderr, "tavex-driver: refusing the driver %s: %s\n", path, why);
        CloseHandle(*file);
        return FAILED;
    }
    return DONE;
}

/* Copies what an open file holds to a path, replacing what is there. */
static int copyFrom(HANDLE from, const char* target) {
    char buffer[65536];
    DWORD got, put;
    int result = DONE;
    HANDLE to = CreateFileA(target, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            NULL);
    if (to == INVALID_HANDLE_VALUE)
        return failed("cannot copy the driver to the drivers folder");
    for (;;) {
        if (!ReadFile(from, buffer, sizeof buffer, &got, NULL)) {
            result = failed("cannot read the driver file");
            break;
        }
        if (got == 0)
            break;
        if (!WriteFile(to, buffer, got, &put, NULL) || put != got) {
            result = failed("cannot copy the driver to the drivers folder");
            break;
        }
    }
    if (!CloseHandle(to) && result == DONE)
        result = failed("cannot copy the driver to the drivers folder");
    if (result != DONE)
        DeleteFileA(target);
    return result;
}

static int install(const char* given) {
    char source[MAX_PATH], target[MAX_PATH];
    SC_HANDLE manager, service;
    HANDLE file;
    int result = DONE;

    if (underWow64()) {
        fprintf(stderr, "tavex-driver: this is the 32-bit installer on 64-bit Windows; use the "
                        "64-bit tavex-driver with the 64-bit " DRIVER_FILE "\n");
        return FAILED;
    }
    if (given) {
        DWORD length = GetFullPathNameA(given, sizeof source, source, NULL);
        if (length == 0 || length >= sizeof source)
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
    if (installedFile(target, sizeof target) != DONE)
        return FAILED;
    if (openDriverFile(source, &file) != DONE)
        return FAILED;

    manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (!manager) {
        CloseHandle(file);
        return failed("cannot open the service manager (run as Administrator)");
    }
    service = OpenServiceA(manager, SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (service && stop(service) != DONE)
        result = FAILED;
    else if (copyFrom(file, target) != DONE)
        result = FAILED;
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
    CloseHandle(file);
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
