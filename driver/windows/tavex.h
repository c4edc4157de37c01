/*
 * What the parts of tavex.sys share.
 */
#ifndef TAVEX_DRIVER_TAVEX_H
#define TAVEX_DRIVER_TAVEX_H

#include <ntifs.h>

/* Every refusal goes to the kernel debug output, with the request and the
 * reason. */
#define TAVEX_REPORT(...) DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "tavex: " __VA_ARGS__)

/* Whether the process that sent a device control request may use the
 * handle it came through: only the process that opened it, with read and
 * write data access, may (a handle inherited by a child or duplicated
 * into another process is refused).  STATUS_SUCCESS, or the status to
 * complete the request with; the refusal is reported. */
NTSTATUS TavexCheckCaller(PIRP irp, PIO_STACK_LOCATION stack);

#endif
