#!/usr/bin/env bash
# Installs Tavex from build/default into a scratch prefix and builds a client
# project against it, once through find_package(Tavex) and once through
# pkg-config; then builds the Debian package and checks what it holds.
#
#   scripts/package-check.sh        (after scripts/test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/default
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavex-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

echo "== install into a scratch prefix"
cmake --install "$build" --prefix "$scratch/prefix" >"$scratch/install.log"
for f in include/tavex/tavex.h include/tavex/sim/Machine.h bin/tavex \
         lib/cmake/Tavex/TavexConfig.cmake lib/pkgconfig/tavex.pc lib/pkgconfig/tavex_sim.pc; do
    [ -e "$scratch/prefix/$f" ] || { echo "package-check: $f not installed" >&2; exit 1; }
done
if find "$scratch/prefix/include" -name '*.h' -exec grep -l '"model/\|"platform/\|"pci/' {} + | grep -q .; then
    echo "package-check: an installed header includes an internal one" >&2
    exit 1
fi

echo "== the installed tool"
LD_LIBRARY_PATH="$scratch/prefix/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
    "$scratch/prefix/bin/tavex" --help >"$scratch/tool-help.txt" ||
    { cat "$scratch/tool-help.txt"; echo "package-check: bin/tavex --help failed" >&2; exit 1; }
head -n 1 "$scratch/tool-help.txt"

echo "== a client project against the installed package"
cmake -S packaging/consumer -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$scratch/prefix" \
    >"$scratch/consumer.log" || { cat "$scratch/consumer.log"; exit 1; }
cmake --build "$scratch/consumer" -j 2 >>"$scratch/consumer.log" || { cat "$scratch/consumer.log"; exit 1; }
export LD_LIBRARY_PATH="$scratch/prefix/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
"$scratch/consumer/consumer_cmake"
PKG_CONFIG_PATH="$scratch/prefix/lib/pkgconfig" pkg-config --exists tavex_sim
[ -x "$scratch/consumer/consumer_pkgconfig" ] ||
    { echo "package-check: the pkg-config client was not built" >&2; exit 1; }
"$scratch/consumer/consumer_pkgconfig"

echo "== the Debian package"
(cd "$build" && cpack -G DEB -B "$scratch/deb" >"$scratch/cpack.log") ||
    { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/deb/*.deb)
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Depends\):/  \1:/p'
dpkg -x "$deb" "$scratch/root"
for f in usr/include/tavex/tavex.h usr/bin/tavex usr/lib/libtavex.so usr/lib/libtavex_sim.a \
         usr/lib/cmake/Tavex/TavexConfig.cmake usr/lib/pkgconfig/tavex.pc; do
    [ -e "$scratch/root/$f" ] || { echo "package-check: $f not in the package" >&2; exit 1; }
done
echo "package-check: passed ($(basename "$deb"), $(find "$scratch/root" -type f | wc -l) files)"
