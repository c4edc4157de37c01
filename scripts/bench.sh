#!/usr/bin/env bash
# The benchmarks and a short soak, briefly, as CI runs them.
#
#   scripts/bench.sh                   check, benchmarks, summary table, short soak
#   scripts/bench.sh --instructions    also instructions per scan, card and hand
#                                      loop, counted by callgrind (valgrind)
#
# Installs what it needs (scripts/setup.sh native bench [callgrind]),
# configures and builds the bench preset (Release, build/bench), then:
#   1. update_bench: checks every card's scans against its hand-written loop
#      (the same port and window accesses, the same values), runs each
#      benchmark briefly and prints the summary table: time per scan of card
#      and hand loop and their ratio, port and memory accesses and heap
#      allocations per scan, and the cost of each card against its points;
#   2. soak --scans $TAVEX_SOAK_SCANS (default 100000): resident memory at
#      the start and the end of the run.
# Fails when a card's accesses differ from its hand loop's, when a scan
# allocates, or when the soak's resident memory grows by more than a page.
# Timing figures are printed, not judged: other jobs share the machine.
set -euo pipefail
cd "$(dirname "$0")/.."

instructions=false
for argument in "$@"; do
    case "$argument" in
        --instructions) instructions=true ;;
        *) echo "bench.sh: unknown option '$argument'" >&2; exit 2 ;;
    esac
done

groups=(native bench)
$instructions && groups+=(callgrind)
scripts/setup.sh "${groups[@]}"
cmake --preset bench >/dev/null
cmake --build --preset bench -j 2 --target update_bench soak

echo
echo "== machine: $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo
echo "== update_bench"
build/bench/bin/update_bench --benchmark_min_time=0.05

echo
echo "== soak"
build/bench/bin/soak --scans "${TAVEX_SOAK_SCANS:-100000}"

if $instructions; then
    echo
    echo "== instructions per scan (callgrind, 200 scans of each)"
    dumps=$(mktemp -d)
    trap 'rm -rf "$dumps"' EXIT
    (cd "$dumps" && valgrind --tool=callgrind --dump-instr=no \
        "$OLDPWD/build/bench/bin/update_bench" --instructions=200 >/dev/null 2>&1)
    printf '%-28s %12s %12s %7s\n' "scene" "card" "hand" "ratio"
    # callgrind.out.<pid>.<part>, in the order the batches ran
    for dump in $(cd "$dumps" && ls callgrind.out.*.* | sort -t. -k4 -n); do
        name=$(grep -a -m1 '^desc: Trigger: Client Request:' "$dumps/$dump" | sed 's/^desc: Trigger: Client Request: //')
        total=$(grep -a -m1 '^totals:' "$dumps/$dump" | cut -d' ' -f2)
        echo "$name|$total"
    done | awk -F'|' '
        { scene = $1; sub(/ (card|hand)$/, "", scene); side = substr($1, length(scene) + 2)
          count[scene, side] = $2 / 200
          if (!(scene in seen)) { seen[scene] = 1; order[++n] = scene } }
        END { for (i = 1; i <= n; i++) { s = order[i]
                printf "%-28s %12.1f %12.1f %7.3f\n", s, count[s, "card"], count[s, "hand"],
                       count[s, "card"] / count[s, "hand"] } }'
fi
