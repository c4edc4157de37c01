#!/usr/bin/env bash
# Builds Tavex with the default preset and runs every test suite.
#
#   scripts/test.sh
#
# Installs what the native build needs first (scripts/setup.sh native).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh native gateway
cmake --preset default
cmake --build --preset default -j 2
ctest --preset default
