#!/usr/bin/env bash
# Builds Tavex with the default preset and runs every test suite.
#
#   scripts/test.sh
#
# Installs what the native build needs first (scripts/setup.sh native python
# python).  CTest runs the Python module's pytest suite too (the test
# "python", PYTHONPATH=build/default/python).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh native python
cmake --preset default
cmake --build --preset default -j 2
ctest --preset default
