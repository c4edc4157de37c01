#!/usr/bin/env bash
# The installed Tavex, as a user gets it:
#
# 1. build/default installed into a scratch prefix (cmake --install
#    --prefix): the tool starts there without LD_LIBRARY_PATH, and a client
#    project builds against it through find_package(Tavex) and through
#    pkg-config;
# 2. the Debian packages (preset package: under /usr, multiarch library
#    folder) built with cpack and checked with lintian, which must report
#    no error; then unpacked into a scratch root (dpkg -x), where the tool
#    starts and the same client project builds against them.
#
#   scripts/package-check.sh        (after scripts/test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh package

build=build/default
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavex-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "package-check: $*" >&2
    exit 1
}
# run LOG COMMAND...: quiet unless it fails.
run() {
    local log=$1
    shift
    "$@" >>"$log" 2>&1 || { cat "$log"; fail "failed: $*"; }
}

# The installed tool starts with no help from the environment, and takes
# libtavex.so.0 from its own tree, not from one installed elsewhere.
check_tool() {   # check_tool ROOT BINDIR LIBDIR
    local tavex=$1/$2/tavex
    env -u LD_LIBRARY_PATH "$tavex" --version >"$scratch/version.txt" 2>&1 ||
        { cat "$scratch/version.txt"; fail "$tavex does not start"; }
    env -u LD_LIBRARY_PATH "$tavex" pci --sim >"$scratch/pci.txt" 2>&1 ||
        { cat "$scratch/pci.txt"; fail "$tavex pci --sim failed"; }
    local found
    found=$(env -u LD_LIBRARY_PATH ldd "$tavex" | sed -n 's/^\s*libtavex\.so\.0 => \(\S*\).*/\1/p')
    [ "$(readlink -f "$found")" = "$(readlink -f "$1/$3/libtavex.so.0")" ] ||
        fail "$tavex takes libtavex.so.0 from '$found', not from $1/$3"
    echo "  $(cat "$scratch/version.txt") starts; pci --sim lists $(wc -l <"$scratch/pci.txt") functions"
}

# The client project against an installed tree, both ways, and its programs run.
check_consumer() {   # check_consumer NAME PREFIX LIBDIR
    local dir=$scratch/consumer-$1
    run "$dir.log" cmake -S packaging/consumer -B "$dir" -DCMAKE_PREFIX_PATH="$2" \
        -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    PKG_CONFIG_PATH="$2/$3/pkgconfig" run "$dir.log" cmake --build "$dir" -j 2
    for program in consumer_cmake consumer_plant_cmake consumer_pkgconfig consumer_plant_pkgconfig; do
        [ -x "$dir/$program" ] || fail "$program was not built against $2"
        LD_LIBRARY_PATH="$2/$3" "$dir/$program" >"$dir.out" || { cat "$dir.out"; fail "$program failed"; }
    done
    echo "  find_package and pkg-config clients built and ran: $(head -n 1 "$dir.out")"
}

echo "== cmake --install into a scratch prefix"
prefix=$scratch/prefix
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
run "$scratch/install.log" cmake --install "$build" --prefix "$prefix"
for f in include/tavex/tavex.h include/tavex/sim/Machine.h include/tavex/plant/Plant.h bin/tavex \
         "$libdir/libtavex.so.0" "$libdir/cmake/Tavex/TavexConfig.cmake" \
         "$libdir/pkgconfig/tavex.pc" "$libdir/pkgconfig/tavex_sim.pc" \
         "$libdir/pkgconfig/tavex_plant.pc" share/man/man1/tavex.1.gz \
         share/bash-completion/completions/tavex share/tavex/demo-plant.toml; do
    [ -e "$prefix/$f" ] || fail "$f not installed"
done
if find "$prefix/include" -name '*.h' \
        -exec grep -l '#include "\(model\|platform\|pci\)/\|#include <toml' {} + | grep -q .; then
    fail "an installed header includes an internal one or toml++"
fi
check_tool "$prefix" bin "$libdir"
check_consumer prefix "$prefix" "$libdir"

echo "== the Debian packages (preset package)"
run "$scratch/build-package.log" cmake --preset package
run "$scratch/build-package.log" cmake --build --preset package
run "$scratch/cpack.log" cpack --preset package -B "$scratch/deb"
debs=("$scratch"/deb/*.deb)
names=" $(for deb in "${debs[@]}"; do dpkg-deb --field "$deb" Package; done | tr '\n' ' ')"
for package in libtavex0 libtavex-dev tavex; do
    [[ $names == *" $package "* ]] || fail "no package $package among:$names"
done
for deb in "${debs[@]}"; do
    dpkg-deb --field "$deb" Package Version Depends | sed 's/^/  /; s/^  Package/\n  Package/'
done
for package in libtavex0 tavex; do
    ls "$scratch"/deb/"$package"-dbgsym_*.ddeb >/dev/null 2>&1 || fail "no $package-dbgsym package"
done
version=$(dpkg-deb --field "$scratch"/deb/libtavex0_*.deb Version)
for deb in "$scratch"/deb/tavex_*.deb "$scratch"/deb/libtavex-dev_*.deb; do
    dpkg-deb --field "$deb" Depends | grep -q "libtavex0 (= $version)" ||
        fail "$(basename "$deb") does not depend on libtavex0 (= $version)"
done

echo "== lintian"
# Status 2: errors among the tags (--fail-on); 1: lintian itself failed.
status=0
lintian --tag-display-limit 0 --fail-on error "${debs[@]}" >"$scratch/lintian.txt" \
    2>"$scratch/lintian.err" || status=$?
grep -v 'root privileges' "$scratch/lintian.err" >&2 || true
sed 's/^/  /' "$scratch/lintian.txt"
[ "$status" -ne 1 ] || fail "lintian could not check the packages"
errors=$(grep -c '^E:' "$scratch/lintian.txt" || true)
if [ "$status" -ne 0 ] || [ "$errors" -ne 0 ]; then
    fail "lintian reports $errors error(s)"
fi
echo "  lintian: 0 errors, $(grep -c '^W:' "$scratch/lintian.txt" || true) warnings"

echo "== the packages unpacked into a scratch root"
root=$scratch/root
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for deb in "${debs[@]}"; do
    dpkg -x "$deb" "$root"
done
for f in usr/include/tavex/tavex.h usr/bin/tavex "usr/lib/$multiarch/libtavex.so.0" \
         "usr/lib/$multiarch/libtavex.so" "usr/lib/$multiarch/libtavex_sim.a" \
         "usr/lib/$multiarch/libtavex_plant.a" "usr/lib/$multiarch/cmake/Tavex/TavexConfig.cmake" \
         "usr/lib/$multiarch/pkgconfig/tavex.pc" usr/share/man/man1/tavex.1.gz \
         usr/share/bash-completion/completions/tavex usr/share/doc/tavex/copyright; do
    [ -e "$root/$f" ] || fail "$f not in the packages"
done
if ! MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/tavex.1.gz" >/dev/null \
        2>"$scratch/man.err" || [ -s "$scratch/man.err" ]; then
    cat "$scratch/man.err"
    fail "the man page does not render cleanly"
fi
check_tool "$root" usr/bin "usr/lib/$multiarch"
check_consumer root "$root/usr" "lib/$multiarch"

echo "package-check: passed ($(cd "$scratch/deb" && echo *.deb))"
