"""Tavex: the I/O points of industrial boards in a PC, from Python.

Build a card for the board, build tracks (runs of points, one letter per
point) on it, and call update_inputs() and update_outputs() once per scan:

    import tavex
    from tavex import sim

    with sim.Machine() as machine:            # a simulated PC; leave it out on real hardware
        sim.AC5Board(machine, 0x300)
        card = tavex.AC5Card(base_io_port=0x300)
        buttons = tavex.IOTrack(card, 0, "IIIIIIII")
        buttons.update_inputs()
        print(buttons.values)                  # a numpy view, no copy

A track keeps its card alive, and a card the machine it was built on.
"""

from tavex._errors import DeviceError, Error, LogicError, PlantError, RangeError
from tavex._state import TrackState
from tavex._tavex import (
    AB1784Card,
    AC5Card,
    AC28Card,
    DummyCard,
    GEMicroGENI,
    GEPCIMCard,
    IOCard,
    IOPort,
    IOTrack,
    Opto22AC28Base,
    ParallelPort,
    PC7166Card,
    PCI72xxCard,
    PCIDevice,
    PhysicalMemory,
    Plant,
    PlantScan,
    SST5136PFBPCI,
    Scan,
    pci_devices,
    read_firmware_file,
    sleep,
)
from tavex import sim

__all__ = [
    "AB1784Card",
    "AC5Card",
    "AC28Card",
    "DeviceError",
    "DummyCard",
    "Error",
    "GEMicroGENI",
    "GEPCIMCard",
    "IOCard",
    "IOPort",
    "IOTrack",
    "LogicError",
    "Opto22AC28Base",
    "ParallelPort",
    "PC7166Card",
    "PCI72xxCard",
    "PCIDevice",
    "PhysicalMemory",
    "Plant",
    "PlantError",
    "PlantScan",
    "RangeError",
    "SST5136PFBPCI",
    "Scan",
    "TrackState",
    "pci_devices",
    "read_firmware_file",
    "sim",
    "sleep",
]
