/* PortRequest: the port requests of tavex.sys, in C, read by the driver and
 * by the library's Windows backend alike (the memory requests are in
 * DriverRequest.h).  All three are buffered and ask for read and write
 * access on the handle; every integer is little-endian.
 *
 *   read   0x8000E008  in:  one access, direction in;  out: 4 bytes, the
 *                      value read, zero-extended from its width
 *   write  0x8000E00C  in:  one access, direction out; no output
 *   list   0x8000E010  in:  1 to TAVEX_PORT_LIST_MAX accesses; out: 4 bytes
 *                      per access of direction in, the values in the order
 *                      of their accesses
 *
 * Sizes are checked exactly.  A list is checked whole against the driver's
 * allow list before its first access runs, and runs in order, with no other
 * request of the driver between its accesses. */
#ifndef TAVEX_SRC_PLATFORM_PORTREQUEST_H
#define TAVEX_SRC_PLATFORM_PORTREQUEST_H

/* Device type 0x8000, functions 0x802 to 0x804, buffered, read and write
 * access (FILE_READ_DATA | FILE_WRITE_DATA): the I/O manager refuses them
 * on a handle opened without both. */
#define TAVEX_PORT_READ 0x8000E008UL
#define TAVEX_PORT_WRITE 0x8000E00CUL
#define TAVEX_PORT_LIST 0x8000E010UL

#define TAVEX_PORT_IN 0
#define TAVEX_PORT_OUT 1

/* The longest list: an update of the widest track with room to spare. */
#define TAVEX_PORT_LIST_MAX 64

/* One access: a port, a width of 1, 2 or 4 bytes, a direction, and the
 * value to write (0 for a read). */
typedef struct TavexPortAccess {
    unsigned short port;
    unsigned char width;
    unsigned char direction;
    unsigned int value;
} TavexPortAccess;

typedef char TavexPortAccessIs8Bytes[sizeof(TavexPortAccess) == 8 ? 1 : -1];

#endif
