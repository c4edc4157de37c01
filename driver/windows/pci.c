/*
 * PCI configuration space for tavex.sys: see pci.h.
 */
#include "pci.h"

#if defined(TAVEX_TEST_BUILD)
#include "standin.h"
#endif

/* The boards the library drives on the PCI bus, one row per identity they
 * show, and the BAR it reaches each through.  Nothing else on the bus is
 * ever mapped or given ports: every other function's BARs lead to device
 * registers (bus masters among them, through which any RAM can be reached).
 *   - SST5136PFBPCI, the 5136-PFB-PCI Profibus DP master: its 2 MiB of
 *     shared memory at memory BAR 0.
 *   - PCI72xxCard, the PCI-7248/7296 digital I/O boards: the groups' 8255
 *     registers at I/O BAR 2, 4 ports a group, 2 groups on a 7248 and 4 on
 *     a 7296.  The boards show their own identity, or that of their 9050
 *     bridge chip with the model in the subsystem IDs (subsystem vendor
 *     0x9999 counts as 4 groups unless the subsystem ID says 0x7248; so the
 *     0x7248 row comes first).
 * The span is what the card reaches from the BAR's base, not the BAR's
 * size: sizing a BAR means writing it, which would make a board that is in
 * use stop decoding for that moment.  A memory span is whole pages. */
static const TAVEX_PCI_IDENTITY identities[] = {
    {0x133D, 0x1000, TAVEX_PCI_ANY, TAVEX_PCI_ANY, 0, TAVEX_BAR_MEMORY, 0x200000, "5136-PFB-PCI"},
    {0x144A, 0x7248, TAVEX_PCI_ANY, TAVEX_PCI_ANY, 2, TAVEX_BAR_IO, 8, "PCI-7248"},
    {0x144A, 0x7296, TAVEX_PCI_ANY, TAVEX_PCI_ANY, 2, TAVEX_BAR_IO, 16, "PCI-7296"},
    {0x10B5, 0x9050, TAVEX_PCI_ANY, 0x7248, 2, TAVEX_BAR_IO, 8, "PCI-7248 (9050 bridge)"},
    {0x10B5, 0x9050, TAVEX_PCI_ANY, 0x7296, 2, TAVEX_BAR_IO, 16, "PCI-7296 (9050 bridge)"},
    {0x10B5, 0x9050, 0x9999, TAVEX_PCI_ANY, 2, TAVEX_BAR_IO, 16, "PCI-72xx (9050 bridge)"},
};

/* Configuration header offsets (type 0 header). */
#define CONFIG_ID 0x00          /* vendor ID, device ID */
#define CONFIG_HEADER 0x0C      /* header type in bits 16 to 23 */
#define CONFIG_BAR0 0x10        /* BARs 0 to 5 */
#define CONFIG_SUBSYSTEM 0x2C   /* subsystem vendor ID, subsystem ID */
#define HEADER_MULTIFUNCTION 0x80
#define HEADER_TYPE_MASK 0x7F

#define BAR_IO 0x1UL
#define BAR_MEMORY_TYPE 0x6UL   /* 0: 32 bits, 2: 64 bits, 1: below 1 MiB */
#define BAR_MEMORY_64 0x4UL

#if defined(TAVEX_TEST_BUILD)

/* The stand-in configuration space: the first 64 bytes (the header) of each
 * function; the rest reads 0. */
typedef struct StandInFunction {
    UCHAR bus, device, function;
    ULONG header[16];
} StandInFunction;

#define ID(vendor, device) ((ULONG)(vendor) | (ULONG)(device) << 16)
#define HEADER(type) ((ULONG)(type) << 16)

static const StandInFunction standIn[] = {
    {0, 0, 0, {ID(0x8086, 0x1237), 0x6, 0x06000002}},
    {0, 1, 0, {ID(0x8086, 0x7000), 0x7, 0x06010000, HEADER(HEADER_MULTIFUNCTION)}},
    {0, 1, 1, {ID(0x8086, 0x7010), 0x5, 0x01018000, 0, 0, 0, 0, 0,
               TAVEX_STANDIN_IDE_PORTS | BAR_IO}},
    {0, 2, 0, {ID(0x8086, 0x100E), 0x7, 0x02000003, 0, TAVEX_STANDIN_NIC_BAR, 0, 0, 0, 0, 0, 0,
               ID(0x8086, 0x001E)}},
    {0, 3, 0, {ID(0x133D, 0x1000), 0x2, 0x0C070000, 0, TAVEX_STANDIN_PFB_BAR, 0, 0, 0, 0, 0, 0,
               ID(0x133D, 0x1000)}},
    {0, 4, 0, {ID(0x144A, 0x7248), 0x1, 0x11800000, 0, 0, 0, TAVEX_STANDIN_7248_PORTS | BAR_IO,
               0, 0, 0, 0, ID(0x144A, 0x7248)}},
    {0, 5, 0, {ID(0x10B5, 0x9050), 0x1, 0x11800000, 0, 0xFE300000, 0,
               TAVEX_STANDIN_9050_PORTS | BAR_IO, 0, 0, 0, 0, ID(0x9999, 0x0001)}},
    {0, 6, 0, {ID(0x10B5, 0x9050), 0x1, 0x11800000, 0, 0xFE301000, 0,
               TAVEX_STANDIN_OTHER_9050_PORTS | BAR_IO, 0, 0, 0, 0, ID(0x10B5, 0x9050)}},
    {0, 7, 0, {ID(0x133D, 0x1000), 0x1, 0x0C070000, 0, TAVEX_STANDIN_IO_PFB_PORTS | BAR_IO, 0, 0,
               0, 0, 0, 0, ID(0x133D, 0x1000)}},
};

NTSTATUS TavexPciReadConfig(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG* value) {
    ULONG i;
    *value = 0xFFFFFFFFUL;
    if (bus > 255 || device > 31 || function > 7 || offset > 252 || offset % 4 != 0)
        return STATUS_INVALID_PARAMETER;
    if (bus != 0)
        return STATUS_DEVICE_DOES_NOT_EXIST;
    for (i = 0; i < sizeof standIn / sizeof standIn[0]; ++i) {
        const StandInFunction* f = &standIn[i];
        if (f->bus == bus && f->device == device && f->function == function) {
            *value = offset < sizeof f->header ? f->header[offset / 4] : 0;
            return STATUS_SUCCESS;
        }
    }
    return STATUS_NO_SUCH_DEVICE;
}

#else

/* Through the HAL, which takes its own lock around the configuration
 * mechanism (a driver that wrote 0xCF8 itself would race the system's own
 * accesses) and knows which mechanism the machine has.  A legacy driver has
 * no device stack to send IRP_MN_READ_CONFIG down. */
NTSTATUS TavexPciReadConfig(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG* value) {
    PCI_SLOT_NUMBER slot;
    ULONG got;
    *value = 0xFFFFFFFFUL;
    if (bus > 255 || device > 31 || function > 7 || offset > 252 || offset % 4 != 0)
        return STATUS_INVALID_PARAMETER;
    slot.u.AsULONG = 0;
    slot.u.bits.DeviceNumber = device;
    slot.u.bits.FunctionNumber = function;
    got = HalGetBusDataByOffset(PCIConfiguration, bus, slot.u.AsULONG, value, offset, 4);
    if (got == 0)
        return STATUS_DEVICE_DOES_NOT_EXIST;
    if (got != 4 || (offset == CONFIG_ID && (*value & 0xFFFF) == 0xFFFF)) {
        *value = 0xFFFFFFFFUL;
        return STATUS_NO_SUCH_DEVICE;
    }
    return STATUS_SUCCESS;
}

#endif

static BOOLEAN matches(ULONG wanted, ULONG found) {
    return wanted == TAVEX_PCI_ANY || wanted == found;
}

const TAVEX_PCI_IDENTITY* TavexPciIdentify(ULONG bus, ULONG device, ULONG function) {
    ULONG id, header, subsystem, i;
    if (!NT_SUCCESS(TavexPciReadConfig(bus, device, function, CONFIG_ID, &id)) ||
        (id & 0xFFFF) == 0xFFFF ||
        !NT_SUCCESS(TavexPciReadConfig(bus, device, function, CONFIG_HEADER, &header)) ||
        ((header >> 16) & HEADER_TYPE_MASK) != 0 ||
        !NT_SUCCESS(TavexPciReadConfig(bus, device, function, CONFIG_SUBSYSTEM, &subsystem)))
        return NULL;
    for (i = 0; i < sizeof identities / sizeof identities[0]; ++i) {
        const TAVEX_PCI_IDENTITY* row = &identities[i];
        if (row->vendor == (id & 0xFFFF) && row->device == id >> 16 &&
            matches(row->subsystemVendor, subsystem & 0xFFFF) &&
            matches(row->subsystem, subsystem >> 16))
            return row;
    }
    return NULL;
}

/* The address the identity's BAR decodes now, or FALSE when it does not
 * decode the identity's kind, is not assigned, or (memory) does not start
 * on a page. */
static BOOLEAN barBase(ULONG bus, ULONG device, ULONG function, const TAVEX_PCI_IDENTITY* identity,
                       ULONGLONG* base) {
    const ULONG offset = CONFIG_BAR0 + 4 * identity->bar;
    ULONG low, high = 0;
    if (identity->bar > 5 || !NT_SUCCESS(TavexPciReadConfig(bus, device, function, offset, &low)))
        return FALSE;
    if (identity->kind == TAVEX_BAR_IO) {
        if (!(low & BAR_IO))
            return FALSE;
        *base = low & ~0x3UL;
        /* x86 port space is 64 KiB. */
        return *base != 0 && *base + identity->span <= 0x10000;
    }
    if (low & BAR_IO)
        return FALSE;
    switch (low & BAR_MEMORY_TYPE) {
    case 0:
    case 2: /* below 1 MiB, an old kind */
        break;
    case BAR_MEMORY_64:
        if (identity->bar == 5 ||
            !NT_SUCCESS(TavexPciReadConfig(bus, device, function, offset + 4, &high)))
            return FALSE;
        break;
    default:
        return FALSE;
    }
    *base = (ULONGLONG)high << 32 | (low & ~0xFUL);
    return *base != 0 && *base % PAGE_SIZE == 0;
}

/* Whether function of bus/device answers with a served identity whose BAR
 * of that kind holds [first, end). */
static BOOLEAN windowOf(ULONG bus, ULONG device, ULONG function, TAVEX_BAR_KIND kind,
                        ULONGLONG first, ULONGLONG end, TAVEX_PCI_WINDOW* window) {
    const TAVEX_PCI_IDENTITY* identity = TavexPciIdentify(bus, device, function);
    ULONGLONG base;
    if (!identity || identity->kind != (UCHAR)kind ||
        !barBase(bus, device, function, identity, &base))
        return FALSE;
    if (first < base || end > base + identity->span || first >= end)
        return FALSE;
    window->identity = identity;
    window->bus = bus;
    window->device = device;
    window->function = function;
    window->base = base;
    window->span = identity->span;
    return TRUE;
}

BOOLEAN TavexPciFindWindow(TAVEX_BAR_KIND kind, ULONGLONG first, ULONGLONG end,
                           TAVEX_PCI_WINDOW* window) {
    ULONG bus, device, function, id, header;
    for (bus = 0; bus < 256; ++bus) {
        for (device = 0; device < 32; ++device) {
            NTSTATUS status = TavexPciReadConfig(bus, device, 0, CONFIG_ID, &id);
            if (status == STATUS_DEVICE_DOES_NOT_EXIST)
                break; /* no such bus */
            if (!NT_SUCCESS(status) || (id & 0xFFFF) == 0xFFFF)
                continue;
            if (windowOf(bus, device, 0, kind, first, end, window))
                return TRUE;
            if (!NT_SUCCESS(TavexPciReadConfig(bus, device, 0, CONFIG_HEADER, &header)) ||
                !((header >> 16) & HEADER_MULTIFUNCTION))
                continue;
            for (function = 1; function < 8; ++function)
                if (windowOf(bus, device, function, kind, first, end, window))
                    return TRUE;
        }
    }
    return FALSE;
}
