/*
 * The PCI functions and BIOS parallel port words of the test build
 * (tavex-test.sys), whose port space is an array: the driver builds its
 * stand-in configuration space from this table, and the driver tests read
 * it to know what they will find.  C, for both.
 */
#ifndef TAVEX_DRIVER_STANDIN_PORTS_H
#define TAVEX_DRIVER_STANDIN_PORTS_H

typedef struct StandInFunction {
    unsigned char bus;
    unsigned char slot; /* device * 8 + function */
    unsigned char headerType;
    unsigned char secondaryBus; /* of a bridge */
    unsigned short vendor, device;
    unsigned short subVendor, subSystem;
    unsigned int bar[6];
} StandInFunction;

/* I/O base address registers carry bit 0. */
#define STANDIN_PCI7248_PORTS 0xE000u
#define STANDIN_PCI7296_PORTS 0xE100u
#define STANDIN_NIC_PORTS 0xE200u
#define STANDIN_OTHER9050_PORTS 0xE300u

/* Bus 0: a host bridge; a PCI-7248; a bridge to bus 1, where a PCI-7296
 * shows its bridge chip's identity; a network card; a board with the same
 * bridge chip that is none of the library's; a Profibus master (memory
 * only).  Device numbers ascend on each bus, as the scan finds them. */
#define STANDIN_FUNCTIONS                                                                     \
    {                                                                                         \
        {0, 0x00, 0x00, 0, 0x8086, 0x1237, 0, 0, {0, 0, 0, 0, 0, 0}},                          \
        {0, 0x08, 0x00, 0, 0x144A, 0x7248, 0x144A, 0x7248,                                     \
         {0, 0, STANDIN_PCI7248_PORTS | 1, 0, 0, 0}},                                          \
        {0, 0x10, 0x01, 1, 0x8086, 0x244E, 0, 0, {0, 0, 0, 0, 0, 0}},                          \
        {1, 0x00, 0x00, 0, 0x10B5, 0x9050, 0x144A, 0x7296,                                     \
         {0xFEB00000, 0, STANDIN_PCI7296_PORTS | 1, 0, 0, 0}},                                 \
        {0, 0x18, 0x00, 0, 0x10EC, 0x8139, 0x10EC, 0x8139,                                     \
         {STANDIN_NIC_PORTS | 1, 0xFEA00000, 0, 0, 0, 0}},                                     \
        {0, 0x20, 0x00, 0, 0x10B5, 0x9050, 0x10B5, 0x1234,                                     \
         {0, 0, STANDIN_OTHER9050_PORTS | 1, 0, 0, 0}},                                        \
        {0, 0x28, 0x00, 0, 0x133D, 0x1000, 0x133D, 0x1000, {0xFE800000, 0, 0, 0, 0, 0}},       \
    }

/* The BIOS data area's LPT1 to LPT4 words: a parallel port card on the
 * PCI bus shows up as LPT2. */
#define STANDIN_LPT_WORDS {0x378, 0xE800, 0, 0}

#endif
