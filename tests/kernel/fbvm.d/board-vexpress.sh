# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: the vexpress board: qemu's -M vexpress-a9 (a Cortex-A9 core tile on
# a Versatile Express motherboard) with Debian's armmp kernel, whose built-in
# fbdev driver amba-clcd drives the ARM PrimeCell PL111 CLCD. No vfb, no DRM:
# the board has no PCI bus.
# Sourced by board.sh.
#
# The board has two CLCDs, and the DTB has both:
#   clcd-mb  the motherboard's, with 8 MiB of video RAM of its own at
#            0x4c000000 (a reserved-memory node)
#   clcd-ct  the core tile's, whose memory is a DMA allocation of one screen
#            at the depth its bandwidth allows at probe time
# Both are wired to a SiI9022 DVI transmitter, and amba-clcd accepts nothing
# but a "panel-dpi" node with a "panel-timing": with the stock DTB neither
# probes. The recipe turns the transmitter into a 640x480@60 DPI panel (the
# VESA timing, 25.175 MHz) and disables the CLCD that is not wanted, so that
# the one wanted is fb0.

ve_iofpga=/bus@40000000/motherboard-bus@40000000/iofpga@7,00000000
ve_dvi=$ve_iofpga/i2c@16000/dvi-transmitter@39
ve_clcd_mb=$ve_iofpga/clcd@1f000
ve_clcd_ct=/clcd@10020000

board_vexpress_init() {
    arch_init armhf
    qemu_base=(-M vexpress-a9 -m 256M)
    fb_driver=builtin
    vfb_build=0
    drm_drivers=()
    drm_modules=()
    board_dtb_stock=vexpress-v2p-ca9.dtb
    board_dtbs=(clcd-mb clcd-ct)
}

board_vexpress_dtb() { # VARIANT FILE
    local v=$1 f=$2 t=$ve_dvi/panel-timing
    dtb_expect "$f" "$ve_dvi" sil,sii9022-tpi
    dtb_expect "$f" "$ve_clcd_mb" arm,pl111
    dtb_expect "$f" "$ve_clcd_ct" arm,pl111
    fdtput -t s "$f" "$ve_dvi" compatible panel-dpi
    fdtput -c "$f" "$t"
    fdtput -t u "$f" "$t" clock-frequency 25175000
    fdtput -t u "$f" "$t" hactive 640
    fdtput -t u "$f" "$t" hfront-porch 16
    fdtput -t u "$f" "$t" hsync-len 96
    fdtput -t u "$f" "$t" hback-porch 48
    fdtput -t u "$f" "$t" vactive 480
    fdtput -t u "$f" "$t" vfront-porch 10
    fdtput -t u "$f" "$t" vsync-len 2
    fdtput -t u "$f" "$t" vback-porch 33
    case "$v" in
    clcd-mb) fdtput -t s "$f" "$ve_clcd_ct" status disabled ;;
    clcd-ct) fdtput -t s "$f" "$ve_clcd_mb" status disabled ;;
    *) die "no vexpress device tree $v" ;;
    esac
}
