# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: the prepared cache: what its key is made of, what a prepare finds
# to build again, and prepare itself, part by part. Sourced by fbvm.

probe_sha() { sha256sum "$here/fbprobe.c" | cut -d' ' -f1; }

# "manifest" tells apart the caches that have one.
# A real board's key also names the recipe of its DTBs.
ready_key() {
    local key="layout=$cache_layout manifest=1 fbprobe=$(probe_sha)"
    ((${#board_dtbs[@]} == 0)) || key+=" board=$board dtb=$(dtb_recipe)"
    echo "$key"
}

# Share-locks the cache, as every use of it does so that a concurrent
# prepare cannot replace files under a running VM, and prepares it first
# when it is not complete or looks damaged at a glance.
use_cache() {
    cache_lock "$cache" -s
    cache_valid "$cache" "$(ready_key)" quick && return 0
    cache_unlock
    do_prepare 0
    flock -s "$cache_lock_fd"
}

# Sets prepare_state (what the closing line says) and redo (the parts to
# build again) from what the cache holds: damage found in a complete cache
# names its part. Returns 1 when the cache is complete and sound.
prepare_plan() { # REFRESH
    local line
    prepare_state=fresh
    redo=()
    if (($1)); then
        prepare_state=refreshed
        return 0
    elif ((${#board_dtbs[@]})) && [[ -e "$cache/ready" && -d "$cache/dtb" ]] && ! dtbs_current; then
        prepare_state="rebuilt (the device trees' recipe changed)"
    elif [[ -e "$cache/ready" || -d "$cache/kernel" ]]; then
        prepare_state="rebuilt (left incomplete, or of another layout)"
    fi
    [[ -f "$cache/manifest" ]] || return 0
    local damage=""
    while IFS= read -r line; do
        [[ -n $line ]] || continue
        redo[$(damaged_part "${line%% *}")]=1
        note "cache: $line; building the $(damaged_part "${line%% *}") again"
        damage+="${damage:+, }${line%% (*}"
    done <<<"$(cache_damage "$cache" full)"
    [[ -z $damage ]] || prepare_state="repaired ($damage)"
    ! cache_ready "$cache" "$(ready_key)" || ((${#redo[@]})) || return 1
}

# The kernel, the DTBs and busybox, each fetched or made again when the plan
# or its own state asks for it.
prepare_parts() { # REFRESH WORK
    local refresh=$1 work=$2 fetched=0
    ((refresh == 0)) || vm_apt_update
    if ((refresh)) || [[ -n ${redo[kernel]:-} ]] ||
        [[ "$(cat "$cache/kernel/layout" 2>/dev/null)" != "$cache_layout" ]]; then
        fetch_kernel "$work"
        fetched=1
    fi
    if ((${#board_dtbs[@]})) && { ((fetched)) || [[ -n ${redo[dtb]:-} ]] || ! dtbs_current; }; then
        make_dtbs "$work"
    fi
    if ((refresh)) || [[ -n ${redo[busybox]:-} || ! -x "$cache/busybox" ]]; then
        fetch_busybox "$work"
    fi
}

# copy_modules ORDER DIR: the modules ORDER lists, and ORDER itself, into DIR.
copy_modules() {
    local m
    mkdir -p "$2"
    while read -r m; do
        cp "$cache/kernel/modules/$m" "$2/"
    done <"$cache/kernel/$1"
}

# The initramfs parts every run starts from: busybox, fbprobe and vfb.ko
# with its dependencies (base.cpio), and one part a DRM driver.
prepare_initramfs() { # WORK
    local work=$1 d
    "$cc" -static -Os -s -Wall -Wextra -o "$work/fbprobe" "$here/fbprobe.c" ||
        die "building fbprobe failed"
    mkdir -p "$work/base"/{bin,dev,proc,sys,run,tmp,fbvm,lib/modules}
    cp "$cache/busybox" "$work/base/bin/busybox"
    cp "$work/fbprobe" "$work/base/fbvm/fbprobe"
    if [[ $fb_driver == vfb ]]; then
        copy_modules vfb.order "$work/base/lib/modules"
        cp "$cache/kernel/vfb.order" "$work/base/lib/modules/vfb.order"
    fi
    pack_initramfs --as-root "$work/base" "$cache/base.cpio"
    rm -f "$cache"/drm*.cpio
    for d in "${drm_drivers[@]}"; do
        copy_modules "drm-$d.order" "$work/drm-$d/lib/modules"
        cp "$cache/kernel/drm-$d.order" "$work/drm-$d/lib/modules/drm.order"
        pack_initramfs --as-root "$work/drm-$d" "$cache/drm-$d.cpio"
    done
}

# Prepares what is missing or damaged. The cache is opened (its ready
# marker removed) first and sealed last, and every part is built aside and
# renamed into place, so a run killed halfway leaves a cache no later run
# takes as complete. The exclusive lock keeps concurrent prepares apart; the
# second finds the first's work done and checks it.
do_prepare() { # REFRESH
    local refresh=$1 work
    local -A redo=()
    ensure_host_tools
    cache_lock "$cache" -x
    if ! prepare_plan "$refresh"; then
        report_cache reused
        return 0
    fi
    # A prepare that was killed left its work behind; none runs now.
    rm -rf "$cache"/prepare.*
    work=$(mktemp -d "$cache/prepare.XXXXXX")
    # shellcheck disable=SC2064 # expand now: $work is local
    trap "rm -rf '$work'" EXIT
    cache_open "$cache"
    prepare_parts "$refresh" "$work"
    prepare_initramfs "$work"
    local -a files
    mapfile -t files < <(manifest_files)
    cache_seal "$cache" "$(ready_key)" "${files[@]}"
    rm -rf "$work"
    trap - EXIT
    report_cache "$prepare_state"
}

cmd_prepare() {
    local refresh=0 a
    platform_args "$@"
    for a in "${rest[@]}"; do
        [[ $a == --refresh ]] || usage_error "prepare: unknown option $a"
        refresh=1
    done
    platform_init "$arch_opt" "$board_opt"
    do_prepare "$refresh"
}
