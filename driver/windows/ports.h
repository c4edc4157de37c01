/*
 * The port requests of tavex.sys: single reads and writes and short lists of
 * them, each checked against the ports the library's boards decode (ports.c).
 * The request layouts are in src/platform/PortRequest.h, which the library
 * reads too.
 */
#ifndef TAVEX_DRIVER_PORTS_H
#define TAVEX_DRIVER_PORTS_H

#include <ntifs.h>

#include "pci.h"

/* The PCI boards' I/O windows a handle keeps. */
#define PORT_WINDOWS 4

/* A handle's own configuration registers: what it last wrote to them,
 * which selects the function its data accesses reach (ports.c). */
typedef struct PortState {
    ULONG address; /* mechanism #1: the double word last written to 0xCF8 */
    UCHAR enable;  /* mechanism #2: the byte last written to 0xCF8 */
    UCHAR forward; /* and to 0xCFA */
    TAVEX_PCI_WINDOW windows[PORT_WINDOWS]; /* of served boards, last used */
    ULONG windowCount;
} PortState;

/* At load, before the device exists. */
void PortsInitialize(void);
/* For each new handle. */
void PortsInitializeHandle(PortState* state);
/* Whether a control code is one of the port requests. */
BOOLEAN PortsIsRequest(ULONG code);
/* Answers one port request of a handle; fills irp->IoStatus.Information. */
NTSTATUS PortsRequest(PIRP irp, ULONG code, PortState* state, ULONG inSize, ULONG outSize);

#endif
