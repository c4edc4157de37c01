#!/usr/bin/env bash
# The scan's wake-up latency beside cyclictest's (rt-tests), on this PC:
# the same period, priority, locked memory and duration, one after the
# other.  tavex scan runs the demo plant's tracks (simulated boards,
# in-process) with an empty logic, woken by this PC's clock.
#
#   scripts/scan-bench.sh [SECONDS] [PERIOD_US] [PRIORITY]   (default 10 1000 80)
#
# Prints min, p50, p99 and max of both and the ratios tavex / cyclictest
# (aim: p99 within 1.25x, max within 2x).  Informative: the exit status is
# 0 whatever the ratios, unless a program failed.  A real-time priority
# needs root or an rtprio limit; without either both run at priority 0.
# Installs what it needs first (scripts/setup.sh native latency).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-10}
period_us=${2:-1000}
priority=${3:-80}

scripts/setup.sh native latency
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target tavex_tool >/dev/null

if [ "$priority" != 0 ] && [ "$(id -u)" != 0 ] && [ "$(ulimit -r)" -lt "$priority" ] 2>/dev/null; then
    echo "scan-bench: not root and no rtprio limit of $priority: both run at priority 0" >&2
    priority=0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "scan-bench: ${seconds} s each, period ${period_us} us, priority ${priority}, memory locked"
echo "machine: $(uname -srm), $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"

cyclictest --mlockall --priority="$priority" --interval="$period_us" --duration="$seconds" \
    --quiet --histogram=100000 --histfile=/dev/null --json="$work/cyclictest.json" >/dev/null

build/default/bin/tavex scan --sim --period "${period_us}us" --seconds "$seconds" \
    --lock-memory $( [ "$priority" != 0 ] && echo --priority "$priority" ) --json \
    >"$work/tavex.json"

/usr/bin/python3 - "$work/cyclictest.json" "$work/tavex.json" <<'EOF'
import json, sys

def cyclictest(path):
    thread = json.load(open(path))["thread"]["0"]
    counts = sorted((int(us), n) for us, n in thread["histogram"].items())
    total = thread["cycles"]
    def percentile(q):
        rank, seen = -(-total * q // 1000), 0
        for us, n in counts:
            seen += n
            if seen >= rank:
                return (us + 1) * 1000   # the bucket's upper edge, as tavex reports
        return thread["max"] * 1000      # beyond the histogram
    return {"cycles": total, "min": thread["min"] * 1000, "p50": percentile(500),
            "p99": min(percentile(990), thread["max"] * 1000), "max": thread["max"] * 1000}

def tavex(path):
    figures = json.load(open(path))
    latency = figures["latency_ns"]
    return {"cycles": figures["cycles"], "min": latency["min"], "p50": latency["p50"],
            "p99": latency["p99"], "max": latency["max"], "overruns": figures["overruns"]}

c, t = cyclictest(sys.argv[1]), tavex(sys.argv[2])
print()
print("wake-up latency, us   %10s %10s %10s %10s %10s" % ("cycles", "min", "p50", "p99", "max"))
for name, f in (("cyclictest", c), ("tavex scan", t)):
    print("%-21s %10d %10.1f %10.1f %10.1f %10.1f" %
          (name, f["cycles"], f["min"] / 1e3, f["p50"] / 1e3, f["p99"] / 1e3, f["max"] / 1e3))
ratio = lambda key: t[key] / c[key] if c[key] else float("inf")
print("ratio tavex/cyclictest: p99 %.2f (aim <= 1.25), max %.2f (aim <= 2)" %
      (ratio("p99"), ratio("max")))
print("tavex scan overruns: %d" % t["overruns"])
EOF
