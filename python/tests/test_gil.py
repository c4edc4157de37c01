"""The GIL: released while a card is built or a board command waits, so
that other Python threads run; kept on the update path."""

import sys
import threading
import time

import tavex
from tavex import sim


def test_other_threads_run_while_a_card_waits_for_its_board(machine: sim.Machine) -> None:
    # A channel that never comes up: the card resets it and polls it for 50
    # seconds of virtual time, then gives up.
    pcim = sim.GEPCIMBoard(machine, 0x3E0)
    pcim.add_micro_geni(0x3E0, 0xD0000, sim.GEMicroGENIBoard.PowerUp.HELD).set_never_comes_up(True)
    counted = [0]
    started = threading.Event()
    stop = threading.Event()

    def count() -> None:
        started.set()
        while not stop.is_set():
            counted[0] += 1
            time.sleep(0)                  # gives the GIL back at once

    other = threading.Thread(target=count)
    other.start()
    started.wait()
    interval = sys.getswitchinterval()
    # No forced switch during the test: the other thread gets the GIL only
    # when this one lets go of it.
    sys.setswitchinterval(5.0)
    try:
        before = counted[0]
        began = time.perf_counter()
        tries = 0
        while time.perf_counter() - began < 0.1:
            try:
                tavex.GEMicroGENI(0x3E0, 0xD0000)
                raise AssertionError("the channel came up")
            except tavex.DeviceError:
                tries += 1
        during = counted[0] - before
    finally:
        sys.setswitchinterval(interval)
        stop.set()
        other.join()
    assert machine.now >= 50000 * tries
    assert during >= tries, f"{during} counts in {tries} constructions"
