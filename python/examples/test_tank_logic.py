"""A user's control logic tested against board models, with pytest.

The logic keeps a tank between its two level switches: the fill valve opens
when the low switch is uncovered and closes when the high switch is
covered; the alarm lamp lights when both switches disagree (high covered,
low uncovered: a broken switch).  The switches are on an Opto 22 AC28
digital brainboard at bank 0, the valve and the lamp at bank 1.

    PYTHONPATH=build/default/python python3 -m pytest python/examples
"""

from typing import Iterator, Tuple

import pytest

import tavex
from tavex import sim

LOW, HIGH = 0, 1          # switch points on bank 0 (on: covered by liquid)
VALVE, ALARM = 0, 1       # output points on bank 1


class TankLogic:
    """The logic under test: one call per scan, inputs in, outputs out."""

    def __init__(self) -> None:
        self.filling = False

    def scan(self, switches: tavex.IOTrack, outputs: tavex.IOTrack) -> None:
        low, high = switches[LOW], switches[HIGH]
        if not low:
            self.filling = True
        if high:
            self.filling = False
        outputs[VALVE] = int(self.filling)
        outputs[ALARM] = int(bool(high and not low))


Scene = Tuple[sim.AC28Board, tavex.IOTrack, tavex.IOTrack, TankLogic]


@pytest.fixture
def tank() -> Iterator[Scene]:
    with sim.Machine(tracing=False) as machine:
        board = sim.AC28Board(machine, 0x100, 0xE0, True).place_digital(0, 2)
        card = tavex.AC28Card(base_io_port=0x100, reset_port=0xE0, reset_level=True)
        switches = tavex.IOTrack(card, 0, "IIIIIIII")
        outputs = tavex.IOTrack(card, 1, "OOOOOOOO")
        yield board, switches, outputs, TankLogic()


def run_scan(scene: Scene) -> None:
    _, switches, outputs, logic = scene
    switches.update_inputs()
    logic.scan(switches, outputs)
    outputs.update_outputs()


@pytest.mark.parametrize("low, high, valve, alarm", [
    (False, False, True, False),     # empty: fill
    (True, False, False, False),     # between the switches: the valve stays as it was
    (True, True, False, False),      # full: stop
    (False, True, False, True),      # high without low: a switch is broken
])
def test_valve_and_alarm_follow_the_switches(tank: Scene, low: bool, high: bool,
                                             valve: bool, alarm: bool) -> None:
    board = tank[0]
    board.set_input(0, LOW, low).set_input(0, HIGH, high)
    run_scan(tank)
    assert bool(board.outputs_on(1) & (1 << VALVE)) == valve
    assert bool(board.outputs_on(1) & (1 << ALARM)) == alarm


def test_the_valve_holds_between_the_switches(tank: Scene) -> None:
    board = tank[0]
    for low, high, valve in [(False, False, 1), (True, False, 1), (True, True, 0),
                             (True, False, 0), (False, False, 1)]:
        board.set_input(0, LOW, low).set_input(0, HIGH, high)
        run_scan(tank)
        assert board.outputs_on(1) & 1 == valve, (low, high)
