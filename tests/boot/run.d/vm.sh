# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# boot: the VM, asked of fbvm: its x86_64 kernel, vfb.ko and busybox, the
# initramfs packed, and the boot. Sourced by the runner, which defines fbvm.

# Sets kernel_release, vfb_modules (vfb.ko and what it needs, in load
# order) and busybox_bin from fbvm's prepared cache.
vm_kernel() {
    kernel_release=$("$fbvm" path --arch x86_64 release) || die "fbvm has no x86_64 kernel"
    mapfile -t vfb_modules < <("$fbvm" path --arch x86_64 modules)
    ((${#vfb_modules[@]})) || die "fbvm has no vfb.ko for the x86_64 kernel"
    busybox_bin=$("$fbvm" path --arch x86_64 busybox)
}

# boot_start FUNCTION KIND CASE...: the case's FUNCTION is there; then
# fbvm's kernel, a scratch directory, and $out rid of an earlier boot's
# report, where this one's goes.
boot_start() {
    declare -F "$1" >/dev/null || usage_error "no $2 case $case_name (cases: ${*:3})"
    vm_kernel
    scratch boot
    boot_dir=$out check_log=$out/checks.log
    rm -rf "$out/report" "$out/checks.log" "$out/image.log" "$out/multi-user.s" "$out/summary"
}

# Installs vfb.ko and the modules it needs into the root $1 as modprobe
# finds them: under /lib/modules/RELEASE, with depmod run there.
vm_install_vfb() {
    local root=$1 dir
    dir=$root/lib/modules/$kernel_release/kernel/drivers/video/fbdev
    mkdir -p "$dir"
    cp "${vfb_modules[@]}" "$dir/"
    # Only these modules are there: depmod's lists of the rest stay empty.
    touch "$root/lib/modules/$kernel_release/"modules.{order,builtin,builtin.modinfo}
    chroot "$root" depmod "$kernel_release" || die "depmod failed in the root"
}

# vm_pack ROOT ARCHIVE: fbvm's initramfs of the tree.
vm_pack() { "$fbvm" pack "$@" || die "packing the initramfs failed"; }

# vm_boot INITRD CONSOLE_LOG SECOND_SERIAL_LOG TIMEOUT KERNEL_ARGS...
# Boots the initramfs on a PC with 1.5 GiB (the system runs from RAM); the
# first serial port is the console, the second is the report's. Sets
# vm_seconds to the wall time of the boot.
vm_boot() {
    local initrd=$1 console=$2 serial2=$3 timeout_s=$4 start
    shift 4
    start=$(date +%s.%N)
    "$fbvm" boot --arch x86_64 --memory 1536M --initrd "$initrd" --console "$console" \
        --serial "$serial2" --timeout "$timeout_s" --cmdline "panic=-1 $*" ||
        die "the VM did not boot to its end (console: $console)"
    vm_seconds=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
}
