"""The examples type-check with mypy --strict against the stubs."""

import os
import subprocess
import sys
from pathlib import Path

import tavex

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


def test_examples_pass_mypy_strict(tmp_path: Path) -> None:
    package_dir = Path(tavex.__file__).resolve().parent.parent
    environment = dict(os.environ, MYPYPATH=str(package_dir))
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path), str(EXAMPLES)],
        env=environment, capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
