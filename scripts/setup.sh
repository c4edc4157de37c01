#!/usr/bin/env bash
# Installs the Debian 12 packages that the builds need, skipping those that
# are already installed, so that a run on a prepared machine costs a second.
#
#   scripts/setup.sh [native] [cross] [bench] [callgrind] [qemu] [fuzz] [latency] [package] [gateway]
#                    [python] [ccache]   (default: native cross)
#
#   native  the Linux build and its tests: cmake, make, g++, pkg-config, GoogleTest
#           (libgtest-dev, and its sources in /usr/src/googletest for the
#           cross build), CLI11 for the tavex tool's options (libcli11-dev,
#           header-only, also used by the cross build), and libpci with the
#           PCI ID database for the names that tavex pci prints (libpci-dev,
#           pci.ids), and toml++ for the plant file (libtomlplusplus-dev,
#           used header-only, also by the cross build)
#   package the Debian packages and their check (scripts/package-check.sh):
#           dpkg-shlibdeps (dpkg-dev), file and objcopy (binutils), which
#           CPack uses; lintian; man-db and bash-completion to try the man
#           page and the completion
#   cross   the Windows cross build and its test runs: MinGW-w64 for i686
#           and x86_64, and Wine with its 32-bit and 64-bit parts
#           (wine32:i386, wine64).  wine32:i386 installs on a host that
#           cannot run 32-bit programs too: no install script of it or of
#           what it pulls in depends on running one.  scripts/cross.sh then
#           builds the i686 tests and leaves out their runs.
#   bench   Google Benchmark, for the bench preset
#   callgrind  valgrind, for instruction counts of the benchmarks
#           (scripts/bench.sh --instructions)
#   qemu    the emulated PC of scripts/qemu-test.sh: QEMU's x86 machines, a
#           Debian kernel for the guest, a static busybox for its init, and
#           cpio to pack the initramfs
#   fuzz    clang with its libFuzzer and sanitizer runtimes, for the fuzz
#           preset (scripts/fuzz.sh)
#   latency cyclictest (rt-tests), beside which scripts/scan-bench.sh runs
#           tavex scan
#   gateway libmodbus for tavex-gateway (libmodbus-dev), and the Modbus
#           clients its tests run against it: mbpoll and python3-pymodbus
#           (with python3-serial-asyncio, which its client module imports)
#   python  the Python module and its tests: Debian's python3 with its
#           headers, pybind11, numpy, pytest and mypy (its stubgen and
#           --strict check of the examples)
#   ccache  the compiler cache that .ci/run compiles its many builds through
#
# Needs root (or sudo) only when something is missing.  Non-interactive.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(native cross)

wanted=()
need_i386=false
for group in "${groups[@]}"; do
    case "$group" in
        native) wanted+=(cmake make g++ libgtest-dev googletest pkg-config
                         libcli11-dev libpci-dev pci.ids libtomlplusplus-dev) ;;
        package) wanted+=(dpkg-dev file binutils lintian man-db bash-completion) ;;
        cross)  wanted+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64)
                need_i386=true ;;
        bench)  wanted+=(libbenchmark-dev) ;;
        callgrind) wanted+=(valgrind) ;;
        qemu)   wanted+=(qemu-system-x86 linux-image-amd64 busybox-static cpio) ;;
        fuzz)   wanted+=(cmake make clang libclang-rt-14-dev) ;;
        latency) wanted+=(rt-tests) ;;
        ccache) wanted+=(ccache) ;;
        gateway) wanted+=(libmodbus-dev mbpoll python3-pymodbus python3-serial-asyncio) ;;
        python) wanted+=(python3 python3-dev pybind11-dev python3-numpy python3-pytest
                         python3-mypy) ;;
        *) echo "setup.sh: unknown group '$group' (native, cross, bench, callgrind, qemu, fuzz, latency, package, gateway, python, ccache)" >&2
           exit 2 ;;
    esac
done

installed() {
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

missing=()
for package in "${wanted[@]}"; do
    installed "$package" || missing+=("$package")
done

add_i386=false
if $need_i386 && ! dpkg --print-foreign-architectures | grep -qx i386; then
    add_i386=true
fi

if [ ${#missing[@]} -eq 0 ] && ! $add_i386; then
    echo "setup: all packages present (${groups[*]})"
    exit 0
fi

if ! command -v apt-get >/dev/null 2>&1; then
    echo "setup: missing packages and no apt-get (Debian 12 expected): ${missing[*]}" >&2
    exit 1
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        as_root=(sudo -E)
    else
        echo "setup: must run as root to install: ${missing[*]}" >&2
        exit 1
    fi
fi

if $add_i386; then
    echo "setup: adding the i386 architecture (for wine32)"
    "${as_root[@]}" dpkg --add-architecture i386
fi

echo "setup: installing ${missing[*]}"
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null

for package in "${wanted[@]}"; do
    if ! installed "$package"; then
        echo "setup: $package did not install" >&2
        exit 1
    fi
done
echo "setup: done"
