#!/usr/bin/env bash
# Builds Tavex with the default preset and runs every test suite.
#
#   scripts/test.sh
#
# Installs what the native build and its tests need first (scripts/setup.sh
# native gateway: the gateway needs libmodbus, its tests mbpoll and pymodbus).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh native gateway
cmake --preset default
cmake --build --preset default -j 2
ctest --preset default
