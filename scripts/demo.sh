#!/usr/bin/env bash
# Builds and runs the example client examples/sim_demo.cpp, a small control
# program that runs on the simulated PC (no board needed).
#
#   scripts/demo.sh
#
# Installs what the native build needs first (scripts/setup.sh native).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh native
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target sim_demo
echo
build/default/bin/sim_demo
