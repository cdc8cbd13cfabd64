# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: the cache's manifest: what a complete cache holds, with checksums,
# and the check of the cache against it before each use.
# Sourced by fbvm, which defines die, note and the facts of arch_init.
#
# A full disk or a copy that was killed leaves a file cut short, and qemu then
# fails on every case without saying why; the manifest finds such a file and
# names it. Each line is "SHA256 SIZE MTIME PATH", PATH relative to $cache.
# A run checks sizes and times only (a few milliseconds); prepare checks the
# checksums too (some 0.4 s for the x86_64 cache's 42 MB).

# The files of a complete cache: the boot image, the modules the VMs load
# (vfb.ko among them where it is built), their load orders and the package
# lists, a real board's DTBs, busybox, and the initramfs parts. A board
# without PCI has no DRM parts, and virt no DTBs.
manifest_files() {
    (cd "$cache" && { find kernel dtb busybox base.cpio drm-*.cpio -type f 2>/dev/null || true; } |
        LC_ALL=C sort)
}

manifest_write() {
    local f
    (cd "$cache" && manifest_files | while IFS= read -r f; do
        printf '%s %s\n' "$(sha256sum <"$f" | cut -d' ' -f1)" "$(stat -c '%s %Y' "$f") $f"
    done) >"$cache/manifest.tmp"
    mv "$cache/manifest.tmp" "$cache/manifest"
}

# Prints "PATH REASON" for each file of the manifest that is missing,
# truncated or changed. With "quick", a file whose size and time agree is
# taken as it is; one whose time alone differs is judged by its checksum.
manifest_damage() { # quick|full
    local mode=$1 sum size mtime path now
    [[ -f "$cache/manifest" ]] || return 0
    while read -r sum size mtime path; do
        if [[ ! -f "$cache/$path" ]]; then
            echo "$path is missing"
            continue
        fi
        now=$(stat -c %s "$cache/$path")
        if ((now < size)); then
            echo "$path is truncated ($now of $size bytes)"
        elif ((now != size)); then
            echo "$path has changed size ($now, not $size bytes)"
        elif [[ $mode == full || $(stat -c %Y "$cache/$path") != "$mtime" ]] &&
            [[ $(sha256sum <"$cache/$path" | cut -d' ' -f1) != "$sum" ]]; then
            echo "$path has changed (its checksum differs)"
        fi
    done <"$cache/manifest"
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
