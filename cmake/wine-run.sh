#!/usr/bin/env bash
# Runs one Windows program of a MinGW-w64 cross build under Wine.  CTest
# starts every test program of the mingw-i686 and mingw-x86_64 builds
# through this script (cmake/wine-emulator.cmake); by hand:
#
#   cmake/wine-run.sh <i686|x86_64> <Wine prefix folder> <program.exe> [arguments...]
#   cmake/wine-run.sh x86_64 build/mingw-x86_64/wineprefix \
#       build/mingw-x86_64/bin/tavex_model_tests.exe --gtest_filter='IOTrack*'
#
# The prefix is made on first use (wineboot) and kept: 32-bit for i686,
# 64-bit for x86_64.  The programs of one build share it, one at a time:
# the test presets run them one after the other.
#
# x86_64 programs start through the 64-bit loader (/usr/lib/wine/wine64, with
# WINELOADER set to it).  The `wine` command would start the 32-bit loader
# first, and a host without 32-bit support cannot run that one.  i686
# programs need the 32-bit loader, /usr/lib/wine/wine.
#
# No display, no Wine debug output, no offer to install Mono or Gecko
# (nothing here needs them), and no debugger started for a program that
# faults: it just ends with its exception code, and death tests run in a
# tenth of the time.  The program runs in the current folder; files it puts
# in its temporary folder land in the prefix.
#
# The exit status is the program's, or 124 when it ran longer than
# TAVEX_WINE_TIMEOUT seconds (default 600) and was stopped.  A run that ends
# with a Unix signal (status above 128) means Wine itself crashed, which
# happens now and then as a process exits; a fault in the program ends it
# with its exception code instead.  Such a run is repeated once, and a line
# saying so goes to wine-retries.log beside the prefix.
set -uo pipefail

if [ $# -lt 3 ]; then
    echo "usage: $0 <i686|x86_64> <Wine prefix folder> <program.exe> [arguments...]" >&2
    exit 2
fi
target=$1
prefix=$(realpath -m "$2")
program=$3
shift 3

case "$target" in
    i686)   loader=/usr/lib/wine/wine   arch=win32 ;;
    x86_64) loader=/usr/lib/wine/wine64 arch=win64 ;;
    *) echo "wine-run: unknown target '$target' (i686, x86_64)" >&2; exit 2 ;;
esac

limit=${TAVEX_WINE_TIMEOUT:-600}
name=$(basename "$program" .exe)
folder=$(dirname "$prefix")

export WINEPREFIX=$prefix
export WINEARCH=$arch
export WINELOADER=$loader
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export DISPLAY=
unset WAYLAND_DISPLAY

# The prefix, once.  A prefix is complete when .tavex-ready is in it; a run
# that finds it incomplete (none yet, or a wineboot that failed half-way)
# makes it afresh, under a lock in case two runs start together.
if [ ! -e "$prefix/.tavex-ready" ]; then
    mkdir -p "$folder"
    exec 9>"$prefix.lock"
    flock 9
    if [ ! -e "$prefix/.tavex-ready" ]; then
        rm -rf "$prefix"
        log=$prefix.wineboot.log
        start=$SECONDS
        if ! timeout "$limit" "$loader" wineboot.exe --init </dev/null >"$log" 2>&1 ||
           ! wineserver -w >>"$log" 2>&1; then
            echo "wine-run: could not make the Wine prefix $prefix ($loader wineboot.exe --init):" >&2
            cat "$log" >&2
            rm -rf "$prefix"
            exit 1
        fi
        touch "$prefix/.tavex-ready"
        echo "wine-run: made the Wine prefix $prefix in $((SECONDS - start)) s" >&2
    fi
    exec 9>&-
fi

# The output goes to a file first, not straight to CTest: the helper
# processes Wine starts for a session (services.exe and others) inherit it,
# and a pipe would stay open until the session ends, seconds after the
# program.  Wine writes CR LF; CTest gets plain lines.
output=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$output"' EXIT
for attempt in 1 2; do
    status=0
    timeout "$limit" "$loader" "$program" "$@" </dev/null >"$output" 2>&1 || status=$?
    tr -d '\r' <"$output"
    if [ $attempt -eq 1 ] && [ "$status" -gt 128 ]; then
        note="$name: Wine crashed (signal $((status - 128))), ran it again"
        echo "wine-run: $note"
        echo "$note" >>"$folder/wine-retries.log"
        continue
    fi
    break
done

if [ "$status" -eq 124 ]; then
    echo "wine-run: $name stopped after $limit s (TAVEX_WINE_TIMEOUT)"
    # Whatever it started goes too, so the next program finds the prefix idle.
    wineserver -k >/dev/null 2>&1 || true
fi
exit "$status"
