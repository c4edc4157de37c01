"""Track values: the int32 range, Python indexing, the numpy view without a
copy, and what a track shows of itself."""

import numpy as np
import pytest

import tavex
from tavex import sim


def test_values_are_a_view_of_the_track_itself() -> None:
    track = tavex.IOTrack(tavex.DummyCard(), 0, "OOOOOOOO")
    view = track.values
    assert view.dtype == np.dtype(np.int_) and view.shape == (8,)
    assert view.base is track                   # no copy: the array lives in the track
    view[2] = 5
    track[3] = -9
    assert track[2] == 5 and view[3] == -9
    assert np.shares_memory(view, track.values)


def test_input_tracks_give_a_read_only_view(machine: sim.Machine) -> None:
    board = sim.AC5Board(machine, 0x300)
    card = tavex.AC5Card(0x300)
    inputs = tavex.IOTrack(card, 0, "IIIIIIII")
    with pytest.raises(ValueError, match="read-only"):
        inputs.values[0] = 1
    board.set_input_lines(0, 0xF0)                # lines 0-3 low: points on
    view = inputs.values
    inputs.update_inputs()                        # the view follows the track, no copy
    assert view.tolist() == [1, 1, 1, 1, 0, 0, 0, 0]
    counters = tavex.IOTrack(tavex.DummyCard(), 0, "CR")   # written: presets
    counters.values[:] = [1, 2]
    assert list(counters) == [1, 2]


@pytest.mark.parametrize("value, error", [
    (2**31 - 1, None), (-2**31, None), (True, None), (np.int64(7), None),
    (2**31, OverflowError), (-2**31 - 1, OverflowError), (2**64, OverflowError),
    (1.5, TypeError), ("1", TypeError),
])
def test_a_point_takes_32_bit_ints(value: object, error: type) -> None:
    track = tavex.IOTrack(tavex.DummyCard(), 0, "UU")
    if error is None:
        track[1] = value
        assert track[1] == int(value)          # type: ignore[call-overload]
    else:
        with pytest.raises(error):
            track[1] = value
        assert track[1] == 0                    # refused before anything is written


@pytest.mark.parametrize("index, value", [(0, 10), (2, 12), (-1, 12), (-3, 10)])
def test_python_indexing(index: int, value: int) -> None:
    track = tavex.IOTrack(tavex.DummyCard(), 0, "III")
    counters = tavex.IOTrack(tavex.DummyCard(), 0, "OOO")
    counters.values[:] = [10, 11, 12]
    assert counters[index] == value
    assert len(track) == 3 and list(counters) == [10, 11, 12]


@pytest.mark.parametrize("index, text", [
    (3, "IOTrack::operator[] (..) const Invalid io point number"),
    (-4, "IOTrack::operator[] (..) const Invalid io point number"),
    (2**40, "IOTrack::operator[] (..) const Invalid io point number"),
])
def test_points_outside_the_track_give_the_library_text(index: int, text: str) -> None:
    track = tavex.IOTrack(tavex.DummyCard(), 0, "OOO")
    with pytest.raises(tavex.RangeError) as caught:
        track[index]
    assert str(caught.value) == text and isinstance(caught.value, IndexError)
    with pytest.raises(IndexError, match=r"^IOTrack::operator\[\] \(\.\.\) Invalid io point"):
        track[index] = 1


def test_what_a_track_shows(machine: sim.Machine) -> None:
    sim.AC5Board(machine, 0x300).set_input_line(0, 1, False)
    card = tavex.AC5Card(0x300)
    track = tavex.IOTrack(card, start=0, letters="IIIIIIII").update_inputs()
    assert repr(track) == ("tavex.IOTrack(card=<tavex.AC5Card AC5 at 0x300>, start=0, "
                           "letters='IIIIIIII', values=[0, 1, 0, 0, 0, 0, 0, 0], state=OK)")
    assert track.card is card and track.start == track.starting_point == 0
    assert track.letters == "IIIIIIII" and track.point_type(-1) == "I"
    assert track.has_point_of_type("I") and not track.has_point_of_type("O")
    assert track.state is tavex.TrackState.OK and track.number_of_points == 8
