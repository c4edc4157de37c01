"""tavex.Scan with a Python logic: cycles on the virtual clock, its
figures, and the safe values at every stop."""

import subprocess
import sys
from datetime import timedelta
from pathlib import Path
from typing import List, Tuple

import pytest

import tavex
from tavex import sim
from test_plant import PLANT


def conveyor(machine: sim.Machine) -> Tuple[sim.AC5Board, tavex.IOTrack, tavex.IOTrack]:
    board = sim.AC5Board(machine, 0x300)
    card = tavex.AC5Card(0x300)
    return board, tavex.IOTrack(card, 0, "IIIIIIII"), tavex.IOTrack(card, 1, "OOOOOOOO")


class Failure(Exception):
    pass


@pytest.mark.parametrize("how, reason", [
    ("stop", tavex.Scan.StopReason.STOPPED),
    ("raise", tavex.Scan.StopReason.FAILED),
])
def test_the_logic_runs_each_cycle_and_every_stop_is_safe(machine: sim.Machine, how: str,
                                                          reason: tavex.Scan.StopReason) -> None:
    board, eyes, motors = conveyor(machine)
    scan = tavex.Scan(timedelta(milliseconds=10)).add(eyes).add(motors, safe=[0, 1] + [0] * 6)
    seen: List[int] = []
    start = machine.now

    def logic() -> None:
        seen.append(eyes[3])
        motors[0] = 1                       # on while the scan runs
        board.set_input_line(0, 3, len(seen) % 2 == 0)
        if len(seen) == 5:
            if how == "raise":
                raise Failure("stop the line")
            scan.stop()

    if how == "raise":
        with pytest.raises(Failure, match="stop the line"):
            scan.run(logic)
    else:
        assert scan.run(logic) == reason
    assert scan.stop_reason == reason
    assert seen == [0, 1, 0, 1, 0]          # inputs read before each call
    assert not board.output_on(1, 0) and board.output_on(1, 1)   # the safe values
    figures = scan.statistics
    assert figures.cycles == (5 if how == "stop" else 4)   # a cycle that failed is not counted
    assert machine.now - start >= 50 and scan.safe_state_error == ""


def test_a_plant_scan_takes_the_plants_tracks_and_safe_values(machine: sim.Machine) -> None:
    board = sim.AC5Board(machine, 0x300)
    plant = tavex.Plant.from_text(PLANT)
    scan = plant.scan(timedelta(milliseconds=1))
    assert scan.track_count == 2 and scan.period == timedelta(milliseconds=1)
    motors = plant["motors"]
    cycles = [0]

    def logic() -> None:
        motors[0] = 1
        cycles[0] += 1
        if cycles[0] == 3:
            scan.stop()

    scan.run(logic)
    assert board.output_on(1, 1) and not board.output_on(1, 0)      # valve = 1 is safe


def test_step_for_a_loop_of_ones_own(machine: sim.Machine) -> None:
    _, eyes, motors = conveyor(machine)
    scan = tavex.Scan(timedelta(milliseconds=5)).add(eyes).add(motors)
    calls = [0]

    def logic() -> None:
        calls[0] += 1

    assert all(scan.step(logic) for _ in range(3)) and calls[0] == 3
    with pytest.raises(IndexError):
        tavex.Scan(timedelta(0))               # a period under 1 us: RangeError


def test_the_control_loop_example_runs() -> None:
    example = Path(__file__).resolve().parent.parent / "examples" / "control_loop.py"
    result = subprocess.run([sys.executable, str(example)], capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "stopped: STOPPED after 500 cycles" in result.stdout
