"""The simulated PC: tavex.sim.Machine and its board models.

    with tavex.sim.Machine() as machine:
        board = tavex.sim.AC5Board(machine, 0x300)
        ...

Every sleep of the library advances the machine's virtual clock instead of
waiting; board models answer as the real boards do and show their field
side (input lines, encoders, racks, stations, slaves) to the test.
"""

from tavex._tavex.sim import (
    PLATFORM_WIN32_NT,
    PLATFORM_WIN32_WINDOWS,
    AB1784KTxBoard,
    AC5Board,
    AC28Board,
    BiosDataArea,
    Board,
    DigitalPort,
    GEMicroGENIBoard,
    GEPCIMBoard,
    Machine,
    ParallelPortBoard,
    PC7166Board,
    PCI72xxBoard,
    PCIFunction,
    PCIHostBridge,
    Region,
    SST5136PFBBoard,
)

__all__ = [
    "AB1784KTxBoard",
    "AC5Board",
    "AC28Board",
    "BiosDataArea",
    "Board",
    "DigitalPort",
    "GEMicroGENIBoard",
    "GEPCIMBoard",
    "Machine",
    "PLATFORM_WIN32_NT",
    "PLATFORM_WIN32_WINDOWS",
    "ParallelPortBoard",
    "PC7166Board",
    "PCI72xxBoard",
    "PCIFunction",
    "PCIHostBridge",
    "Region",
    "SST5136PFBBoard",
]
