"""The library's errors as Python exceptions, with its texts."""

from typing import Callable

import pytest

import tavex
from tavex import sim
from conftest import genius_channel


@pytest.mark.parametrize("make, error, text", [
    (lambda: tavex.AC5Card(0x301), tavex.LogicError,
     "AC5 card: invalid base IO port number specified."),
    (lambda: tavex.IOTrack(tavex.AC5Card(0x300), 0, "IIII"), tavex.LogicError,
     "AC5 track can be only 8, 16 or 24 points long."),
    (lambda: tavex.IOTrack(tavex.DummyCard(), 0, ""), tavex.LogicError,
     "IOTrack must have at least one IO point."),
    (lambda: tavex.IOTrack(tavex.PC7166Card(0x340), 0, "CCCCC"), tavex.LogicError,
     "PC7166 only supports up to 4 encoders"),
    (lambda: tavex.AC28Card(0x100, 0xE1, True), tavex.LogicError,
     "AC28 card: invalid reset port number specified."),
    (lambda: tavex.PCI72xxCard(0), tavex.DeviceError, "PCI72xx: Card not found in the system."),
    (lambda: tavex.ParallelPort("LPT2"), tavex.LogicError,
     "ParallelPort: specified parallel port does not exists."),
    (lambda: tavex.AB1784Card(0xC8000, "", 0xFF), tavex.LogicError,
     "AB1784KTx: invalid link speed specified."),
    (lambda: tavex.SST5136PFBPCI("/x/", 6, 0), tavex.DeviceError,
     "SST-5136-PFB-PCI: Card not found in the system."),
    (lambda: tavex.IOTrack(tavex.DummyCard(), 0, "I\0I"), tavex.LogicError,
     "tavex.IOTrack: the letters hold a NUL character"),
])
def test_errors_carry_the_library_text(make: Callable[[], object], error: type, text: str,
                                       machine: sim.Machine) -> None:
    sim.BiosDataArea(machine).set_lpt_port(1, 0x378)
    with pytest.raises(error) as caught:
        make()
    assert str(caught.value) == text
    assert isinstance(caught.value, tavex.Error)


def test_genius_range_errors_are_index_errors(machine: sim.Machine) -> None:
    genius_channel(machine).place_station(5, 0)      # on the bus, not configured
    channel = tavex.GEMicroGENI(0x3E0, 0xD0000)
    with pytest.raises(IndexError) as caught:
        tavex.IOTrack(channel, 5, "IIIIIIII")
    assert str(caught.value) == "GEMicroGENI: station is not configured."
    assert type(caught.value) is tavex.RangeError


def test_the_python_types_of_the_errors() -> None:
    assert issubclass(tavex.LogicError, ValueError)
    assert issubclass(tavex.RangeError, IndexError)
    assert issubclass(tavex.DeviceError, OSError)
    assert issubclass(tavex.PlantError, OSError)
    assert all(issubclass(e, tavex.Error) for e in (tavex.LogicError, tavex.RangeError,
                                                    tavex.DeviceError, tavex.PlantError))


def test_board_model_indexes_are_checked(machine: sim.Machine) -> None:
    board = sim.AC5Board(machine, 0x300)
    with pytest.raises(IndexError, match="^Sim::AC5Board: no such port$"):
        board.set_input_line(3, 0, True)
    with pytest.raises(TypeError):
        board.set_input_lines(0, 256)                  # a byte: refused, not cut
