/*
 * tavex.sys: the companion kernel driver of the Tavex library on Windows NT.
 *
 * It maps ranges of device memory (adapter RAM, PCI memory) into the process
 * that asks, and nothing else.  Two control codes, both buffered:
 *
 *   map    0x80002000  in:  16 bytes {address low, address high (0), length,
 *                           reserved}
 *                      out: the window's address in the requesting process,
 *                           4 bytes for a 32-bit process, 8 for a 64-bit one
 *   unmap  0x80002004  in:  that address, of the same size; no output
 *
 * and, for the processor's I/O ports, which a user-mode program on Windows
 * NT cannot reach by itself, the port requests of ports.c: a read, a write
 * and a short list of them, each for the ports of the library's boards
 * only.
 *
 * Unlike the raw port and memory drivers that map any range for any caller:
 *   - the device opens to Administrators and SYSTEM only;
 *   - a range that overlaps system RAM, as the physical memory list under
 *     HKLM\HARDWARE\RESOURCEMAP says, is refused; when that list cannot be
 *     read, every range is refused;
 *   - a window belongs to the handle (file object) that asked for it; only
 *     that handle can unmap it, and closing the handle unmaps every window it
 *     still has, so a client that dies leaves nothing mapped;
 *   - every refusal is reported on the kernel debug output.
 *
 * The test build (TAVEX_STANDIN_BASE and TAVEX_STANDIN_SIZE defined) maps a
 * paged section that stands in for that one physical range instead of
 * \Device\PhysicalMemory, for systems that have no physical memory to give
 * (Wine).  Everything else is the same code.
 *
 * Every kernel function called here is exported by ntoskrnl.exe since
 * Windows XP (x86) and Windows XP x64 / Server 2003 SP1 (x64); the build
 * checks the import list against that set (imports.txt).
 */
#include <ntifs.h>

#include "ports.h"

/* Pool tag "Tavx" as pool tools show it. */
#define TAVEX_TAG 0x78766154UL

/* Device type 0x8000, functions 0x800 and 0x801, buffered, any access. */
#define TAVEX_DEVICE_TYPE 0x8000
#define TAVEX_MAP ((ULONG)CTL_CODE(TAVEX_DEVICE_TYPE, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS))
#define TAVEX_UNMAP ((ULONG)CTL_CODE(TAVEX_DEVICE_TYPE, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS))

#ifndef PROCESS_VM_OPERATION
#define PROCESS_VM_OPERATION 0x0008
#endif

/* The ranges a request may name lie below 4 GiB. */
#define ADDRESS_LIMIT 0x100000000ULL

/* The longest physical memory list read from the registry; a real one
 * holds a few dozen descriptors. */
#define MAX_LIST_BYTES 0x10000

#define report(...) DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "tavex: " __VA_ARGS__)

typedef struct MapRequest {
    ULONG addressLow;
    ULONG addressHigh;
    ULONG length;
    ULONG reserved;
} MapRequest;

/* One window: the view in the process that asked, and the address handed
 * out (the view's base plus the request's offset into its first page). */
typedef struct Mapping {
    LIST_ENTRY link;
    PEPROCESS process; /* referenced */
    PVOID view;
    ULONG_PTR window;
} Mapping;

/* What a handle (file object) holds: FileObject->FsContext. */
typedef struct Handle {
    LIST_ENTRY mappings;
    PortState ports;
} Handle;

/* The section whose views are the windows: \Device\PhysicalMemory, or the
 * test build's stand-in for one physical range. */
typedef struct PhysicalSource {
    HANDLE section;
    ULONGLONG base;    /* physical address of the section's first byte */
    ULONGLONG end;     /* and of the first byte past it */
    ULONG granularity; /* where its views may start */
    ULONG protection;
} PhysicalSource;

#if defined(TAVEX_STANDIN_BASE)
/* Views of a paged section start on 64 KiB of it: so does the range. */
typedef char standInOn64KiB[TAVEX_STANDIN_BASE % 0x10000 == 0 ? 1 : -1];
#endif

static PhysicalSource source;
static PDEVICE_OBJECT device;
static KMUTEX lock; /* guards every Handle's list */

static UNICODE_STRING deviceName = RTL_CONSTANT_STRING(L"\\Device\\tavex");
static UNICODE_STRING linkName = RTL_CONSTANT_STRING(L"\\DosDevices\\tavex");

/* ---- the section ------------------------------------------------------ */

static NTSTATUS openSource(void) {
    OBJECT_ATTRIBUTES attributes;
    NTSTATUS status;
#if defined(TAVEX_STANDIN_BASE) && defined(TAVEX_STANDIN_SIZE)
    LARGE_INTEGER size;
    size.QuadPart = TAVEX_STANDIN_SIZE;
    InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
    status = ZwCreateSection(&source.section, SECTION_ALL_ACCESS, &attributes, &size,
                             PAGE_READWRITE, SEC_COMMIT, NULL);
    source.base = TAVEX_STANDIN_BASE;
    source.end = (ULONGLONG)TAVEX_STANDIN_BASE + TAVEX_STANDIN_SIZE;
    source.granularity = 0x10000;
    source.protection = PAGE_READWRITE;
    if (NT_SUCCESS(status))
        report("test build: a paged section stands in for 0x%I64X-0x%I64X\n", source.base,
               source.end - 1);
#else
    UNICODE_STRING name = RTL_CONSTANT_STRING(L"\\Device\\PhysicalMemory");
    InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL,
                               NULL);
    status = ZwOpenSection(&source.section, SECTION_MAP_READ | SECTION_MAP_WRITE, &attributes);
    source.base = 0;
    source.end = ADDRESS_LIMIT;
    source.granularity = PAGE_SIZE;
    /* Device memory: never cached, never merged. */
    source.protection = PAGE_READWRITE | PAGE_NOCACHE;
#endif
    if (!NT_SUCCESS(status))
        report("cannot open the physical memory section (0x%08lX)\n", status);
    return status;
}

/* ---- the physical memory list ------------------------------------------ */

/* The range of a memory descriptor; FALSE for other kinds of resource.
 * Sets *malformed for a large memory descriptor without exactly one size
 * flag. */
static BOOLEAN memoryRange(const CM_PARTIAL_RESOURCE_DESCRIPTOR* d, ULONGLONG* start,
                           ULONGLONG* length, BOOLEAN* malformed) {
    /* A large descriptor has the layout of a plain one; its length counts
     * in units its flags give. */
    *start = (ULONGLONG)d->u.Memory.Start.QuadPart;
    *length = d->u.Memory.Length;
    if (d->Type == CmResourceTypeMemory)
        return TRUE;
    if (d->Type != CmResourceTypeMemoryLarge)
        return FALSE;
    switch (d->Flags & (CM_RESOURCE_MEMORY_LARGE_40 | CM_RESOURCE_MEMORY_LARGE_48 |
                        CM_RESOURCE_MEMORY_LARGE_64)) {
    case CM_RESOURCE_MEMORY_LARGE_40:
        *length <<= 8;
        return TRUE;
    case CM_RESOURCE_MEMORY_LARGE_48:
        *length <<= 16;
        return TRUE;
    case CM_RESOURCE_MEMORY_LARGE_64:
        *length <<= 32;
        return TRUE;
    }
    *malformed = TRUE;
    return FALSE;
}

/* Whether [first, end) overlaps a memory range of a REG_RESOURCE_LIST of
 * size bytes.  STATUS_REGISTRY_CORRUPT when the list is cut short, holds
 * a large memory descriptor of no known size, or lists no memory at all
 * (no machine runs without RAM). */
static NTSTATUS listOverlaps(const UCHAR* data, ULONG size, ULONGLONG first, ULONGLONG end,
                             BOOLEAN* overlaps) {
    const ULONG fullHeader =
        FIELD_OFFSET(CM_FULL_RESOURCE_DESCRIPTOR, PartialResourceList.PartialDescriptors);
    const ULONG partialSize = sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR);
    ULONG lists, i, offset = FIELD_OFFSET(CM_RESOURCE_LIST, List);
    BOOLEAN malformed = FALSE, anyMemory = FALSE;

    *overlaps = FALSE;
    if (size < offset)
        return STATUS_REGISTRY_CORRUPT;
    lists = ((const CM_RESOURCE_LIST*)data)->Count;
    for (i = 0; i < lists; ++i) {
        const CM_FULL_RESOURCE_DESCRIPTOR* full;
        ULONG count, j;
        if (size - offset < fullHeader)
            return STATUS_REGISTRY_CORRUPT;
        full = (const CM_FULL_RESOURCE_DESCRIPTOR*)(data + offset);
        count = full->PartialResourceList.Count;
        offset += fullHeader;
        if (count > (size - offset) / partialSize)
            return STATUS_REGISTRY_CORRUPT;
        for (j = 0; j < count; ++j, offset += partialSize) {
            ULONGLONG start, length, last;
            if (!memoryRange((const CM_PARTIAL_RESOURCE_DESCRIPTOR*)(data + offset), &start, &length,
                             &malformed) ||
                length == 0)
                continue;
            anyMemory = TRUE;
            /* The range's last byte, saturated: a list that claims more
             * than exists still covers what it names. */
            last = start + (length - 1);
            if (last < start)
                last = ~0ULL;
            if (start < end && first <= last)
                *overlaps = TRUE;
        }
    }
    return malformed || !anyMemory ? STATUS_REGISTRY_CORRUPT : STATUS_SUCCESS;
}

/* Whether [first, end) overlaps system RAM, read afresh from the registry
 * at each request (the list is the kernel's; memory can be added while the
 * system runs).  Any failure to read or parse it is returned, and the
 * caller refuses. */
static NTSTATUS overlapsRam(ULONGLONG first, ULONGLONG end, BOOLEAN* overlaps) {
    UNICODE_STRING keyName = RTL_CONSTANT_STRING(
        L"\\Registry\\Machine\\HARDWARE\\RESOURCEMAP\\System Resources\\Physical Memory");
    UNICODE_STRING valueName = RTL_CONSTANT_STRING(L".Translated");
    OBJECT_ATTRIBUTES attributes;
    PKEY_VALUE_PARTIAL_INFORMATION value = NULL;
    HANDLE key;
    ULONG needed = 0;
    NTSTATUS status;

    InitializeObjectAttributes(&attributes, &keyName, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE,
                               NULL, NULL);
    status = ZwOpenKey(&key, KEY_QUERY_VALUE, &attributes);
    if (!NT_SUCCESS(status))
        return status;
    status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, NULL, 0, &needed);
    if (status == STATUS_BUFFER_TOO_SMALL || status == STATUS_BUFFER_OVERFLOW) {
        if (needed > FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data) + MAX_LIST_BYTES) {
            status = STATUS_REGISTRY_CORRUPT;
        } else {
            value = ExAllocatePoolWithTag(PagedPool, needed, TAVEX_TAG);
            status = value ? ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, value,
                                             needed, &needed)
                           : STATUS_INSUFFICIENT_RESOURCES;
        }
    } else if (NT_SUCCESS(status)) {
        status = STATUS_REGISTRY_CORRUPT; /* an empty value */
    }
    ZwClose(key);
    if (NT_SUCCESS(status))
        status = value->Type != REG_RESOURCE_LIST
                     ? STATUS_OBJECT_TYPE_MISMATCH
                     : listOverlaps(value->Data, value->DataLength, first, end, overlaps);
    if (value)
        ExFreePoolWithTag(value, TAVEX_TAG);
    return status;
}

/* ---- windows ------------------------------------------------------------ */

/* The size of an address in the process that sent the request. */
static ULONG addressSize(PIRP irp) {
#if defined(_WIN64)
    return IoIs32bitProcess(irp) ? 4 : 8;
#else
    (void)irp;
    return 4;
#endif
}

static NTSTATUS openProcess(PEPROCESS process, HANDLE* handle) {
    return ObOpenObjectByPointer(process, OBJ_KERNEL_HANDLE, NULL, PROCESS_VM_OPERATION, NULL,
                                 KernelMode, handle);
}

/* Unmaps a window from the process it was mapped into and forgets it.
 * Called with the lock held.  The process may be gone already; its views
 * went with it. */
static NTSTATUS release(Mapping* mapping) {
    HANDLE process;
    NTSTATUS status = openProcess(mapping->process, &process);
    if (NT_SUCCESS(status)) {
        status = ZwUnmapViewOfSection(process, mapping->view);
        ZwClose(process);
    }
    if (!NT_SUCCESS(status))
        report("could not unmap the window at %p (0x%08lX)\n", (PVOID)mapping->window, status);
    RemoveEntryList(&mapping->link);
    ObDereferenceObject(mapping->process);
    ExFreePoolWithTag(mapping, TAVEX_TAG);
    return status;
}

static void releaseAll(Handle* handle) {
    KeWaitForSingleObject(&lock, Executive, KernelMode, FALSE, NULL);
    while (!IsListEmpty(&handle->mappings))
        release(CONTAINING_RECORD(handle->mappings.Flink, Mapping, link));
    KeReleaseMutex(&lock, FALSE);
}

static NTSTATUS refuseMap(const MapRequest* r, const char* why, NTSTATUS status) {
    report("map 0x%08lX:%08lX length 0x%lX refused: %s (0x%08lX)\n", r->addressHigh,
           r->addressLow, r->length, why, status);
    return status;
}

/* Refuses physical memory [first, end) when it overlaps system RAM or
 * when the list of RAM cannot be read. */
static NTSTATUS refuseRam(const MapRequest* r, ULONGLONG first, ULONGLONG end) {
    BOOLEAN ram;
    NTSTATUS status = overlapsRam(first, end, &ram);
    if (!NT_SUCCESS(status))
        return refuseMap(r, "the physical memory list cannot be read", status);
    if (ram) {
        report("physical memory 0x%I64X-0x%I64X overlaps system RAM\n", first, end - 1);
        return refuseMap(r, "it would show system RAM", STATUS_CONFLICTING_ADDRESSES);
    }
    return STATUS_SUCCESS;
}

static NTSTATUS map(PIRP irp, Handle* handle, ULONG inSize, ULONG outSize) {
    const ULONG replySize = addressSize(irp);
    MapRequest request;
    ULONGLONG start, end, first, last, viewFirst;
    LARGE_INTEGER offset;
    SIZE_T viewSize;
    PVOID view = NULL;
    HANDLE process;
    Mapping* mapping;
    NTSTATUS status;

    if (inSize != sizeof request || outSize != replySize) {
        report("map refused: buffers of %lu and %lu bytes, not %lu and %lu\n", inSize, outSize,
               (ULONG)sizeof request, replySize);
        return STATUS_INVALID_BUFFER_SIZE;
    }
    RtlCopyMemory(&request, irp->AssociatedIrp.SystemBuffer, sizeof request);
    if (request.addressHigh != 0)
        return refuseMap(&request, "an address above 4 GiB", STATUS_INVALID_PARAMETER_2);
    if (request.length == 0)
        return refuseMap(&request, "zero length", STATUS_INVALID_PARAMETER_3);
    start = request.addressLow;
    end = start + request.length;
    if (end > ADDRESS_LIMIT)
        return refuseMap(&request, "the range wraps past 4 GiB", STATUS_INTEGER_OVERFLOW);

    /* A view shows whole pages, from where the section's views may start. */
    first = start & ~(ULONGLONG)(source.granularity - 1);
    last = ((end + PAGE_SIZE - 1) & ~(ULONGLONG)(PAGE_SIZE - 1)) - 1;
    status = refuseRam(&request, first, last + 1);
    if (!NT_SUCCESS(status))
        return status;
    if (first < source.base || last >= source.end)
        return refuseMap(&request, "outside the memory this driver maps",
                         STATUS_INVALID_PARAMETER_1);

    mapping = ExAllocatePoolWithTag(PagedPool, sizeof *mapping, TAVEX_TAG);
    if (!mapping)
        return refuseMap(&request, "no memory", STATUS_INSUFFICIENT_RESOURCES);
    mapping->process = IoGetRequestorProcess(irp);
    status = mapping->process ? openProcess(mapping->process, &process)
                              : STATUS_INVALID_DEVICE_REQUEST; /* no process sent it */
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(mapping, TAVEX_TAG);
        return refuseMap(&request, "the requesting process cannot be opened", status);
    }
    offset.QuadPart = (LONGLONG)(first - source.base);
    viewSize = (SIZE_T)(last + 1 - first);
    /* A 32-bit process gets a window below 2 GiB, which its 4-byte
     * addresses can carry. */
    status = ZwMapViewOfSection(source.section, process, &view, replySize == 4 ? 1 : 0, 0, &offset,
                                &viewSize, ViewUnmap, 0, source.protection);
    if (!NT_SUCCESS(status)) {
        ZwClose(process);
        ExFreePoolWithTag(mapping, TAVEX_TAG);
        return refuseMap(&request, "the view cannot be mapped", status);
    }
    /* Should the system start the view lower or end it later than asked,
     * what it shows beyond the pages checked above must not be RAM
     * either. */
    viewFirst = source.base + (ULONGLONG)offset.QuadPart;
    if (viewFirst < first || viewFirst + viewSize - 1 > last) {
        status = refuseRam(&request, viewFirst, viewFirst + viewSize);
        if (!NT_SUCCESS(status)) {
            ZwUnmapViewOfSection(process, view);
            ZwClose(process);
            ExFreePoolWithTag(mapping, TAVEX_TAG);
            return status;
        }
    }
    ZwClose(process);

    ObReferenceObject(mapping->process);
    mapping->view = view;
    mapping->window = (ULONG_PTR)view + (ULONG_PTR)(start - viewFirst);
    KeWaitForSingleObject(&lock, Executive, KernelMode, FALSE, NULL);
    InsertTailList(&handle->mappings, &mapping->link);
    KeReleaseMutex(&lock, FALSE);

    if (replySize == 4)
        *(ULONG*)irp->AssociatedIrp.SystemBuffer = (ULONG)mapping->window;
    else
        *(ULONG64*)irp->AssociatedIrp.SystemBuffer = mapping->window;
    irp->IoStatus.Information = replySize;
    return STATUS_SUCCESS;
}

static NTSTATUS unmap(PIRP irp, Handle* handle, ULONG inSize, ULONG outSize) {
    const ULONG requestSize = addressSize(irp);
    ULONG_PTR window;
    PLIST_ENTRY entry;
    NTSTATUS status = STATUS_NOT_MAPPED_VIEW;

    if (inSize != requestSize || outSize != 0) {
        report("unmap refused: buffers of %lu and %lu bytes, not %lu and 0\n", inSize, outSize,
               requestSize);
        return STATUS_INVALID_BUFFER_SIZE;
    }
    if (requestSize == 4)
        window = *(const ULONG*)irp->AssociatedIrp.SystemBuffer;
    else
        window = (ULONG_PTR)*(const ULONG64*)irp->AssociatedIrp.SystemBuffer;

    KeWaitForSingleObject(&lock, Executive, KernelMode, FALSE, NULL);
    for (entry = handle->mappings.Flink; entry != &handle->mappings; entry = entry->Flink) {
        Mapping* mapping = CONTAINING_RECORD(entry, Mapping, link);
        if (mapping->window == window) {
            status = release(mapping);
            break;
        }
    }
    KeReleaseMutex(&lock, FALSE);
    if (status == STATUS_NOT_MAPPED_VIEW)
        report("unmap %p refused: not a window of this handle (0x%08lX)\n", (PVOID)window, status);
    return status;
}

/* ---- dispatch ----------------------------------------------------------- */

static NTSTATUS complete(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI dispatchCreate(PDEVICE_OBJECT deviceObject, PIRP irp) {
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    Handle* handle = ExAllocatePoolWithTag(PagedPool, sizeof *handle, TAVEX_TAG);
    (void)deviceObject;
    irp->IoStatus.Information = 0;
    if (!handle)
        return complete(irp, STATUS_INSUFFICIENT_RESOURCES);
    InitializeListHead(&handle->mappings);
    PortsInitializeHandle(&handle->ports);
    file->FsContext = handle;
    return complete(irp, STATUS_SUCCESS);
}

/* The last handle to the file object is closed (by the client, or by the
 * system when the client ends): its windows go. */
static NTSTATUS NTAPI dispatchCleanup(PDEVICE_OBJECT deviceObject, PIRP irp) {
    Handle* handle = IoGetCurrentIrpStackLocation(irp)->FileObject->FsContext;
    (void)deviceObject;
    if (handle)
        releaseAll(handle);
    irp->IoStatus.Information = 0;
    return complete(irp, STATUS_SUCCESS);
}

static NTSTATUS NTAPI dispatchClose(PDEVICE_OBJECT deviceObject, PIRP irp) {
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    Handle* handle = file->FsContext;
    (void)deviceObject;
    if (handle) {
        /* A map that was still running when the last handle went. */
        releaseAll(handle);
        file->FsContext = NULL;
        ExFreePoolWithTag(handle, TAVEX_TAG);
    }
    irp->IoStatus.Information = 0;
    return complete(irp, STATUS_SUCCESS);
}

static NTSTATUS NTAPI dispatchDeviceControl(PDEVICE_OBJECT deviceObject, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    Handle* handle = stack->FileObject->FsContext;
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    NTSTATUS status;
    (void)deviceObject;

    irp->IoStatus.Information = 0;
    if (code == TAVEX_MAP && handle) {
        status = map(irp, handle, inSize, outSize);
    } else if (code == TAVEX_UNMAP && handle) {
        status = unmap(irp, handle, inSize, outSize);
    } else if (PortsIsRequest(code) && handle) {
        status = PortsRequest(irp, code, &handle->ports, inSize, outSize);
    } else {
        status = STATUS_INVALID_DEVICE_REQUEST;
        report("control code 0x%08lX refused: not one of this driver's (0x%08lX)\n", code, status);
    }
    return complete(irp, status);
}

/* ---- the device's security ------------------------------------------------ */

/* SYSTEM (S-1-5-18) and Administrators (S-1-5-32-544). */
typedef struct Sid2 {
    UCHAR Revision;
    UCHAR SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    ULONG SubAuthority[2];
} Sid2;
static Sid2 systemSid = {SID_REVISION, 1, {SECURITY_NT_AUTHORITY}, {18, 0}};
static Sid2 administratorsSid = {SID_REVISION, 2, {SECURITY_NT_AUTHORITY}, {32, 544}};

/* Whether a DACL grants access to SYSTEM and Administrators and to no one
 * else. */
static BOOLEAN onlySystemAndAdministrators(PACL dacl) {
    BOOLEAN system = FALSE, administrators = FALSE;
    ULONG i;
    for (i = 0; i < dacl->AceCount; ++i) {
        PACE_HEADER ace;
        PSID sid;
        if (!NT_SUCCESS(RtlGetAce(dacl, i, (PVOID*)&ace)))
            return FALSE;
        if (ace->AceType == ACCESS_DENIED_ACE_TYPE)
            continue;
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return FALSE;
        sid = &((PACCESS_ALLOWED_ACE)ace)->SidStart;
        if (RtlEqualSid(sid, &systemSid))
            system = TRUE;
        else if (RtlEqualSid(sid, &administratorsSid))
            administrators = TRUE;
        else
            return FALSE;
    }
    return system && administrators;
}

/* Gives the device a DACL that lets only SYSTEM and Administrators open
 * it, then reads the descriptor back and checks it.  Called before the
 * device is named to user mode and before it can be opened (it is still
 * initializing); on failure the driver does not load. */
static NTSTATUS restrictDevice(PDEVICE_OBJECT deviceObject) {
    ULONG aclBuffer[32];
    ULONG readBack[64];
    PACL acl = (PACL)aclBuffer;
    SECURITY_DESCRIPTOR descriptor;
    BOOLEAN present = FALSE, defaulted = FALSE;
    PACL dacl = NULL;
    HANDLE handle;
    ULONG needed = 0;
    NTSTATUS status;

    status = RtlCreateAcl(acl, sizeof aclBuffer, ACL_REVISION);
    if (NT_SUCCESS(status))
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, &systemSid);
    if (NT_SUCCESS(status))
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, &administratorsSid);
    if (NT_SUCCESS(status))
        status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    if (NT_SUCCESS(status))
        status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
    if (!NT_SUCCESS(status))
        return status;

    status = ObOpenObjectByPointer(deviceObject, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC | READ_CONTROL,
                                   NULL, KernelMode, &handle);
    if (!NT_SUCCESS(status))
        return status;
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
    if (NT_SUCCESS(status))
        status = ZwQuerySecurityObject(handle, DACL_SECURITY_INFORMATION, readBack, sizeof readBack,
                                       &needed);
    ZwClose(handle);
    if (NT_SUCCESS(status))
        status = RtlGetDaclSecurityDescriptor(readBack, &present, &dacl, &defaulted);
    if (NT_SUCCESS(status) && (!present || !dacl || !onlySystemAndAdministrators(dacl)))
        status = STATUS_INVALID_SECURITY_DESCR;
    return status;
}

/* ---- load and unload ---------------------------------------------------- */

static VOID NTAPI unload(PDRIVER_OBJECT driver) {
    (void)driver;
    IoDeleteSymbolicLink(&linkName);
    IoDeleteDevice(device);
    ZwClose(source.section);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    NTSTATUS status;
    (void)registryPath;

    KeInitializeMutex(&lock, 0);
    PortsInitialize();
    status = openSource();
    if (!NT_SUCCESS(status))
        return status;

    status = IoCreateDevice(driver, 0, &deviceName, TAVEX_DEVICE_TYPE, FILE_DEVICE_SECURE_OPEN,
                            FALSE, &device);
    if (!NT_SUCCESS(status)) {
        report("cannot create %wZ (0x%08lX)\n", &deviceName, status);
        ZwClose(source.section);
        return status;
    }
    status = restrictDevice(device);
    if (!NT_SUCCESS(status)) {
        report("cannot restrict %wZ to SYSTEM and Administrators (0x%08lX)\n", &deviceName, status);
    } else {
        status = IoCreateSymbolicLink(&linkName, &deviceName);
        if (!NT_SUCCESS(status))
            report("cannot create %wZ (0x%08lX)\n", &linkName, status);
    }
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        ZwClose(source.section);
        return status;
    }

    driver->MajorFunction[IRP_MJ_CREATE] = dispatchCreate;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatchCleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatchDeviceControl;
    driver->DriverUnload = unload;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
