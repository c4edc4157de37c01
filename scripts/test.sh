#!/usr/bin/env bash
# Builds Tavex with the default preset and runs every test suite.
#
#   scripts/test.sh
#
# Installs what the build and its tests need first (scripts/setup.sh native
# gateway python: the gateway needs libmodbus, its tests mbpoll and pymodbus;
# the Python module pybind11 and numpy).  CTest runs the Python module's
# pytest suite too (the test "python", PYTHONPATH=build/default/python).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh native gateway python
cmake --preset default
cmake --build --preset default -j 2
ctest --preset default
