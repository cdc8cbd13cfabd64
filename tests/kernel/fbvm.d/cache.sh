# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# fbvm: the prepared cache: its lock, its readiness, and prepare itself.
# Sourced by fbvm, which defines die, note, usage_error, here and prog.
# ---------------------------------------------------------------------------
# Cache

lock_cache() { # $1: -x or -s
    mkdir -p "$cache"
    exec {lock_fd}>"$cache/.lock"
    flock "$1" "$lock_fd"
}

probe_sha() { sha256sum "$here/fbprobe.c" | cut -d' ' -f1; }

# "manifest" tells apart the caches that have one.
# A real board's key also names the recipe of its DTBs.
ready_key() {
    local key="layout=$cache_layout manifest=1 fbprobe=$(probe_sha)"
    ((${#board_dtbs[@]} == 0)) || key+=" board=$board dtb=$(dtb_recipe)"
    echo "$key"
}

is_ready() {
    [[ -f "$cache/ready" && "$(cat "$cache/ready")" == "$(ready_key)" ]]
}

# Ready, and nothing the manifest lists looks damaged at a glance.
is_usable() {
    is_ready && [[ -z "$(manifest_damage quick)" ]]
}

make_cpio() { # $1: staging dir, $2: archive
    (cd "$1" && find . -mindepth 1 | LC_ALL=C sort |
        cpio -o -H newc -R 0:0 --quiet) >"$2.tmp"
    mv "$2.tmp" "$2"
}

# Prepares what is missing or damaged. The ready marker is removed first and
# written last, after the manifest, and every part is built aside and renamed
# into place, so a run killed halfway leaves a cache no later run takes as
# complete. The exclusive lock keeps concurrent prepares apart; the second
# finds the first's work done and checks it.
do_prepare() {
    local refresh=$1 work m state=fresh line damage="" fetched=0
    local -A redo=()
    ensure_host_tools
    lock_cache -x
    if ((refresh)); then
        state=refreshed
    elif ((${#board_dtbs[@]})) && [[ -e "$cache/ready" && -d "$cache/dtb" ]] && ! dtbs_current; then
        state="rebuilt (the device trees' recipe changed)"
    elif [[ -e "$cache/ready" || -d "$cache/kernel" ]]; then
        state="rebuilt (left incomplete, or of another layout)"
    fi
    # Damage found in a cache that was complete names what to build again.
    if ((refresh == 0)) && [[ -f "$cache/manifest" ]]; then
        while IFS= read -r line; do
            [[ -n $line ]] || continue
            m=$(damaged_part "${line%% *}")
            note "cache: $line; building the $m again"
            redo[$m]=1
            damage+="${damage:+, }${line%% (*}"
        done <<<"$(manifest_damage full)"
        [[ -z $damage ]] || state="repaired ($damage)"
        if is_ready && ((${#redo[@]} == 0)); then
            report_cache reused
            return 0
        fi
    fi
    # A prepare that was killed left its work behind; none runs now.
    rm -rf "$cache"/prepare.*
    work=$(mktemp -d "$cache/prepare.XXXXXX")
    # shellcheck disable=SC2064 # expand now: $work is local
    trap "rm -rf '$work'" EXIT

    rm -f "$cache/ready" "$cache/manifest"
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

    "$cc" -static -Os -s -Wall -Wextra -o "$work/fbprobe" "$here/fbprobe.c" ||
        die "building fbprobe failed"

    mkdir -p "$work/base"/{bin,dev,proc,sys,run,tmp,fbvm,lib/modules}
    cp "$cache/busybox" "$work/base/bin/busybox"
    cp "$work/fbprobe" "$work/base/fbvm/fbprobe"
    if [[ $fb_driver == vfb ]]; then
        while read -r m; do
            cp "$cache/kernel/modules/$m" "$work/base/lib/modules/"
        done <"$cache/kernel/vfb.order"
        cp "$cache/kernel/vfb.order" "$work/base/lib/modules/vfb.order"
    fi
    make_cpio "$work/base" "$cache/base.cpio"

    local d
    rm -f "$cache"/drm*.cpio
    for d in "${drm_drivers[@]}"; do
        mkdir -p "$work/drm-$d/lib/modules"
        while read -r m; do
            cp "$cache/kernel/modules/$m" "$work/drm-$d/lib/modules/"
        done <"$cache/kernel/drm-$d.order"
        cp "$cache/kernel/drm-$d.order" "$work/drm-$d/lib/modules/drm.order"
        make_cpio "$work/drm-$d" "$cache/drm-$d.cpio"
    done

    manifest_write
    ready_key >"$cache/ready.tmp"
    mv "$cache/ready.tmp" "$cache/ready"
    rm -rf "$work"
    trap - EXIT
    report_cache "$state"
}

cmd_prepare() {
    local a="" b="" refresh=0
    while (($#)); do
        case "$1" in
        --arch) a=${2:?--arch needs a value}; shift 2 ;;
        --board) b=${2:?--board needs a value}; shift 2 ;;
        --refresh) refresh=1; shift ;;
        *) usage_error "prepare: unknown option $1" ;;
        esac
    done
    platform_init "$a" "$b"
    do_prepare "$refresh"
}

