"""Scenes of the simulated PC for the tests: a machine, installed for the
test, and each board at the address the demo plant gives it."""

import gc
import sys
from pathlib import Path
from typing import Iterator

import pytest

import tavex
from tavex import sim


@pytest.fixture
def machine() -> Iterator[sim.Machine]:
    # pytest keeps the last failure's traceback for post-mortem debugging,
    # and with it the cards of the failed test, which would keep their
    # machine installed.
    for name in ("last_type", "last_value", "last_traceback"):
        if hasattr(sys, name):
            delattr(sys, name)
    gc.collect()
    with sim.Machine() as m:
        yield m


def pattern(size: int, seed: int) -> bytes:
    return bytes((seed + i * 13 + (i >> 8)) & 0xFF for i in range(size))


def ktx_firmware(board: sim.AB1784KTxBoard, folder: Path) -> str:
    """Writes the three protocol files into folder and tells the board their
    bytes; returns the firmware path (ending with a separator)."""
    images = {"clrram.bin": pattern(48, 0x10), "loadpcl.bin": pattern(100, 0x20),
              "scanner.bin": pattern(2500, 0x30)}
    for name, data in images.items():
        (folder / name).write_bytes(data)
    board.set_protocol_images(images["clrram.bin"], images["loadpcl.bin"], images["scanner.bin"])
    return str(folder) + "/"


def pci_bridge(m: sim.Machine) -> sim.PCIHostBridge:
    bridge = sim.PCIHostBridge(m, sim.PCIHostBridge.Mechanism.MECHANISM1)
    bridge.add_function(0, 0, 0, 0x8086, 0x7190).set_class_code(0x06, 0x00)
    return bridge


def genius_channel(m: sim.Machine) -> sim.GEMicroGENIBoard:
    pcim = sim.GEPCIMBoard(m, 0x3E0, 2)
    channel = pcim.add_micro_geni(0x3E0, 0xD0000)
    channel.place_station(3, sim.GEMicroGENIBoard.INPUTS_AND_OUTPUTS)
    return channel


def profibus_master(m: sim.Machine) -> sim.SST5136PFBBoard:
    board = sim.SST5136PFBBoard(m, pci_bridge(m), 0, 12)
    board.power_up_running(online=True)
    board.add_slave(3, 2, 1)
    return board


__all__ = ["tavex"]
