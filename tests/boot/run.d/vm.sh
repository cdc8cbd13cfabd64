# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# boot: the VM: fbvm's x86_64 kernel and vfb.ko, the initramfs, qemu.
# Sourced by the runner, which defines die, note and fbvm_cache.

# Checks that fbvm's cache is complete and sets kernel_release.
vm_kernel() {
    [[ -f $fbvm_cache/ready && -f $fbvm_cache/kernel/image && -f $fbvm_cache/kernel/release ]] ||
        die "no x86_64 kernel in $fbvm_cache: run '$0 prepare' first"
    kernel_release=$(cat "$fbvm_cache/kernel/release")
}

# Installs vfb.ko and the modules it needs into the root $1 as modprobe
# finds them: under /lib/modules/RELEASE, with depmod run there.
vm_install_vfb() {
    local root=$1 dir m
    dir=$root/lib/modules/$kernel_release/kernel/drivers/video/fbdev
    mkdir -p "$dir"
    while read -r m; do
        cp "$fbvm_cache/kernel/modules/$m" "$dir/"
    done <"$fbvm_cache/kernel/vfb.order"
    # Only these modules are there: depmod's lists of the rest stay empty.
    touch "$root/lib/modules/$kernel_release/"modules.{order,builtin,builtin.modinfo}
    chroot "$root" depmod "$kernel_release" || die "depmod failed in the root"
}

# Packs the tree $1 as an uncompressed newc initramfs $2.
vm_pack() {
    local root=$1 archive=$2
    # The kernel opens the console before anything mounts devtmpfs.
    [[ -c $root/dev/console ]] || mknod -m 600 "$root/dev/console" c 5 1
    [[ -c $root/dev/null ]] || mknod -m 666 "$root/dev/null" c 1 3
    (cd "$root" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc --quiet) >"$archive.tmp" ||
        die "packing the initramfs failed"
    mv "$archive.tmp" "$archive"
}

# vm_boot INITRD CONSOLE_LOG SECOND_SERIAL_LOG TIMEOUT KERNEL_ARGS...
# Boots the initramfs on a PC with 1.5 GiB (the system runs from RAM) and
# no display; the first serial port is the console, the second is the
# report's. Sets vm_seconds to the wall time of the boot.
vm_boot() {
    local initrd=$1 console=$2 serial2=$3 timeout_s=$4 start rc=0
    shift 4
    start=$(date +%s.%N)
    timeout -k 5 "$timeout_s" qemu-system-x86_64 -M pc -m 1536M -accel tcg -nodefaults \
        -no-reboot -no-user-config -display none \
        -kernel "$fbvm_cache/kernel/image" -initrd "$initrd" \
        -append "console=ttyS0 panic=-1 $*" \
        -serial "file:$console.raw" -serial "file:$serial2.raw" </dev/null >"$console.qemu" 2>&1 || rc=$?
    vm_seconds=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
    tr -d '\r' <"$console.raw" >"$console" && rm -f "$console.raw"
    tr -d '\r' <"$serial2.raw" >"$serial2" && rm -f "$serial2.raw"
    if ((rc == 124 || rc == 137)); then
        tail -n 30 "$console" >&2 || true
        die "the VM did not power off within $timeout_s s (console: $console)"
    fi
    ((rc == 0)) || die "qemu failed with status $rc: $(cat "$console.qemu")"
}
