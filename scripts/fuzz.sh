#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with the fuzz preset and runs each
# for a fixed time, starting from its seeds in fuzz/corpus/<target>/ (read
# only: what the run adds goes to a scratch folder).  Fails when any target
# finds something: a sanitizer report, a FINDING of the harness, a crash, a
# leak or a hang; the finding's report and input are printed, and the input
# is kept in build/fuzz/findings/.
#
#   scripts/fuzz.sh [seconds per target] [target ...]
#
# The default, 20 seconds for each target, is the smoke run of
# CI.  A finding is replayed with
#   build/fuzz/bin/fuzz_<target> build/fuzz/findings/<file>
# and with TAVEX_FUZZ_TRACE=1 in the environment the run tells what it did.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift || true

scripts/setup.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for program in build/fuzz/bin/fuzz_*; do
        targets+=("${program#build/fuzz/bin/fuzz_}")
    done
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
findings=build/fuzz/findings
mkdir -p "$findings"

passed=0
failed=0
for target in "${targets[@]}"; do
    program=build/fuzz/bin/fuzz_$target
    seeds=fuzz/corpus/$target
    [ -x "$program" ] || { echo "fuzz: no program $program" >&2; exit 2; }
    [ -d "$seeds" ] || { echo "fuzz: no seeds in $seeds" >&2; exit 2; }
    mkdir -p "$scratch/$target" "$scratch/$target-artifacts"
    log=$scratch/$target.log
    echo "fuzz: $target for $seconds s"
    if "$program" "$scratch/$target" "$seeds" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$scratch/$target-artifacts/" >"$log" 2>&1; then
        # The closing figures: executions, coverage, features, corpus.
        { grep -E '^#[0-9]+[[:space:]]+DONE' "$log" || true; } | tail -1 | sed "s/^/fuzz: $target: /"
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "fuzz: $target FOUND SOMETHING; the report:"
        grep -n -E 'FINDING|ERROR|SUMMARY|runtime error|deadly signal|timeout|leak' "$log" \
            | head -20 || true
        echo "---- end of the log ----"
        tail -60 "$log"
        for input in "$scratch/$target-artifacts"/*; do
            [ -f "$input" ] || continue
            kept=$findings/$target-$(basename "$input")
            cp "$input" "$kept"
            echo "---- the input, kept as $kept ----"
            od -A x -t x1z -v "$kept" | head -40
        done
    fi
done

echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
