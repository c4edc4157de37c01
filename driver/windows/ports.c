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
 *   - configuration mechanisms #1 and #2: reads anywhere, and one write, to
 *     the 16-bit command register of a function with a served identity,
 *     traced through the address this handle last selected.
 *
 * Anything else is refused before any port is touched, with the reason on
 * the kernel debug output.  The served PCI identities and their base address
 * registers are pci.c's, the same table the memory requests use.  A list of accesses is checked whole first, then
 * run in order; one lock keeps the requests of all handles apart, so that
 * a list's address write and data access are never split by another.
 *
 * The test build (TAVEX_TEST_BUILD) runs the same checks over an array
 * that stands in for the port space, with pci.c's stand-in configuration
 * space behind both mechanisms.
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

#if defined(TAVEX_TEST_BUILD)

static UCHAR standIn[0x10000];
static ULONG standInAddress;
static UCHAR standInEnable, standInForward;

/* The command registers written, over pci.c's read-only configuration
 * space. */
#define MAX_COMMANDS 16
static struct {
    UCHAR bus, slot;
    USHORT value;
} standInCommands[MAX_COMMANDS];
static ULONG standInCommandCount;

static UCHAR standInConfigByte(UCHAR bus, UCHAR slot, ULONG at) {
    ULONG i, value;
    if ((at & ~1UL) == COMMAND_REGISTER)
        for (i = 0; i < standInCommandCount; ++i)
            if (standInCommands[i].bus == bus && standInCommands[i].slot == slot)
                return (UCHAR)(standInCommands[i].value >> 8 * (at & 1));
    TavexPciReadConfig(bus, slot >> 3, slot & 7, at & ~3UL, &value);
    return (UCHAR)(value >> 8 * (at & 3));
}

/* A configuration access of width bytes at offset (which may run past the
 * double word, as a misaligned access through the data ports does).  Of
 * writes, only the command register's are kept: the allow list lets no
 * other through. */
static ULONG standInConfig(UCHAR bus, UCHAR slot, ULONG offset, ULONG width, BOOLEAN write,
                           ULONG value) {
    ULONG i, read = 0;
    if (write) {
        if (offset != COMMAND_REGISTER || width != 2)
            return 0;
        for (i = 0; i < standInCommandCount; ++i)
            if (standInCommands[i].bus == bus && standInCommands[i].slot == slot)
                break;
        if (i == MAX_COMMANDS)
            return 0;
        standInCommands[i].bus = bus;
        standInCommands[i].slot = slot;
        standInCommands[i].value = (USHORT)value;
        if (i == standInCommandCount)
            ++standInCommandCount;
        return 0;
    }
    for (i = 0; i < width; ++i)
        read |= (ULONG)standInConfigByte(bus, slot, (offset + i) & 0xFF) << 8 * i;
    return read;
}

static ULONG standInAccess(USHORT port, ULONG width, BOOLEAN write, ULONG value) {
    ULONG i, read = 0;
    if (port == CONFIG_ADDRESS && width == 4) {
        if (write)
            standInAddress = value;
        return standInAddress;
    }
    if (port == CONFIG_ADDRESS && width == 1) {
        if (write)
            standInEnable = (UCHAR)value;
        return standInEnable;
    }
    if (port == CONFIG_FORWARD && width == 1) {
        if (write)
            standInForward = (UCHAR)value;
        return standInForward;
    }
    if (port == CONFIG_SELECT && width == 1 && write)
        return 0;
    if (port >= CONFIG_DATA && port <= CONFIG_DATA + 3 && (standInAddress & 0x80000000UL))
        return standInConfig((UCHAR)(standInAddress >> 16), (UCHAR)(standInAddress >> 8),
                             (standInAddress & 0xFC) + (port & 3), width, write, value);
    if (port >= WINDOW_FIRST && port <= WINDOW_LAST && (standInEnable & 0xF0))
        return standInConfig(standInForward, (UCHAR)((port >> 8 & 0x0F) << 3 | (standInEnable >> 1 & 7)),
                             port & 0xFF, width, write, value);
    for (i = 0; i < width; ++i) {
        USHORT at = (USHORT)(port + i);
        if (write)
            standIn[at] = (UCHAR)(value >> 8 * i);
        else
            read |= (ULONG)standIn[at] << 8 * i;
    }
    return read;
}

static ULONG portIn(USHORT port, ULONG width) { return standInAccess(port, width, FALSE, 0); }
static void portOut(USHORT port, ULONG width, ULONG value) {
    standInAccess(port, width, TRUE, value);
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

/* Why an access is refused, or NULL when it may run.  Updates the handle's
 * configuration state for an address write that may run. */
static const char* check(const TavexPortAccess* a, PortState* state) {
    const USHORT port = a->port;
    const ULONG width = a->width;
    const BOOLEAN write = a->direction == TAVEX_PORT_OUT;
    const ULONG end = (ULONG)port + width;

    /* Mechanism #1. */
    if (port == CONFIG_ADDRESS && width == 4) {
        if (write) {
            state->address = a->value;
            state->addressKnown = TRUE;
        }
        return NULL;
    }
    if (port >= CONFIG_DATA && end <= CONFIG_DATA + 4) {
        if (!write)
            return NULL;
        if (port != CONFIG_DATA || width != 2)
            return "a configuration write other than the 16-bit command register";
        if (!state->addressKnown || !(state->address & 0x80000000UL) ||
            (state->address & 0x7F0000FFUL) != COMMAND_REGISTER)
            return "a configuration write other than the 16-bit command register";
        if (!served((UCHAR)(state->address >> 16), (UCHAR)(state->address >> 8)))
            return "a configuration write to a function of no board the library serves";
        return NULL;
    }
    if (port == CONFIG_SELECT && width == 1) {
        if (!write)
            return "a read of the mechanism select register";
        return a->value <= 1 ? NULL : "a mechanism select other than 0 or 1";
    }
    /* Mechanism #2. */
    if (port == CONFIG_ADDRESS && width == 1) {
        if (write) {
            /* The key and a function, or 0; never a special cycle (bit 0). */
            if (a->value != 0 && (a->value & 0xF1) != 0xF0)
                return "an enable value other than 0 or a function with the key";
            state->enable = (UCHAR)a->value;
        }
        return NULL;
    }
    if (port == CONFIG_FORWARD && width == 1) {
        if (write)
            state->forward = (UCHAR)a->value;
        return NULL;
    }
    if (port >= WINDOW_FIRST && end <= WINDOW_LAST + 1UL) {
        UCHAR slot = (UCHAR)((port >> 8 & 0x0F) << 3 | (state->enable >> 1 & 7));
        if ((state->enable & 0xF0) != 0xF0)
            return "the configuration window while this handle has not enabled it";
        if (!write)
            return NULL;
        if ((port & 0xFF) != COMMAND_REGISTER || width != 2)
            return "a configuration write other than the 16-bit command register";
        if (!served(state->forward, slot))
            return "a configuration write to a function of no board the library serves";
        return NULL;
    }
    if (port >= 0xCF8 && port <= 0xCFF)
        return "a configuration register at a width the mechanisms do not use";
    if (inIsaBlock(port, width) || inWindow(port, width, state))
        return NULL;
    return "not a port of a board the library serves";
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
    PortState next;
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
    next = *state;
    why = check(&a, &next);
    if (!why) {
        *state = next;
        if (direction == TAVEX_PORT_IN) {
            ULONG value = portIn(a.port, a.width);
            RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &value, sizeof value);
        } else {
            portOut(a.port, a.width, a.value);
        }
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
    /* The whole list first, on a copy of the handle's state. */
    next = *state;
    for (i = 0; i < count && !why; ++i)
        why = check(&accesses[i], &next);
    if (!why) {
        *state = next;
        for (i = 0, reads = 0; i < count; ++i) {
            const TavexPortAccess* a = &accesses[i];
            if (a->direction == TAVEX_PORT_IN)
                values[reads++] = portIn(a->port, a->width);
            else
                portOut(a->port, a->width, a->value);
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
