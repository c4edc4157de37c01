"""A Python call of update_inputs() on a 32-point track costs at most 0.5 us
more than the same call in C++."""

import os
import timeit

import pytest

import tavex
from tavex import _tavex


@pytest.mark.skipif(os.environ.get("TAVEX_PYTHON_SANITIZED") == "1",
                    reason="a sanitized build measures the sanitizer")
def test_update_inputs_overhead() -> None:
    track = tavex.IOTrack(tavex.DummyCard(), 0, "I" * 32)
    calls = 100_000
    cpp = min(_tavex._update_inputs_ns(track, calls) for _ in range(5))
    python = min(timeit.repeat(track.update_inputs, number=calls, repeat=5)) / calls * 1e9
    assert python - cpp <= 500, f"C++ {cpp:.1f} ns, Python {python:.1f} ns"
