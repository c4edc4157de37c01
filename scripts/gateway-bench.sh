#!/usr/bin/env bash
# tavex-gateway against a bare libmodbus server on this machine, in one
# run: a client reads 125 holding registers from each over 127.0.0.1, in
# alternating rounds, and the p50 and p99 of both are compared.
#
#   scripts/gateway-bench.sh [reads per round] [rounds]     (5000, 8)
#
# Builds tavex_gateway_bench in build/default (configuring it if needed).
# Fails when the gateway's p50 is above 1.25 times the bare server's or its
# p99 above 2 times.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh gateway
[ -f build/default/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build build/default -j 2 --target tavex_gateway_bench
build/default/bin/tavex_gateway_bench "$@"
