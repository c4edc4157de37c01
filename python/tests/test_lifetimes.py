"""Lifetimes: a track keeps its card alive, a card its machine, and no order
of deletion crashes.  Run under ASan too (scripts/python-asan.sh)."""

import gc
import itertools
import weakref
from pathlib import Path
from typing import Dict, List

import pytest

import tavex
from tavex import sim
from conftest import genius_channel, ktx_firmware


def scene(folder: Path) -> Dict[str, object]:
    """A machine with a memory-mapped card and a port card, tracks on both."""
    objects: Dict[str, object] = {}
    m = sim.Machine()
    m.__enter__()
    objects["machine"] = m
    ktx = sim.AB1784KTxBoard(m, 0xC8000)
    objects["board"] = ktx
    card = tavex.AB1784Card(0xC8000, ktx_firmware(ktx, folder), 0xFE)
    objects["card"] = card
    objects["track"] = tavex.IOTrack(card, 0, "IIIIIIIIOOOOOOOO")
    objects["view"] = objects["track"].values           # type: ignore[attr-defined]
    pcim = tavex.GEPCIMCard(0x3E0, 2)
    genius_channel(m)
    objects["channel"] = pcim.add_micro_geni(0x3E0, 0xD0000).channel_a
    objects["station"] = tavex.IOTrack(objects["channel"], 3, "IIIIIIII")  # type: ignore
    objects["exit"] = None                                # the end of the with block
    return objects


NAMES = ["machine", "board", "card", "track", "view", "channel", "station", "exit"]
ORDERS = [list(p) for p in itertools.permutations(NAMES)][::997] + [NAMES, NAMES[::-1]]


@pytest.mark.parametrize("order", ORDERS, ids=["-".join(o) for o in ORDERS])
def test_any_order_of_deletion(order: List[str], tmp_path: Path) -> None:
    objects = scene(tmp_path)
    machine = weakref.ref(objects["machine"])
    for name in order:
        if name == "exit":
            m = machine()                   # the Python object may be gone: it left then
            if m is not None:
                m.__exit__(None, None, None)
            del m
            continue
        objects.pop(name)
        gc.collect()
        for value in objects.values():      # whatever is left still works
            if isinstance(value, tavex.IOTrack):
                value.update_inputs().update_outputs()
    gc.collect()
    with sim.Machine() as again:            # everything is gone: a new machine goes in
        assert again.installed


def test_a_machine_stays_installed_while_its_cards_live() -> None:
    with sim.Machine() as m:
        board = sim.AC5Board(m, 0x300)
        track = tavex.IOTrack(tavex.AC5Card(0x300), 0, "OOOOOOOO")
        with pytest.raises(tavex.LogicError, match="^tavex.sim.Machine: cards of the platform "
                                                   "installed now are still alive; "):
            with sim.Machine():            # over a machine in its block with live cards
                pass
    assert m.installed                      # the card lives on in the track
    track[0] = 1
    track.update_outputs()
    assert board.output_on(0, 0)
    del track
    assert not m.installed
    with pytest.raises(tavex.LogicError, match="^tavex.sim.Machine: this machine is not "
                                               "installed$"):
        m.__exit__(None, None, None)


def test_a_card_left_behind_ends_on_its_own_machine() -> None:
    # What a failed test's traceback does: it holds the cards of a machine
    # whose block has ended, while the next test brings its own machine.
    with sim.Machine() as old:
        genius_channel(old)
        left = tavex.GEMicroGENI(0x3E0, 0xD0000)
    with sim.Machine() as new:
        assert new.installed and old.installed and old.live_mappings == 1
        sim.AC5Board(new, 0x300)
        card = tavex.AC5Card(0x300)
        del left                             # unmapped on the old machine
        gc.collect()
        assert old.live_mappings == 0 and new.installed
        tavex.IOTrack(card, 0, "OOOOOOOO").update_outputs()
    del card
    assert not new.installed and not old.installed


def test_a_card_that_cannot_be_deleted_cleanly_is_reported(machine: sim.Machine,
                                                           monkeypatch: pytest.MonkeyPatch) -> None:
    genius_channel(machine)
    reported: List[str] = []
    monkeypatch.setattr("sys.unraisablehook", lambda u: reported.append(str(u.exc_value)))
    card = tavex.GEMicroGENI(0x3E0, 0xD0000)
    machine.faults.unmap_refused = True
    del card
    gc.collect()
    assert reported == ["OS Interface: can not release physical memory block."]
    machine.faults.unmap_refused = False


def test_machines_nest_and_unwind(tmp_path: Path) -> None:
    with sim.Machine() as outer:
        with sim.Machine() as inner:
            assert inner.installed and outer.installed
            sim.AC5Board(inner, 0x300)
            card = tavex.AC5Card(0x300)
        assert inner.installed              # held by the card
        del card
        assert not inner.installed and outer.installed
    assert not outer.installed
