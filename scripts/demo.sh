#!/usr/bin/env bash
# Builds the tavex tool and runs its demo: a bottling line on the demo
# plant, a simulated PC with one board of every kind (no board needed).
#
#   scripts/demo.sh             the demo for 3 seconds
#   scripts/demo.sh 20          for 20 seconds
#
# In a terminal the demo redraws its table in place and runs in real time;
# into a pipe (as in CI) it prints one line per scan and does not wait.
# Installs what the native build needs first (scripts/setup.sh native).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-3}
scripts/setup.sh native
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target tavex_tool
echo
build/default/bin/tavex demo --seconds "$seconds"
