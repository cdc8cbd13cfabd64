# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: what a complete cache holds, which part a damaged file makes prepare
# build again, and the line on what the VMs run on. The manifest itself, its
# check and the ready marker are scripts/lib/cache.sh's. Sourced by fbvm.

# The files of a complete cache: the boot image, the modules the VMs load
# (vfb.ko among them where it is built), their load orders and the package
# lists, a real board's DTBs, busybox, and the initramfs parts. A board
# without PCI has no DRM parts, and virt no DTBs.
manifest_files() {
    (cd "$cache" && { find kernel dtb busybox base.cpio drm-*.cpio -type f 2>/dev/null || true; } |
        LC_ALL=C sort)
}

# What of the cache a damaged file makes prepare build again.
damaged_part() { # PATH
    case "$1" in
    kernel/*) echo kernel ;;
    dtb/*) echo dtb ;;
    busybox) echo busybox ;;
    *) echo initramfs ;;
    esac
}

# One line on what the VMs run on and the state of the cache.
report_cache() { # STATE
    local what
    what=$(cat "$cache/kernel/package" 2>/dev/null || echo "an unknown kernel")
    if ((vfb_build)) && [[ -f "$cache/kernel/packages" ]]; then
        what+=" with vfb.ko built from $(grep '^linux-source-' "$cache/kernel/packages" | tr '=' ' ')"
    fi
    what+=", $(cat "$cache/busybox.package" 2>/dev/null || echo busybox-static)"
    if ((${#board_dtbs[@]})); then
        what+=", $board_dtb_stock as $board's recipe changes it"
        note "$board ($arch): $what; cache $1 ($cache)"
    else
        note "$arch: $what; cache $1 ($cache)"
    fi
}
