/*
 * Port I/O for the library, in the kernel: on Windows NT a user-mode in/out
 * faults unless something opened the I/O permission map, and on 64-bit
 * Windows nothing can.  So the library asks the driver for each access, and
 * the driver performs only the accesses that the library's own boards need:
 *
 *   - the register blocks of the ISA boards, at the base ports each board
 *     can be set to, byte wide (every ISA register the library touches is a
 *     byte);
 *   - the parallel ports 0x278, 0x378, 0x3BC and those the BIOS data area
 *     lists, three registers each;
 *   - the I/O register block of a PCI function with the identity of a board
 *     the library serves, at the base address register the board uses, as
 *     found in configuration space by the driver itself, byte wide;
 *   - configuration mechanisms #1 and #2, served by the driver over each
 *     handle's own registers: reads anywhere, and one write, to the 16-bit
 *     command register of a function with a served identity, as the
 *     handle's own address selects it.
 *
 * Anything else is refused before any port is touched, with the reason on
 * the kernel debug output.  The served PCI identities and their base
 * address registers are pci.c's, the same table the memory requests use.
 * A list of accesses is checked whole first, then run in order; one lock
 * keeps the requests of all handles apart, so that no other request's
 * accesses come between a list's.
 *
 * The test build (TAVEX_TEST_BUILD) runs the same checks over an array
 * that stands in for the port space, with pci.c's stand-in configuration
 * space behind both mechanisms and the command registers written kept
 * beside it.
 */
#include "ports.h"

#include "PortRequest.h"
#include "tavex.h"

#if defined(TAVEX_TEST_BUILD)
#include "standin.h"
#endif

#define report TAVEX_REPORT

#define COUNT(a) (sizeof(a) / sizeof((a)[0]))

/* ---- the boards ---------------------------------------------------------- */

/* An ISA board: the base ports it can be set to (every step from first to
 * last less the excepted ones, or the listed ones) and the width of its
 * register block. */
typedef struct IsaBoard {
    const char* name;
    USHORT first, last, step;
    const USHORT* except;
    ULONG exceptCount;
    USHORT width;
    const USHORT* bases; /* when not a range */
    ULONG baseCount;
} IsaBoard;

static const USHORT pc7166Bases[] = {0x220, 0x240, 0x250, 0x260, 0x300,
                                     0x310, 0x330, 0x340, 0x350, 0x360};
static const USHORT ac28Bases[] = {0x100, 0x140, 0x180, 0x280};
static const USHORT ac28ResetPorts[] = {0xE0, 0x1E0, 0x2E0, 0x3E0};
static const USHORT parallelBases[] = {0x278, 0x378, 0x3BC};
static const USHORT notAc5Bases[] = {0x270};
static const USHORT notPcimBases[] = {0x3B0, 0x3C0, 0x3D0, 0x3F0};

static const IsaBoard isaBoards[] = {
    /* AC5Card: three ports of a data and a control register. */
    {"AC5", 0x220, 0x3E0, 0x10, notAc5Bases, COUNT(notAc5Bases), 6, NULL, 0},
    /* PC7166Card: four channels of a data and a control register. */
    {"PC7166", 0, 0, 0, NULL, 0, 8, pc7166Bases, COUNT(pc7166Bases)},
    /* AC28Card: a port per bank, 64 banks; a brainboard's command port is
     * the port after its first bank's, so it stays inside. */
    {"AC28", 0, 0, 0, NULL, 0, 64, ac28Bases, COUNT(ac28Bases)},
    {"AC28 reset", 0, 0, 0, NULL, 0, 1, ac28ResetPorts, COUNT(ac28ResetPorts)},
    /* ParallelPort: data, status and control. */
    {"parallel port", 0, 0, 0, NULL, 0, 3, parallelBases, COUNT(parallelBases)},
    /* GEMicroGENI: a status and a control register.  The channel's ports
     * are set on the PCIM's switches to a 16-port boundary of the ISA
     * board range; the boundaries of the display adapters and the floppy
     * controller are left out. */
    {"PCIM channel", 0x200, 0x3F0, 0x10, notPcimBases, COUNT(notPcimBases), 2, NULL, 0},
};

/* ---- the port space --------------------------------------------------------- */

#define CONFIG_ADDRESS 0xCF8 /* #1: address; #2: enable */
#define CONFIG_FORWARD 0xCFA /* #2 */
#define CONFIG_SELECT 0xCFB  /* chipsets that have both choose here */
#define CONFIG_DATA 0xCFC    /* #1: to 0xCFF */
#define WINDOW_FIRST 0xC000  /* #2: to 0xCFFF */
#define WINDOW_LAST 0xCFFF
#define COMMAND_REGISTER 4

static KMUTEX portLock;
static USHORT lptWords[4]; /* the BIOS data area's LPT1 to LPT4 */

/* ---- the port space and configuration space -------------------------------- */

#if defined(TAVEX_TEST_BUILD)

static UCHAR standIn[0x10000];

static ULONG portIn(USHORT port, ULONG width) {
    ULONG i, value = 0;
    for (i = 0; i < width; ++i)
        value |= (ULONG)standIn[(USHORT)(port + i)] << 8 * i;
    return value;
}

static void portOut(USHORT port, ULONG width, ULONG value) {
    ULONG i;
    for (i = 0; i < width; ++i)
        standIn[(USHORT)(port + i)] = (UCHAR)(value >> 8 * i);
}

/* The command registers written, over pci.c's read-only stand-in. */
#define MAX_COMMANDS 16
static struct {
    UCHAR bus, slot;
    USHORT value;
} commands[MAX_COMMANDS];
static ULONG commandCount;

static ULONG commandSlot(UCHAR bus, UCHAR slot) {
    ULONG i;
    for (i = 0; i < commandCount; ++i)
        if (commands[i].bus == bus && commands[i].slot == slot)
            break;
    return i;
}

static ULONG configDword(UCHAR bus, UCHAR slot, ULONG offset) {
    ULONG value, i = commandSlot(bus, slot);
    TavexPciReadConfig(bus, slot >> 3, slot & 7, offset, &value);
    if (offset == COMMAND_REGISTER && i < commandCount)
        value = (value & 0xFFFF0000UL) | commands[i].value;
    return value;
}

static void writeCommand(UCHAR bus, UCHAR slot, USHORT value) {
    ULONG i = commandSlot(bus, slot);
    if (i == MAX_COMMANDS)
        return;
    commands[i].bus = bus;
    commands[i].slot = slot;
    commands[i].value = value;
    if (i == commandCount)
        ++commandCount;
}

static void readLptWords(void) {
    static const USHORT words[4] = TAVEX_STANDIN_LPT_WORDS;
    RtlCopyMemory(lptWords, words, sizeof lptWords);
}

#else

static ULONG portIn(USHORT port, ULONG width) {
    ULONG value = 0;
    if (width == 1) {
        UCHAR v;
        __asm__ __volatile__("inb %w1, %b0" : "=a"(v) : "Nd"(port));
        value = v;
    } else if (width == 2) {
        USHORT v;
        __asm__ __volatile__("inw %w1, %w0" : "=a"(v) : "Nd"(port));
        value = v;
    } else {
        __asm__ __volatile__("inl %w1, %0" : "=a"(value) : "Nd"(port));
    }
    return value;
}

static void portOut(USHORT port, ULONG width, ULONG value) {
    if (width == 1)
        __asm__ __volatile__("outb %b0, %w1" : : "a"((UCHAR)value), "Nd"(port));
    else if (width == 2)
        __asm__ __volatile__("outw %w0, %w1" : : "a"((USHORT)value), "Nd"(port));
    else
        __asm__ __volatile__("outl %0, %w1" : : "a"(value), "Nd"(port));
}

static ULONG configDword(UCHAR bus, UCHAR slot, ULONG offset) {
    ULONG value;
    TavexPciReadConfig(bus, slot >> 3, slot & 7, offset, &value);
    return value;
}

/* Through the HAL, like the reads. */
static void writeCommand(UCHAR bus, UCHAR slot, USHORT value) {
    PCI_SLOT_NUMBER number;
    number.u.AsULONG = 0;
    number.u.bits.DeviceNumber = slot >> 3;
    number.u.bits.FunctionNumber = slot & 7;
    HalSetBusDataByOffset(PCIConfiguration, bus, number.u.AsULONG, &value, COMMAND_REGISTER,
                          sizeof value);
}

/* The words are the BIOS's, written before the system started; a machine
 * that does not let the page be mapped keeps only the usual three ports. */
static void readLptWords(void) {
    PHYSICAL_ADDRESS address;
    USHORT* words;
    address.QuadPart = 0x408;
    words = MmMapIoSpace(address, sizeof lptWords, MmCached);
    if (!words) {
        report("the BIOS data area cannot be read: only the usual parallel ports are served\n");
        return;
    }
    RtlCopyMemory(lptWords, words, sizeof lptWords);
    MmUnmapIoSpace(words, sizeof lptWords);
}

#endif

/* ---- the configuration mechanisms -------------------------------------------- */

/* The registers of both mechanisms are the handle's own: an address or an
 * enable and forward value written is only remembered, and a data access
 * reaches the function they select through pci.c and the HAL, which
 * serialise with the system's own configuration accesses.  A program that
 * drove 0xCF8 and 0xCFC itself would race the system (and other programs):
 * its data write, checked against the function it had selected, could
 * land in whatever function another access selected in between.  So the
 * mechanism the library finds answers as mechanism #1 whatever the
 * chipset, and the mechanism select register is never written. */

static BOOLEAN isRegister(USHORT port, ULONG width) {
    return ((port == CONFIG_ADDRESS && (width == 4 || width == 1)) ||
            (port == CONFIG_FORWARD && width == 1) || (port == CONFIG_SELECT && width == 1));
}

/* Whether a data access reaches a function: which, and at what offset. */
static BOOLEAN selected(const TavexPortAccess* a, const PortState* s, UCHAR* bus, UCHAR* slot,
                        ULONG* offset) {
    if (a->port >= CONFIG_DATA && a->port <= CONFIG_DATA + 3) {
        if (!(s->address & 0x80000000UL))
            return FALSE;
        *bus = (UCHAR)(s->address >> 16);
        *slot = (UCHAR)(s->address >> 8);
        *offset = (s->address & 0xFC) + (a->port & 3);
    } else {
        if ((s->enable & 0xF0) != 0xF0)
            return FALSE;
        *bus = s->forward;
        *slot = (UCHAR)((a->port >> 8 & 0x0F) << 3 | (s->enable >> 1 & 7));
        *offset = a->port & 0xFF;
    }
    return TRUE;
}

/* A configuration access that check() let through. */
static ULONG configAccess(const TavexPortAccess* a, const PortState* s) {
    const ULONG mask = a->width == 4 ? 0xFFFFFFFFUL : (1UL << 8 * a->width) - 1;
    UCHAR bus, slot;
    ULONG offset;
    if (a->port == CONFIG_ADDRESS)
        return a->width == 4 ? s->address : s->enable;
    if (a->port == CONFIG_FORWARD)
        return s->forward;
    if (a->port == CONFIG_SELECT)
        return 0;
    if (!selected(a, s, &bus, &slot, &offset))
        return mask; /* no configuration cycle: the bus floats */
    if (a->direction == TAVEX_PORT_OUT) {
        writeCommand(bus, slot, (USHORT)a->value);
        return 0;
    }
    return configDword(bus, slot, offset & ~3UL) >> 8 * (offset & 3) & mask;
}

/* The handle's registers after a write to them. */
static void track(const TavexPortAccess* a, PortState* s) {
    if (a->direction != TAVEX_PORT_OUT)
        return;
    if (a->port == CONFIG_ADDRESS && a->width == 4)
        s->address = a->value;
    else if (a->port == CONFIG_ADDRESS)
        s->enable = (UCHAR)a->value;
    else if (a->port == CONFIG_FORWARD)
        s->forward = (UCHAR)a->value;
}

/* ---- the PCI boards --------------------------------------------------------- */

/* Whether the function at bus, slot has the identity of a board the
 * library serves. */
static BOOLEAN served(UCHAR bus, UCHAR slot) {
    return TavexPciIdentify(bus, slot >> 3, slot & 7) != NULL;
}

/* Whether a byte port lies in the I/O window of a served board.  The
 * windows this handle used are kept, and each is checked again against
 * its base address register at each access (one configuration read): a
 * board whose resources the system moved is no longer reached where it
 * was.  A port in none of them sends the driver over the whole bus. */
static BOOLEAN inWindow(USHORT port, ULONG width, PortState* state) {
    TAVEX_PCI_WINDOW found;
    ULONG i, bar;
    if (width != 1) /* the boards' registers are bytes */
        return FALSE;
    for (i = 0; i < state->windowCount; ++i) {
        const TAVEX_PCI_WINDOW* w = &state->windows[i];
        if (port < w->base || port >= w->base + w->span)
            continue;
        if (NT_SUCCESS(TavexPciReadConfig(w->bus, w->device, w->function,
                                          0x10 + 4 * w->identity->bar, &bar)) &&
            (bar & 1) && (bar & ~3UL) == w->base)
            return TRUE;
        state->windows[i] = state->windows[--state->windowCount];
        break;
    }
    if (!TavexPciFindWindow(TAVEX_BAR_IO, port, (ULONGLONG)port + width, &found))
        return FALSE;
    if (state->windowCount == PORT_WINDOWS)
        --state->windowCount;
    state->windows[state->windowCount++] = found;
    return TRUE;
}

/* ---- the checks --------------------------------------------------------------- */

static BOOLEAN inIsaBlock(USHORT port, ULONG width) {
    ULONG i, j;
    if (width != 1)
        return FALSE;
    for (i = 0; i < COUNT(isaBoards); ++i) {
        const IsaBoard* b = &isaBoards[i];
        if (b->bases) {
            for (j = 0; j < b->baseCount; ++j)
                if (port >= b->bases[j] && port < b->bases[j] + b->width)
                    return TRUE;
        } else {
            ULONG base, k;
            for (base = b->first; base <= b->last; base += b->step) {
                BOOLEAN excepted = FALSE;
                for (k = 0; k < b->exceptCount; ++k)
                    excepted = excepted || base == b->except[k];
                if (!excepted && port >= base && port < base + b->width)
                    return TRUE;
            }
        }
    }
    for (j = 0; j < COUNT(lptWords); ++j)
        if (lptWords[j] != 0 && port >= lptWords[j] && port < lptWords[j] + 3UL)
            return TRUE;
    return FALSE;
}

/* Why an access is refused, or NULL when it may run.  Keeps the PCI
 * windows it finds in the state. */
static const char* check(const TavexPortAccess* a, PortState* state) {
    const USHORT port = a->port;
    const ULONG width = a->width;
    const BOOLEAN write = a->direction == TAVEX_PORT_OUT;
    const ULONG end = (ULONG)port + width;
    UCHAR bus, slot;
    ULONG offset;

    if (isRegister(port, width)) {
        if (port == CONFIG_SELECT && !write)
            return "a read of the mechanism select register";
        if (port == CONFIG_SELECT && a->value > 1)
            return "a mechanism select other than 0 or 1";
        /* The key and a function, or 0; never a special cycle (bit 0). */
        if (port == CONFIG_ADDRESS && width == 1 && write && a->value != 0 &&
            (a->value & 0xF1) != 0xF0)
            return "an enable value other than 0 or a function with the key";
        return NULL;
    }
    if ((port >= CONFIG_DATA && end <= CONFIG_DATA + 4) ||
        (port >= WINDOW_FIRST && end <= WINDOW_LAST + 1UL)) {
        const BOOLEAN window = port >= WINDOW_FIRST;
        if (window && (state->enable & 0xF0) != 0xF0)
            return "the configuration window while this handle has not enabled it";
        if (window && (port & 3) + width > 4)
            return "an access across two configuration double words";
        if (!write)
            return NULL;
        if (width != 2 || !selected(a, state, &bus, &slot, &offset) ||
            offset != COMMAND_REGISTER || (!window && (state->address & 0x7F000000UL)))
            return "a configuration write other than the 16-bit command register";
        if (!served(bus, slot))
            return "a configuration write to a function of no board the library serves";
        return NULL;
    }
    if (port + width > 0xCF8 && port <= 0xCFF)
        return "a configuration register at a width the mechanisms do not use";
    if (inIsaBlock(port, width) || inWindow(port, width, state))
        return NULL;
    return "not a port of a board the library serves";
}

/* Runs an access that check() let through, and tracks what it wrote to
 * the configuration registers. */
static ULONG perform(const TavexPortAccess* a, PortState* state) {
    ULONG value = 0;
    const ULONG end = (ULONG)a->port + a->width;
    if (isRegister(a->port, a->width) || (a->port >= CONFIG_DATA && end <= CONFIG_DATA + 4) ||
        (a->port >= WINDOW_FIRST && end <= WINDOW_LAST + 1UL))
        value = configAccess(a, state);
    else if (a->direction == TAVEX_PORT_IN)
        value = portIn(a->port, a->width);
    else
        portOut(a->port, a->width, a->value);
    track(a, state);
    return value;
}

/* ---- the requests ----------------------------------------------------------------- */

BOOLEAN PortsIsRequest(ULONG code) {
    return code == TAVEX_PORT_READ || code == TAVEX_PORT_WRITE || code == TAVEX_PORT_LIST;
}

void PortsInitialize(void) {
    KeInitializeMutex(&portLock, 0);
#if defined(TAVEX_TEST_BUILD)
    report("test build: an array stands in for the port space\n");
#endif
    readLptWords();
}

void PortsInitializeHandle(PortState* state) { RtlZeroMemory(state, sizeof *state); }

static NTSTATUS refuse(const TavexPortAccess* a, const char* why, NTSTATUS status) {
    report("port %s 0x%04X, %u bytes, refused: %s (0x%08lX)\n",
           a->direction == TAVEX_PORT_OUT ? "write" : "read", a->port, a->width, why, status);
    return status;
}

/* The fields of an access, for a request that wants the direction given. */
static NTSTATUS wellFormed(const TavexPortAccess* a, ULONG direction) {
    if (a->width != 1 && a->width != 2 && a->width != 4)
        return refuse(a, "a width other than 1, 2 or 4", STATUS_INVALID_PARAMETER);
    if (a->direction != direction)
        return refuse(a, "the direction of another request", STATUS_INVALID_PARAMETER);
    if ((ULONG)a->port + a->width > 0x10000)
        return refuse(a, "past the end of the port space", STATUS_INVALID_PARAMETER);
    if (a->width < 4 && a->value >> 8 * a->width)
        return refuse(a, "a value wider than the access", STATUS_INVALID_PARAMETER);
    return STATUS_SUCCESS;
}

static NTSTATUS single(PIRP irp, ULONG code, PortState* state, ULONG inSize, ULONG outSize) {
    const ULONG direction = code == TAVEX_PORT_READ ? TAVEX_PORT_IN : TAVEX_PORT_OUT;
    const ULONG replySize = direction == TAVEX_PORT_IN ? 4 : 0;
    TavexPortAccess a;
    const char* why;
    NTSTATUS status;

    if (inSize != sizeof a || outSize != replySize) {
        report("port request refused: buffers of %lu and %lu bytes, not %lu and %lu\n", inSize,
               outSize, (ULONG)sizeof a, replySize);
        return STATUS_INVALID_BUFFER_SIZE;
    }
    RtlCopyMemory(&a, irp->AssociatedIrp.SystemBuffer, sizeof a);
    if (direction == TAVEX_PORT_IN && a.value != 0)
        return refuse(&a, "a read with a value", STATUS_INVALID_PARAMETER);
    status = wellFormed(&a, direction);
    if (!NT_SUCCESS(status))
        return status;

    KeWaitForSingleObject(&portLock, Executive, KernelMode, FALSE, NULL);
    why = check(&a, state);
    if (!why) {
        ULONG value = perform(&a, state);
        if (direction == TAVEX_PORT_IN)
            RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &value, sizeof value);
    }
    KeReleaseMutex(&portLock, FALSE);
    if (why)
        return refuse(&a, why, STATUS_ACCESS_DENIED);
    irp->IoStatus.Information = replySize;
    return STATUS_SUCCESS;
}

static NTSTATUS list(PIRP irp, PortState* state, ULONG inSize, ULONG outSize) {
    TavexPortAccess accesses[TAVEX_PORT_LIST_MAX];
    ULONG values[TAVEX_PORT_LIST_MAX];
    const ULONG count = inSize / sizeof accesses[0];
    ULONG i, reads = 0;
    PortState next;
    const char* why = NULL;
    NTSTATUS status;

    if (inSize == 0 || inSize % sizeof accesses[0] != 0 || count > TAVEX_PORT_LIST_MAX) {
        report("port list refused: %lu bytes in, not 1 to %u accesses of %lu\n", inSize,
               TAVEX_PORT_LIST_MAX, (ULONG)sizeof accesses[0]);
        return STATUS_INVALID_BUFFER_SIZE;
    }
    RtlCopyMemory(accesses, irp->AssociatedIrp.SystemBuffer, inSize);
    for (i = 0; i < count; ++i) {
        const TavexPortAccess* a = &accesses[i];
        if (a->direction == TAVEX_PORT_IN) {
            if (a->value != 0)
                return refuse(a, "a read with a value", STATUS_INVALID_PARAMETER);
            ++reads;
        }
        status = wellFormed(a, a->direction == TAVEX_PORT_IN ? TAVEX_PORT_IN : TAVEX_PORT_OUT);
        if (!NT_SUCCESS(status))
            return status;
    }
    if (outSize != 4 * reads) {
        report("port list refused: %lu bytes out for %lu reads\n", outSize, reads);
        return STATUS_INVALID_BUFFER_SIZE;
    }

    KeWaitForSingleObject(&portLock, Executive, KernelMode, FALSE, NULL);
    /* The whole list first, its register writes tracked on a copy of the
     * handle's state; then the list, on the state itself. */
    next = *state;
    for (i = 0; i < count && !why; ++i) {
        why = check(&accesses[i], &next);
        track(&accesses[i], &next);
    }
    if (!why) {
        RtlCopyMemory(state->windows, next.windows, sizeof next.windows);
        state->windowCount = next.windowCount;
        for (i = 0, reads = 0; i < count; ++i) {
            ULONG value = perform(&accesses[i], state);
            if (accesses[i].direction == TAVEX_PORT_IN)
                values[reads++] = value;
        }
    }
    KeReleaseMutex(&portLock, FALSE);
    if (why)
        return refuse(&accesses[i - 1], why, STATUS_ACCESS_DENIED);
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, values, 4 * reads);
    irp->IoStatus.Information = 4 * reads;
    return STATUS_SUCCESS;
}

NTSTATUS PortsRequest(PIRP irp, ULONG code, PortState* state, ULONG inSize, ULONG outSize) {
    if (code == TAVEX_PORT_LIST)
        return list(irp, state, inSize, outSize);
    return single(irp, code, state, inSize, outSize);
}
