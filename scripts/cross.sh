#!/usr/bin/env bash
# Cross-builds Tavex and its test suites for Windows with MinGW-w64 and runs
# the test programs under Wine, through CTest.
#
#   scripts/cross.sh            i686 and x86_64 builds and their tests under Wine
#   scripts/cross.sh i686       the i686 build and its Wine runs only
#   scripts/cross.sh x86_64     the x86_64 build and its Wine runs only
#
# Builds in build/mingw-i686 and build/mingw-x86_64 (presets mingw-i686 and
# mingw-x86_64; GoogleTest is built from /usr/src/googletest), then runs
# `ctest --preset mingw-<target>` for each: CTest starts the test programs
# one after the other under Wine, through cmake/wine-run.sh, in a Wine prefix
# kept in the build folder (build/mingw-<target>/wineprefix).
#
# The x86_64 programs run through the 64-bit Wine loader, on any x86-64
# host.  The i686 programs need a host that can run 32-bit x86 programs;
# the script asks once, by starting the 32-bit Wine loader.  On a host that
# cannot, the i686 build is still built, and one line says that its test
# programs were built and not run, and why; that is no failure.
#
# Installs what it needs first (scripts/setup.sh native cross).  Ends with
# one line "N passed, N failed", counting test programs.  Exits non-zero
# when a build fails or a test program that ran failed.
#
#   TAVEX_WINE_TIMEOUT=<seconds>  longest run of one test program (600)
#   TAVEX_ASSUME_NO_I386=1        act as on a host without 32-bit support,
#                                 to try that path on one that has it
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

build() {
    local preset=mingw-$1 start=$SECONDS
    echo "== cross build: $preset"
    mkdir -p build
    cmake --preset "$preset" >"build/$preset.configure.log" 2>&1 ||
        { cat "build/$preset.configure.log"; return 1; }
    cmake --build --preset "$preset" -j 2 || return 1
    echo "== cross build: $preset done in $((SECONDS - start)) s"
}

# Whether this host can run 32-bit x86 programs: the 32-bit Wine loader
# either starts or the kernel refuses it with "Exec format error".  Any
# other trouble with it is left for the test runs to show.  Sets
# no_i386_reason when the host cannot.
no_i386_reason=
host_runs_i386() {
    local loader=/usr/lib/wine/wine output
    if [ -n "${TAVEX_ASSUME_NO_I386:-}" ]; then
        no_i386_reason="TAVEX_ASSUME_NO_I386 is set (taken as a host that cannot run 32-bit x86 programs)"
        return 1
    fi
    output=$(LC_ALL=C "$loader" --version 2>&1) && return 0
    case "$output" in
        *"Exec format error"*)
            # bash says "<script>: line <n>: <loader>: cannot execute ...".
            output=$(printf '%s\n' "$output" | tail -n 1 | sed 's/^.*line [0-9]*: //')
            no_i386_reason="this host cannot run 32-bit x86 programs ($output)"
            return 1 ;;
    esac
    return 0
}

# The test programs of a build, for the count of a stage that gives no
# CTest result or does not run.
count_programs() {
    local program count=0
    for program in "build/mingw-$1/bin"/tavex_*_tests.exe; do
        [ -e "$program" ] && count=$((count + 1))
    done
    echo $count
}

total_passed=0
total_failed=0
results=()

run_tests() {
    local target=$1 preset=mingw-$1 start=$SECONDS status=0
    local folder=build/mingw-$1
    local log=$folder/ctest.log line passed failed
    echo "== Wine tests: ctest --preset $preset"
    rm -f "$folder/wine-retries.log"
    ctest --preset "$preset" 2>&1 | tee "$log" || status=$?
    # CTest ends with "100% tests passed, 0 tests failed out of 7".
    line=$(sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' \
        "$log" | tail -n 1)
    if [ -n "$line" ]; then
        failed=${line% *}
        passed=$((${line#* } - failed))
        line="$passed passed, $failed failed"
    else
        passed=0
        failed=$(count_programs "$target")
        [ "$failed" -gt 0 ] || failed=1
        line="no result from ctest (exit $status), $failed counted as failed"
    fi
    [ "$failed" -eq 0 ] && [ "$status" -eq 0 ] || status=1
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    results+=("$(printf '%-13s %s in %d s' "$preset:" "$line" $((SECONDS - start)))")
    if [ -s "$folder/wine-retries.log" ]; then
        while IFS= read -r line; do
            results+=("$(printf '%-13s %s' '' "$line")")
        done <"$folder/wine-retries.log"
    fi
    return $status
}

for target in "${targets[@]}"; do
    build "$target" || { echo "cross.sh: the $target build failed" >&2; exit 1; }
done

status=0
for target in "${targets[@]}"; do
    if [ "$target" = i686 ] && ! host_runs_i386; then
        results+=("$(printf '%-13s %s test programs built and not run: %s' \
            mingw-i686: "$(count_programs i686)" "$no_i386_reason")")
        continue
    fi
    run_tests "$target" || status=1
done

echo
echo "== Wine test programs"
for line in "${results[@]}"; do
    echo "  $line"
done
echo "$total_passed passed, $total_failed failed"
exit $status
