# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: architecture facts, the boot image each kernel package yields, the qemu command.
# Sourced by fbvm.
# Everything that differs between architectures is set here and nowhere else.

arch_init() {
    arch=$1
    # An ARM kernel boots on qemu's virt board from its zImage or Image as it
    # is, with the console on the PL011 UART; Debian builds it without vfb,
    # so vfb.ko is built with the cross compiler (vfb_build).
    cross_compile="" console=ttyAMA0 qemu_mem=256M qemu_pkg=qemu-system-arm boot_image_from_package=copy_boot_image
    case "$arch" in
    x86_64)
        deb_arch=amd64 kernel_meta=linux-image-amd64 qemu_bin=qemu-system-x86_64 qemu_pkg=qemu-system-x86
        elf_machine='Advanced Micro Devices X86-64' console=ttyS0
        # Debian compresses the x86 bzImage payload with xz; the ELF inside
        # boots straight through its PVH entry, skipping BIOS and the
        # real-mode setup code.
        boot_image_from_package=x86_vmlinux_from_bzimage
        qemu_base=(-M pc)
        ;;
    armhf)
        deb_arch=armhf kernel_meta=linux-image-armmp qemu_bin=qemu-system-arm elf_machine=ARM
        kbuild_arch=arm cross_compile=arm-linux-gnueabihf-
        # Without highmem=off the virt board puts its PCI window above 4 GiB,
        # where a 32-bit kernel without LPAE cannot reach it.
        qemu_base=(-M "virt,highmem=off" -cpu cortex-a15)
        ;;
    arm64)
        deb_arch=arm64 kernel_meta=linux-image-arm64 qemu_bin=qemu-system-aarch64 elf_machine=AArch64
        kbuild_arch=arm64 cross_compile=aarch64-linux-gnu-
        qemu_base=(-M virt -cpu cortex-a57)
        ;;
    *)
        usage_error "unknown architecture: $arch"
        ;;
    esac
    if [[ -n $cross_compile ]]; then
        cc=${cross_compile}gcc cc_pkgs=("gcc-${cross_compile%-}" "libc6-dev-$deb_arch-cross") vfb_build=1
    else
        # Debian's x86 kernel ships vfb.ko.
        cc=gcc cc_pkgs=(gcc libc6-dev) vfb_build=0
    fi
    # The framebuffer driver of a run without --drm: vfb.ko, or (on a real
    # board) the kernel's own, built in. The virt board boots without a DTB
    # file (qemu makes one); a real board sets these (board.sh).
    fb_driver=vfb
    board_dtb_stock=""
    board_dtbs=()
    # DRM drivers with fbdev emulation: the modules to load (their
    # dependencies are found at prepare time) and the qemu device, a PCI card
    # on every board here. virtio-gpu offers 32 bpp only; cirrus starts at 16.
    drm_drivers=(virtio-gpu cirrus)
    declare -gA drm_modules=([virtio-gpu]="virtio-gpu virtio_pci" [cirrus]="cirrus")
    declare -gA drm_device=([virtio-gpu]=virtio-gpu-pci [cirrus]=cirrus-vga)

    cache_root=${PIXVANE_FBVM_CACHE:-$(cache_dir fbvm)}
    [[ $cache_root == /* ]] || cache_root=$PWD/$cache_root
    cache=$cache_root/$arch
    host_arch=$(dpkg --print-architecture)
}

# Writes the kernel image that qemu boots to $2 from the package's vmlinuz
# $1 as it is: qemu's ARM boot loader takes a zImage or Image directly.
copy_boot_image() {
    cp "$1" "$2.tmp"
    mv "$2.tmp" "$2"
}

# Writes the bootable ELF kernel to $2 from the package's vmlinuz $1.
x86_vmlinux_from_bzimage() {
    local bz=$1 dst=$2 off
    # The payload is the first xz stream in the file (as extract-vmlinux
    # finds it); its magic is FD 37 7A 58 5A 00.
    off=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$bz" | head -n1 | cut -d: -f1) ||
        true
    [[ -n "$off" ]] || die "no xz payload in $bz"
    # xz stops after the stream; tail may then die of SIGPIPE, which is fine.
    { tail -c +"$((off + 1))" "$bz" || true; } | xz -dc --single-stream >"$dst.tmp" ||
        die "could not decompress the kernel in $bz"
    [[ "$(head -c4 "$dst.tmp" | od -An -tx1 | tr -d ' \n')" == 7f454c46 ]] ||
        die "the payload of $bz is not an ELF kernel"
    mv "$dst.tmp" "$dst"
}

# qemu_launch INITRD SECS CONSOLE [SERIAL]: the one qemu command of every
# VM: the cache's kernel on the board, INITRD its initramfs, the serial
# ports written to CONSOLE (the kernel's console) and SERIAL, without their
# CRs. Dies, with the console's last lines, when qemu fails or runs past
# SECS (times the timeout multiplier). Reads driver, drm, dtb, kernel_args
# and cmdline (the kernel's command line after console=; by default a
# quiet one that keeps fbcon off the framebuffer).
qemu_launch() {
    local initrd=$1 secs=$2 rc=0 n=0 f
    shift 2
    local -a qcmd=("$qemu_bin" "${qemu_base[@]}" -accel tcg -nodefaults
        -no-reboot -display none -no-user-config -kernel "$cache/kernel/image" -initrd "$initrd"
        -append "console=$console ${cmdline:-quiet loglevel=0 panic=-1 fbcon=map:9}${kernel_args:+ $kernel_args}")
    # A real board's qemu_base names its memory, which is what it is.
    [[ " ${qemu_base[*]} " == *" -m "* ]] || qcmd+=(-m "$qemu_mem")
    for f; do
        qcmd+=(-serial "file:$tmp/serial$n")
        n=$((n + 1))
    done
    [[ ${driver:-} != drm ]] || qcmd+=(-device "${drm_device[$drm]}")
    ((${#board_dtbs[@]} == 0)) || qcmd+=(-dtb "$cache/dtb/$dtb.dtb")
    timed "$secs" "${qcmd[@]}" </dev/null >"$tmp/qemu.out" 2>&1 || rc=$?
    n=0
    for f; do
        tr -d '\r' <"$tmp/serial$n" >"$f" || true
        n=$((n + 1))
    done
    if ((rc == 124)); then
        tail -n 20 "$1" >&2 || true
        die "the VM did not finish within $timed_s s (console: $1)"
    fi
    ((rc == 0)) || die "qemu failed with status $rc: $(cat "$tmp/qemu.out")"
}

# pack_initramfs [--as-root] ROOT ARCHIVE: the tree ROOT as an uncompressed
# newc initramfs, in sorted order so that the same tree packs the same.
# --as-root: every file root's, for a tree a user made. Without it the
# owners are kept, and the /dev/console and /dev/null nodes the kernel opens
# before anything mounts devtmpfs are added where missing (as root).
pack_initramfs() {
    local -a owner=()
    if [[ $1 == --as-root ]]; then
        owner=(-R 0:0)
        shift
    else
        [[ -c $1/dev/console ]] || mknod -m 600 "$1/dev/console" c 5 1
        [[ -c $1/dev/null ]] || mknod -m 666 "$1/dev/null" c 1 3
    fi
    (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc "${owner[@]}" --quiet) >"$2.tmp" ||
        die "packing the initramfs $2 failed"
    mv "$2.tmp" "$2"
}
