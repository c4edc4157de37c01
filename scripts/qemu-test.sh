#!/usr/bin/env bash
# Checks the native Linux backend on real (emulated) PCs: boots two PCs with
# QEMU, each with Debian's kernel and a small initramfs that holds the check
# program (tests/qemu/GuestCheck.cpp), the library's LinuxNative tests, the tavex
# tool, the shared libraries they load and the PCI ID database (pci.ids),
# and runs them as root inside the guest, with /dev/mem open to the BIOS
# data area, ROMs and PCI memory (iomem=relaxed).  In the same run the check
# program compares "tavex pci -n" with the kernel's /sys/bus/pci/devices
# and "tavex pci" with the names in pci.ids.
#
#   scripts/qemu-test.sh
#
#   q35  PCIe machine with a PCI-to-PCI bridge, a second bridge behind it,
#        functions behind both and after them, a multi-function device with
#        functions 0 and 3, and no parallel port
#   pc   i440FX machine with its ISA parallel port (LPT1), printing to a
#        file that is compared with what the guest sent
#
# Installs what it needs (scripts/setup.sh native qemu), builds in
# build/default (the default preset), prints one result line per machine
# and "qemu: N passed, N failed"; exits non-zero when a machine fails.  A
# host that cannot run QEMU gets one line saying so, and exit status 0.
# Software emulation (TCG): a guest boots in about 8 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."

# Longest time one guest may run, in seconds.
guest_timeout=${TAVEX_QEMU_TIMEOUT:-90}

if ! scripts/setup.sh native qemu; then
    echo "qemu-test: could not install QEMU and its guest kernel; nothing checked"
    exit 0
fi
kernel=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1 || true)
if ! command -v qemu-system-x86_64 >/dev/null 2>&1 || [ -z "$kernel" ] || [ ! -r "$kernel" ] ||
   ! qemu-system-x86_64 -machine help >/dev/null 2>&1; then
    echo "qemu-test: this host cannot run qemu-system-x86_64 with a guest kernel; nothing checked"
    exit 0
fi

echo "== qemu-test: build"
[ -f build/default/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target tavex_tool tavex_guest_check tavex_platform_tests

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== qemu-test: initramfs"
root=$work/root
mkdir -p "$root/bin" "$root/lib" "$root/proc" "$root/sys" "$root/dev" "$root/tmp"
cp /bin/busybox "$root/bin/busybox"
cp tests/qemu/init "$root/init"
for program in tavex_guest_check tavex_platform_tests tavex; do
    strip --strip-debug -o "$root/bin/$program" "build/default/bin/$program"
    # Every shared library the program loads, into /lib; the loader where
    # the program asks for it.
    ldd "build/default/bin/$program" | while read -r first second third _; do
        if [ "$second" = "=>" ] && [ -f "$third" ]; then
            [ -f "$root/lib/$first" ] || strip --strip-debug -o "$root/lib/$first" "$third"
        elif [ -f "$first" ]; then
            mkdir -p "$root$(dirname "$first")"
            cp -L "$first" "$root$first"
        fi
    done
done
# The names tavex pci prints, where libpci looks for them.
pci_ids=/usr/share/misc/pci.ids
if [ ! -r "$pci_ids" ]; then
    echo "qemu-test: no $pci_ids on this host (scripts/setup.sh native installs it)" >&2
    exit 1
fi
mkdir -p "$root$(dirname "$pci_ids")"
cp "$pci_ids" "$root$pci_ids"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 >"$work/initramfs.gz")
echo "initramfs: $(du -k "$work/initramfs.gz" | cut -f1) KiB, kernel $kernel"

passed=0
failed=0
results=()

# boot NAME GUEST-ARGS QEMU-ARGS...
boot() {
    local name=$1 args=$2
    shift 2
    local log=$work/$name.log start=$SECONDS status=0
    echo "== qemu-test: $name"
    timeout "$guest_timeout" qemu-system-x86_64 -accel tcg -m 256 -nic none \
        -display none -monitor none -serial "file:$log" -no-reboot \
        -kernel "$kernel" -initrd "$work/initramfs.gz" \
        -append "console=ttyS0 quiet iomem=relaxed panic=-1 tavex_args=$args" \
        "$@" </dev/null >"$work/$name.qemu" 2>&1 || status=$?
    local seconds=$((SECONDS - start))
    touch "$log"
    tr -d '\r' <"$log" >"$log.text"
    # What the guest printed, without the kernel's own messages.
    sed -n '/^tavex-guest-start/,$p' "$log.text" | grep -v '^\[ *[0-9]*\.[0-9]*\]' |
        sed 's/^/  /' || true

    local verdict summary problem=""
    summary=$(sed -n 's/^guest: \(.*\)/\1/p' "$log.text" | tail -n 1)
    verdict=$(sed -n 's/^tavex-guest-result: //p' "$log.text" | tail -n 1)
    if [ "$status" -eq 124 ]; then
        problem="no result within $guest_timeout s"
    elif [ -z "$verdict" ]; then
        problem="the guest gave no result (qemu exit status $status)"
    elif [ "$verdict" != pass ]; then
        problem="the checks failed"
    fi
    if [ "$name" = pc ] && [ -z "$problem" ]; then
        # The bytes the guest printed reached the printer, in order.
        local sent got
        sent=$(sed -n 's/^printed: *//p' "$log.text" | tail -n 1)
        got=$(od -An -v -tx1 "$work/lpt1.out" 2>/dev/null | tr -s ' \n' ' ' |
              sed 's/^ //; s/ $//' || true)
        echo "  printer received: ${got:-nothing}"
        if [ -z "$sent" ] || [ "$sent" != "$got" ]; then
            problem="the printer received \"${got:-nothing}\", the guest printed \"${sent:-nothing}\""
        fi
    fi
    if [ -z "$problem" ]; then
        results+=("$name: passed in $seconds s ($summary)")
        passed=$((passed + 1))
    else
        if [ -z "$verdict" ]; then
            echo "  last lines of the serial console and of qemu:"
            tail -n 20 "$log.text" | sed 's/^/    /'
            tail -n 5 "$work/$name.qemu" | sed 's/^/    /'
        fi
        results+=("$name: FAILED after $seconds s: $problem${summary:+ ($summary)}")
        failed=$((failed + 1))
    fi
}

boot q35 "--lpt=none,--bridge,--gap" -M q35 -parallel none \
    -device pci-bridge,id=bridge1,chassis_nr=1,addr=0x4 \
    -device pci-serial,bus=bridge1,addr=0x1 \
    -device pci-bridge,id=bridge2,chassis_nr=2,bus=bridge1,addr=0x3 \
    -device pci-serial,bus=bridge2,addr=0x2 \
    -device sdhci-pci,bus=bridge1,addr=0x4 \
    -device ich9-usb-uhci1,multifunction=on,addr=0x5.0 \
    -device pci-serial,addr=0x5.3

boot pc "--lpt=0x378,--gap" -M pc -parallel "file:$work/lpt1.out"

echo
echo "== qemu-test results (software emulation)"
for line in "${results[@]}"; do
    echo "$line"
done
echo "qemu: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
