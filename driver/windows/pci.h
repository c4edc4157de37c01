/*
 * PCI configuration space as tavex.sys reads it: the served boards'
 * identities, and the windows of their base address registers, found afresh
 * at each request (a BAR moves when the system rebalances resources, and
 * nothing a user can write decides where it is).
 *
 * The real build reads configuration space through the HAL
 * (HalGetBusDataByOffset), which serialises with the system's own
 * configuration accesses; the test build (TAVEX_TEST_BUILD) reads a
 * stand-in array of functions instead, since Wine has no PCI bus.
 */
#ifndef TAVEX_DRIVER_PCI_H
#define TAVEX_DRIVER_PCI_H

#include <ntifs.h>

/* "No condition" in an identity's subsystem fields. */
#define TAVEX_PCI_ANY 0xFFFFFFFFUL

typedef enum TAVEX_BAR_KIND { TAVEX_BAR_MEMORY = 0, TAVEX_BAR_IO = 1 } TAVEX_BAR_KIND;

/* A board the library drives, as its PCI function shows itself, and the
 * one BAR the library reaches it through. */
typedef struct TAVEX_PCI_IDENTITY {
    USHORT vendor;
    USHORT device;
    ULONG subsystemVendor; /* or TAVEX_PCI_ANY */
    ULONG subsystem;       /* or TAVEX_PCI_ANY */
    UCHAR bar;             /* 0 to 5 */
    UCHAR kind;            /* TAVEX_BAR_KIND */
    ULONG span;            /* bytes from the BAR's base that the library reaches */
    const char* board;     /* for the debug output */
} TAVEX_PCI_IDENTITY;

/* One served function's window, as configuration space says now. */
typedef struct TAVEX_PCI_WINDOW {
    const TAVEX_PCI_IDENTITY* identity;
    ULONG bus, device, function;
    ULONGLONG base; /* the BAR's address, its flag bits cleared */
    ULONG span;     /* the identity's span */
} TAVEX_PCI_WINDOW;

/* Reads the configuration double word at offset (a multiple of 4, below
 * 256) of bus/device/function.  STATUS_NO_SUCH_DEVICE when no function
 * answers there (its vendor word reads 0xFFFF), STATUS_DEVICE_DOES_NOT_EXIST
 * when the bus is not there. */
NTSTATUS TavexPciReadConfig(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG* value);

/* The served identity of bus/device/function, or NULL when the function is
 * absent or not one of the library's boards.  The first row of the table
 * that matches wins. */
const TAVEX_PCI_IDENTITY* TavexPciIdentify(ULONG bus, ULONG device, ULONG function);

/* Whether [first, end) lies inside the window of a served function's BAR of
 * the given kind; fills *window with that function when it does.  Walks the
 * whole bus at each call: requests are rare, the walk is a few thousand
 * configuration reads at most. */
BOOLEAN TavexPciFindWindow(TAVEX_BAR_KIND kind, ULONGLONG first, ULONGLONG end,
                           TAVEX_PCI_WINDOW* window);

#endif
