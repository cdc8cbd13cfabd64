# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: architecture facts, the boot image each kernel package yields, the qemu command.
# Sourced by fbvm, which defines die, note, usage_error, here and prog.
# ---------------------------------------------------------------------------
# Architecture facts. Everything that differs between architectures is set
# here and nowhere else.

arch_init() {
    arch=$1
    case "$arch" in
    x86_64)
        deb_arch=amd64
        kernel_meta=linux-image-amd64
        qemu_bin=qemu-system-x86_64
        qemu_pkg=qemu-system-x86
        cc=gcc
        cc_pkgs=(gcc libc6-dev)
        elf_machine='Advanced Micro Devices X86-64'
        console=ttyS0
        # Debian compresses the x86 bzImage payload with xz; the ELF inside
        # boots straight through its PVH entry, skipping BIOS and the
        # real-mode setup code.
        boot_image_from_package=x86_vmlinux_from_bzimage
        qemu_base=(-M pc -m 256M)
        # Debian's x86 kernel ships vfb.ko.
        vfb_build=0
        ;;
    armhf)
        deb_arch=armhf
        kernel_meta=linux-image-armmp
        qemu_bin=qemu-system-arm
        qemu_pkg=qemu-system-arm
        cc=arm-linux-gnueabihf-gcc
        cc_pkgs=(gcc-arm-linux-gnueabihf libc6-dev-armhf-cross)
        elf_machine=ARM
        console=ttyAMA0
        boot_image_from_package=copy_boot_image
        # Without highmem=off the virt board puts its PCI window above 4 GiB,
        # where a 32-bit kernel without LPAE cannot reach it.
        qemu_base=(-M "virt,highmem=off" -cpu cortex-a15 -m 256M)
        vfb_build=1
        kbuild_arch=arm
        cross_compile=arm-linux-gnueabihf-
        ;;
    arm64)
        deb_arch=arm64
        kernel_meta=linux-image-arm64
        qemu_bin=qemu-system-aarch64
        qemu_pkg=qemu-system-arm
        cc=aarch64-linux-gnu-gcc
        cc_pkgs=(gcc-aarch64-linux-gnu libc6-dev-arm64-cross)
        elf_machine=AArch64
        console=ttyAMA0
        boot_image_from_package=copy_boot_image
        qemu_base=(-M virt -cpu cortex-a57 -m 256M)
        vfb_build=1
        kbuild_arch=arm64
        cross_compile=aarch64-linux-gnu-
        ;;
    *)
        usage_error "unknown architecture: $arch"
        ;;
    esac
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

    cache_root=${PIXVANE_FBVM_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/pixvane-fbvm}
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

qemu_command() { # $1: console log file
    qemu_cmd=("$qemu_bin" "${qemu_base[@]}" -accel tcg -nodefaults -no-reboot
        -display none -no-user-config
        -kernel "$cache/kernel/image" -initrd "$tmp/initrd"
        -append "console=$console quiet loglevel=0 panic=-1 fbcon=map:9${kernel_args:+ $kernel_args}"
        -serial "file:$1")
    if [[ $driver == drm ]]; then
        qemu_cmd+=(-device "${drm_device[$drm]}")
    fi
    if ((${#board_dtbs[@]})); then
        qemu_cmd+=(-dtb "$cache/dtb/$dtb.dtb")
    fi
}

