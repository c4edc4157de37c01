"""Every card driven from Python on its board model: a field input seen in
the track, a track output seen on the field side."""

from dataclasses import dataclass
from pathlib import Path
from typing import Any, Callable, List, Tuple

import pytest

import tavex
from tavex import sim
from conftest import genius_channel, ktx_firmware, pci_bridge, profibus_master

Scene = Any


@dataclass
class Case:
    name: str
    scene: Callable[[sim.Machine, Path], Scene]         # board models; returns what the checks need
    card: Callable[[Scene], tavex.IOCard]
    inputs: Tuple[int, str]
    field_input: Callable[[Scene], None]                 # puts something on the inputs
    expected: List[int]                                  # the input track's values then
    outputs: Tuple[int, str]
    written: List[int]
    field_output: Callable[[Scene], bool]                # the written outputs reached the field


def lpt_scene(m: sim.Machine, _: Path) -> sim.ParallelPortBoard:
    sim.BiosDataArea(m).set_lpt_port(1, 0x378)
    return sim.ParallelPortBoard(m, 0x378)


def ktx_scene(m: sim.Machine, folder: Path) -> Tuple[sim.AB1784KTxBoard, str]:
    board = sim.AB1784KTxBoard(m, 0xC8000)
    return board, ktx_firmware(board, folder)


def pci72xx_scene(m: sim.Machine, _: Path) -> sim.PCI72xxBoard:
    return sim.PCI72xxBoard(m, pci_bridge(m), 0, 11, 0, sim.PCI72xxBoard.Model.PCI7248, 0xE000)


CASES = [
    Case("AC5", lambda m, _: sim.AC5Board(m, 0x300),
         lambda b: tavex.AC5Card(base_io_port=0x300),
         (0, "IIIIIIII"), lambda b: b.set_input_line(0, 2, False), [0, 0, 1, 0, 0, 0, 0, 0],
         (1, "OOOOOOOO"), [1, 0, 0, 1, 0, 0, 0, 0],
         lambda b: b.output_on(1, 0) and b.output_on(1, 3) and not b.output_on(1, 1)),
    Case("PCI-7248", pci72xx_scene, lambda b: tavex.PCI72xxCard(card_index=0),
         (0, "IIIIIIIIOOOOOOOOIIIIOOOO"), lambda b: b.set_line_level(0, 2, False),
         [0, 0, 1] + [0] * 21,
         (0, "IIIIIIIIOOOOOOOOIIIIOOOO"), [0] * 8 + [1] + [0] * 15,
         lambda b: b.driven_levels(0, sim.PCI72xxBoard.Port.B) == 0xFE),
    Case("parallel port", lpt_scene, lambda b: tavex.ParallelPort(name="LPT1"),
         (0, "OOOOOOOOIIIIIIIII"),
         lambda b: b.set_pin_level(sim.ParallelPortBoard.status_pin(3), False),
         [0] * 12 + [1, 0, 0, 0, 0],
         (0, "OOOOOOOOIIIIIIIII"), [1, 0, 1] + [0] * 14,
         lambda b: not b.pin_level(2) and b.pin_level(3) and not b.pin_level(4)),
    Case("PC7166", lambda m, _: sim.PC7166Board(m, 0x340),
         lambda b: tavex.PC7166Card(base_io_port=0x340),
         (0, "CR"), lambda b: b.turn(0, 100).turn(1, 40), [100, -40],
         (2, "C"), [5000], lambda b: b.count(2) == 5000),
    Case("AC28", lambda m, _: sim.AC28Board(m, 0x100, 0xE0, True).place_digital(0, 2),
         lambda b: tavex.AC28Card(base_io_port=0x100, reset_port=0xE0, reset_level=True),
         (0, "IIIIIIII"), lambda b: b.set_input(0, 1, True), [0, 1, 0, 0, 0, 0, 0, 0],
         (1, "OOOOOOOO"), [1, 0, 0, 0, 0, 0, 0, 1], lambda b: b.outputs_on(1) == 0x81),
    Case("1784-KTx", ktx_scene,
         lambda s: tavex.AB1784Card(base_memory_address=0xC8000, firmware_path=s[1],
                                    link_speed=0xFE),
         (2, "IIIIIIII"), lambda s: s[0].set_inputs(2, 0x05), [1, 0, 1, 0, 0, 0, 0, 0],
         (3, "OOOOOOOO"), [1, 0, 0, 0, 0, 0, 0, 1], lambda s: s[0].output_image(3) == 0x81),
    Case("Genius", lambda m, _: genius_channel(m),
         lambda b: tavex.GEPCIMCard(0x3E0, 2).add_micro_geni(0x3E0, 0xD0000).channel_a,
         (3, "IIIIIIII"), lambda b: b.set_input(3, 1, True), [0, 1, 0, 0, 0, 0, 0, 0],
         (3, "IIIIIIIIOOOOOOOO"), [0] * 8 + [1, 1] + [0] * 6, lambda b: b.output_byte(3, 1) == 3),
    Case("Profibus", lambda m, _: profibus_master(m),
         lambda b: tavex.SST5136PFBPCI(module_prefix="/nowhere/", baud_rate=6,
                                       card_index=0).online(),
         (3 << 16, "IIIIIIII"), lambda b: b.set_input(3, 0, 0x82), [0, 1, 0, 0, 0, 0, 0, 1],
         (3 << 16, "OOOOOOOO"), [1, 1, 0, 0, 0, 0, 0, 0], lambda b: b.output(3, 0) == 3),
]


@pytest.mark.parametrize("case", CASES, ids=[c.name for c in CASES])
def test_card_reads_and_writes_its_board(case: Case, machine: sim.Machine,
                                         tmp_path: Path) -> None:
    scene = case.scene(machine, tmp_path)
    card = case.card(scene)
    inputs = tavex.IOTrack(card, *case.inputs)
    outputs = inputs if case.outputs == case.inputs else tavex.IOTrack(card, *case.outputs)

    case.field_input(scene)
    machine.sleep(10)                      # intelligent boards copy their inputs as they run
    assert inputs.update_inputs() is inputs
    letters = case.inputs[1]
    assert [v for v, t in zip(inputs, letters) if t == "I"] == \
        [v for v, t in zip(case.expected, letters) if t == "I"]
    assert inputs.state == tavex.TrackState.OK

    outputs.values[:] = case.written
    assert outputs.update_outputs() is outputs
    machine.sleep(10)
    assert case.field_output(scene)
    assert outputs.state == tavex.TrackState.OK


def test_dummy_card_keeps_the_values() -> None:
    track = tavex.IOTrack(tavex.DummyCard(), 0, "IIOO")
    track[0], track[3] = 7, -7
    assert list(track.update_inputs().update_outputs()) == [7, 0, 0, -7]
    assert track.card.type == "DUMMY"


def test_track_states_follow_the_network(machine: sim.Machine, tmp_path: Path) -> None:
    board, path = ktx_scene(machine, tmp_path)
    rack = tavex.IOTrack(tavex.AB1784Card(0xC8000, path, 0xFE), 4, "IIIIIIII")
    board.set_entry_good(1, False)                 # the rack of banks 4-7 drops off its link
    assert rack.update_inputs().state is tavex.TrackState.STATION_DOWN
    board.set_entry_good(1, True).set_scanner_running(False)
    assert rack.update_inputs().state is tavex.TrackState.CARD_DOWN
    assert isinstance(rack.state, int) and rack.state == 2


def test_board_commands_and_card_properties(machine: sim.Machine) -> None:
    board = profibus_master(machine).store_in_flash()
    master = tavex.SST5136PFBPCI("/nowhere/", 6, 0)
    assert master.configuration_from_flash() is master   # leaves the network offline
    assert not board.online
    assert master.online() is master and board.online
    assert master.set_baud_rate(9).baud_rate == 9

    pcim = tavex.GEPCIMCard(base_io_address=0x3E0, motherboard_type=1)
    assert pcim.channel_a is None and pcim.channel_b is None
    genius_channel(machine)
    channel = pcim.add_micro_geni(0x3E0, 0xD0000).channel_a
    assert channel is pcim.channel_a and channel is not None
    assert channel.is_board_ok() and channel.is_comm_ok() and channel.base_io_address == 0x3E0
    with pytest.raises(tavex.DeviceError, match="^Cannot add more MicroGENI doughterboards$"):
        pcim.add_micro_geni(0x3E4, 0xD4000)

    ac28 = sim.AC28Board(machine, 0x140, 0x1E0, False)
    card = tavex.AC28Card(0x140, 0x1E0, False)
    assert (card.base_io_port, card.reset_port, card.reset_level) == (0x140, 0x1E0, False)
    assert ac28.resets_taken == 1 and machine.now >= 30


def test_parallel_port_constructors(machine: sim.Machine) -> None:
    lpt_scene(machine, Path())
    assert tavex.ParallelPort().base_io_port == 0x378
    assert tavex.ParallelPort(0x378).base_io_port == 0x378
    assert tavex.ParallelPort(base_io_port=0x378).type == "LPT"
    assert tavex.ParallelPort("PRN").base_io_port == 0x378


def test_pci_scan_sees_the_boards(machine: sim.Machine) -> None:
    pci72xx_scene(machine, Path())
    found = [(d.bus, d.device, d.function, d.vendor_id, d.device_id) for d in tavex.pci_devices()]
    assert found == [(0, 0, 0, 0x8086, 0x7190), (0, 11, 0, 0x144A, 0x7248)]
