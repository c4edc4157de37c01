/*
 * tavex.sys: the companion kernel driver of the Tavex library on Windows NT.
 *
 * It maps the device memory of the library's boards into the process that
 * asks, and nothing else.  Two control codes, both buffered:
 *
 *   map    0x80002000  in:  16 bytes {address low, address high (0), length,
 *                           reserved}
 *                      out: the window's address in the requesting process,
 *                           4 bytes for a 32-bit process, 8 for a 64-bit one
 *   unmap  0x80002004  in:  that address, of the same size; no output
 *
 * A driver that maps physical memory for a process is a key to the kernel
 * unless it maps only what its devices need, so:
 *   - a window is granted only when every page of it lies inside one of:
 *     the adapter area 0xA0000-0xFFFFF (ISA boards' memory), read and
 *     write; page 0 (the BIOS data area, where the parallel port's table
 *     is), read only; the memory BAR of a PCI function with the identity of
 *     a board the library drives (pci.c), exactly that BAR's window, found
 *     in configuration space at each request.  Firmware tables, interrupt
 *     controllers, flash controllers, PCIe configuration space and the
 *     registers of bus masters (through which any RAM is reached) are
 *     outside, and so refused;
 *   - a page of RAM is refused even inside those areas.  The RAM list is
 *     the kernel's (MmGetPhysicalMemoryRanges), taken at each request;
 *   - the device opens to Administrators and SYSTEM only, and only with
 *     read and write data access;
 *   - a handle belongs to the process that opened it: a request from any
 *     other process (a child that inherited the handle, a process it was
 *     duplicated into) is refused;
 *   - a window belongs to the handle that mapped it; only that handle
 *     unmaps it, and closing the handle unmaps every window it still has,
 *     once the view at the window's address is checked to be still the
 *     driver's;
 *   - every refusal is reported on the kernel debug output.
 *
 * The test build (TAVEX_TEST_BUILD) maps paged sections that stand in for a
 * few physical ranges instead of \Device\PhysicalMemory, reads a stand-in
 * configuration space (standin.h), and takes the RAM list from the
 * registry's resource map, which tests can write (the kernel's list cannot
 * be had under Wine).  Everything else is the same code.
 *
 * Every kernel function called here is exported by ntoskrnl.exe since
 * Windows XP (x86) and Windows XP x64 / Server 2003 SP1 (x64); the build
 * checks the import list against that set (imports.txt).  Those that some
 * kernels lack are looked up as the driver loads.
 */
#include <ntifs.h>

#include "pci.h"
#include "tavex.h"

#if defined(TAVEX_TEST_BUILD)
#include "standin.h"
#endif

/* Pool tag "Tavx" as pool tools show it. */
#define TAVEX_TAG 0x78766154UL

/* Device type 0x8000, functions 0x800 and 0x801, buffered, any access. */
#define TAVEX_DEVICE_TYPE 0x8000
#define TAVEX_MAP ((ULONG)CTL_CODE(TAVEX_DEVICE_TYPE, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS))
#define TAVEX_UNMAP ((ULONG)CTL_CODE(TAVEX_DEVICE_TYPE, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS))

#ifndef PROCESS_VM_OPERATION
#define PROCESS_VM_OPERATION 0x0008
#endif
#ifndef PROCESS_QUERY_INFORMATION
#define PROCESS_QUERY_INFORMATION 0x0400
#endif
#ifndef MEM_MAPPED
#define MEM_MAPPED 0x40000
#endif

/* The ranges a request may name lie below 4 GiB. */
#define ADDRESS_LIMIT 0x100000000ULL

/* The areas every PC has that the library's boards need. */
#define PAGE0_END 0x1000ULL
#define ADAPTER_FIRST 0xA0000ULL
#define ADAPTER_END 0x100000ULL

#define report TAVEX_REPORT

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
    SIZE_T viewSize;
    ULONG_PTR window;
} Mapping;

/* What a handle (file object) holds: FileObject->FsContext. */
typedef struct Handle {
    LIST_ENTRY mappings;
    PEPROCESS owner; /* the process that opened it; referenced */
} Handle;

/* A section whose views are the windows: \Device\PhysicalMemory, or one of
 * the test build's stand-ins for a physical range. */
typedef struct PhysicalSource {
    HANDLE section;
    ULONGLONG base;    /* physical address of the section's first byte */
    ULONGLONG end;     /* and of the first byte past it */
} PhysicalSource;

#if defined(TAVEX_TEST_BUILD)
/* Views of a paged section start on 64 KiB of it. */
#define SOURCE_GRANULARITY 0x10000UL
#define SOURCE_ATTRIBUTES 0
#define SOURCES 2
static const ULONGLONG standInRanges[SOURCES][2] = {
    {TAVEX_STANDIN_LOW_BASE, TAVEX_STANDIN_LOW_SIZE},
    {TAVEX_STANDIN_PCI_BASE, TAVEX_STANDIN_PCI_SIZE},
};
typedef char standInsOn64KiB[(TAVEX_STANDIN_LOW_BASE | TAVEX_STANDIN_PCI_BASE) % 0x10000 == 0 ? 1 : -1];
#else
#define SOURCE_GRANULARITY PAGE_SIZE
/* Device memory: never cached, never merged. */
#define SOURCE_ATTRIBUTES PAGE_NOCACHE
#define SOURCES 1
#endif

static PhysicalSource sources[SOURCES];
static PDEVICE_OBJECT device;
static KMUTEX lock; /* guards every Handle's list */

/* Looked up as the driver loads: some supported kernels lack the export. */
typedef struct ViewInformation { /* MEMORY_BASIC_INFORMATION */
    PVOID BaseAddress;
    PVOID AllocationBase;
    ULONG AllocationProtect;
    SIZE_T RegionSize;
    ULONG State;
    ULONG Protect;
    ULONG Type;
} ViewInformation;
typedef NTSTATUS(NTAPI* QueryVirtualMemoryFunction)(HANDLE process, PVOID address, ULONG kind,
                                                     PVOID information, SIZE_T size,
                                                     PSIZE_T returned);
static QueryVirtualMemoryFunction queryVirtualMemory;
#if !defined(TAVEX_TEST_BUILD)
typedef PPHYSICAL_MEMORY_RANGE(NTAPI* PhysicalMemoryRangesFunction)(VOID);
static PhysicalMemoryRangesFunction physicalMemoryRanges;
#endif

static UNICODE_STRING deviceName = RTL_CONSTANT_STRING(L"\\Device\\tavex");
static UNICODE_STRING linkName = RTL_CONSTANT_STRING(L"\\DosDevices\\tavex");

static PVOID systemRoutine(PCWSTR name) {
    UNICODE_STRING routine;
    RtlInitUnicodeString(&routine, name);
    return MmGetSystemRoutineAddress(&routine);
}

/* ---- the sections ------------------------------------------------------ */

static void closeSources(void) {
    ULONG i;
    for (i = 0; i < SOURCES; ++i)
        if (sources[i].section) {
            ZwClose(sources[i].section);
            sources[i].section = NULL;
        }
}

static NTSTATUS openSources(void) {
    OBJECT_ATTRIBUTES attributes;
    NTSTATUS status = STATUS_SUCCESS;
#if defined(TAVEX_TEST_BUILD)
    ULONG i;
    InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
    for (i = 0; i < SOURCES && NT_SUCCESS(status); ++i) {
        LARGE_INTEGER size;
        size.QuadPart = (LONGLONG)standInRanges[i][1];
        status = ZwCreateSection(&sources[i].section, SECTION_ALL_ACCESS, &attributes, &size,
                                 PAGE_READWRITE, SEC_COMMIT, NULL);
        sources[i].base = standInRanges[i][0];
        sources[i].end = standInRanges[i][0] + standInRanges[i][1];
        if (NT_SUCCESS(status))
            report("test build: a paged section stands in for 0x%I64X-0x%I64X\n", sources[i].base,
                   sources[i].end - 1);
    }
#else
    UNICODE_STRING name = RTL_CONSTANT_STRING(L"\\Device\\PhysicalMemory");
    InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL,
                               NULL);
    status = ZwOpenSection(&sources[0].section, SECTION_MAP_READ | SECTION_MAP_WRITE, &attributes);
    sources[0].base = 0;
    sources[0].end = ADDRESS_LIMIT;
#endif
    if (!NT_SUCCESS(status)) {
        report("cannot open the physical memory section (0x%08lX)\n", status);
        closeSources();
    }
    return status;
}

/* The section that shows all of [first, end), or NULL. */
static const PhysicalSource* sourceFor(ULONGLONG first, ULONGLONG end) {
    ULONG i;
    for (i = 0; i < SOURCES; ++i)
        if (sources[i].base <= first && end <= sources[i].end)
            return &sources[i];
    return NULL;
}

/* ---- the RAM list ------------------------------------------------------- */

#if defined(TAVEX_TEST_BUILD)
/* The longest physical memory list read from the registry; a real one
 * holds a few dozen descriptors. */
#define MAX_LIST_BYTES 0x10000

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

/* Whether [first, end) overlaps system RAM as the registry's resource map
 * lists it, read afresh at each request; the tests write that list.  Any
 * failure to read or parse it is returned, and the caller refuses. */
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

#else

/* Whether [first, end) overlaps system RAM as the kernel's own list says,
 * taken afresh at each request (memory can be added while the system
 * runs).  A list that cannot be had refuses the request. */
static NTSTATUS overlapsRam(ULONGLONG first, ULONGLONG end, BOOLEAN* overlaps) {
    PPHYSICAL_MEMORY_RANGE ranges = physicalMemoryRanges();
    ULONG i;
    *overlaps = FALSE;
    if (!ranges)
        return STATUS_INSUFFICIENT_RESOURCES;
    /* The list ends with an empty range. */
    for (i = 0; ranges[i].BaseAddress.QuadPart != 0 || ranges[i].NumberOfBytes.QuadPart != 0;
         ++i) {
        ULONGLONG start = (ULONGLONG)ranges[i].BaseAddress.QuadPart;
        ULONGLONG length = (ULONGLONG)ranges[i].NumberOfBytes.QuadPart;
        ULONGLONG last = start + (length - 1);
        if (last < start)
            last = ~0ULL; /* saturated */
        if (length != 0 && start < end && first <= last)
            *overlaps = TRUE;
    }
    ExFreePool(ranges);
    return STATUS_SUCCESS;
}

#endif

/* ---- the allow list ------------------------------------------------------ */

static NTSTATUS refuseMap(const MapRequest* r, const char* why, NTSTATUS status) {
    report("map 0x%08lX:%08lX length 0x%lX refused: %s (0x%08lX)\n", r->addressHigh,
           r->addressLow, r->length, why, status);
    return status;
}

/* Whether the physical pages [first, end) may be shown, and how: all of
 * them inside one allowed area and none of them RAM.  Sets *protection to
 * the view's page protection. */
static NTSTATUS allowed(const MapRequest* r, ULONGLONG first, ULONGLONG end, ULONG* protection) {
    TAVEX_PCI_WINDOW board;
    BOOLEAN ram;
    NTSTATUS status;

    if (end <= PAGE0_END) {
        *protection = PAGE_READONLY; /* the BIOS data area: read only */
    } else if (ADAPTER_FIRST <= first && end <= ADAPTER_END) {
        *protection = PAGE_READWRITE;
    } else if (TavexPciFindWindow(TAVEX_BAR_MEMORY, first, end, &board)) {
        *protection = PAGE_READWRITE;
    } else {
        report("physical memory 0x%I64X-0x%I64X is neither page 0, nor the adapter area, nor "
               "the memory of a board this driver serves\n",
               first, end - 1);
        return refuseMap(r, "outside the memory this driver maps", STATUS_INVALID_PARAMETER_1);
    }
    status = overlapsRam(first, end, &ram);
    if (!NT_SUCCESS(status))
        return refuseMap(r, "the physical memory list cannot be read", status);
    if (ram) {
        report("physical memory 0x%I64X-0x%I64X overlaps system RAM\n", first, end - 1);
        return refuseMap(r, "it would show system RAM", STATUS_CONFLICTING_ADDRESSES);
    }
    *protection |= SOURCE_ATTRIBUTES;
    return STATUS_SUCCESS;
}

/* ---- the caller ----------------------------------------------------------- */

NTSTATUS TavexCheckCaller(PIRP irp, PIO_STACK_LOCATION stack) {
    const Handle* handle = stack->FileObject->FsContext;
    PEPROCESS requestor = IoGetRequestorProcess(irp);
    if (!handle) {
        report("request 0x%08lX refused: the handle was not opened through this driver\n",
               stack->Parameters.DeviceIoControl.IoControlCode);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (!requestor || requestor != handle->owner) {
        report("request 0x%08lX refused: process %p did not open this handle (process %p did)\n",
               stack->Parameters.DeviceIoControl.IoControlCode,
               requestor ? PsGetProcessId(requestor) : NULL, PsGetProcessId(handle->owner));
        return STATUS_ACCESS_DENIED;
    }
    return STATUS_SUCCESS;
}

/* Whether an open asks for reading and writing data, in specific or
 * generic rights. */
static BOOLEAN readsAndWrites(ACCESS_MASK access) {
    return (access & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) != 0 &&
           (access & (FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL)) != 0;
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
    return ObOpenObjectByPointer(process, OBJ_KERNEL_HANDLE, NULL,
                                 PROCESS_VM_OPERATION | PROCESS_QUERY_INFORMATION, NULL,
                                 KernelMode, handle);
}

/* Whether the view at the window's record is still the one this driver
 * mapped: the process may have unmapped it and put something else there.
 * Without the kernel's query, only a request from the process itself is
 * trusted (what it unmaps is its own business). */
static BOOLEAN stillOurs(HANDLE process, const Mapping* mapping) {
    ViewInformation view;
    SIZE_T returned = 0;
    if (!queryVirtualMemory)
        return IoGetCurrentProcess() == mapping->process;
    if (!NT_SUCCESS(queryVirtualMemory(process, mapping->view, 0 /* basic information */, &view,
                                       sizeof view, &returned)))
        return FALSE;
    return view.AllocationBase == mapping->view && view.BaseAddress == mapping->view &&
           view.Type == MEM_MAPPED && view.State == MEM_COMMIT &&
           view.RegionSize == mapping->viewSize;
}

/* Unmaps a window from the process it was mapped into and forgets it.
 * Called with the lock held.  The process may be gone already, and its
 * views with it; a view that is no longer the driver's is left alone. */
static NTSTATUS release(Mapping* mapping) {
    HANDLE process;
    NTSTATUS status = openProcess(mapping->process, &process);
    if (NT_SUCCESS(status)) {
        if (stillOurs(process, mapping)) {
            status = ZwUnmapViewOfSection(process, mapping->view);
        } else {
            report("the view at %p is no longer this driver's: left alone\n", mapping->view);
            status = STATUS_NOT_MAPPED_VIEW;
        }
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

static NTSTATUS map(PIRP irp, Handle* handle, ULONG inSize, ULONG outSize) {
    const ULONG replySize = addressSize(irp);
    MapRequest request;
    const PhysicalSource* source;
    ULONGLONG start, end, first, last, viewFirst;
    LARGE_INTEGER offset;
    SIZE_T viewSize;
    ULONG protection, viewProtection;
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
    first = start & ~(ULONGLONG)(SOURCE_GRANULARITY - 1);
    last = ((end + PAGE_SIZE - 1) & ~(ULONGLONG)(PAGE_SIZE - 1)) - 1;
    /* A view size of 0 means "to the end of the section": 4 GiB in a
     * 32-bit SIZE_T would be that. */
    if (last - first > (ULONGLONG)(SIZE_T)~(SIZE_T)0 - 1)
        return refuseMap(&request, "the view's size does not fit a SIZE_T",
                         STATUS_INVALID_VIEW_SIZE);
    status = allowed(&request, first, last + 1, &protection);
    if (!NT_SUCCESS(status))
        return status;
    source = sourceFor(first, last + 1);
    if (!source)
        return refuseMap(&request, "no stand-in section shows it (test build)",
                         STATUS_DEVICE_DOES_NOT_EXIST);

    mapping = ExAllocatePoolWithTag(PagedPool, sizeof *mapping, TAVEX_TAG);
    if (!mapping)
        return refuseMap(&request, "no memory", STATUS_INSUFFICIENT_RESOURCES);
    mapping->process = handle->owner;
    status = openProcess(mapping->process, &process);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(mapping, TAVEX_TAG);
        return refuseMap(&request, "the requesting process cannot be opened", status);
    }
    offset.QuadPart = (LONGLONG)(first - source->base);
    viewSize = (SIZE_T)(last + 1 - first);
    /* A 32-bit process gets a window below 2 GiB, which its 4-byte
     * addresses can carry. */
    status = ZwMapViewOfSection(source->section, process, &view, replySize == 4 ? 1 : 0, 0, &offset,
                                &viewSize, ViewUnmap, 0, protection);
    if (!NT_SUCCESS(status)) {
        ZwClose(process);
        ExFreePoolWithTag(mapping, TAVEX_TAG);
        return refuseMap(&request, "the view cannot be mapped", status);
    }
    /* Should the system start the view lower or end it later than asked,
     * what it shows beyond the pages checked above must pass the same
     * checks, with the same protection. */
    viewFirst = source->base + (ULONGLONG)offset.QuadPart;
    if (viewFirst < first || viewFirst + viewSize - 1 > last) {
        status = allowed(&request, viewFirst, viewFirst + viewSize, &viewProtection);
        if (NT_SUCCESS(status) && viewProtection != protection)
            status = refuseMap(&request, "the view would reach into another area",
                               STATUS_INVALID_PARAMETER_1);
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
    mapping->viewSize = viewSize;
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
    const PEPROCESS requestor = IoGetRequestorProcess(irp);
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
        if (mapping->window == window && mapping->process == requestor) {
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

/* A handle is bound to the process that opens it, and must be opened for
 * reading and writing data: one opened (or, on its way into another
 * process, duplicated) with less maps nothing. */
static NTSTATUS NTAPI dispatchCreate(PDEVICE_OBJECT deviceObject, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const PIO_SECURITY_CONTEXT security = stack->Parameters.Create.SecurityContext;
    PEPROCESS owner = IoGetRequestorProcess(irp);
    Handle* handle;
    (void)deviceObject;
    irp->IoStatus.Information = 0;
#if defined(TAVEX_TEST_BUILD)
    /* Wine's kernel passes no security context, so there the access
     * cannot be seen; Windows always passes one. */
    if (!security)
        report("open: no security context, the access is not checked (test build)\n");
    else
#endif
    if (!security || !readsAndWrites(security->DesiredAccess)) {
        const ACCESS_MASK access = security ? security->DesiredAccess : 0;
        report("open refused: access 0x%08lX does not read and write data\n", access);
        return complete(irp, STATUS_ACCESS_DENIED);
    }
    if (!owner) {
        report("open refused: no process sent it\n");
        return complete(irp, STATUS_ACCESS_DENIED);
    }
    handle = ExAllocatePoolWithTag(PagedPool, sizeof *handle, TAVEX_TAG);
    if (!handle)
        return complete(irp, STATUS_INSUFFICIENT_RESOURCES);
    InitializeListHead(&handle->mappings);
    ObReferenceObject(owner);
    handle->owner = owner;
    stack->FileObject->FsContext = handle;
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
        ObDereferenceObject(handle->owner);
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
    if (code != TAVEX_MAP && code != TAVEX_UNMAP) {
        status = STATUS_INVALID_DEVICE_REQUEST;
        report("control code 0x%08lX refused: not one of this driver's (0x%08lX)\n", code, status);
    } else if (!NT_SUCCESS(status = TavexCheckCaller(irp, stack))) {
        /* reported */
    } else if (code == TAVEX_MAP) {
        status = map(irp, handle, inSize, outSize);
    } else {
        status = unmap(irp, handle, inSize, outSize);
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
    closeSources();
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    NTSTATUS status;
    (void)registryPath;

    KeInitializeMutex(&lock, 0);
    queryVirtualMemory = (QueryVirtualMemoryFunction)systemRoutine(L"ZwQueryVirtualMemory");
    if (!queryVirtualMemory)
        report("this kernel does not export ZwQueryVirtualMemory: windows are unmapped only at "
               "their own process's request\n");
#if !defined(TAVEX_TEST_BUILD)
    /* Looked up, not imported: Wine's kernel only stubs it, and the test
     * build never calls it. */
    physicalMemoryRanges =
        (PhysicalMemoryRangesFunction)systemRoutine(L"MmGetPhysicalMemoryRanges");
    if (!physicalMemoryRanges) {
        report("this kernel does not export MmGetPhysicalMemoryRanges: not loading\n");
        return STATUS_PROCEDURE_NOT_FOUND;
    }
#endif
    status = openSources();
    if (!NT_SUCCESS(status))
        return status;

    status = IoCreateDevice(driver, 0, &deviceName, TAVEX_DEVICE_TYPE, FILE_DEVICE_SECURE_OPEN,
                            FALSE, &device);
    if (!NT_SUCCESS(status)) {
        report("cannot create %wZ (0x%08lX)\n", &deviceName, status);
        closeSources();
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
        closeSources();
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
