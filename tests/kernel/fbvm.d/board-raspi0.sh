# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: the raspi0 board: qemu's -M raspi0 (a BCM2835 with an ARM1176,
# ARMv6) with Debian's armel rpi kernel. Debian builds that kernel without
# vfb, so vfb.ko is built for it as for the other ARM kernels, with the armel
# cross compiler. No DRM: the board has no PCI bus.
# Sourced by board.sh.
#
# qemu does not emulate the SoC's AXI bridge registers (the "asb" range of
# the power management node), so with the stock DTB the power domain driver
# takes an external abort there and the boot hangs with nothing on the
# console. The recipe removes that range; the driver then goes on without
# power domains, which nothing in the VM needs.

rpi_pm=/soc/watchdog@7e100000

board_raspi0_init() {
    arch_init armhf
    arch=armel
    deb_arch=armel
    kernel_meta=linux-image-rpi
    cc=arm-linux-gnueabi-gcc
    cc_pkgs=(gcc-arm-linux-gnueabi libc6-dev-armel-cross)
    cross_compile=arm-linux-gnueabi-
    # The machine has 512 MiB, no more and no less.
    qemu_base=(-M raspi0 -m 512M)
    drm_drivers=()
    drm_modules=()
    board_dtb_stock=bcm2835-rpi-zero.dtb
    board_dtbs=(default)
}

board_raspi0_dtb() { # VARIANT FILE
    local f=$2 regs
    dtb_expect "$f" "$rpi_pm" brcm,bcm2835-pm
    regs=$(fdtget -t x "$f" "$rpi_pm" reg)
    [[ $regs == "7e100000 114 "* ]] ||
        die "$board_dtb_stock: $rpi_pm has the registers \"$regs\", not the pm range first"
    fdtput -t x "$f" "$rpi_pm" reg 7e100000 114
    fdtput -t s "$f" "$rpi_pm" reg-names pm
}
