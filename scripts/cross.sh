#!/usr/bin/env bash
# Cross-builds Tavex and its test suites for Windows with MinGW-w64 and runs
# the test programs under Wine.
#
#   scripts/cross.sh            i686 and x86_64 builds and their tests under Wine
#   scripts/cross.sh i686       the i686 build and its Wine runs only
#
# Builds in build/mingw-i686 and build/mingw-x86_64 (presets mingw-i686 and
# mingw-x86_64; GoogleTest is built from /usr/src/googletest).  Each test
# program runs as one Wine process in a fresh, throw-away Wine prefix of its
# target (32-bit for i686, 64-bit for x86_64).
#
# Installs what it needs first (scripts/setup.sh native cross).  Exits
# non-zero when a build fails or any test program fails under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(i686 x86_64)
for target in "${targets[@]}"; do
    case "$target" in
        i686|x86_64) ;;
        *) echo "cross.sh: unknown target '$target' (i686, x86_64)" >&2; exit 2 ;;
    esac
done

scripts/setup.sh native cross

# Longest time one test program may run under Wine, in seconds.
program_timeout=${TAVEX_WINE_TIMEOUT:-600}

build() {
    local preset=mingw-$1 start=$SECONDS
    echo "== cross build: $preset"
    mkdir -p build
    cmake --preset "$preset" >"build/$preset.configure.log" 2>&1 ||
        { cat "build/$preset.configure.log"; return 1; }
    cmake --build --preset "$preset" -j 2 || return 1
    echo "== cross build: $preset done in $((SECONDS - start)) s"
}

# "16 tests passed", "14 tests passed, 2 failed", "9 tests passed, 1 skipped",
# from a GoogleTest log.
gtest_counts() {
    local ok bad skipped text
    ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$1" | tail -n 1)
    bad=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below:.*/\1/p' "$1" | tail -n 1)
    skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}, listed below:.*/\1/p' "$1" | tail -n 1)
    if [ -z "$ok" ] && [ -z "$bad" ]; then
        echo "no GoogleTest summary"
        return
    fi
    text="${ok:-0} tests passed"
    [ -z "$bad" ] || text="$text, $bad failed"
    [ -z "$skipped" ] || text="$text, $skipped skipped"
    echo "$text"
}

# Totals over every target run under Wine.
total_passed=0
total_failed=0
all_results=()

run_under_wine() {
    local target=$1
    local bin=build/mingw-$target/bin
    local programs=()
    local program
    for program in "$bin"/tavex_*_tests.exe; do
        [ -e "$program" ] && programs+=("$program")
    done
    if [ ${#programs[@]} -eq 0 ]; then
        echo "cross.sh: no test programs in $bin" >&2
        return 1
    fi

    # A fresh prefix, no display, no Wine debug chatter, no offer to install
    # Mono or Gecko (nothing here needs them), and no debugger started for a
    # program that faults: it just ends, and death tests run in a tenth of
    # the time.
    export WINEPREFIX=$scratch/prefix-$target
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    if [ "$target" = i686 ]; then export WINEARCH=win32; else export WINEARCH=win64; fi
    export DISPLAY=
    unset WAYLAND_DISPLAY

    echo "== Wine: initialising a prefix in $WINEPREFIX"
    local start=$SECONDS
    wineboot -i </dev/null >"$scratch/wineboot.log" 2>&1 ||
        { cat "$scratch/wineboot.log"; return 1; }
    wineserver -w || true
    echo "== Wine: prefix ready in $((SECONDS - start)) s"

    local passed=0 failed=0 status name log summary exe note attempt
    local results=()
    for program in "${programs[@]}"; do
        name=$(basename "$program" .exe)
        log=$scratch/$target-$name.log
        echo "== Wine ($target): $name"
        start=$SECONDS
        note=
        # The programs find tavex.dll and the MinGW runtime DLLs beside them;
        # they run in the scratch folder, so files they write land there.
        exe=$PWD/$program
        for attempt in 1 2; do
            status=0
            ( cd "$scratch" && timeout "$program_timeout" wine "$exe" </dev/null ) \
                >"$log.raw" 2>&1 || status=$?
            # A fault in the program ends it with its exception code (a small
            # number); a Unix signal means Wine itself crashed, which happens
            # now and then as a process exits.  Such a run is repeated once.
            if [ $attempt -eq 1 ] && [ $status -gt 128 ]; then
                echo "Wine crashed (signal $((status - 128))); running $name again"
                note=", after a Wine crash (signal $((status - 128))) and a second run"
                continue
            fi
            break
        done
        tr -d '\r' <"$log.raw" >"$log"
        summary="$(gtest_counts "$log") ($((SECONDS - start)) s$note)"
        if [ $status -eq 0 ]; then
            passed=$((passed + 1))
            results+=("$(printf 'passed  %-28s %s' "$name" "$summary")")
            echo "$summary"
        else
            failed=$((failed + 1))
            [ $status -eq 124 ] && summary="timed out after $program_timeout s"
            results+=("$(printf 'FAILED  %-28s exit %s: %s' "$name" "$status" "$summary")")
            cat "$log"
        fi
    done

    wineserver -k >/dev/null 2>&1 || true
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    local line
    for line in "${results[@]}"; do
        all_results+=("$target  $line")
    done
    [ $failed -eq 0 ]
}

status=0
for target in "${targets[@]}"; do
    build "$target" || { echo "cross.sh: the $target build failed" >&2; exit 1; }
done
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavex-wine.XXXXXX")
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
for target in "${targets[@]}"; do
    run_under_wine "$target" || status=1
done

echo
echo "== Wine test programs"
for line in "${all_results[@]}"; do
    echo "  $line"
done
echo "$total_passed passed, $total_failed failed"
exit $status
