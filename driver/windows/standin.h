/*
 * What the test build of tavex.sys stands in for, shared with the driver's
 * tests.  Wine has neither physical memory nor a PCI bus: the test build
 * maps paged sections where the real driver maps physical memory, and reads
 * a fixed array where the real one reads PCI configuration space.
 */
#ifndef TAVEX_DRIVER_STANDIN_H
#define TAVEX_DRIVER_STANDIN_H

/* Physical ranges backed by a paged section each: the first MiB (page 0,
 * conventional memory and the adapter area) and a 4 MiB stretch of PCI
 * memory holding two functions' BARs. */
#define TAVEX_STANDIN_LOW_BASE 0x0UL
#define TAVEX_STANDIN_LOW_SIZE 0x100000UL
#define TAVEX_STANDIN_PCI_BASE 0xFE000000UL
#define TAVEX_STANDIN_PCI_SIZE 0x400000UL

/* The stand-in configuration space (bus 0):
 *   00.0  host bridge 8086:1237
 *   01.0  ISA bridge 8086:7000, multi-function; 01.1 IDE 8086:7010, I/O BAR 4
 *   02.0  network adapter 8086:100E, memory BAR 0 (a bus master)
 *   03.0  5136-PFB-PCI 133D:1000, memory BAR 0, 2 MiB
 *   04.0  PCI-7248 144A:7248, I/O BAR 2
 *   05.0  9050 bridge board 10B5:9050, subsystem 9999:0001, I/O BAR 2
 *   06.0  9050 bridge board of another make, subsystem 10B5:9050, I/O BAR 2
 *   07.0  133D:1000 whose BAR 0 decodes I/O, not memory */
#define TAVEX_STANDIN_PFB_BAR 0xFE000000UL
#define TAVEX_STANDIN_PFB_SIZE 0x200000UL
#define TAVEX_STANDIN_NIC_BAR 0xFE200000UL
#define TAVEX_STANDIN_NIC_SIZE 0x20000UL
#define TAVEX_STANDIN_IDE_PORTS 0xC000UL
#define TAVEX_STANDIN_7248_PORTS 0xE000UL
#define TAVEX_STANDIN_9050_PORTS 0xE100UL
#define TAVEX_STANDIN_OTHER_9050_PORTS 0xE200UL
#define TAVEX_STANDIN_IO_PFB_PORTS 0xE300UL

#endif
