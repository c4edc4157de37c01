"""What a Python call of update_inputs() costs beyond the same call in C++,
on 32-point tracks, and that reading a track into numpy copies nothing.

    PYTHONPATH=build/default/python python3 python/bench/update_overhead.py

The C++ figure is the same track's updateInputs() called in a loop inside
the module (tavex._tavex._update_inputs_ns); the Python figure is the best
of several timeit runs of the bound method.  Both on the same card: the
difference is the cost of the binding.
"""

import sys
import tempfile
import timeit
from pathlib import Path
from typing import Callable, Dict

import numpy as np

import tavex
from tavex import _tavex, sim

CALLS = 200_000
REPEATS = 7


def python_ns(call: Callable[[], object]) -> float:
    best = min(timeit.repeat(call, number=CALLS, repeat=REPEATS))
    return best / CALLS * 1e9


def cpp_ns(track: tavex.IOTrack) -> float:
    return min(_tavex._update_inputs_ns(track, CALLS) for _ in range(REPEATS))


def overhead(track: tavex.IOTrack) -> Dict[str, float]:
    cpp = cpp_ns(track)
    python = python_ns(track.update_inputs)
    return {"cpp": cpp, "python": python, "overhead": python - cpp}


def main() -> int:
    results = {"DummyCard": overhead(tavex.IOTrack(tavex.DummyCard(), 0, "I" * 32))}
    with sim.Machine(tracing=False) as machine, tempfile.TemporaryDirectory() as folder:
        board = sim.AB1784KTxBoard(machine, 0xC8000)
        images = {"clrram.bin": bytes(48), "loadpcl.bin": bytes(range(100)),
                  "scanner.bin": bytes(i & 0xFF for i in range(2500))}
        for name, data in images.items():
            (Path(folder) / name).write_bytes(data)
        board.set_protocol_images(images["clrram.bin"], images["loadpcl.bin"],
                                  images["scanner.bin"])
        card = tavex.AB1784Card(0xC8000, folder + "/", 0xFE)
        track = tavex.IOTrack(card, 0, "I" * 32)
        results["AB1784Card (simulated)"] = overhead(track)
        view = track.values
        copied = not np.shares_memory(view, track.values) or view.base is not track
        del view, track, card
    for name, r in results.items():
        print(f"{name:24} C++ {r['cpp']:7.1f} ns   Python {r['python']:7.1f} ns   "
              f"overhead {r['overhead']:6.1f} ns")
    print(f"track.values copies: {'yes' if copied else 'no'}")
    worst = max(r["overhead"] for r in results.values())
    return 0 if worst <= 500 and not copied else 1


if __name__ == "__main__":
    sys.exit(main())
