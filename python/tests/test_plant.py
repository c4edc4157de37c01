"""tavex.Plant: a plant file's named tracks from Python."""

import gc
from pathlib import Path

import pytest

import tavex
from tavex import sim

PLANT = """\
period = "10ms"
[cards.line]
card = "ac5:0x300"
[cards.spare]
card = "dummy"
[tracks.eyes]
card = "line"
track = "0:IIIIIIII"
points = ["eye0", "eye1"]
[tracks.motors]
card = "line"
track = "1:OOOOOOOO"
points = ["conveyor", "valve"]
safe = { valve = 1 }
"""


def test_named_tracks_on_their_boards(machine: sim.Machine, tmp_path: Path) -> None:
    board = sim.AC5Board(machine, 0x300)
    (tmp_path / "plant.toml").write_text(PLANT)
    plant = tavex.Plant(str(tmp_path / "plant.toml"))
    assert plant.period == 10000 and plant.file.endswith("plant.toml")
    assert plant.track_names == ["eyes", "motors"] and plant.card_names == ["line", "spare"]
    assert isinstance(plant.card("line"), tavex.AC5Card) and "eyes" in plant

    eyes, motors = plant["eyes"], plant.track("motors")
    assert plant.points("eyes") == ["eye0", "eye1"] and plant.point("motors", "valve") == 1
    board.set_input_line(0, plant.point("eyes", "eye1"), False)
    assert eyes.update_inputs()[1] == 1
    assert plant.safe_values("motors") == [0, 1, 0, 0, 0, 0, 0, 0]
    plant.set_safe_values()
    motors.update_outputs()
    assert board.output_on(1, 1) and not board.output_on(1, 0)

    with pytest.raises(KeyError):
        plant.track("pumps")
    with pytest.raises(tavex.LogicError, match="still in use"):
        plant.close()
    del eyes, motors
    gc.collect()
    plant.close()
    with pytest.raises(tavex.LogicError, match="^tavex.Plant: the plant is closed$"):
        plant.track("eyes")


def test_a_track_keeps_its_plant(machine: sim.Machine) -> None:
    sim.AC5Board(machine, 0x300)
    track = tavex.Plant.from_text(PLANT).track("motors")
    gc.collect()
    track[0] = 1
    assert list(track.update_outputs())[0] == 1


def test_mistakes_point_into_the_file(machine: sim.Machine) -> None:
    with pytest.raises(tavex.PlantError) as caught:
        tavex.Plant.from_text(PLANT.replace('"1:OOOOOOOO"', '"1:OOXO"'), file="line.toml")
    error = caught.value
    assert error.file == "line.toml" and error.line == 12 and error.column > 0
    assert str(error).startswith(f"line.toml:12:{error.column}: ")
    assert isinstance(error, OSError)
    with pytest.raises(tavex.LogicError, match="^AC5 card: invalid base IO port number"):
        tavex.Plant.from_text(PLANT.replace("0x300", "0x301"))
